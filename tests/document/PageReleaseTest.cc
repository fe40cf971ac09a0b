// The page-tree walk that hands each page over and lets libqpdf drop it, the
// inherited attributes read once per node, and the engine's page queries
// answered from what it kept of each page.
#include <qpdf/QPDF.hh>

#include <string>
#include <tuple>
#include <vector>

#include "document/RepairingPageWalk.h"
#include "support/EngineFixture.h"

namespace pdfparse::test {
namespace {

using ::testing::ElementsAre;

// Pages in tree order: 3, 6, 7, 3 again, 5. Node 4 and page 5 carry their
// own attributes over the root's; node 9 and 10 are each other's parent.
// Pages 11 and 13 hang below that loop but are not listed in any /Kids.
std::string TreeDoc() {
  return Assemble({{
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
  }});
}

std::string Text(QPDFObjectHandle h) { return h.isInitialized() && !h.isNull() ? h.unparse() : "absent"; }

TEST(PageReleaseTest, TheWalkHandsOverEachPageOnceReleasesItAndInheritsLikeAFreshClimb) {
  const std::string bytes = TreeDoc();  // read in place by both
  QPDF pdf, kept;
  for (QPDF* q : {&pdf, &kept}) q->setSuppressWarnings(true), q->processMemoryFile("tree", bytes.data(), bytes.size());
  document::Inheritance<QPDFObjectHandle> inheritance;
  const document::RepairPolicy policy;
  auto inherited = [&](QPDFObjectHandle page) {  // the remembered nodes must give what a fresh climb finds
    document::Inherited<QPDFObjectHandle> a = inheritance.of(page, policy);
    std::vector<std::string> got = {Text(a.mediaBox), Text(a.cropBox), Text(a.rotate), Text(a.resources)}, climbed;
    for (document::Attribute key : document::kAttributes)
      climbed.push_back(Text(document::InheritedAttribute(page, key, policy)));
    EXPECT_EQ(got, climbed);
    return got;
  };
  using Seen = std::tuple<size_t, size_t, int>;  // index, first index of that page, object
  std::vector<Seen> seen;
  std::vector<std::vector<std::string>> attrs;
  document::RepairingPageWalk tree(pdf, {}, {}, [&](size_t index, size_t sameAs, QPDFObjectHandle& page) {
    seen.emplace_back(index, sameAs, page.getObjectID());
    attrs.push_back(sameAs == index ? inherited(page) : std::vector<std::string>{});
  });
  EXPECT_TRUE(tree.reach(0));
  EXPECT_EQ(seen.size(), 1u);  // lazily: no further than asked
  EXPECT_EQ(tree.count(), 5u);
  EXPECT_TRUE(tree.reach(4));
  EXPECT_FALSE(tree.reach(5));
  EXPECT_TRUE(tree.page(0).isNull());  // released pages are not handed out again
  EXPECT_THAT(seen, ElementsAre(Seen{0, 0, 3}, Seen{1, 1, 6}, Seen{2, 2, 7}, Seen{3, 0, 3}, Seen{4, 4, 5}));
  EXPECT_THAT(attrs[1], ElementsAre("[ 0 0 200 300 ]", "absent", "90", "8 0 R"));
  EXPECT_THAT(attrs[2], ElementsAre("[ 0 0 200 300 ]", "absent", "180", "<< >>"));
  for (int page : {3, 5, 6, 7}) EXPECT_TRUE(pdf.getObjectByID(page, 0).isNull()) << page;
  for (int node : {2, 4}) EXPECT_TRUE(pdf.getObjectByID(node, 0).isDictionary()) << node;
  // Nothing read on the way into the parent loop is remembered: the climb goes 10, 9 and stops.
  for (int page : {11, 13, 11, 13})
    EXPECT_THAT(inherited(pdf.getObjectByID(page, 0)), ElementsAre("[ 0 0 10 10 ]", "absent", "270", "absent"));
  QPDFObjectHandle three = QPDFObjectHandle::newInteger(3);
  EXPECT_FALSE(inheritance.of(three, policy).mediaBox.isInitialized());

  document::RepairingPageWalk plain(kept);  // the same walk without the hand-over keeps the pages
  EXPECT_EQ(plain.count(), 5u);
  EXPECT_EQ(plain.page(3).getObjectID(), 3);
  EXPECT_TRUE(plain.page(3).isDictionary());
}

TEST_F(EngineTest, PageQueriesAnswerFromWhatTheWalkKeptWithTheirDiagnosticsEachTime) {
  PDDoc doc = open(write("tree.pdf", TreeDoc()));
  ASSERT_EQ(engine_.PDDocGetNumPages(doc), 5);   // every page read, and released
  EXPECT_EQ(traced("CPdfEngine warning:"), 0u);  // diagnostics belong to the queries
  using Rect = std::vector<double>;
  const Rect small = {0, 100, 100, 0}, crop = {10, 50, 50, 10}, node = {0, 300, 200, 0}, letter = {0, 792, 612, 0};
  const struct {
    int rotation;
    Rect media, crop;
    std::vector<std::string> spots;  // inherited resources, a page's own empty ones, a page's group
  } cases[] = {{90, small, crop, {"RootSpot"}},
               {90, node, node, {"RootSpot"}},
               {180, node, node, {}},
               {90, small, crop, {"RootSpot"}},  // the page listed twice
               {0, letter, letter, {"RootSpot", "GroupSpot"}}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rotation(doc, i), cases[i].rotation);
    EXPECT_EQ(box(doc, i, false), cases[i].media);
    EXPECT_EQ(box(doc, i, true), cases[i].crop);
    std::vector<std::string> spots;
    for (auto& [name, process] : inks(doc, i).inks)
      if (!process) spots.push_back(name);
    EXPECT_EQ(spots, cases[i].spots);
  }
  EXPECT_EQ(traced("has a malformed /MediaBox; US Letter assumed"), 1u);  // the crop box does not repeat it
  EXPECT_EQ(traced("has /Rotate 45, not a multiple of 90; 0 assumed"), 1u);
  EXPECT_EQ(rotation(doc, 4) + box(doc, 4, false)[1], 792);
  EXPECT_EQ(traced("has a malformed /MediaBox; US Letter assumed"), 2u);
  EXPECT_EQ(traced("has /Rotate 45, not a multiple of 90; 0 assumed"), 2u);
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocAcquirePage(doc, 5); }), err::kBadPage);
  engine_.PDDocClose(doc);
}

}  // namespace
}  // namespace pdfparse::test
