// The shared pieces under the engine: text strings, the page-tree walk and
// inherited attributes, page boxes.
#include <gmock/gmock.h>
#include <qpdf/QPDF.hh>

#include "outside/pdfl/core/PageBoxes.h"
#include "outside/pdfl/core/PageTree.h"
#include "outside/pdfl/core/TextString.h"
#include "support/PdfBuilder.h"

namespace {

using pdfcore::DecodeNameText;
using pdfcore::DecodeTextString;
using pdfcore::SanitizeUtf8;

TEST(TextStringTest, PdfDocEncodingMapsItsSpecialBytes) {
  EXPECT_EQ(DecodeTextString("plain ASCII"), "plain ASCII");
  EXPECT_EQ(DecodeTextString("\x18\x1F"), "\u02D8\u02DC");
  EXPECT_EQ(DecodeTextString("\x80\x8D\x8E\x93\x9E"), "\u2022\u201C\u201D\uFB01\u017E");
  EXPECT_EQ(DecodeTextString("\xA0\xA9\xE9\xFF"), "\u20AC\u00A9\u00E9\u00FF");
  EXPECT_EQ(DecodeTextString("\x7F\x9F\xAD"), "\uFFFD\uFFFD\uFFFD");  // undefined bytes
  EXPECT_EQ(DecodeTextString(""), "");
}

TEST(TextStringTest, Utf16AndUtf8WithByteOrderMarks) {
  EXPECT_EQ(DecodeTextString(pdftest::Utf16Be(u"A\u00E9\u4E2D")), "A\u00E9\u4E2D");
  EXPECT_EQ(DecodeTextString(std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6)), "\U0001F600");  // surrogate pair
  EXPECT_EQ(DecodeTextString(std::string("\xFE\xFF\xDE\x00\x00\x41", 6)), "\uFFFDA");    // lone low surrogate
  EXPECT_EQ(DecodeTextString(std::string("\xFE\xFF\xD8\x3D\x00\x41", 6)), "\uFFFDA");    // high without low
  EXPECT_EQ(DecodeTextString(std::string("\xFE\xFF\x00\x41\x00", 5)), "A\uFFFD");        // odd length
  EXPECT_EQ(DecodeTextString("\xFE\xFF"), "");
  EXPECT_EQ(DecodeTextString("\xEF\xBB\xBF\xC3\xA9t\xC3\xA9"), "\u00E9t\u00E9");
  EXPECT_EQ(DecodeTextString("\xEF\xBB\xBF\xC3(\xF0\x9F\x98"), "\uFFFD(\uFFFD\uFFFD\uFFFD");
}

TEST(TextStringTest, Utf8IsCheckedStrictly) {
  EXPECT_EQ(SanitizeUtf8("ok \xE2\x82\xAC"), "ok \u20AC");
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\uFFFD\uFFFD");                   // overlong
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");         // encoded surrogate
  EXPECT_EQ(SanitizeUtf8("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
  EXPECT_EQ(SanitizeUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextStringTest, NamesAreUtf8OrPdfDocEncoding) {
  EXPECT_EQ(DecodeNameText("/PANTONE 185 C"), "PANTONE 185 C");
  EXPECT_EQ(DecodeNameText("/Gr\xC3\xBCn"), "Gr\u00FCn");
  EXPECT_EQ(DecodeNameText("/Gr\xFCn"), "Gr\u00FCn");
  EXPECT_EQ(DecodeNameText("NoSlash"), "NoSlash");
}

// --- Page tree -------------------------------------------------------------------

// libqpdf reads from `bytes` for as long as the document lives.
std::shared_ptr<QPDF> Load(const std::string& bytes) {
  auto pdf = std::make_shared<QPDF>();
  pdf->setSuppressWarnings(true);
  pdf->processMemoryFile("test", bytes.data(), bytes.size());
  return pdf;
}

std::string BigTree() {
  pdftest::DocSpec spec = pdftest::Pages(600);
  spec.fanout = 5;
  return pdftest::BuildPdf(spec);
}

TEST(PageTreeTest, ACheckpointThatThrowsAbandonsTheWalk) {
  std::string bytes = BigTree();
  auto pdf = Load(bytes);
  int calls = 0;
  pdfcore::PageTree tree(*pdf, {}, [&] {
    if (++calls == 2) throw std::runtime_error("deadline");
  });
  EXPECT_TRUE(tree.page(0).isDictionary());  // a short walk does not reach the checkpoint
  EXPECT_THROW(tree.count(), std::runtime_error);
  EXPECT_EQ(calls, 2);
}

TEST(PageTreeTest, CountsLazilyAndAnswersBeyondTheEnd) {
  std::string bytes = BigTree();
  auto pdf = Load(bytes);
  std::vector<std::string> diagnostics;
  pdfcore::PageTree tree(*pdf, [&](const std::string& m) { diagnostics.push_back(m); });
  EXPECT_TRUE(tree.page(599).isDictionary());
  EXPECT_TRUE(tree.page(600).isNull());
  EXPECT_TRUE(tree.page(SIZE_MAX).isNull());
  EXPECT_EQ(tree.count(), 600u);
  EXPECT_EQ(tree.count(), 600u);
  EXPECT_TRUE(diagnostics.empty());
}

TEST(PageTreeTest, InheritedAttributesFollowParentsWithALoopGuard) {
  pdftest::RawDoc raw;
  raw.objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 /Rotate 270 /Parent 4 0 R >>",
      "<< /Type /Page /Parent 2 0 R >>",
      "<< /Type /Pages /Parent 2 0 R /CropBox [0 0 1 1] >>",  // a /Parent loop above the root
  };
  std::string bytes = pdftest::Assemble(raw);
  auto pdf = Load(bytes);
  pdfcore::PageTree tree(*pdf);
  QPDFObjectHandle page = tree.page(0);
  EXPECT_EQ(pdfcore::InheritedAttribute(page, "/Rotate").getIntValue(), 270);
  EXPECT_TRUE(pdfcore::InheritedAttribute(page, "/CropBox").isArray());
  EXPECT_TRUE(pdfcore::InheritedAttribute(page, "/MediaBox").isNull());  // ends despite the loop
  EXPECT_TRUE(pdfcore::InheritedAttribute(QPDFObjectHandle::newInteger(3), "/Rotate").isNull());
}

// --- Boxes -----------------------------------------------------------------------

TEST(PageBoxesTest, ReadBoxWantsFourFiniteNumbers) {
  auto box = [](const std::string& text) { return pdfcore::ReadBox(QPDFObjectHandle::parse(text)); };
  EXPECT_EQ(box("[10 20 30 40]"), (pdfcore::Box{10, 20, 30, 40}));
  EXPECT_EQ(box("[30 40 10 20]"), (pdfcore::Box{10, 20, 30, 40}));
  EXPECT_EQ(box("[0.5 -1 2 3.25]"), (pdfcore::Box{0.5, -1, 2, 3.25}));
  EXPECT_FALSE(box("[0 0 1]"));
  EXPECT_FALSE(box("[0 0 1 2 3]"));
  EXPECT_FALSE(box("[0 0 1 /x]"));
  EXPECT_FALSE(box("[0 0 1 " + std::string(400, '9') + ".0]"));  // not finite as a double
  EXPECT_FALSE(box("(0 0 1 1)"));
}

TEST(PageBoxesTest, UserUnitIsAPositiveNumberOrOne) {
  auto unit = [](const std::string& page) { return pdfcore::UserUnit(QPDFObjectHandle::parse(page)); };
  EXPECT_EQ(unit("<< /UserUnit 2.5 >>"), 2.5);
  EXPECT_EQ(unit("<< >>"), 1.0);
  EXPECT_EQ(unit("<< /UserUnit -3 >>"), 1.0);
  EXPECT_EQ(unit("<< /UserUnit /Big >>"), 1.0);
}

}  // namespace
