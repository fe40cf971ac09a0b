#include "document/ObjectCheck.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "document/Error.h"
#include "document/Repair.h"
#include "document/reader/Syntax.h"

namespace pdfparse::document {
namespace {

size_t LastOf(std::string_view bytes, std::string_view needle, size_t from = 0) {
  const size_t at = bytes.rfind(needle);
  return at == std::string_view::npos || at < from ? std::string_view::npos : at;
}

std::string Name(const char* what, QPDFObjGen og) { return std::string(what) + " " + og.unparse(' ') + " R"; }

}  // namespace

ObjectCheck::ObjectCheck(std::string_view bytes, const std::function<void()>& checkpoint) : bytes_(bytes) {
  // Only the end of a file can be cut: what follows its last "endobj".
  const size_t last = bytes_.rfind("endobj");
  const size_t tail = last == std::string_view::npos ? 0 : last + 6;
  if (tail >= bytes_.size()) return;
  const ObjectScan scan =
      ScanObjects(reinterpret_cast<const unsigned char*>(bytes_.data()) + tail, bytes_.size() - tail, checkpoint);
  const size_t startxref = LastOf(bytes_, "startxref", tail);
  for (const auto& [num, where] : scan.objects) {
    // A revision that ends after the object (an object without endobj, in
    // a file that goes on) is sloppy writing, not a cut.
    if (startxref != std::string_view::npos && startxref > tail + where.offset) continue;
    cutShort_.emplace(num, where.gen);
  }
}

bool ObjectCheck::writtenAsNull(qpdf_offset_t parsedAt) const {
  if (parsedAt < 0 || static_cast<uint64_t>(parsedAt) >= bytes_.size()) return false;
  try {
    reader::Parser parser(bytes_, static_cast<size_t>(parsedAt));
    return parser.value().isNull() && parser.keyword("endobj");
  } catch (const reader::Refusal&) {
    return false;
  }
}

void ObjectCheck::released(QPDFObjGen og) {
  const size_t number = static_cast<size_t>(og.getObj());
  // Dense numbering is the rule; a number far beyond the file's size is kept apart.
  if (og.getGen() == 0 && og.getObj() > 0 && number <= bytes_.size()) {
    if (releasedNumbers_.size() <= number) releasedNumbers_.resize(std::max(number + 1, 2 * releasedNumbers_.size()));
    releasedNumbers_[number] = true;
  } else {
    releasedOthers_.insert(og);
  }
}

bool ObjectCheck::wasReleased(QPDFObjGen og) const {
  const size_t number = static_cast<size_t>(og.getObj());
  if (og.getGen() == 0 && og.getObj() > 0 && number < releasedNumbers_.size()) return releasedNumbers_[number];
  return !releasedOthers_.empty() && releasedOthers_.count(og) > 0;
}

void ObjectCheck::require(QPDFObjectHandle& h, const char* what) const {
  if (!h.isIndirect()) return;
  const QPDFObjGen og = h.getObjGen();
  if (og == added_) throw Error(ErrorCode::kDamaged, Name(what, og) + " is not in the file");
  if (!cutShort_.empty() && cutShort_.count(og)) {
    throw Error(ErrorCode::kDamaged, Name(what, og) + " is cut short by the end of the file");
  }
  if (!h.isNull() || wasReleased(og)) return;
  // libqpdf gives an object it has no definition of, or could not parse
  // at all, no parsed offset.
  const qpdf_offset_t at = h.getParsedOffset();
  if (at < 0) throw Error(ErrorCode::kDamaged, Name(what, og) + " is not in the file or cannot be read");
  if (!writtenAsNull(at)) throw Error(ErrorCode::kDamaged, Name(what, og) + " cannot be read");
}

}  // namespace pdfparse::document
