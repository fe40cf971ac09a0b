// The colour-space walk behind the ink enumeration: which colorants a page
// defines, how damaged structure is skipped, and what is cached.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "outside/pdfl/core/InkWalker.h"
#include "support/InkPdfs.h"

namespace {

using inkpdfs::AddPage;
using inkpdfs::DeviceN;
using inkpdfs::Form;
using inkpdfs::Obj;
using inkpdfs::Res;
using inkpdfs::Separation;
using pdfcore::Ink;
using pdfcore::InkWalker;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

std::vector<std::string> Names(const std::vector<Ink>& inks, bool process) {
  std::vector<std::string> out;
  for (const Ink& ink : inks) {
    if (ink.process == process) out.push_back(ink.name);
  }
  return out;
}
std::vector<std::string> Spots(const std::vector<Ink>& inks) { return Names(inks, false); }

std::vector<QPDFObjectHandle> Pages(QPDF& pdf) { return pdf.getAllPages(); }

// Walks a freshly written and re-read copy, so that what is tested is what a
// file holds, not the builder's in-memory objects.
std::shared_ptr<QPDF> RoundTrip(QPDF& pdf) { return inkpdfs::Read(inkpdfs::Write(pdf)); }

struct Recorder {
  std::vector<std::string> messages;
  pdfcore::Diagnostics sink() {
    return [this](const std::string& m) { messages.push_back(m); };
  }
};

// --- The rules, one page per case -------------------------------------------

TEST(InkRules, EveryCasePageDefinesItsColorants) {
  auto pdf = inkpdfs::NewPdf();
  const auto& cases = inkpdfs::InkRuleCases();
  for (const auto& c : cases) c.build(*pdf);
  auto file = RoundTrip(*pdf);
  auto pages = Pages(*file);
  ASSERT_EQ(pages.size(), cases.size());

  Recorder diag;
  InkWalker walker(diag.sink());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    diag.messages.clear();
    auto inks = walker.pageInks(pages[i]);
    EXPECT_THAT(Spots(inks), ElementsAreArray(cases[i].spots));
    EXPECT_THAT(Names(inks, true), ElementsAreArray(cases[i].process));
    // Only the damaged cases may complain.
    bool damaged = cases[i].name == "colour_space_loops" || cases[i].name == "form_refers_to_itself";
    if (damaged) {
      EXPECT_THAT(diag.messages, Not(IsEmpty()));
    } else {
      EXPECT_THAT(diag.messages, IsEmpty());
    }
  }
}

TEST(InkRules, LoopsAreReportedAndSkipped) {
  for (const char* name : {"colour_space_loops", "form_refers_to_itself"}) {
    SCOPED_TRACE(name);
    auto pdf = inkpdfs::NewPdf();
    for (const auto& c : inkpdfs::InkRuleCases()) {
      if (c.name == name) c.build(*pdf);
    }
    auto file = RoundTrip(*pdf);
    Recorder diag;
    InkWalker walker(diag.sink());
    walker.pageInks(file->getAllPages().at(0));
    ASSERT_THAT(diag.messages, Not(IsEmpty()));
    EXPECT_THAT(diag.messages[0], HasSubstr("loop"));
  }
}

TEST(InkRules, EachNameOncePerPageInWalkOrderAndSpotWinsOverProcess) {
  auto pdf = inkpdfs::NewPdf();
  auto nchannel = Obj(*pdf,
                      "<< /Subtype /NChannel /Process << /ColorSpace /DeviceRGB /Components [/Red /Green /Blue] >> >>");
  auto res = Obj(*pdf, "<< /ColorSpace << >> >>");
  auto spaces = res.getKey("/ColorSpace");
  spaces.replaceKey("/A", Separation("Zed"));
  spaces.replaceKey("/B", DeviceN(*pdf, {"Red", "Alpha"}, nchannel));
  spaces.replaceKey("/C", DeviceN(*pdf, {"Zed", "Beta"}));
  spaces.replaceKey("/D", Separation("Red"));
  res.replaceKey("/XObject", Obj(*pdf, "<< >>"));
  res.getKey("/XObject").replaceKey("/Fm0", Form(*pdf, Res("/ColorSpace", "/CS0", Separation("Alpha")), ""));
  AddPage(*pdf, res, "");
  auto file = RoundTrip(*pdf);

  InkWalker walker;
  auto inks = walker.pageInks(file->getAllPages().at(0));
  std::vector<std::string> names;
  for (const auto& ink : inks) names.push_back(ink.name);
  EXPECT_THAT(names, ElementsAre("Zed", "Red", "Alpha", "Beta"));
  EXPECT_THAT(Names(inks, true), IsEmpty());  // Red is also a Separation here
}

TEST(InkRules, PlacesTheWalkLooksBeyondTheCases) {
  auto pdf = inkpdfs::NewPdf();
  // Resources inherited from the page-tree node (set below, once every page
  // is added, since adding pages pushes inherited attributes down).
  AddPage(*pdf, QPDFObjectHandle::newNull(), "");
  // A form's group colour space, and the page's own group.
  auto form = Form(*pdf, QPDFObjectHandle::newNull(), "");
  form.getDict().replaceKey("/Group", Obj(*pdf, "<< /S /Transparency >>"));
  form.getDict().getKey("/Group").replaceKey("/CS", Separation("GroupSpot"));
  auto page = AddPage(*pdf, Res("/XObject", "/Fm0", form), "");
  page.replaceKey("/Group", Obj(*pdf, "<< /S /Transparency >>"));
  page.getKey("/Group").replaceKey("/CS", Separation("PageGroupSpot"));
  // A shading resource and a shading pattern's ExtGState soft mask.
  auto sh = pdf->makeIndirectObject(Obj(*pdf, "<< /ShadingType 2 /Coords [0 0 1 0] >>"));
  sh.replaceKey("/ColorSpace", Separation("ShadingSpot"));
  auto maskForm = Form(*pdf, Res("/ColorSpace", "/CS0", Separation("PatternMaskSpot")), "");
  auto pattern = pdf->makeIndirectObject(Obj(*pdf, "<< /PatternType 2 /Shading << /ShadingType 1 >> >>"));
  pattern.replaceKey("/ExtGState", Obj(*pdf, "<< /SMask << /S /Luminosity >> >>"));
  pattern.getKey("/ExtGState").getKey("/SMask").replaceKey("/G", maskForm);
  auto res = Res("/Shading", "/Sh0", sh);
  res.replaceKey("/Pattern", Obj(*pdf, "<< >>"));
  res.getKey("/Pattern").replaceKey("/P0", pattern);
  AddPage(*pdf, res, "");
  pdf->getRoot().getKey("/Pages").replaceKey("/Resources", Res("/ColorSpace", "/CS0", Separation("InheritedSpot")));
  auto file = RoundTrip(*pdf);
  auto pages = file->getAllPages();
  ASSERT_TRUE(pages.at(0).getKey("/Resources").isNull());

  Recorder diag;
  InkWalker walker(diag.sink());
  EXPECT_THAT(Spots(walker.pageInks(pages.at(0))), ElementsAre("InheritedSpot"));
  EXPECT_THAT(Spots(walker.pageInks(pages.at(1))), ElementsAre("GroupSpot", "PageGroupSpot"));
  EXPECT_THAT(Spots(walker.pageInks(pages.at(2))), ElementsAre("ShadingSpot", "PatternMaskSpot"));
  EXPECT_THAT(diag.messages, IsEmpty());
}

TEST(InkRules, OpiInksOnlyWhenAsked) {
  auto pdf = inkpdfs::NewPdf();
  auto form = Form(*pdf, Res("/ColorSpace", "/CS0", Separation("FormSpot")), "");
  form.getDict().replaceKey(
      "/OPI", Obj(*pdf,
                  "<< /1.3 << /Type /OPI /Version 1.3 /Inks [/monochrome (Opi13Spot) 0.5 (Black) 1.0] >>"
                  "   /2.0 << /Type /OPI /Version 2.0 /Inks [(Opi20Spot) (None) /NamedOpiSpot] >> >>"));
  auto image = inkpdfs::Image(*pdf, QPDFObjectHandle::newName("/DeviceGray"), 1);
  image.getDict().replaceKey("/OPI", Obj(*pdf, "<< /1.3 << /Inks /full_color >> >>"));
  auto res = Res("/XObject", "/Fm0", form);
  res.getKey("/XObject").replaceKey("/Im0", image);
  AddPage(*pdf, res, "");
  auto file = RoundTrip(*pdf);
  auto page = file->getAllPages().at(0);

  InkWalker walker;
  // The same walker answers both ways: the cache keeps them apart.
  EXPECT_THAT(Spots(walker.pageInks(page, false)), ElementsAre("FormSpot"));
  EXPECT_THAT(Spots(walker.pageInks(page, true)), ElementsAre("FormSpot", "Opi13Spot", "Opi20Spot", "NamedOpiSpot"));
  EXPECT_THAT(Spots(walker.pageInks(page, false)), ElementsAre("FormSpot"));
}

// --- Damaged structure ---------------------------------------------------------

TEST(InkDamage, DamagedItemsAreSkippedAndTheRestIsFound) {
  auto pdf = inkpdfs::NewPdf();
  auto res = Obj(*pdf,
                 "<< /ColorSpace << /A 5 /B [/Separation] /C [/Separation 42 /DeviceCMYK 0] /D [/DeviceN /X /DeviceCMYK 0]"
                 "                  /E [/Indexed] /F << /N 1 >> /G [/Bogus] /H [] /I [7 /Separation] /J null >>"
                 "   /XObject << /X1 5 /X2 (text) >>"
                 "   /Pattern << /P1 << /PatternType 9 >> /P2 5 /P3 << /PatternType 1 /Resources 8 >> >>"
                 "   /Shading << /S1 5 /S2 << /ColorSpace [/Separation (string)] >> >>"
                 "   /Font << /F1 (not a font) /F2 << /Subtype /Type3 /Resources [1 2] >> >>"
                 "   /ExtGState << /G1 << /SMask /None >> /G2 << /SMask << /G 5 >> >> /G3 7 >>"
                 "   /Properties 5 >>");
  res.getKey("/ColorSpace").replaceKey("/K", Separation("GoodSpot"));
  res.getKey("/XObject").replaceKey("/X3", inkpdfs::Stream(*pdf, Obj(*pdf, "<< >>"), ""));
  res.getKey("/XObject")
      .replaceKey("/X4", inkpdfs::Stream(*pdf, Obj(*pdf, "<< /Subtype /Form /Resources 7 /Group 3 >>"), ""));
  res.getKey("/XObject").replaceKey("/X5", inkpdfs::Stream(*pdf, Obj(*pdf, "<< /Subtype /Image >>"), ""));
  auto page = AddPage(*pdf, res, "");
  page.replaceKey("/Annots", Obj(*pdf, "[5 (x) << /F 4 /AP 3 >> << /F 4 /AP << /N 5 >> >> << /F (4) >>]"));
  auto file = RoundTrip(*pdf);

  Recorder diag;
  InkWalker walker(diag.sink());
  std::vector<Ink> inks;
  ASSERT_NO_THROW(inks = walker.pageInks(file->getAllPages().at(0)));
  EXPECT_THAT(Spots(inks), ElementsAre("GoodSpot"));
  EXPECT_GE(diag.messages.size(), 15u);
  for (const auto& m : diag.messages) EXPECT_THAT(m, HasSubstr("skipped"));
}

TEST(InkDamage, PagesAndResourcesOfTheWrongType) {
  auto pdf = inkpdfs::NewPdf();
  auto a = AddPage(*pdf, QPDFObjectHandle::newNull(), "");
  a.replaceKey("/Resources", QPDFObjectHandle::newInteger(5));
  auto b = AddPage(*pdf, QPDFObjectHandle::newNull(), "");
  b.replaceKey("/Resources", Obj(*pdf, "<< /ColorSpace [1 2 3] /XObject 4 >>"));
  b.replaceKey("/Annots", QPDFObjectHandle::newInteger(3));
  auto file = RoundTrip(*pdf);

  Recorder diag;
  InkWalker walker(diag.sink());
  for (auto& page : file->getAllPages()) EXPECT_THAT(walker.pageInks(page), IsEmpty());
  EXPECT_THAT(walker.pageInks(QPDFObjectHandle::newInteger(1)), IsEmpty());
  EXPECT_THAT(walker.pageInks(QPDFObjectHandle()), IsEmpty());
  EXPECT_GE(diag.messages.size(), 5u);
}

// A loop through two resource dictionaries: R1 -> form F -> R2 -> form G -> R1.
// The walk of R2 inside R1 misses R1's inks (R1 is still being walked), so
// it must not be cached as R2's answer for a page that starts at R2.
TEST(InkDamage, ALoopDoesNotLeaveAnIncompleteAnswerInTheCache) {
  auto pdf = inkpdfs::NewPdf();
  auto r1 = pdf->makeIndirectObject(Res("/ColorSpace", "/CS0", Separation("OneSpot")));
  auto r2 = pdf->makeIndirectObject(Res("/ColorSpace", "/CS0", Separation("TwoSpot")));
  r1.replaceKey("/XObject", Obj(*pdf, "<< >>"));
  r1.getKey("/XObject").replaceKey("/F", Form(*pdf, r2, ""));
  r2.replaceKey("/XObject", Obj(*pdf, "<< >>"));
  r2.getKey("/XObject").replaceKey("/G", Form(*pdf, r1, ""));
  AddPage(*pdf, r1, "");
  AddPage(*pdf, r2, "");
  AddPage(*pdf, r1, "");
  auto file = RoundTrip(*pdf);
  auto pages = file->getAllPages();

  InkWalker walker;
  EXPECT_THAT(Spots(walker.pageInks(pages.at(0))), ElementsAre("OneSpot", "TwoSpot"));
  EXPECT_THAT(Spots(walker.pageInks(pages.at(1))), ElementsAre("TwoSpot", "OneSpot"));
  EXPECT_THAT(Spots(walker.pageInks(pages.at(2))), ElementsAre("OneSpot", "TwoSpot"));
}

TEST(InkDamage, DeepNestingStopsAtTheDepthBound) {
  auto pdf = inkpdfs::NewPdf();
  constexpr int kForms = 1000;
  QPDFObjectHandle inner = Form(*pdf, Res("/ColorSpace", "/CS0", Separation("DeepSpot")), "");
  for (int i = kForms - 1; i >= 0; --i) {
    auto res = Res("/XObject", "/Fm", inner);
    if (i == 3) {
      res.replaceKey("/ColorSpace", Obj(*pdf, "<< >>"));
      res.getKey("/ColorSpace").replaceKey("/CS0", Separation("ShallowSpot"));
    }
    inner = Form(*pdf, res, "");
  }
  // A chain of indexed spaces, each the base of the one before.
  QPDFObjectHandle cs = pdf->makeIndirectObject(Separation("DeepIndexSpot"));
  for (int i = 0; i < kForms; ++i) {
    cs = pdf->makeIndirectObject(QPDFObjectHandle::newArray(
        {QPDFObjectHandle::newName("/Indexed"), cs, QPDFObjectHandle::newInteger(0), QPDFObjectHandle::newString("x")}));
  }
  auto res = Res("/XObject", "/Fm", inner);
  res.replaceKey("/ColorSpace", Obj(*pdf, "<< >>"));
  res.getKey("/ColorSpace").replaceKey("/CS0", cs);
  AddPage(*pdf, res, "");
  auto file = RoundTrip(*pdf);

  Recorder diag;
  InkWalker walker(diag.sink());
  EXPECT_THAT(Spots(walker.pageInks(file->getAllPages().at(0))), ElementsAre("ShallowSpot"));
  ASSERT_EQ(diag.messages.size(), 2u);
  EXPECT_THAT(diag.messages[0], HasSubstr("nested too deeply"));
  EXPECT_THAT(diag.messages[1], HasSubstr("nested too deeply"));
}

// libqpdf reads an object it cannot parse as null (with a warning of its
// own); the walk goes on with the rest.
TEST(InkDamage, AnObjectLibqpdfCannotReadIsSkipped) {
  auto pdf = inkpdfs::NewPdf();
  auto broken = pdf->makeIndirectObject(Separation("BrokenSpot"));
  auto res = Res("/ColorSpace", "/CS1", broken);
  res.getKey("/ColorSpace").replaceKey("/CS2", Separation("GoodSpot"));
  AddPage(*pdf, res, "");
  std::string bytes = inkpdfs::Write(*pdf);
  const std::string marker = "/BrokenSpot";
  size_t at = bytes.find(marker);
  ASSERT_NE(at, std::string::npos);
  size_t open = bytes.rfind("obj", at);
  ASSERT_NE(open, std::string::npos);
  for (size_t i = open; i < at + marker.size(); ++i) bytes[i] = ')';

  for (bool recovery : {false, true}) {
    QPDF file;
    file.setSuppressWarnings(true);
    file.setAttemptRecovery(recovery);
    file.processMemoryFile("damaged.pdf", bytes.data(), bytes.size());
    InkWalker walker;
    std::vector<Ink> inks;
    ASSERT_NO_THROW(inks = walker.pageInks(file.getAllPages().at(0)));
    EXPECT_THAT(Spots(inks), ElementsAre("GoodSpot"));
    EXPECT_TRUE(file.anyWarnings());
  }
}

// --- Cache and checkpoint -----------------------------------------------------

TEST(InkCache, ASharedResourceDictionaryIsWalkedOncePerDocument) {
  auto pdf = inkpdfs::NewPdf();
  auto form = Form(*pdf, Res("/ColorSpace", "/CS0", Separation("FormSpot")), "");
  auto shared = pdf->makeIndirectObject(Res("/XObject", "/Fm0", form));
  shared.replaceKey("/ColorSpace", Obj(*pdf, "<< >>"));
  shared.getKey("/ColorSpace").replaceKey("/CS0", Separation("SharedSpot"));
  constexpr size_t kPages = 3000;
  for (size_t i = 0; i < kPages; ++i) AddPage(*pdf, shared, "");
  // Pages with their own direct resources that share one form.
  for (size_t i = 0; i < kPages; ++i) AddPage(*pdf, Res("/XObject", "/Fm0", form), "");
  auto file = RoundTrip(*pdf);
  auto pages = file->getAllPages();

  InkWalker walker;
  for (size_t i = 0; i < kPages; ++i) {
    ASSERT_THAT(Spots(walker.pageInks(pages[i])), ElementsAre("SharedSpot", "FormSpot"));
  }
  EXPECT_EQ(walker.stats().resourceWalks, 2u);  // the shared dictionary and the form's
  EXPECT_EQ(walker.stats().cacheHits, kPages - 1);
  for (size_t i = kPages; i < 2 * kPages; ++i) {
    ASSERT_THAT(Spots(walker.pageInks(pages[i])), ElementsAre("FormSpot"));
  }
  EXPECT_EQ(walker.stats().resourceWalks, 2u + kPages);  // each page's own direct dictionary
  EXPECT_EQ(walker.stats().cacheHits, 2 * kPages - 1);
}

struct Deadline {};

TEST(InkCheckpoint, AnAbandonedWalkPropagatesAndCachesNothingPartial) {
  auto pdf = inkpdfs::NewPdf();
  for (const auto& c : inkpdfs::InkRuleCases()) c.build(*pdf);
  auto file = RoundTrip(*pdf);
  auto pages = file->getAllPages();
  const auto& cases = inkpdfs::InkRuleCases();

  size_t calls = 0;
  size_t throwAt = 0;
  InkWalker counter(nullptr, [&] { ++calls; });
  for (auto& page : pages) counter.pageInks(page);
  const size_t total = calls;
  ASSERT_GT(total, pages.size());

  // Abandon the walk at every possible point, then let the same walker
  // finish: its answers must be those of an undisturbed walk.
  for (size_t k = 1; k <= total; ++k) {
    calls = 0;
    throwAt = k;
    InkWalker walker(nullptr, [&] {
      if (++calls == throwAt) throw Deadline{};
    });
    bool thrown = false;
    for (auto& page : pages) {
      try {
        walker.pageInks(page);
      } catch (const Deadline&) {
        thrown = true;
      }
    }
    ASSERT_TRUE(thrown) << k;
    throwAt = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
      ASSERT_THAT(Spots(walker.pageInks(pages[i])), ElementsAreArray(cases[i].spots)) << "k=" << k;
    }
  }
}

TEST(InkCheckpoint, AStandardExceptionFromTheCheckpointIsNotMistakenForDamage) {
  auto pdf = inkpdfs::NewPdf();
  inkpdfs::InkRuleCases().front().build(*pdf);
  auto file = RoundTrip(*pdf);
  Recorder diag;
  int calls = 0;
  InkWalker walker(diag.sink(), [&] {
    if (++calls == 3) throw std::runtime_error("deadline");
  });
  EXPECT_THROW(walker.pageInks(file->getAllPages().at(0)), std::runtime_error);
  EXPECT_THAT(diag.messages, IsEmpty());
}

}  // namespace
