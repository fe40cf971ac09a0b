#include "shared/TextCodec.h"

namespace pdfparse::shared {
namespace {

// PDFDocEncoding bytes that differ from Latin-1 (0x18-0x1F, 0x7F-0xA0, 0xAD).
// 0 marks a byte the encoding leaves undefined.
constexpr char32_t kPdfDocLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr char32_t kPdfDocHigh[34] = {
    0,      0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044,  // 0x7F-0x87
    0x2039, 0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019,  // 0x88-0x90
    0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152, 0x0160, 0x0178, 0x017D,  // 0x91-0x99
    0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC,                  // 0x9A-0xA0
};

std::string DecodePdfDoc(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) AppendUtf8(out, PdfDocToUnicode(b));
  return out;
}

std::string DecodeUtf16Be(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    units.push_back(
        static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1])));
  }
  std::string out = Utf16ToUtf8(units.data(), units.size());
  if (i < bytes.size()) AppendUtf8(out, kReplacementChar);  // odd trailing byte
  return out;
}

}  // namespace

size_t Utf8SequenceAt(std::string_view s, size_t i, char32_t* cp) {
  auto byte = [&](size_t at) { return static_cast<unsigned char>(s[at]); };
  const unsigned char b = byte(i);
  if (b < 0x80) {
    if (cp) *cp = b;
    return 1;
  }
  size_t len;
  char32_t min;
  char32_t c;
  if ((b & 0xE0) == 0xC0) {
    len = 2, min = 0x80, c = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, min = 0x800, c = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, c = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cont = byte(i + k);
    if ((cont & 0xC0) != 0x80) return 0;
    c = (c << 6) | (cont & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  if (cp) *cp = c;
  return len;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementChar;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

size_t EncodeUtf16(char32_t c, char16_t units[2]) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementChar;
  if (c < 0x10000) {
    units[0] = static_cast<char16_t>(c);
    return 1;
  }
  c -= 0x10000;
  units[0] = static_cast<char16_t>(0xD800 + (c >> 10));
  units[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

std::string Utf16ToUtf8(const char16_t* units, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacementChar);  // unpaired surrogate
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string SanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t len = Utf8SequenceAt(bytes, i);
    if (len == 0) {
      AppendUtf8(out, kReplacementChar);
      ++i;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

char32_t PdfDocToUnicode(unsigned char b) {
  if (b >= 0x18 && b <= 0x1F) return kPdfDocLow[b - 0x18];
  if (b >= 0x7F && b <= 0xA0) {
    const char32_t c = kPdfDocHigh[b - 0x7F];
    return c == 0 ? kReplacementChar : c;
  }
  if (b == 0xAD) return kReplacementChar;
  return b;
}

std::string DecodeTextString(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    return DecodeUtf16Be(bytes.substr(2));
  }
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    return SanitizeUtf8(bytes.substr(3));
  }
  return DecodePdfDoc(bytes);
}

std::string DecodeNameText(std::string_view bytes) {
  const std::string_view body = (!bytes.empty() && bytes[0] == '/') ? bytes.substr(1) : bytes;
  size_t i = 0;
  while (i < body.size()) {
    const size_t len = Utf8SequenceAt(body, i);
    if (len == 0) break;
    i += len;
  }
  if (i == body.size()) return std::string(body);
  // Not UTF-8: older writers put single-byte text into names.
  return DecodePdfDoc(body);
}

}  // namespace pdfparse::shared
