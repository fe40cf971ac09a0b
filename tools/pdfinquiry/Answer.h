// One file's answer as pdfinquiry shows it, and the record it comes from.
#ifndef PDFINQUIRY_ANSWER_H_
#define PDFINQUIRY_ANSWER_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "DocumentApi.h"
#include "pdfparse/CPdfParseIf.h"

namespace pdfparse::inquirytool {

// Every output field of a fresh record starts as a value the library never
// writes, so a field that still holds it was not answered for this file
// (the library leaves fields alone on paths that fail). Nothing survives
// from the previous file: each inquiry gets a new record.
PdfInquiryRec FreshRecord(int level, const char* key, uint32_t index);

struct Answer {
  std::string file;
  uint32_t index = 0;  // 1-based position in the run; kept in hostField
  int level = 0;
  std::string key;
  bool inquired = false;   // false: the file was never handed to the library
  bool succeeded = false;  // runInquiry's result
  int32_t status = 1;      // getStatus() after the inquiry
  std::string error;       // why the file could not be asked about
  double elapsedMs = 0;

  std::optional<int32_t> numPages;
  std::optional<int32_t> rotation;
  std::optional<std::string> infoValue;
  std::optional<int32_t> pageMode;
  std::optional<std::array<float, 4>> mediaBox;  // left, top, right, bottom
  std::optional<int32_t> subType;
  std::optional<uint32_t> hasSpotInk;

  // From the document API, when it is found.
  std::optional<Failure> failure;  // why the file failed (failed rows only)
  bool repaired = false;           // the answer needed repair
  size_t warnings = 0;
  std::optional<std::vector<InkName>> inks;  // the document's, with --inks
};

// What pdfinquiry asks besides the level inquiry.
struct Extras {
  const DocumentApi* api = nullptr;  // null: no reasons, repairs or inks
  DocumentOptions document;
  bool inks = false;
};

// Copies the fields the library wrote into `answer`.
void TakeRecord(const PdfInquiryRec& rec, Answer* answer);

// "ok", "failed" or "engine-error" for status 0, 1, 3 ("status N" else).
std::string StatusName(int32_t status);
// One sentence on what the status means.
std::string StatusMeaning(int32_t status);

// Asks the library about one file with a fresh record. A file that is not
// a readable regular file is not handed to the library and fails with the
// reason in Answer::error. Then the document API, when there is one, says
// why a failed file failed, whether the answer needed repair, and the inks.
Answer Inquire(CPdfParseIf& parser, const std::string& file, const std::string& preError, int level,
               const std::string& key, uint32_t index, const Extras& extras = {});

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_ANSWER_H_
