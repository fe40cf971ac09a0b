// The project's one set of text codecs: UTF-8, UTF-16 and the decoding of
// PDF text strings and names to UTF-8.
#ifndef PDFPARSE_SHARED_TEXTCODEC_H_
#define PDFPARSE_SHARED_TEXTCODEC_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace pdfparse::shared {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Length of the valid UTF-8 sequence at s[i], 0 when there is none (a stray
// or missing continuation byte, an overlong form, a surrogate, a value past
// U+10FFFF, a sequence cut by the end). With `cp`, the code point it holds.
size_t Utf8SequenceAt(std::string_view s, size_t i, char32_t* cp = nullptr);

// Appends `c` as UTF-8; surrogates and values past U+10FFFF as U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

// `c` as UTF-16 into `units`: returns 1 or 2 units.
size_t EncodeUtf16(char32_t c, char16_t units[2]);

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, size_t n);

// Valid UTF-8 is kept; every byte that does not start a valid sequence
// becomes U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

// The character a PDFDocEncoding byte stands for; U+FFFD for the bytes the
// encoding leaves undefined.
char32_t PdfDocToUnicode(unsigned char b);

// Decodes the raw bytes of a PDF text string: UTF-16BE with BOM, UTF-8 with
// BOM, otherwise PDFDocEncoding. Invalid sequences (and an odd trailing
// byte of UTF-16) become U+FFFD; zero bytes are kept.
std::string DecodeTextString(std::string_view bytes);

// Text of a name as libqpdf gives it ("/Name", #xx already decoded; the
// slash is optional): kept when it is valid UTF-8, otherwise read as
// PDFDocEncoding.
std::string DecodeNameText(std::string_view bytes);

}  // namespace pdfparse::shared

#endif  // PDFPARSE_SHARED_TEXTCODEC_H_
