// The shared leaf library: text codecs, the environment value rule and the
// shared constants, tested directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "shared/Constants.h"
#include "shared/Environment.h"
#include "shared/TextCodec.h"

namespace pdfparse::test {
namespace {

using namespace std::string_literals;

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
const std::string kBom = "\xEF\xBB\xBF";  // the UTF-8 marker

TEST(TextCodec, TextStringsDecodeByTheirMarker) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string want;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"ASCII as PDFDocEncoding", "Title 1", "Title 1"},
      {"Latin-1 range", "Caf\xE9", "Caf\xC3\xA9"},
      {"PDFDocEncoding low marks", "\x18\x1F", "\xCB\x98\xCB\x9C"},
      {"PDFDocEncoding bullet, dash, euro", "\x80\x84\xA0", "\xE2\x80\xA2\xE2\x80\x94\xE2\x82\xAC"},
      {"PDFDocEncoding undefined bytes", "\x7F\x9F\xAD", kBad + kBad + kBad},
      {"zero bytes kept (PDFDocEncoding)", "a\0b"s, "a\0b"s},
      {"a lone 0xFE is not a marker", "\xFE", "\xC3\xBE"},
      {"UTF-16BE", "\xFE\xFF\x00\x41\x00\xE9"s, "A\xC3\xA9"},
      {"UTF-16BE marker only", "\xFE\xFF", ""},
      {"UTF-16BE surrogate pair", "\xFE\xFF\xD8\x3D\xDE\x00"s, "\xF0\x9F\x98\x80"},
      {"UTF-16BE unpaired high surrogate", "\xFE\xFF\xD8\x00\x00\x41"s, kBad + "A"},
      {"UTF-16BE unpaired low surrogate", "\xFE\xFF\xDC\x00"s, kBad},
      {"UTF-16BE odd trailing byte", "\xFE\xFF\x00\x41\x00"s, "A" + kBad},
      {"zero bytes kept (UTF-16BE)", "\xFE\xFF\x00\x00\x00\x42"s, "\0B"s},
      {"UTF-8", kBom + "Caf\xC3\xA9", "Caf\xC3\xA9"},
      {"UTF-8 four bytes", kBom + "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      // Which sequences are bad is Utf8SequenceAt's table below; each bad byte is replaced.
      {"UTF-8 cut sequence", kBom + "a\xC3", "a" + kBad},
      {"UTF-8 overlong", kBom + "\xC0\x80", kBad + kBad},
      {"UTF-8 stray continuation", kBom + "\x80z", kBad + "z"},
      {"zero bytes kept (UTF-8)", kBom + "a\0b"s, "a\0b"s},
  };
  for (const Case& c : cases) EXPECT_EQ(shared::DecodeTextString(c.bytes), c.want) << c.what;
}

TEST(TextCodec, NamesKeepUtf8AndOtherwiseReadPdfDocEncoding) {
  const std::pair<std::string, std::string> cases[] = {
      {"/Spot", "Spot"},
      {"Spot", "Spot"},
      {"/", ""},
      {"/Caf\xC3\xA9", "Caf\xC3\xA9"},
      {"/Caf\xE9", "Caf\xC3\xA9"},
      {"/\x80Gold", "\xE2\x80\xA2Gold"},
  };
  for (const auto& [bytes, want] : cases) EXPECT_EQ(shared::DecodeNameText(bytes), want) << bytes;
}

TEST(TextCodec, Utf8SequencesAreMeasuredAndDecoded) {
  struct Case {
    std::string text;
    size_t at;
    size_t length;  // 0: not a valid sequence
    char32_t cp;
  };
  const Case cases[] = {
      {"A", 0, 1, U'A'},
      {"xA", 1, 1, U'A'},
      {"\xC3\xA9", 0, 2, 0xE9},
      {"\xE2\x82\xAC", 0, 3, 0x20AC},
      {"\xF4\x8F\xBF\xBF", 0, 4, 0x10FFFF},
      {"\xC3\xA9", 1, 0, 0},          // continuation byte
      {"\xC3", 0, 0, 0},              // cut by the end
      {"\xC3\x41", 0, 0, 0},          // missing continuation
      {"\xC1\xBF", 0, 0, 0},          // overlong
      {"\xE0\x9F\xBF", 0, 0, 0},      // overlong
      {"\xED\xBF\xBF", 0, 0, 0},      // surrogate
      {"\xF5\x80\x80\x80", 0, 0, 0},  // past U+10FFFF
      {"\xFF", 0, 0, 0},
  };
  for (const Case& c : cases) {
    char32_t cp = 0;
    EXPECT_EQ(shared::Utf8SequenceAt(c.text, c.at, &cp), c.length) << c.text;
    if (c.length) {
      EXPECT_EQ(static_cast<uint32_t>(cp), static_cast<uint32_t>(c.cp)) << c.text;
    }
  }
  EXPECT_EQ(shared::SanitizeUtf8("ok\xC3\xA9\xFF!"), "ok\xC3\xA9" + kBad + "!");
}

TEST(TextCodec, Utf16RoundTripsThroughUtf8) {
  const char32_t points[] = {0x0, 0x41, 0xE9, 0x7FF, 0x800, 0xFFFD, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
  for (char32_t cp : points) {
    char16_t units[2] = {};
    const size_t n = shared::EncodeUtf16(cp, units);
    EXPECT_EQ(n, cp >= 0x10000 ? 2u : 1u) << static_cast<uint32_t>(cp);
    std::string want;
    shared::AppendUtf8(want, cp);
    EXPECT_EQ(shared::Utf16ToUtf8(units, n), want) << static_cast<uint32_t>(cp);
  }
  for (char32_t cp : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}}) {
    char16_t units[2] = {};
    ASSERT_EQ(shared::EncodeUtf16(cp, units), 1u);
    EXPECT_EQ(static_cast<uint32_t>(units[0]), 0xFFFDu);
    std::string out;
    shared::AppendUtf8(out, cp);
    EXPECT_EQ(out, kBad);
  }
}

TEST(Environment, OnlyPositiveWholeNumbersCount) {
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"1", 1},
      {"30000", 30000},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},
      {"", std::nullopt},
      {"0", std::nullopt},
      {"-5", std::nullopt},
      {"12x", std::nullopt},
      {"x", std::nullopt},
      {"1.5", std::nullopt},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(shared::ParsePositive(text), want) << text;
    EXPECT_EQ(shared::PositiveOr(text, 7), want.value_or(7)) << text;
  }
  EXPECT_EQ(shared::PositiveOr(nullptr, 7), 7u);
}

// The four names themselves are the ink walk's and the engine's tests; here,
// that only the exact name counts.
TEST(Constants, ProcessInksMatchByExactName) {
  for (const char* other : {"cyan", "Black ", "BlackSpot", ""}) EXPECT_FALSE(shared::IsProcessInk(other)) << other;
}

}  // namespace
}  // namespace pdfparse::test
