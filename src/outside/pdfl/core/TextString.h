// PDF text strings to UTF-8.
#ifndef PDFPARSE_OUTSIDE_PDFL_CORE_TEXTSTRING_H_
#define PDFPARSE_OUTSIDE_PDFL_CORE_TEXTSTRING_H_

#include <string>

namespace pdfcore {

// Decodes the raw bytes of a PDF text string: UTF-16BE with BOM, UTF-8 with
// BOM, otherwise PDFDocEncoding. Invalid sequences become U+FFFD.
std::string DecodeTextString(const std::string& bytes);

}  // namespace pdfcore

#endif  // PDFPARSE_OUTSIDE_PDFL_CORE_TEXTSTRING_H_
