// The box rules every page answer rests on, one page dictionary per row:
// boxes normalised, the crop box clipped to the media box, a crop box that
// misses the media box replaced by it, /UserUnit and /Rotate normalised,
// and which of these leave a diagnostic.
#include <qpdf/QPDFObjectHandle.hh>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outside/pdfl/core/PageBoxes.h"

namespace pdfparse::core {
namespace {

struct BoxCase {
  const char* what;
  const char* attrs;  // entries of the page dictionary
  Box media;
  Box crop;
  int rotation;
  double userUnit;
  int diagnostics;  // how many of the rules reported a problem
};

const BoxCase kCases[] = {
    {"plain page", "/MediaBox [0 0 612 792]", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 0},
    {"corners swapped", "/MediaBox [612 792 0 0]", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 0},
    {"real numbers",
     "/MediaBox [0.5 -10 595.276 841.89]",
     {0.5, -10, 595.276, 841.89},
     {0.5, -10, 595.276, 841.89},
     0,
     1,
     0},
    {"no MediaBox", "", kUsLetter, kUsLetter, 0, 1, 1},
    {"three numbers", "/MediaBox [0 0 612]", kUsLetter, kUsLetter, 0, 1, 1},
    {"a name among numbers", "/MediaBox [0 0 /W 792]", kUsLetter, kUsLetter, 0, 1, 1},
    {"not an array", "/MediaBox (A4)", kUsLetter, kUsLetter, 0, 1, 1},
    {"no area", "/MediaBox [0 0 0 792]", kUsLetter, kUsLetter, 0, 1, 1},
    {"crop inside", "/MediaBox [0 0 595 842] /CropBox [10 20 500 800]", {0, 0, 595, 842}, {10, 20, 500, 800}, 0, 1, 0},
    {"crop swapped", "/MediaBox [0 0 595 842] /CropBox [500 800 10 20]", {0, 0, 595, 842}, {10, 20, 500, 800}, 0, 1, 0},
    {"crop overhangs",
     "/MediaBox [0 0 595 842] /CropBox [-10 -10 300 900]",
     {0, 0, 595, 842},
     {0, 0, 300, 842},
     0,
     1,
     0},
    {"crop disjoint",
     "/MediaBox [0 0 595 842] /CropBox [700 900 800 1000]",
     {0, 0, 595, 842},
     {0, 0, 595, 842},
     0,
     1,
     1},
    {"crop touches an edge",
     "/MediaBox [0 0 595 842] /CropBox [595 0 700 842]",
     {0, 0, 595, 842},
     {0, 0, 595, 842},
     0,
     1,
     1},
    {"crop malformed", "/MediaBox [0 0 595 842] /CropBox [0 0 1]", {0, 0, 595, 842}, {0, 0, 595, 842}, 0, 1, 1},
    {"crop null", "/MediaBox [0 0 595 842] /CropBox null", {0, 0, 595, 842}, {0, 0, 595, 842}, 0, 1, 0},
    {"rotate 90", "/MediaBox [0 0 612 792] /Rotate 90", {0, 0, 612, 792}, {0, 0, 612, 792}, 90, 1, 0},
    {"rotate -90", "/MediaBox [0 0 612 792] /Rotate -90", {0, 0, 612, 792}, {0, 0, 612, 792}, 270, 1, 0},
    {"rotate 450", "/MediaBox [0 0 612 792] /Rotate 450", {0, 0, 612, 792}, {0, 0, 612, 792}, 90, 1, 0},
    {"rotate -720", "/MediaBox [0 0 612 792] /Rotate -720", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 0},
    {"rotate 180.0", "/MediaBox [0 0 612 792] /Rotate 180.0", {0, 0, 612, 792}, {0, 0, 612, 792}, 180, 1, 0},
    {"rotate 45", "/MediaBox [0 0 612 792] /Rotate 45", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 1},
    {"rotate 90.5", "/MediaBox [0 0 612 792] /Rotate 90.5", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 1},
    {"rotate a name", "/MediaBox [0 0 612 792] /Rotate /R90", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 1},
    {"user unit 2.5", "/MediaBox [0 0 612 792] /UserUnit 2.5", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 2.5, 0},
    {"user unit 0", "/MediaBox [0 0 612 792] /UserUnit 0", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 0},
    {"user unit negative", "/MediaBox [0 0 612 792] /UserUnit -3", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 0},
    {"user unit a string", "/MediaBox [0 0 612 792] /UserUnit (2)", {0, 0, 612, 792}, {0, 0, 612, 792}, 0, 1, 0},
};

TEST(PageBoxes, RulesPerPageDictionary) {
  for (const BoxCase& c : kCases) {
    SCOPED_TRACE(c.what);
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
}  // namespace pdfparse::core
