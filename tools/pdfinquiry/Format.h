// Text rows and JSON lines for answers.
#ifndef PDFINQUIRY_FORMAT_H_
#define PDFINQUIRY_FORMAT_H_

#include <string>

#include "Answer.h"

namespace pdfparse::inquirytool {

inline constexpr double kMmPerPoint = 25.4 / 72.0;

// "612" or "595.28": at most two decimals, no trailing zeros.
std::string FormatPoints(double points);
// Points as millimetres with one decimal: 612 -> "215.9".
std::string FormatMillimetres(double points);
// "612 x 792 pt (215.9 x 279.4 mm)" for a box (left, top, right, bottom).
std::string FormatMediaBox(const std::array<float, 4>& box);

// Text for a terminal: control characters and bytes that are not UTF-8
// become \n, \t or \xNN; valid UTF-8 stays.
std::string PrintableText(const std::string& text);
// Number of characters (code points) of UTF-8 text.
size_t DisplayWidth(const std::string& text);
// At most `width` characters, the last one "..." when cut.
std::string Truncate(const std::string& text, size_t width);

// The aligned table: a header and one row per answer, columns padded to
// fixed widths (the file column to `fileWidth`). A cell wider than its
// column is not cut, except the entry's value.
class TextTable {
 public:
  TextTable(const std::string& key, size_t fileWidth);
  std::string header() const;
  std::string row(const Answer& answer) const;

 private:
  std::string key_;
  size_t fileWidth_;
};

// One line of JSON (no newline) with every field of the answer. Fields the
// library did not answer are null. Always valid UTF-8 JSON: bytes that are
// not UTF-8 in names or values become U+FFFD.
std::string JsonLine(const Answer& answer);

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_FORMAT_H_
