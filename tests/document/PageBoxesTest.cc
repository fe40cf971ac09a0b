// The box rules every page answer rests on, one page dictionary per row:
// boxes normalised, the crop box clipped to the media box, a crop box that
// misses the media box replaced by it, /UserUnit and /Rotate normalised,
// and which of these leave a diagnostic.
#include <qpdf/QPDFObjectHandle.hh>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/PageBoxes.h"

namespace pdfparse::document {
namespace {

struct BoxCase {
  const char* attrs;  // entries of the page dictionary
  Box media;
  Box crop;
  int rotation;
  double userUnit;
  int diagnostics;  // how many of the rules reported a problem
};

constexpr Box kL = {0, 0, 612, 792}, kA4 = {0, 0, 595, 842};
const BoxCase kCases[] = {
    {"/MediaBox [0 0 612 792]", kL, kL, 0, 1, 0},
    {"/MediaBox [612 792 0 0]", kL, kL, 0, 1, 0},  // corners swapped
    {"/MediaBox [0.5 -10 595.276 841.89]", {0.5, -10, 595.276, 841.89}, {0.5, -10, 595.276, 841.89}, 0, 1, 0},
    {"", kUsLetter, kUsLetter, 0, 1, 1},
    {"/MediaBox [0 0 612]", kUsLetter, kUsLetter, 0, 1, 1},
    {"/MediaBox [0 0 /W 792]", kUsLetter, kUsLetter, 0, 1, 1},
    {"/MediaBox (A4)", kUsLetter, kUsLetter, 0, 1, 1},
    {"/MediaBox [0 0 0 792]", kUsLetter, kUsLetter, 0, 1, 1},  // no area
    {"/MediaBox [0 0 595 842] /CropBox [10 20 500 800]", kA4, {10, 20, 500, 800}, 0, 1, 0},
    {"/MediaBox [0 0 595 842] /CropBox [500 800 10 20]", kA4, {10, 20, 500, 800}, 0, 1, 0},
    {"/MediaBox [0 0 595 842] /CropBox [-10 -10 300 900]", kA4, {0, 0, 300, 842}, 0, 1, 0},  // overhangs
    {"/MediaBox [0 0 595 842] /CropBox [700 900 800 1000]", kA4, kA4, 0, 1, 1},              // disjoint
    {"/MediaBox [0 0 595 842] /CropBox [595 0 700 842]", kA4, kA4, 0, 1, 1},                 // touches an edge
    {"/MediaBox [0 0 595 842] /CropBox [0 0 1]", kA4, kA4, 0, 1, 1},
    {"/MediaBox [0 0 595 842] /CropBox null", kA4, kA4, 0, 1, 0},
    {"/MediaBox [0 0 612 792] /Rotate 90", kL, kL, 90, 1, 0},
    {"/MediaBox [0 0 612 792] /Rotate -90", kL, kL, 270, 1, 0},
    {"/MediaBox [0 0 612 792] /Rotate 450", kL, kL, 90, 1, 0},
    {"/MediaBox [0 0 612 792] /Rotate -720", kL, kL, 0, 1, 0},
    {"/MediaBox [0 0 612 792] /Rotate 180.0", kL, kL, 180, 1, 0},
    {"/MediaBox [0 0 612 792] /Rotate 45", kL, kL, 0, 1, 1},
    {"/MediaBox [0 0 612 792] /Rotate 90.5", kL, kL, 0, 1, 1},
    {"/MediaBox [0 0 612 792] /Rotate /R90", kL, kL, 0, 1, 1},
    {"/MediaBox [0 0 612 792] /UserUnit 2.5", kL, kL, 0, 2.5, 0},
    {"/MediaBox [0 0 612 792] /UserUnit 0", kL, kL, 0, 1, 0},
    {"/MediaBox [0 0 612 792] /UserUnit -3", kL, kL, 0, 1, 0},
    {"/MediaBox [0 0 612 792] /UserUnit (2)", kL, kL, 0, 1, 0},
};

TEST(PageBoxes, RulesPerPageDictionary) {
  for (const BoxCase& c : kCases) {
    SCOPED_TRACE(c.attrs);
    QPDFObjectHandle page = QPDFObjectHandle::parse(std::string("<< /Type /Page ") + c.attrs + " >>");
    std::vector<std::string> messages;
    Diagnostics diagnostics = [&](const std::string& message) { messages.push_back(message); };
    Box media = MediaBoxFrom(page, page.getKey("/MediaBox"), diagnostics);
    Box crop = CropBoxFrom(page, media, page.getKey("/CropBox"), diagnostics);
    EXPECT_EQ(media, c.media);
    EXPECT_EQ(crop, c.crop);
    EXPECT_EQ(RotationFrom(page, page.getKey("/Rotate"), diagnostics), c.rotation);
    EXPECT_EQ(UserUnit(page), c.userUnit);
    EXPECT_EQ(static_cast<int>(messages.size()), c.diagnostics);
    // The plain readers agree with the ones given the looked-up values.
    EXPECT_EQ(MediaBox(page), media);
    EXPECT_EQ(CropBox(page), crop);
    EXPECT_EQ(Rotation(page), c.rotation);
  }
  // ReadBox alone: normalised, and nothing for what is not four finite numbers.
  EXPECT_EQ(ReadBox(QPDFObjectHandle::parse("[10 20 -5 -6]")), (Box{-5, -6, 10, 20}));
  EXPECT_FALSE(ReadBox(QPDFObjectHandle::parse("[0 0 1 1 1]")));
  EXPECT_FALSE(ReadBox(QPDFObjectHandle::parse("<< /A 1 >>")));
  EXPECT_FALSE(ReadBox(QPDFObjectHandle::newNull()));
}

}  // namespace
}  // namespace pdfparse::document
