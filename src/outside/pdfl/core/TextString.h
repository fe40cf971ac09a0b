// PDF text strings to UTF-8.
#ifndef PDFPARSE_OUTSIDE_PDFL_CORE_TEXTSTRING_H_
#define PDFPARSE_OUTSIDE_PDFL_CORE_TEXTSTRING_H_

#include <cstddef>
#include <string>

namespace pdfcore {

// Decodes the raw bytes of a PDF text string: UTF-16BE with BOM, UTF-8 with
// BOM, otherwise PDFDocEncoding. Invalid sequences become U+FFFD.
std::string DecodeTextString(const std::string& bytes);

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, size_t n);

// Valid UTF-8 is kept; every byte that does not start a valid sequence
// becomes U+FFFD.
std::string SanitizeUtf8(const std::string& bytes);

// Text of a name as libqpdf gives it ("/Name", #xx already decoded; the
// slash is optional): kept when it is valid UTF-8, otherwise read as
// PDFDocEncoding.
std::string DecodeNameText(const std::string& bytes);

}  // namespace pdfcore

#endif  // PDFPARSE_OUTSIDE_PDFL_CORE_TEXTSTRING_H_
