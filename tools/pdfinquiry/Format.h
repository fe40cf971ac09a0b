// Text rows and JSON lines for answers.
#ifndef PDFINQUIRY_FORMAT_H_
#define PDFINQUIRY_FORMAT_H_

#include <algorithm>
#include <string>
#include <vector>

#include "Answer.h"

namespace pdfparse::inquirytool {

inline constexpr double kMmPerPoint = 25.4 / 72.0;

// Version of the JSON rows ("schema" in each): raised when a field changes
// meaning or goes; fields may be added without.
inline constexpr int kJsonSchema = 1;

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
  // `inks`: a last column with the document's inks.
  TextTable(const std::string& key, size_t fileWidth, bool inks = false);
  std::string header() const;
  std::string row(const Answer& answer) const;

 private:
  std::string key_;
  size_t fileWidth_;
  bool inks_;
};

// "[0 0 612 792]": a box's four corners in points.
std::string FormatBox(const pdfparse_box& box);

// --pages: one row per page of each file, or one row for a file that failed.
struct PageAnswer {
  std::string file;
  uint32_t index = 0;  // the file's 1-based position in the run
  std::optional<Failure> failure;
  bool repaired = false;
  std::vector<PageRow> pages;
};

class PageTextTable {
 public:
  explicit PageTextTable(size_t fileWidth) : fileWidth_(std::max<size_t>(fileWidth, 4)) {}
  std::string header() const;
  std::vector<std::string> rows(const PageAnswer& answer) const;

 private:
  size_t fileWidth_;
};

std::vector<std::string> PageJsonLines(const PageAnswer& answer);

// One line of JSON (no newline) with every field of the answer. Fields the
// library did not answer are null. Always valid UTF-8 JSON: bytes that are
// not UTF-8 in names or values become U+FFFD.
std::string JsonLine(const Answer& answer);

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_FORMAT_H_
