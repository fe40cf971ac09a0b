// The page-tree walk that hands each page over and lets libqpdf drop it, the
// inherited attributes read once per node, and the engine's page queries
// answered from what it kept of each page.
#include <qpdf/QPDF.hh>

#include <string>
#include <vector>

#include "engine/EngineFixture.h"
#include "outside/pdfl/core/PageTree.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;

// Pages in tree order: 3, 6, 7, 3 again, 5. Node 4 and page 5 carry their
// own attributes over the root's; node 9 and 10 are each other's parent.
// Pages 11 and 13 hang below that loop but are not listed in any /Kids.
std::string TreeDoc() {
  RawDoc doc;
  doc.objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R 5 0 R] /Count 5 /MediaBox [0 0 100 100] /Rotate 90 "
      "/Resources 8 0 R >>",
      "<< /Type /Page /Parent 2 0 R /CropBox [10 10 50 50] >>",
      "<< /Type /Pages /Parent 2 0 R /Kids [6 0 R 7 0 R] /Count 2 /MediaBox [0 0 200 300] >>",
      "<< /Type /Page /Parent 2 0 R /Rotate 45 /MediaBox [0 0 1] /Group << /CS [/Separation /GroupSpot "
      "/DeviceCMYK 12 0 R] >> >>",
      "<< /Type /Page /Parent 4 0 R >>",
      "<< /Type /Page /Parent 4 0 R /Rotate 180 /Resources << >> >>",
      "<< /ColorSpace << /CS0 [/Separation /RootSpot /DeviceCMYK 12 0 R] >> >>",
      "<< /Type /Pages /Parent 10 0 R /Rotate 270 >>",
      "<< /Type /Pages /Parent 9 0 R /MediaBox [0 0 10 10] >>",
      "<< /Type /Page /Parent 9 0 R >>",
      "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0 0 1] /N 1 >>",
      "<< /Type /Page /Parent 10 0 R >>",
  };
  return Assemble(doc);
}

// `bytes` must outlive the QPDF, which reads them in place.
std::unique_ptr<QPDF> Read(const std::string& bytes) {
  auto pdf = std::make_unique<QPDF>();
  pdf->setSuppressWarnings(true);
  pdf->processMemoryFile("tree", bytes.data(), bytes.size());
  return pdf;
}

std::string Text(QPDFObjectHandle h) { return h.isInitialized() && !h.isNull() ? h.unparse() : "absent"; }

TEST(PageReleaseTest, TheWalkHandsOverEachPageOnceReleasesItAndKeepsTheNodes) {
  const std::string bytes = TreeDoc();
  std::unique_ptr<QPDF> pdf = Read(bytes);
  pdfcore::Inheritance inheritance;
  struct Seen {
    size_t index, sameAs;
    int object;
    std::vector<std::string> inherited, climbed;
  };
  std::vector<Seen> seen;
  pdfcore::PageTree tree(*pdf, {}, {}, [&](size_t index, size_t sameAs, QPDFObjectHandle& page) {
    Seen s{index, sameAs, page.getObjectID(), {}, {}};
    if (sameAs == index) {
      pdfcore::InheritedAttributes a = inheritance.of(page);
      s.inherited = {Text(a.mediaBox), Text(a.cropBox), Text(a.rotate), Text(a.resources)};
      for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) {
        s.climbed.push_back(Text(pdfcore::InheritedAttribute(page, key)));
      }
    }
    seen.push_back(s);
  });
  EXPECT_TRUE(tree.reach(0));
  EXPECT_EQ(seen.size(), 1u);  // lazily: no further than asked
  EXPECT_EQ(tree.count(), 5u);
  EXPECT_TRUE(tree.reach(4));
  EXPECT_FALSE(tree.reach(5));
  EXPECT_TRUE(tree.page(0).isNull());  // released pages are not handed out again
  ASSERT_EQ(seen.size(), 5u);
  const int objects[] = {3, 6, 7, 3, 5};
  const size_t firsts[] = {0, 1, 2, 0, 4};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].index, i);
    EXPECT_EQ(seen[i].object, objects[i]);
    EXPECT_EQ(seen[i].sameAs, firsts[i]);
    EXPECT_EQ(seen[i].inherited, seen[i].climbed);  // the remembered nodes give what a fresh climb finds
  }
  EXPECT_THAT(seen[1].inherited, ElementsAre("[ 0 0 200 300 ]", "absent", "90", "8 0 R"));
  EXPECT_THAT(seen[2].inherited, ElementsAre("[ 0 0 200 300 ]", "absent", "180", "<< >>"));
  for (int page : {3, 5, 6, 7}) EXPECT_TRUE(pdf->getObjectByID(page, 0).isNull()) << page;
  for (int node : {2, 4}) EXPECT_TRUE(pdf->getObjectByID(node, 0).isDictionary()) << node;

  // The same walk without the hand-over keeps the pages.
  std::unique_ptr<QPDF> kept = Read(bytes);
  pdfcore::PageTree plain(*kept);
  EXPECT_EQ(plain.count(), 5u);
  EXPECT_EQ(plain.page(3).getObjectID(), 3);
  EXPECT_TRUE(plain.page(3).isDictionary());
}

TEST(PageReleaseTest, InheritanceStopsAtAParentLoopLikeAFreshClimb) {
  const std::string bytes = TreeDoc();
  std::unique_ptr<QPDF> pdf = Read(bytes);
  pdfcore::Inheritance inheritance;
  // Nothing read on the way into the loop is remembered: below node 10
  // the climb goes 10, 9 and stops, so both values are found there too.
  for (int page : {11, 13, 11, 13}) {
    SCOPED_TRACE(page);
    QPDFObjectHandle looped = pdf->getObjectByID(page, 0);
    pdfcore::InheritedAttributes a = inheritance.of(looped);
    EXPECT_EQ(Text(a.mediaBox), Text(pdfcore::InheritedAttribute(looped, "/MediaBox")));
    EXPECT_EQ(Text(a.rotate), Text(pdfcore::InheritedAttribute(looped, "/Rotate")));
    EXPECT_EQ(Text(a.rotate), "270");
    EXPECT_EQ(Text(a.mediaBox), "[ 0 0 10 10 ]");
    EXPECT_EQ(Text(a.resources), "absent");
  }
  pdfcore::InheritedAttributes none = inheritance.of(QPDFObjectHandle::newInteger(3));
  EXPECT_FALSE(none.mediaBox.isInitialized());
}

class PageTableTest : public EngineTest {
 protected:
  std::vector<std::string> inks(PDDoc doc, int index) {
    std::vector<std::string> names;
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    auto collect = [](PDPageInk ink, void* data) -> ASBool {
      auto* self = static_cast<std::pair<PageTableTest*, std::vector<std::string>*>*>(data);
      if (!ink->isProcessColor) self->second->push_back(self->first->engine_.ASAtomGetString(ink->colorantName));
      return 1;
    };
    std::pair<PageTableTest*, std::vector<std::string>*> data{this, &names};
    engine_.PDPageEnumInksEx(page, collect, &data, 0, ASAtomNull);
    engine_.PDPageRelease(page);
    return names;
  }
  std::vector<double> box(PDDoc doc, int index, bool crop) {
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    ASFixedRect r{};
    crop ? engine_.PDPageGetCropBox(page, &r) : engine_.PDPageGetMediaBox(page, &r);
    engine_.PDPageRelease(page);
    return {r.left / 65536.0, r.top / 65536.0, r.right / 65536.0, r.bottom / 65536.0};
  }
};

TEST_F(PageTableTest, QueriesAnswerFromWhatTheWalkKeptWithTheirDiagnosticsEachTime) {
  PDDoc doc = open(write("tree.pdf", TreeDoc()));
  ASSERT_EQ(engine_.PDDocGetNumPages(doc), 5);  // every page read, and released
  EXPECT_EQ(traced("CPdfEngine warning:"), 0u);  // diagnostics belong to the queries
  const int rotations[] = {90, 90, 180, 90, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(rotation(doc, i), rotations[i]) << i;
  EXPECT_EQ(traced("has /Rotate 45, not a multiple of 90; 0 assumed"), 1u);
  EXPECT_EQ(rotation(doc, 4), 0);
  EXPECT_EQ(traced("has /Rotate 45, not a multiple of 90; 0 assumed"), 2u);

  EXPECT_EQ(box(doc, 0, false), (std::vector<double>{0, 100, 100, 0}));
  EXPECT_EQ(box(doc, 0, true), (std::vector<double>{10, 50, 50, 10}));
  EXPECT_EQ(box(doc, 3, true), box(doc, 0, true));  // the page listed twice
  EXPECT_EQ(box(doc, 1, true), (std::vector<double>{0, 300, 200, 0}));
  for (int n = 1; n <= 2; ++n) {
    EXPECT_EQ(box(doc, 4, false), (std::vector<double>{0, 792, 612, 0}));
    EXPECT_EQ(traced("has a malformed /MediaBox; US Letter assumed"), static_cast<size_t>(n));
  }
  EXPECT_EQ(box(doc, 4, true), (std::vector<double>{0, 792, 612, 0}));
  EXPECT_EQ(traced("malformed /MediaBox"), 2u);  // the crop box does not repeat it

  // Inherited resources, a page's own empty ones, and a page's group.
  EXPECT_THAT(inks(doc, 0), ElementsAre("RootSpot"));
  EXPECT_THAT(inks(doc, 3), ElementsAre("RootSpot"));
  EXPECT_THAT(inks(doc, 2), ElementsAre());
  EXPECT_THAT(inks(doc, 4), ElementsAre("RootSpot", "GroupSpot"));
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocAcquirePage(doc, 5); }), err::kBadPage);
  engine_.PDDocClose(doc);
}

}  // namespace
}  // namespace enginetest
