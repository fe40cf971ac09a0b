#include "Answer.h"

#include <chrono>
#include <cmath>
#include <limits>

#include "FileCollection.h"

namespace pdfparse::inquirytool {

namespace {
constexpr int32_t kUnset = std::numeric_limits<int32_t>::min();
constexpr uint32_t kUnsetFlag = std::numeric_limits<uint32_t>::max();
}  // namespace

PdfInquiryRec FreshRecord(int level, const char* key, uint32_t index) {
  PdfInquiryRec rec;
  rec.hostField = index;
  rec.level = level;
  rec.infoKey = key;
  rec.numPages = kUnset;
  rec.rotation = kUnset;
  rec.infoValue.clear();
  rec.pageMode = kUnset;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float& v : rec.mediaBox) v = nan;
  rec.subType = kUnset;
  rec.hasSpotInk = kUnsetFlag;
  return rec;
}

void TakeRecord(const PdfInquiryRec& rec, Answer* a) {
  if (rec.numPages != kUnset) a->numPages = rec.numPages;
  if (rec.rotation != kUnset) a->rotation = rec.rotation;
  // The library assigns the value only when the entry exists and is not empty.
  if (!rec.infoValue.empty()) a->infoValue = rec.infoValue;
  if (rec.pageMode != kUnset) a->pageMode = rec.pageMode;
  // The four values are written together or not at all.
  if (!std::isnan(rec.mediaBox[0])) {
    a->mediaBox = std::array<float, 4>{rec.mediaBox[0], rec.mediaBox[1], rec.mediaBox[2], rec.mediaBox[3]};
  }
  if (rec.subType != kUnset) a->subType = rec.subType;
  if (rec.hasSpotInk != kUnsetFlag) a->hasSpotInk = rec.hasSpotInk;
}

std::string StatusName(int32_t status) {
  switch (status) {
    case 0:
      return "ok";
    case 1:
      return "failed";
    case 3:
      return "engine-error";
    default:
      return "status " + std::to_string(status);
  }
}

std::string StatusMeaning(int32_t status) {
  switch (status) {
    case 0:
      return "the inquiry succeeded";
    case 1:
      return "the inquiry failed";
    case 3:
      return "answered, but the PDF engine reported an error on the way";
    default:
      return "unknown status";
  }
}

Answer Inquire(CPdfParseIf& parser, const std::string& file, const std::string& preError, int level,
               const std::string& key, uint32_t index, const Extras& extras) {
  Answer a;
  a.file = file;
  a.index = index;
  a.level = level;
  a.key = key;
  const auto start = std::chrono::steady_clock::now();
  a.error = preError.empty() ? CheckReadable(file) : preError;
  if (a.error.empty()) {
    PdfInquiryRec rec = FreshRecord(level, a.key.c_str(), index);
    a.inquired = true;
    a.succeeded = parser.runInquiry(file.c_str(), &rec);
    a.status = parser.getStatus();
    TakeRecord(rec, &a);
  }
  std::optional<Failure> reason;
  if (extras.api != nullptr) {
    // The engine's own reading serves where it says enough (an answer, or a
    // failure with its reason); otherwise the file is read again to say why.
    std::optional<DocumentReport> kept = extras.api->outcome(file);
    const bool enough = kept && !extras.inks && (!a.inquired || a.succeeded || kept->failure);
    DocumentReport report =
        enough ? std::move(*kept) : extras.api->read(file, extras.document, extras.inks, /*pages=*/false);
    reason = std::move(report.failure);
    a.repaired = report.repaired;
    a.warnings = report.warnings;
    a.inks = std::move(report.inks);
  }
  if (!a.inquired) {
    a.failure = Failure{reason ? reason->code : "unknown", a.error};
  } else if (!a.succeeded) {
    if (reason) {
      a.failure = std::move(reason);
    } else if (extras.api == nullptr) {
      a.failure = Failure{"unknown", "the library gives no reason here (the trace may: --trace FILE)"};
    } else {
      a.failure = Failure{"library", a.status == 3 ? "the PDF engine reported an error on the way (see --trace FILE)"
                                                   : "the document reads, but the library failed: its PDF engine "
                                                     "or converter plug-in (see --trace FILE)"};
    }
  }
  a.elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return a;
}

}  // namespace pdfparse::inquirytool
