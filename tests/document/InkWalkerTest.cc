// The colour-space walk behind the ink enumeration: which colorants a page
// defines, how damaged structure is skipped, what is cached, and how an
// abandoned walk leaves the cache.
#include <gmock/gmock.h>

#include <stdexcept>

#include "document/Error.h"
#include "document/InkWalker.h"
#include "support/InkPdfs.h"

namespace pdfparse::test {
namespace {

using namespace inkpdfs;
using document::Error;
using document::ErrorCode;
using document::Ink;
using document::InkWalker;
using namespace testing;

std::vector<std::string> Names(const std::vector<Ink>& inks, bool process = false) {
  std::vector<std::string> out;
  for (const Ink& ink : inks)
    if (ink.process == process) out.push_back(ink.name);
  return out;
}

// Walks the pages of a written and re-read copy (what a file holds),
// recording the diagnostics.
struct Walk {
  explicit Walk(QPDF& pdf) : file(Read(Write(pdf))), pages(file->getAllPages()) {}
  std::vector<std::string> spots(size_t page) { return Names(walker.pageInks(pages.at(page))); }
  std::shared_ptr<QPDF> file;
  std::vector<QPDFObjectHandle> pages;
  std::vector<std::string> messages;
  InkWalker walker{[this](const std::string& m) { messages.push_back(m); }};
};

TEST(InkRules, EveryCasePageDefinesItsColorants) {
  auto pdf = NewPdf();
  const auto& cases = InkRuleCases();
  for (const auto& c : cases) c.build(*pdf);
  Walk walk(*pdf);
  ASSERT_EQ(walk.pages.size(), cases.size());

  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    walk.messages.clear();
    auto inks = walk.walker.pageInks(walk.pages[i]);
    EXPECT_THAT(Names(inks), ElementsAreArray(cases[i].spots));
    EXPECT_THAT(Names(inks, true), ElementsAreArray(cases[i].process));
    // Only the damaged cases complain, and they name the loop.
    EXPECT_EQ(walk.messages.empty(), cases[i].name != "colour_space_loops" && cases[i].name != "form_refers_to_itself");
    for (const auto& m : walk.messages) EXPECT_THAT(m, HasSubstr("loop"));
  }
}

TEST(InkRules, PlacesBeyondTheCasesAndOrder) {
  auto p = NewPdf();
  // Each name once, in walk order; a spot sighting wins over a process one.
  std::string nchannel = "<< /Subtype /NChannel /Process << /ColorSpace /DeviceRGB /Components [/Red /Green] >> >>";
  AddPage(*p,
          "<< /ColorSpace << /A " + Sep("Zed") + " /B " + DevN(*p, {"Red", "Alpha"}, nchannel) + " /C " +
              DevN(*p, {"Zed", "Beta"}) + " /D " + Sep("Red") + " >> /XObject << /Fm0 " +
              Form(*p, Res("/ColorSpace", "/CS0", Sep("Alpha")), "") + " >> >>",
          "");
  // Group colour spaces of a form and of the page; a shading resource and
  // a shading pattern's soft mask. (OPI inks are never asked for.)
  std::string group = Form(*p, "", "", "/Group << /S /Transparency /CS " + Sep("GroupSpot") + " >>");
  AddPage(*p, Res("/XObject", "/Fm0", group), "", "/Group << /S /Transparency /CS " + Sep("PageGroupSpot") + " >>");
  AddPage(*p,
          "<< /Shading << /Sh0 << /ShadingType 2 /Coords [0 0 1 0] /ColorSpace " + Sep("ShadingSpot") +
              " >> >>"
              " /Pattern << /P0 << /PatternType 2 /Shading << /ShadingType 1 >> /ExtGState << /SMask << /S /Luminosity"
              " /G " +
              Form(*p, Res("/ColorSpace", "/CS0", Sep("PatternMaskSpot")), "") + " >> >> >> >> >>",
          "");
  AddPage(*p, "", "");  // resources inherited from the tree (set last: adding pages pushes them down)
  p->getRoot().getKey("/Pages").replaceKey("/Resources", Obj(*p, Res("/ColorSpace", "/CS0", Sep("InheritedSpot"))));
  Walk walk(*p);
  ASSERT_TRUE(walk.pages.at(3).getKey("/Resources").isNull());
  auto first = walk.walker.pageInks(walk.pages[0]);
  EXPECT_THAT(Names(first), ElementsAre("Zed", "Red", "Alpha", "Beta"));
  EXPECT_THAT(Names(first, true), IsEmpty());
  EXPECT_THAT(walk.spots(1), ElementsAre("GroupSpot", "PageGroupSpot"));
  EXPECT_THAT(walk.spots(2), ElementsAre("ShadingSpot", "PatternMaskSpot"));
  EXPECT_THAT(walk.spots(3), ElementsAre("InheritedSpot"));
  EXPECT_THAT(walk.messages, IsEmpty());
}

TEST(InkDamage, DamagedItemsAreSkippedAndTheRestIsFound) {
  auto p = NewPdf();
  AddPage(*p,
          "<< /ColorSpace << /A 5 /B [/Separation] /C [/Separation 42 /DeviceCMYK 0] /D [/DeviceN /X /DeviceCMYK 0]"
          " /E [/Indexed] /F << /N 1 >> /G [/Bogus] /H [] /I [7 /Separation] /J null /K " +
              Sep("GoodSpot") +
              " >>"
              " /XObject << /X1 5 /X2 (text) /X3 " +
              Stream(*p, "<< >>", "") + " /X4 " + Stream(*p, "<< /Subtype /Form /Resources 7 /Group 3 >>", "") +
              " /X5 " + Stream(*p, "<< /Subtype /Image >>", "") +
              " >>"
              " /Pattern << /P1 << /PatternType 9 >> /P2 5 /P3 << /PatternType 1 /Resources 8 >> >>"
              " /Shading << /S1 5 /S2 << /ColorSpace [/Separation (string)] >> >>"
              " /Font << /F1 (not a font) /F2 << /Subtype /Type3 /Resources [1 2] >> >>"
              " /ExtGState << /G1 << /SMask /None >> /G2 << /SMask << /G 5 >> >> /G3 7 >> /Properties 5 >>",
          "", "/Annots [5 (x) << /F 4 /AP 3 >> << /F 4 /AP << /N 5 >> >> << /F (4) >>]");
  AddPage(*p, "5", "");
  AddPage(*p, "<< /ColorSpace [1 2 3] /XObject 4 >>", "", "/Annots 3");
  Walk walk(*p);
  EXPECT_THAT(walk.spots(0), ElementsAre("GoodSpot"));
  EXPECT_GE(walk.messages.size(), 15u);
  for (const auto& m : walk.messages) EXPECT_THAT(m, HasSubstr("skipped"));
  for (auto page : {walk.pages[1], walk.pages[2], QPDFObjectHandle::newInteger(1), QPDFObjectHandle()})
    EXPECT_THAT(walk.walker.pageInks(page), IsEmpty());
}

// R1 -> form F -> R2 -> form G -> R1: the four objects reach each other and
// share one complete answer, whichever of them a page starts at.
TEST(InkDamage, ALoopGivesEveryEntryTheWholeAnswer) {
  auto p = NewPdf();
  std::string r1 = Ind(*p, Res("/ColorSpace", "/CS0", Sep("OneSpot")));
  std::string r2 = Ind(*p, Res("/ColorSpace", "/CS0", Sep("TwoSpot")));
  Obj(*p, r1).replaceKey("/XObject", Obj(*p, "<< /F " + Form(*p, r2, "") + " >>"));
  Obj(*p, r2).replaceKey("/XObject", Obj(*p, "<< /G " + Form(*p, r1, "") + " >>"));
  for (const auto& r : {r1, r2, r1}) AddPage(*p, r, "");
  Walk walk(*p);
  EXPECT_THAT(walk.spots(0), ElementsAre("OneSpot", "TwoSpot"));
  const size_t walked = walk.walker.stats().objectsWalked;
  EXPECT_THAT(walk.spots(1), ElementsAre("OneSpot", "TwoSpot"));  // in the order first found
  EXPECT_THAT(walk.spots(2), ElementsAre("OneSpot", "TwoSpot"));
  EXPECT_EQ(walk.walker.stats().objectsWalked, walked);
  EXPECT_EQ(walk.walker.stats().cacheHits, 2u);
}

// Nesting has no bound but the safety net: 1000 forms deep and an Indexed
// chain 1000 deep are walked to the bottom; past the net the page fails.
TEST(InkDamage, DeepNestingIsWalkedToTheBottomAndOnlyTheSafetyNetFails) {
  auto p = NewPdf();
  std::string form = Form(*p, Res("/ColorSpace", "/CS0", Sep("DeepSpot")), ""), cs = Ind(*p, Sep("DeepIndexSpot"));
  for (int i = 999; i >= 0; --i) {
    std::string shallow = i == 3 ? "/ColorSpace << /CS0 " + Sep("ShallowSpot") + " >>" : "";
    form = Form(*p, "<< /XObject << /Fm " + form + " >> " + shallow + " >>", "");
  }
  for (int i = 0; i < 1000; ++i) cs = Ind(*p, "[/Indexed " + cs + " 0 (x)]");  // each the base of the next
  AddPage(*p, "<< /XObject << /Fm " + form + " >> /ColorSpace << /CS0 " + cs + " >> >>", "");
  Walk walk(*p);
  EXPECT_THAT(walk.spots(0), ElementsAre("DeepIndexSpot", "ShallowSpot", "DeepSpot"));
  EXPECT_THAT(walk.messages, IsEmpty());
  InkWalker netted({}, {}, 1500);  // the colour-space chain fits, the forms do not
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      netted.pageInks(walk.pages[0]);
      ADD_FAILURE() << "no failure";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kDamaged);
      EXPECT_THAT(e.what(), HasSubstr("nested deeper than 1500 objects"));
    }
  }
}

// Pages sharing one resource dictionary whose forms name it again as their
// resources, entered there or, through a page's own dictionary, at one of
// the forms: each object is walked once for the document, so the work grows
// by the pages' own objects only.
TEST(InkCache, FormsThatReferBackToTheSharedDictionaryAreWalkedOnce) {
  constexpr int kForms = 60;
  auto p = NewPdf();
  std::string shared = Ind(*p, "<< /ColorSpace << /CS0 " + Sep("SharedSpot") + " >> /XObject << >> >>");
  QPDFObjectHandle xobjects = Obj(*p, shared).getKey("/XObject");
  std::vector<std::string> forms;
  for (int i = 0; i < kForms; ++i) {
    forms.push_back(Form(*p, shared, ""));
    xobjects.replaceKey("/Fm" + std::to_string(i), Obj(*p, forms.back()));
    xobjects.replaceKey(
        "/Im" + std::to_string(i),
        Obj(*p,
            Stream(*p, "<< /Subtype /Image /ColorSpace " + Ind(*p, "[/Indexed /DeviceRGB 0 <000000>]") + " >>", "")));
  }
  constexpr size_t kPages = 2000;
  for (size_t i = 0; i < kPages; ++i) AddPage(*p, i % 2 ? shared : Res("/XObject", "/Fm0", forms[i % kForms]), "");
  Walk walk(*p);
  ASSERT_THAT(walk.spots(1), ElementsAre("SharedSpot"));
  const size_t once = walk.walker.stats().objectsWalked;
  for (size_t i = 0; i < kPages; ++i) ASSERT_THAT(walk.spots(i), ElementsAre("SharedSpot")) << i;
  EXPECT_EQ(walk.walker.stats().objectsWalked, once + kPages / 2);  // one direct dictionary per page that has its own
  EXPECT_GE(once, 3u * kForms);                                     // forms, images and their colour spaces
  EXPECT_EQ(walk.walker.stats().cacheHits, kPages);
  ASSERT_FALSE(walk.messages.empty());
  for (const auto& m : walk.messages) EXPECT_THAT(m, HasSubstr("loop"));
}

// The walk abandoned at every possible checkpoint, then finished by the same
// walker: the answers are those of an undisturbed walk, and the deadline (a
// standard exception) is neither swallowed nor reported as damage.
TEST(InkCheckpoint, AnAbandonedWalkPropagatesAndCachesNothingPartial) {
  auto pdf = NewPdf();
  const auto& cases = InkRuleCases();
  for (const auto& c : cases) c.build(*pdf);
  Walk walk(*pdf);
  size_t calls = 0, throwAt = 0, thrown = 1;
  for (size_t k = 1; thrown > 0; ++k) {  // until k is past the last checkpoint
    ASSERT_LT(k, 100000u);
    calls = thrown = 0, throwAt = k;
    std::vector<std::string> messages;
    InkWalker walker([&](const std::string& m) { messages.push_back(m); },
                     [&] {
                       if (++calls == throwAt) throw std::runtime_error("deadline");
                     });
    for (auto& page : walk.pages) {
      try {
        walker.pageInks(page);
      } catch (const std::runtime_error&) {
        ++thrown;
      }
    }
    ASSERT_EQ(thrown, calls < k ? 0u : 1u) << k;
    ASSERT_TRUE(thrown || k > walk.pages.size()) << "too few checkpoints";
    throwAt = 0;
    for (size_t i = 0; i < walk.pages.size(); ++i)
      ASSERT_THAT(Names(walker.pageInks(walk.pages[i])), ElementsAreArray(cases[i].spots)) << "k=" << k;
    for (const auto& m : messages) ASSERT_THAT(m, Not(HasSubstr("deadline"))) << k;
  }
}

}  // namespace
}  // namespace pdfparse::test
