// Page count, rotation, boxes, Info, page handles and inks of the libqpdf
// engine on documents written by libqpdf.
#include "support/EngineFixture.h"

namespace pdfparse::test {
namespace {

using Rect = std::vector<double>;

class QueriesTest : public EngineTest {
 protected:
  PDDoc openLayout(const DocLayout& doc) { return open(write("d" + std::to_string(++docs_) + ".pdf", BuildPdf(doc))); }
  int docs_ = 0;
};

// The box and rotation rules are PageBoxes' test, their diagnostics reaching
// the trace PageReleaseTest's; here, what the engine adds: inheritance from
// the root, 16.16 fixed point (rounded to nearest, clamped) and a value that
// is not finite.
TEST_F(QueriesTest, BoxesAreInheritedRoundedAndClampedToFixedPoint) {
  const double big = 32768.0 - 1.0 / 65536;  // the largest 16.16 value
  const Rect a4 = {0, 841.890, 595.276, 0}, crop = {10, 800, 500, 10}, letter = {0, 792, 612, 0};
  const struct {
    std::string attrs;
    Rect media, crop;
  } cases[] = {
      {"", a4, crop},                                                                     // all inherited
      {"/MediaBox [612 792 0 0]", letter, {10, 792, 500, 10}},                            // inherited crop clipped
      {"/MediaBox [-40000 0 40000 10]", {-32768, 10, big, 0}, {-32768, 10, big, 0}},      // beyond 16.16
      {"/MediaBox [0 0 1 " + std::string(400, '9') + ".0]", letter, {10, 792, 500, 10}},  // not finite
  };
  DocLayout layout;
  layout.rootAttrs = "/MediaBox [0 0 595.276 841.89] /CropBox [10 10 500 800] /Rotate 180";
  layout.pages.clear();
  for (const auto& c : cases) layout.pages.push_back(c.attrs);
  PDDoc doc = openLayout(layout);
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    SCOPED_TRACE(cases[i].attrs);
    EXPECT_EQ(rotation(doc, i), 180);
    for (bool isCrop : {false, true}) {
      Rect got = box(doc, i, isCrop), want = isCrop ? cases[i].crop : cases[i].media;
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 0.5 / 65536) << isCrop << k;  // rounded to nearest
    }
  }
  EXPECT_EQ(traced("malformed /MediaBox"), 1u);
  layout.rootAttrs = "";
  layout.pages = {""};
  PDDoc bare = openLayout(layout);
  for (bool isCrop : {false, true}) EXPECT_EQ(box(bare, 0, isCrop), letter);
  EXPECT_EQ(traced("has no /MediaBox; US Letter assumed"), 1u);
}

TEST_F(QueriesTest, InfoValuesAreDecodedToUtf8AndCopiedWithinTheBuffer) {
  DocLayout layout = Pages(1);
  // The decoding itself is the text codec's test; here, that values go
  // through it and are copied whole.
  layout.info = {{"Title", Utf16Be(u"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600")},
                 {"Keywords", ""},
                 {"Zeros", std::string("ab\0cd Vrel", 10)},
                 {"Creator", std::string(300000, 'c')}};
  layout.infoRaw = "/Trapped /True /Company /Gr#FCn /Pages 7 /Author [(a)]";
  PDDoc doc = openLayout(layout);
  EXPECT_EQ(info(doc, "Title"), "Gr\u00FC\u00DFe \u65E5\u672C \U0001F600");
  EXPECT_EQ(info(doc, "Trapped"), "True");  // a name gives its text
  EXPECT_EQ(info(doc, "Company"), "Gr\u00FCn");
  EXPECT_EQ(info(doc, "Zeros"), std::string("ab\0cd Vrel", 10));
  EXPECT_EQ(info(doc, "Creator").size(), 300000u);
  for (const char* absent : {"Keywords", "Pages", "Author", "Missing", ""})
    EXPECT_EQ(engine_.PDDocGetInfo(doc, absent, nullptr, 0), 0) << absent;  // numbers and arrays count as absent
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocGetInfo(doc, nullptr, nullptr, 0); }), err::kBadParameter);
  char buffer[8] = "XXXXXXX";
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Trapped", buffer, 3), 2);
  EXPECT_STREQ(buffer, "Tr");
  EXPECT_EQ(buffer[3], 'X');  // nothing written past the size given
  EXPECT_EQ(engine_.PDDocGetInfo(doc, "Trapped", buffer + 4, 0), 4);
  EXPECT_EQ(buffer[4], 'X');  // a size of 0 writes nothing
}

TEST_F(QueriesTest, PageHandlesAreCountedAndChecked) {
  PDDoc doc = openLayout(Pages(3));
  PDPage a = engine_.PDDocAcquirePage(doc, 2), b = engine_.PDDocAcquirePage(doc, 2);
  EXPECT_EQ(a, b);
  EXPECT_EQ(engine_.acquiredPages(), 1u);
  engine_.PDPageRelease(a);
  EXPECT_EQ(engine_.PDPageGetRotate(b), 0);  // still held once
  engine_.PDPageRelease(b);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageRelease(b); }), err::kBadParameter);
  std::string message;
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocAcquirePage(doc, 3); }, &message), err::kBadPage);
  EXPECT_THAT(message, HasSubstr("beyond the last page"));
  PDPage page = engine_.PDDocAcquirePage(doc, 0);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageGetMediaBox(page, nullptr); }), err::kBadParameter);
  engine_.PDDocClose(doc);  // closing invalidates its pages
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageGetRotate(page); }), err::kBadParameter);
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocClose(doc); }), err::kBadParameter);
}

const char kSpotPage[] =
    "/Resources << /ColorSpace << /CS0 [/Separation /PANTONE#20185#20C /DeviceCMYK "
    "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>] >> >>";

TEST_F(QueriesTest, ProcessInksComeFirstAndTheAtomsOfADocumentsNamesGoWhenItCloses) {
  DocLayout layout;
  layout.pages = {"", kSpotPage};
  std::string path = write("spot.pdf", BuildPdf(layout));
  PDDoc first = open(path);
  std::vector<std::pair<std::string, int>> want = {{"Cyan", 1}, {"Magenta", 1}, {"Yellow", 1}, {"Black", 1}};
  EXPECT_EQ(inks(first, 0).inks, want);
  want.push_back({"PANTONE 185 C", 0});
  EXPECT_EQ(inks(first, 1).inks, want);
  EXPECT_EQ(inks(first, 1, 2).inks.size(), 2u);  // halted by the callback
  PDPage page = engine_.PDDocAcquirePage(first, 0);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageEnumInksEx(page, nullptr, nullptr, 0, ASAtomNull); }), err::kBadParameter);
  engine_.PDDocClose(first);  // the process atoms exist for good now
  const size_t baseline = engine_.atomCount();
  PDDoc a = open(path), b = open(path);
  ASAtom spot = inks(a, 1).atoms.back();
  EXPECT_EQ(inks(b, 1).atoms.back(), spot);  // one atom, held by both documents
  EXPECT_EQ(engine_.atomCount(), baseline + 1);
  engine_.PDDocClose(a);
  EXPECT_STREQ(engine_.ASAtomGetString(spot), "PANTONE 185 C");  // b still holds it
  engine_.PDDocClose(b);
  EXPECT_EQ(engine_.atomCount(), baseline);
  EXPECT_STREQ(engine_.ASAtomGetString(spot), "");
  EXPECT_STREQ(engine_.ASAtomGetString(engine_.ASAtomFromString("Cyan")), "Cyan");
}

}  // namespace
}  // namespace pdfparse::test
