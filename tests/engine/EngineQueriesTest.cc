// Page count, rotation, boxes, Info and page handles of the libqpdf engine on
// documents written by libqpdf.
#include <gmock/gmock.h>

#include <cmath>
#include <cstring>

#include "engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::HasSubstr;
using pdftest::BuildPdf;
using pdftest::DocSpec;
using pdftest::Pages;

ASFixed F(double v) { return static_cast<ASFixed>(std::lround(v * 65536)); }

class QueriesTest : public EngineTest {
 protected:
  // Opens a document built from `spec`; closed at TearDown.
  PDDoc openSpec(const DocSpec& spec) {
    PDDoc doc = open(write("doc" + std::to_string(docs_.size()) + ".pdf", BuildPdf(spec)));
    docs_.push_back(doc);
    return doc;
  }
  void TearDown() override {
    for (PDDoc doc : docs_) engine_.PDDocClose(doc);
    EngineTest::TearDown();
  }
  int rotationOf(PDDoc doc, int index) {
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    int r = engine_.PDPageGetRotate(page);
    engine_.PDPageRelease(page);
    return r;
  }
  ASFixedRect box(PDDoc doc, int index, bool crop) {
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    ASFixedRect r{};
    if (crop) {
      engine_.PDPageGetCropBox(page, &r);
    } else {
      engine_.PDPageGetMediaBox(page, &r);
    }
    engine_.PDPageRelease(page);
    return r;
  }
  std::string info(PDDoc doc, const char* key) {
    ASInt32 n = engine_.PDDocGetInfo(doc, key, nullptr, 0);
    std::string buffer(static_cast<size_t>(n) + 2, '\0');
    engine_.PDDocGetInfo(doc, key, buffer.data(), n + 1);
    return std::string(buffer.c_str());
  }
  std::vector<PDDoc> docs_;
};

void ExpectRect(const ASFixedRect& r, double left, double top, double right, double bottom) {
  EXPECT_EQ(r.left, F(left));
  EXPECT_EQ(r.top, F(top));
  EXPECT_EQ(r.right, F(right));
  EXPECT_EQ(r.bottom, F(bottom));
}

TEST_F(QueriesTest, CountsPagesOfFlatBalancedAndCompressedTrees) {
  EXPECT_EQ(engine_.PDDocGetNumPages(openSpec(Pages(0))), 0);
  EXPECT_EQ(engine_.PDDocGetNumPages(openSpec(Pages(1))), 1);
  EXPECT_EQ(engine_.PDDocGetNumPages(openSpec(Pages(250))), 250);
  DocSpec balanced = Pages(250);
  balanced.fanout = 3;
  EXPECT_EQ(engine_.PDDocGetNumPages(openSpec(balanced)), 250);
  DocSpec compressed = Pages(37);
  compressed.fanout = 4;
  compressed.objectStreams = true;
  EXPECT_EQ(engine_.PDDocGetNumPages(openSpec(compressed)), 37);
}

TEST_F(QueriesTest, PagesComeInTreeOrder) {
  DocSpec spec = Pages(0);
  for (int i = 0; i < 20; ++i) spec.pages.push_back("/Rotate " + std::to_string((i % 4) * 90));
  spec.fanout = 3;
  PDDoc doc = openSpec(spec);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(rotationOf(doc, i), (i % 4) * 90) << "page " << i;
}

TEST_F(QueriesTest, RotationIsInheritedAndNormalised) {
  DocSpec spec;
  spec.rootAttrs = "/MediaBox [0 0 612 792] /Rotate 180";
  spec.pages = {"", "/Rotate -90", "/Rotate 450", "/Rotate 45", "/Rotate 90.0", "/Rotate (x)", "/Rotate -720"};
  PDDoc doc = openSpec(spec);
  EXPECT_EQ(rotationOf(doc, 0), 180);  // inherited
  EXPECT_EQ(rotationOf(doc, 1), 270);
  EXPECT_EQ(rotationOf(doc, 2), 90);
  EXPECT_EQ(rotationOf(doc, 3), 0);
  EXPECT_EQ(rotationOf(doc, 4), 90);
  EXPECT_EQ(rotationOf(doc, 5), 0);
  EXPECT_EQ(rotationOf(doc, 6), 0);
  EXPECT_EQ(linesWith("CPdfEngine warning:").size(), 2u);  // 45 and (x)
  EXPECT_THAT(linesWith("/Rotate 45").at(0), HasSubstr("not a multiple of 90"));
}

TEST_F(QueriesTest, BoxesAreInheritedNormalisedAndClipped) {
  DocSpec spec;
  spec.rootAttrs = "/MediaBox [0 0 595.276 841.89] /CropBox [10 10 500 800]";
  spec.pages = {
      "",                                                  // both inherited
      "/MediaBox [612 792 0 0]",                           // corners swapped
      "/MediaBox [0 0 200 200] /CropBox [-50 -50 100 300]",  // crop sticks out
      "/MediaBox [0 0 200 200] /CropBox [300 300 400 400]",  // crop outside
      "/MediaBox [-40000 0 40000 10]",                     // beyond 16.16
      "/MediaBox [0 0 100] ",                              // malformed
      "/MediaBox [0 0 100 100] /CropBox [0 0 50 (x)]",     // malformed crop
  };
  PDDoc doc = openSpec(spec);
  ExpectRect(box(doc, 0, false), 0, 841.89, 595.276, 0);
  ASFixedRect media0 = box(doc, 0, false);
  EXPECT_EQ(media0.right, static_cast<ASFixed>(std::lround(595.276 * 65536)));
  ExpectRect(box(doc, 0, true), 10, 800, 500, 10);
  ExpectRect(box(doc, 1, false), 0, 792, 612, 0);
  ExpectRect(box(doc, 1, true), 10, 792, 500, 10);  // inherited crop clipped to the page's media
  ExpectRect(box(doc, 2, true), 0, 200, 100, 0);
  ExpectRect(box(doc, 3, true), 0, 200, 200, 0);
  ASFixedRect huge = box(doc, 4, false);
  EXPECT_EQ(huge.left, INT32_MIN);
  EXPECT_EQ(huge.right, INT32_MAX);
  ExpectRect(box(doc, 5, false), 0, 792, 612, 0);  // US Letter
  ExpectRect(box(doc, 6, true), 0, 100, 100, 0);
  EXPECT_EQ(linesWith("malformed /MediaBox").size(), 1u);
  EXPECT_EQ(linesWith("malformed /CropBox").size(), 1u);
  EXPECT_EQ(linesWith("outside its MediaBox").size(), 1u);
}

TEST_F(QueriesTest, MissingMediaBoxIsLetterAndMissingCropBoxIsMediaBox) {
  DocSpec spec;
  spec.rootAttrs = "";
  spec.pages = {"", "/MediaBox [0 0 300 400]"};
  PDDoc doc = openSpec(spec);
  ExpectRect(box(doc, 0, false), 0, 792, 612, 0);
  ExpectRect(box(doc, 0, true), 0, 792, 612, 0);
  ExpectRect(box(doc, 1, true), 0, 400, 300, 0);
  EXPECT_EQ(linesWith("has no /MediaBox; US Letter assumed").size(), 1u);
}

TEST_F(QueriesTest, FixedPointConversionRoundsAndClamps) {
  using pdfl_qpdf::ToFixed;
  EXPECT_EQ(ToFixed(0), 0);
  EXPECT_EQ(ToFixed(1), 65536);
  EXPECT_EQ(ToFixed(-1.5), -98304);
  EXPECT_EQ(ToFixed(0.5 / 65536), 1);  // rounds to nearest
  EXPECT_EQ(ToFixed(0.4 / 65536), 0);
  EXPECT_EQ(ToFixed(32767.99998), INT32_MAX);
  EXPECT_EQ(ToFixed(1e30), INT32_MAX);
  EXPECT_EQ(ToFixed(-1e30), INT32_MIN);
  EXPECT_EQ(ToFixed(-32768), INT32_MIN);
  EXPECT_EQ(ToFixed(std::nan("")), 0);
}

TEST_F(QueriesTest, InfoValuesAreDecodedToUtf8) {
  DocSpec spec = Pages(1);
  spec.info["Producer"] = "Vrel \x80 PDF\xA0";                            // PDFDocEncoding: bullet, euro
  spec.info["Title"] = pdftest::Utf16Be(u"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600");
  spec.info["Subject"] = "\xEF\xBB\xBF" "caf\xC3\xA9";                    // UTF-8 with BOM
  spec.info["Keywords"] = "";
  spec.info["Bad16"] = "\xFE\xFF\xD8\x00";                                // lone surrogate
  spec.infoRaw = "/Trapped /True /Pages 7 /Author [(a)]";
  PDDoc doc = openSpec(spec);
  EXPECT_EQ(info(doc, "Producer"), "Vrel \u2022 PDF\u20AC");
  EXPECT_EQ(info(doc, "Title"), "Gr\u00FC\u00DFe \u65E5\u672C \U0001F600");
  EXPECT_EQ(info(doc, "Subject"), "caf\u00E9");
  EXPECT_EQ(info(doc, "Bad16"), "\uFFFD");
  EXPECT_EQ(info(doc, "Trapped"), "True");  // a name gives its text
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Keywords", nullptr, 0), 0);
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Pages", nullptr, 0), 0);   // a number counts as absent
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Author", nullptr, 0), 0);  // so does an array
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Creator", nullptr, 0), 0);
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "", nullptr, 0), 0);
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocGetInfo(doc, nullptr, nullptr, 0); }), pdfl_err::kBadParameter);
}

TEST_F(QueriesTest, InfoCopyHonoursTheBufferSize) {
  DocSpec spec = Pages(1);
  spec.info["Producer"] = "twelve bytes";
  spec.info["Creator"] = std::string(300000, 'c');  // large values are fine
  PDDoc doc = openSpec(spec);
  ASSERT_EQ(engine_.PDDocGetInfo(doc, "Producer", nullptr, 0), 12);
  char buffer[8];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Producer", buffer, 5), 4);
  EXPECT_STREQ(buffer, "twel");
  EXPECT_EQ(buffer[5], 'X');  // nothing written past the size given
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Producer", buffer, 0), 12);
  EXPECT_EQ(buffer[0], 't');  // a size of 0 writes nothing
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Creator", nullptr, 0), 300000);
  EXPECT_EQ(info(doc, "Creator").size(), 300000u);
}

TEST_F(QueriesTest, PageHandlesAreCountedAndIndexesChecked) {
  PDDoc doc = openSpec(Pages(3));
  PDPage a = engine_.PDDocAcquirePage(doc, 2);
  PDPage b = engine_.PDDocAcquirePage(doc, 2);
  EXPECT_EQ(a, b);
  EXPECT_EQ(engine_.acquiredPages(), 1u);
  engine_.PDPageRelease(a);
  EXPECT_EQ(engine_.PDPageGetRotate(b), 0);  // still held once
  engine_.PDPageRelease(b);
  EXPECT_EQ(engine_.acquiredPages(), 0u);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageGetRotate(b); }), pdfl_err::kBadParameter);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageRelease(b); }), pdfl_err::kBadParameter);
  std::string message;
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocAcquirePage(doc, 3); }, &message), pdfl_err::kBadPage);
  EXPECT_THAT(message, HasSubstr("beyond the last page"));
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocAcquirePage(doc, -1); }), pdfl_err::kBadPage);
  ASFixedRect r;
  PDPage p = engine_.PDDocAcquirePage(doc, 0);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageGetMediaBox(p, nullptr); }), pdfl_err::kBadParameter);
  engine_.PDPageGetCropBox(p, &r);
  engine_.PDPageRelease(p);
}

TEST_F(QueriesTest, ClosingADocumentInvalidatesItsPages) {
  PDDoc doc = open(write("a.pdf", BuildPdf(Pages(2))));
  PDPage page = engine_.PDDocAcquirePage(doc, 1);
  engine_.PDDocClose(doc);
  EXPECT_EQ(engine_.acquiredPages(), 0u);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageGetRotate(page); }), pdfl_err::kBadParameter);
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocGetNumPages(doc); }), pdfl_err::kBadParameter);
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocClose(doc); }), pdfl_err::kBadParameter);
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocGetNumPages(nullptr); }), pdfl_err::kBadParameter);
}

TEST_F(QueriesTest, FirstPageDoesNotWalkTheWholeTree) {
  // Page 0 is answered although a later subtree is unreadable.
  pdftest::RawDoc raw;
  raw.objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 10 10] >>",
      "<< /Type /Page /Parent 2 0 R /Rotate 90 >>",
      "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] /Count 1 >>",  // loops onto itself
  };
  PDDoc doc = open(write("lazy.pdf", pdftest::Assemble(raw)));
  docs_.push_back(doc);
  EXPECT_EQ(rotationOf(doc, 0), 90);
  EXPECT_TRUE(linesWith("ancestor").empty());  // the loop has not been reached
  EXPECT_EQ(engine_.PDDocGetNumPages(doc), 1);
  EXPECT_EQ(linesWith("is its own ancestor").size(), 1u);
}

}  // namespace
}  // namespace enginetest
