// Ink enumeration of the libqpdf engine: process inks first, then the
// page's own colorants, stopping when the callback says so; the atoms made
// for a document's names go with the document.
#include <gmock/gmock.h>

#include "engine/EngineFixture.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

struct Seen {
  pdfl_qpdf::QpdfEngine* engine = nullptr;
  std::vector<std::pair<std::string, int>> inks;
  std::vector<ASAtom> atoms;
  size_t stopAfter = SIZE_MAX;
};

ASBool Collect(PDPageInk ink, void* clientData) {
  auto* seen = static_cast<Seen*>(clientData);
  EXPECT_EQ(ink->size, sizeof(PDPageInkRec));
  EXPECT_EQ(ink->whetherToPrint, 1);
  seen->inks.emplace_back(seen->engine->ASAtomGetString(ink->colorantName), ink->isProcessColor);
  seen->atoms.push_back(ink->colorantName);
  return seen->inks.size() < seen->stopAfter ? 1 : 0;
}

const char* const kSpotPage =
    "/Resources << /ColorSpace << /CS0 [/Separation /PANTONE#20185#20C /DeviceCMYK "
    "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>] >> >>";

class InksTest : public EngineTest {
 protected:
  Seen enumerate(PDDoc doc, int index, size_t stopAfter = SIZE_MAX, ASAtom model = ASAtomNull) {
    Seen seen;
    seen.engine = &engine_;
    seen.stopAfter = stopAfter;
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    try {
      engine_.PDPageEnumInksEx(page, Collect, &seen, 0, model);
    } catch (...) {
      engine_.PDPageRelease(page);
      throw;
    }
    engine_.PDPageRelease(page);
    return seen;
  }
};

TEST_F(InksTest, ProcessInksComeFirstThenThePagesColorants) {
  pdftest::DocSpec spec;
  spec.pages = {"", kSpotPage};
  PDDoc doc = open(write("inks.pdf", pdftest::BuildPdf(spec)));
  EXPECT_THAT(enumerate(doc, 0).inks,
              ElementsAre(Pair("Cyan", 1), Pair("Magenta", 1), Pair("Yellow", 1), Pair("Black", 1)));
  EXPECT_THAT(enumerate(doc, 1).inks, ElementsAre(Pair("Cyan", 1), Pair("Magenta", 1), Pair("Yellow", 1),
                                                  Pair("Black", 1), Pair("PANTONE 185 C", 0)));
  EXPECT_EQ(enumerate(doc, 1, 2).inks.size(), 2u);  // halted by the callback
  EXPECT_EQ(ErrorOf([&] { enumerate(doc, 1, SIZE_MAX, engine_.ASAtomFromString("DeviceRGB")); }),
            pdfl_err::kUnsupported);
  EXPECT_EQ(enumerate(doc, 1, SIZE_MAX, engine_.ASAtomFromString("DeviceCMYK")).inks.size(), 5u);
  PDPage page = engine_.PDDocAcquirePage(doc, 0);
  EXPECT_EQ(ErrorOf([&] { engine_.PDPageEnumInksEx(page, nullptr, nullptr, 0, ASAtomNull); }),
            pdfl_err::kBadParameter);
  engine_.PDPageRelease(page);
  engine_.PDDocClose(doc);
}

TEST_F(InksTest, AtomsOfADocumentsNamesGoWhenItCloses) {
  pdftest::DocSpec spec;
  spec.pages = {kSpotPage};
  std::string path = write("spot.pdf", pdftest::BuildPdf(spec));
  PDDoc first = open(path);
  enumerate(first, 0);  // the process atoms now exist for good
  engine_.PDDocClose(first);
  size_t baseline = engine_.atomCount();
  ASAtom cyan = engine_.ASAtomFromString("Cyan");

  PDDoc a = open(path);
  PDDoc b = open(path);
  Seen inA = enumerate(a, 0);
  Seen inB = enumerate(b, 0);
  ASAtom spot = inA.atoms.back();
  EXPECT_EQ(inB.atoms.back(), spot);  // one atom, held by both documents
  EXPECT_EQ(inA.atoms.front(), cyan);
  EXPECT_EQ(engine_.atomCount(), baseline + 1);
  engine_.PDDocClose(a);
  EXPECT_STREQ(engine_.ASAtomGetString(spot), "PANTONE 185 C");  // b still holds it
  engine_.PDDocClose(b);
  EXPECT_EQ(engine_.atomCount(), baseline);
  EXPECT_STREQ(engine_.ASAtomGetString(spot), "");
  EXPECT_STREQ(engine_.ASAtomGetString(cyan), "Cyan");
}

}  // namespace
}  // namespace enginetest
