// The document queries: page count, rotation, information entries, page
// mode, the overall media box and the subtype with its spot-ink scan.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "outside/converter/CPdfConverterIf.h"
#include "pdfobject/Fixture.h"

namespace pdfobject_test {
namespace {

using Box = ConverterScript::Box;

ScriptedDoc Rotated(std::vector<ASInt16> rotations) {
  ScriptedDoc doc;
  for (ASInt16 r : rotations) {
    ScriptedPage page;
    page.rotate = r;
    doc.pages.push_back(page);
  }
  return doc;
}

// Pages whose crop boxes all differ, so every page is measured.
ScriptedDoc DifferentCrops(int n) {
  ScriptedDoc doc = ScriptedDoc::WithPages(n);
  for (int i = 0; i < n; ++i) doc.pages[static_cast<size_t>(i)].cropBox = FixedRect(i, 700, 500, 0);
  return doc;
}

ScriptedDoc Inked(const std::string& producer, std::vector<std::vector<ScriptedInk>> pages) {
  ScriptedDoc doc;
  if (!producer.empty()) doc.info["Producer"] = producer;
  for (auto& inks : pages) {
    ScriptedPage page;
    page.inks = std::move(inks);
    doc.pages.push_back(page);
  }
  return doc;
}

const ScriptedInk kCyan{"Cyan", true}, kBlack{"Black", true}, kGold{"Gold", false}, kSilver{"Silver", false};

TEST_F(PdfObjectTest, QueriesWithoutAnOpenDocumentCallNothingAndKeepTheOutputs) {
  CPdfObject notStarted;
  auto startedOnly = started();
  for (CPdfObject* obj : {&notStarted, startedOnly.get()}) {
    clear();
    int32_t value = 77, cropMode = 77;
    uint32_t flag = 5;
    std::string text = "host text";
    float box[4] = {1, 2, 3, 4};
    EXPECT_FALSE(obj->getNumPages(&value));
    EXPECT_FALSE(obj->getPageRotation(1, &value));
    EXPECT_FALSE(obj->getDocInfo("Producer", &text));
    EXPECT_FALSE(obj->checkDifferentCrop(&cropMode));
    EXPECT_FALSE(obj->getPageMode(&value));
    EXPECT_FALSE(obj->getPageMediaBox(box));
    EXPECT_FALSE(obj->getSubType(&value, &flag));
    EXPECT_EQ(lines(), (Lines{"CPdfObject::getNumPages() res = 0 numPages = 77",
                              "CPdfObject::getPageRotation() res = 0 page = 1 rotation = 77",
                              "CPdfObject::getDocInfo() res = 0 a_infoKey = Producer a_value = host text",
                              "CPdfObject::getPageMode() res = 0 pageMode = 77",
                              "CPdfObject::getPageMediaBox() res = 0 left = 1 top = 2, right = 3 , bottom = 4",
                              "CPdfObject::getSubType() res = 0 subType = 77 isPelmont = 5"}));
    EXPECT_EQ(cropMode, 77);
    EXPECT_EQ(engine_.totalCalls(), 0);
    EXPECT_TRUE(script_->calls().empty());
    EXPECT_EQ(obj->errState(), 0);
  }
}

TEST_F(PdfObjectTest, PageCountAndRotationWithinAndBeyondTheDocument) {
  auto obj = opened("/docs/r.pdf", Rotated({0, 90, 270, -90}));
  int32_t count = -1, rotation = 11;
  EXPECT_TRUE(obj->getNumPages(&count));
  EXPECT_EQ(count, 4);
  EXPECT_TRUE(obj->getPageRotation(3, &rotation));
  EXPECT_EQ(rotation, 270);
  EXPECT_TRUE(obj->getPageRotation(4, &rotation));
  EXPECT_EQ(rotation, -90);
  EXPECT_EQ(engine_.acquired(3), 1);
  EXPECT_EQ(engine_.released(3), 1);

  clear();
  rotation = 11;
  EXPECT_FALSE(obj->getPageRotation(5, &rotation));
  EXPECT_EQ(engine_.log(), (Lines{"PDDocGetNumPages"}));
  for (int32_t page : {0, -1}) EXPECT_FALSE(obj->getPageRotation(page, &rotation));
  EXPECT_EQ(engine_.totalCalls(), 1) << "page numbers below 1 never reach the library";
  EXPECT_EQ(rotation, 11);
  EXPECT_EQ(obj->errState(), 0);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::getPageRotation() res = 0 page = 5 rotation = 11",
                            "CPdfObject::getPageRotation() res = 0 page = 0 rotation = 11",
                            "CPdfObject::getPageRotation() res = 0 page = -1 rotation = 11"}));

  auto empty = opened("/docs/empty.pdf", ScriptedDoc::WithPages(0));
  EXPECT_TRUE(empty->getNumPages(&count));
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(empty->getPageRotation(1, &rotation));
}

TEST_F(PdfObjectTest, InformationEntriesAreReadInTwoStepsAndKeptWhenAbsent) {
  ScriptedDoc doc = ScriptedDoc::WithPages(1);
  doc.info["Title"] = "Hello World!";
  auto obj = opened("/docs/i.pdf", doc);
  std::string value = "host text";
  EXPECT_TRUE(obj->getDocInfo("Title", &value));
  EXPECT_EQ(value, "Hello World!");
  EXPECT_EQ(engine_.log(), (Lines{"PDDocGetInfo(Title,0)", "PDDocGetInfo(Title,13)"}));

  value = "host text";
  EXPECT_TRUE(obj->getDocInfo("Subject", &value));
  EXPECT_EQ(value, "host text");
  clear();
  EXPECT_FALSE(obj->getDocInfo(nullptr, &value));
  EXPECT_EQ(engine_.totalCalls(), 0);
  outside::FailFrameworkAllocationsForTesting(0, 1);
  EXPECT_FALSE(obj->getDocInfo("Title", &value));
  EXPECT_EQ(value, "host text");
  EXPECT_EQ(lines(), (Lines{"CPdfObject::getDocInfo() res = 0 a_infoKey = (null) a_value = host text",
                            "--ERROR-- CPdfObject::getDocInfo() no memory for a value of 12 bytes",
                            "CPdfObject::getDocInfo() res = 0 a_infoKey = Title a_value = host text"}));
  EXPECT_EQ(obj->errState(), 0);
}

struct RaiseCase {
  const char* name;
  PdflCall call;
  int nth;
  const char* label;
  std::function<bool(CPdfObject*)> query;
};

TEST_F(PdfObjectTest, ARaiseInAnyQueryIsReportedOnceAndReleasesThePage) {
  int32_t value = 0;
  uint32_t flag = 0;
  std::string text;
  const RaiseCase cases[] = {
      {"count", PdflCall::PDDocGetNumPages, 1, "CPdfObject::getNumPages()",
       [&](CPdfObject* o) { return o->getNumPages(&value); }},
      {"rotation", PdflCall::PDPageGetRotate, 1, "CDravikPdfObject::getPageRotation()",
       [&](CPdfObject* o) { return o->getPageRotation(1, &value); }},
      {"info copy", PdflCall::PDDocGetInfo, 2, "CDravikPdfObject::getDocInfo()",
       [&](CPdfObject* o) { return o->getDocInfo("Producer", &text); }},
      {"page mode", PdflCall::PDPageGetMediaBox, 2, "CDravikPdfObject::getPageMode()",
       [&](CPdfObject* o) { return o->getPageMode(&value); }},
      {"ink scan", PdflCall::PDPageEnumInksEx, 2, "CPdfObject::getSubType()",
       [&](CPdfObject* o) { return o->getSubType(&value, &flag); }},
  };
  for (const RaiseCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto obj = opened("/docs/q.pdf", Inked("Vrel", {{kCyan}, {kCyan}, {kGold}}));
    engine_.raiseAt(c.call, c.nth, pdfl_err::kDamaged, "raised here");
    value = -5;
    EXPECT_FALSE(c.query(obj.get()));
    EXPECT_EQ(obj->errState(), 3);
    const Lines got = lines();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[got.size() - 2], ErrorLine(c.label, pdfl_err::kDamaged, "raised here"));
    EXPECT_EQ(std::count_if(got.begin(), got.end(),
                            [](const std::string& l) { return l.find(" failed Error code: ") != std::string::npos; }),
              1);
    EXPECT_EQ(engine_.pagesHeld(), 0);
  }
  EXPECT_EQ(value, 1) << "the ink scan keeps the subtype it had set";
}

TEST_F(PdfObjectTest, PageModeComparesEachPageWithItselfAndStopsAtTheFirstDifference) {
  auto same = opened("/docs/same.pdf", ScriptedDoc::WithPages(3));
  int32_t mode = 0;
  EXPECT_TRUE(same->getPageMode(&mode));
  EXPECT_EQ(mode, 3);

  ScriptedDoc doc = ScriptedDoc::WithPages(3);
  doc.pages[1].cropBox = FixedRect(10, 700, 500, 10);
  auto differs = opened("/docs/differs.pdf", doc);
  EXPECT_TRUE(differs->getPageMode(&mode));
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(engine_.acquired(2), 0);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::getPageMode() res = 1 pageMode = 1"}));

  auto empty = opened("/docs/empty.pdf", ScriptedDoc::WithPages(0));
  mode = 42;
  EXPECT_TRUE(empty->getPageMode(&mode));
  EXPECT_EQ(mode, 42);
}

TEST_F(PdfObjectTest, CropCheckSettlesWithoutPagesAndStopsAtTheFirstDifferentPage) {
  int32_t mode = 77;
  auto single = opened("/docs/one.pdf", ScriptedDoc::WithPages(1));
  EXPECT_TRUE(single->checkDifferentCrop(&mode));
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(engine_.calls(PdflCall::PDDocAcquirePage), 0);
  EXPECT_TRUE(lines().empty());

  ScriptedDoc doc = ScriptedDoc::WithPages(4);
  doc.pages[1].cropBox = FixedRect(0, 700, 500, 0);
  auto differs = opened("/docs/four.pdf", doc);
  EXPECT_TRUE(differs->checkDifferentCrop(&mode));
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(engine_.acquired(2) + engine_.acquired(3), 0);

  // A raise keeps 3 once a page was compared, else the caller's value.
  for (int nth : {2, 3}) {
    auto obj = opened("/docs/same.pdf", ScriptedDoc::WithPages(4));
    engine_.raiseAt(PdflCall::PDDocAcquirePage, nth);
    mode = 77;
    EXPECT_FALSE(obj->checkDifferentCrop(&mode));
    EXPECT_EQ(mode, nth == 2 ? 77 : 3);
    EXPECT_EQ(lines().back().rfind("CPdfObject::checkDifferentCrop() failed", 0), 0u);
  }
}

TEST_F(PdfObjectTest, MediaBoxOfUniformCropsMeasuresPageOneOnly) {
  ScriptedDoc doc = ScriptedDoc::WithPages(3);
  doc.pages[1].mediaBox = FixedRect(0, 900, 700, 0);  // media differs, crops agree
  auto obj = opened("/docs/u.pdf", doc);
  script_->setBoxes({{0, 842, 595, 0}, {0, 9, 9, 0}, {0, 9, 9, 0}});
  float box[4] = {7, 7, 7, 7};
  EXPECT_TRUE(obj->getPageMediaBox(box));
  EXPECT_EQ(Box({box[0], box[1], box[2], box[3]}), (Box{0, 842, 595, 0}));
  EXPECT_EQ(script_->calls(), (Lines{"beginJob(0)", "openDocument(/docs/u.pdf,Dummy)", "selectPage(0)",
                                     "getPageBox", "closeDocument(0)", "endJob"}));
  EXPECT_EQ(engine_.calls(PdflCall::PDDocGetNumPages), 1);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::getPageMediaBox() res = 1 left = 0 top = 842, right = 595 , bottom = 0"}));
}

struct WidestCase {
  const char* name;
  std::vector<Box> pages;
  Box kept;
};

TEST_F(PdfObjectTest, MediaBoxKeepsTheFirstWidestAndTallestExtents) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const WidestCase cases[] = {
      {"width from page 1, height from page 2", {{0, 800, 600, 0}, {0, 900, 500, 0}}, {0, 900, 600, 0}},
      {"equal widths keep the earlier page", {{10, 800, 610, 0}, {20, 800, 620, 0}}, {10, 800, 610, 0}},
      {"not the union", {{0, 800, 600, 0}, {-50, 850, 500, -100}}, {0, 850, 600, -100}},
      {"NaN never replaces", {{0, 800, 600, 0}, {nan, 900, 700, 0}, {0, nan, 600, 0}}, {0, 900, 600, 0}},
      {"later pages win only when strictly larger", {{0, 10, 10, 0}, {0, 20, 20, 0}, {5, 25, 25, 5}}, {0, 20, 20, 0}},
  };
  for (const WidestCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto obj = opened("/docs/w.pdf", DifferentCrops(static_cast<int>(c.pages.size())));
    script_->setBoxes(c.pages);
    float box[4] = {};
    EXPECT_TRUE(obj->getPageMediaBox(box));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(box[k], c.kept[static_cast<size_t>(k)]) << k;
    EXPECT_EQ(script_->count(ConverterOp::selectPage), static_cast<int>(c.pages.size()));
    EXPECT_EQ(lines().back(), Fmt("CPdfObject::getPageMediaBox() res = 1 left = %d top = %d, right = %d , bottom = %d",
                                  static_cast<int>(c.kept[0]), static_cast<int>(c.kept[1]),
                                  static_cast<int>(c.kept[2]), static_cast<int>(c.kept[3])));
  }
}

struct ConverterFailure {
  const char* name;
  int pages;  // with different crops when more than one
  std::function<void(ScriptedEngine&, ConverterScript&)> arrange;
  Lines calls;
  Box box;
  const char* errorLabel;
};

TEST_F(PdfObjectTest, EveryConverterSequenceEndsWithEndJobAndClosesWhatItOpened) {
  const std::string open = "openDocument(/docs/f.pdf,Dummy)";
  const ConverterFailure cases[] = {
      {"beginJob fails", 1, [](ScriptedEngine&, ConverterScript& s) { s.failAt(ConverterOp::beginJob); },
       {"beginJob(0)", "endJob"}, {0, 0, 0, 0}, nullptr},
      {"openDocument fails", 1, [](ScriptedEngine&, ConverterScript& s) { s.failAt(ConverterOp::openDocument); },
       {"beginJob(0)", open, "endJob"}, {0, 0, 0, 0}, nullptr},
      {"getPageBox fails", 1, [](ScriptedEngine&, ConverterScript& s) { s.failAt(ConverterOp::getPageBox); },
       {"beginJob(0)", open, "selectPage(0)", "getPageBox", "closeDocument(1)", "endJob"}, {0, 0, 0, 0}, nullptr},
      {"selectPage fails on the third page", 3,
       [](ScriptedEngine&, ConverterScript& s) { s.failAt(ConverterOp::selectPage, 3); },
       {"beginJob(0)", open, "selectPage(0)", "getPageBox", "selectPage(1)", "getPageBox", "selectPage(2)",
        "closeDocument(1)", "endJob"},
       {0, 900, 600, 0}, nullptr},
      {"page count raises", 2,
       [](ScriptedEngine& e, ConverterScript&) { e.raiseAt(PdflCall::PDDocGetNumPages, 2); },
       {"beginJob(0)", open, "closeDocument(1)", "endJob"}, {0, 0, 0, 0},
       "CDravikPdfObject::RetrieveAllPagesMediaBox"},
      {"crop check raises", 2,
       [](ScriptedEngine& e, ConverterScript&) { e.raiseAt(PdflCall::PDDocGetNumPages, 1); },
       {}, {0, 0, 0, 0}, "CPdfObject::checkDifferentCrop()"},
  };
  for (const ConverterFailure& c : cases) {
    SCOPED_TRACE(c.name);
    auto script = std::make_shared<ConverterScript>();  // failures of this case only
    ScopedConverterScript use(script);
    auto obj = opened("/docs/f.pdf", DifferentCrops(c.pages));
    script->clearCalls();
    script->setBoxes({{0, 800, 600, 0}, {0, 900, 500, 0}, {0, 999, 999, 0}});
    c.arrange(engine_, *script);
    float box[4] = {7, 7, 7, 7};
    EXPECT_FALSE(obj->getPageMediaBox(box));
    EXPECT_EQ(script->calls(), c.calls);
    EXPECT_EQ(Box({box[0], box[1], box[2], box[3]}), c.box);
    EXPECT_EQ(obj->errState(), c.errorLabel != nullptr ? 3 : 0);
    const Lines got = lines();
    EXPECT_EQ(got.back(), Fmt("CPdfObject::getPageMediaBox() res = 0 left = %d top = %d, right = %d , bottom = %d",
                              static_cast<int>(c.box[0]), static_cast<int>(c.box[1]),
                              static_cast<int>(c.box[2]), static_cast<int>(c.box[3])));
    if (c.errorLabel != nullptr) {
      ASSERT_EQ(got.size(), 2u);
      EXPECT_EQ(got[0].rfind(std::string(c.errorLabel) + " failed Error code: ", 0), 0u) << got[0];
    }
  }

  // No converter: nothing is touched.
  engine_.addDocument("/docs/n.pdf", ScriptedDoc::WithPages(1));
  CPdfObject bare;
  ASSERT_TRUE(bare.loadPdfLibrary());
  ASSERT_TRUE(bare.openPdf("/docs/n.pdf"));
  clear();
  float box[4] = {7, 7, 7, 7};
  EXPECT_FALSE(bare.getPageMediaBox(box));
  EXPECT_EQ(box[0], 7);
  EXPECT_EQ(engine_.totalCalls(), 0);
  EXPECT_TRUE(bare.closePdf());
}

TEST_F(PdfObjectTest, MediaBoxTraceRoundsToNearestAndClampsWhatIntCannotHold) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<Box, std::string> cases[] = {
      {{nan, 1e20f, -1e20f, 2.5f}, "left = 0 top = 2147483647, right = -2147483648 , bottom = 3"},
      {{-2.5f, 1.4f, 0.6f, -0.4f}, "left = -3 top = 1, right = 1 , bottom = 0"},
      {{std::numeric_limits<float>::infinity(), 2147483520.0f, -2147483648.0f, 99.5f},
       "left = 2147483647 top = 2147483520, right = -2147483648 , bottom = 100"},
  };
  for (const auto& [measured, shown] : cases) {
    auto obj = opened("/docs/t.pdf", ScriptedDoc::WithPages(1));
    script_->setBoxes({measured});
    float box[4] = {};
    EXPECT_TRUE(obj->getPageMediaBox(box));
    EXPECT_EQ(lines().back(), "CPdfObject::getPageMediaBox() res = 1 " + shown);
  }
}

TEST_F(PdfObjectTest, SubtypeComesFromTheProducerAndOnlyVrelDocumentsAreScanned) {
  struct Case {
    const char* producer;
    int pages;
    int32_t subType;
  } cases[] = {{"", 2, -1}, {"AcmeVrelWriter 2.0", 2, 1}, {"acme vrel writer", 2, -1}, {"VREL", 2, -1}, {"Vrel", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.producer);
    auto obj = opened("/docs/s.pdf", Inked(c.producer, std::vector<std::vector<ScriptedInk>>(
                                                           static_cast<size_t>(c.pages), {kCyan})));
    int32_t subType = 9;
    uint32_t flag = 9;
    EXPECT_TRUE(obj->getSubType(&subType, &flag));
    EXPECT_EQ(subType, c.subType);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(engine_.calls(PdflCall::PDDocAcquirePage), c.subType == 1 ? c.pages : 0);
    EXPECT_EQ(lines(), (Lines{Fmt("CPdfObject::getDocInfo() res = 1 a_infoKey = Producer a_value = %s", c.producer),
                              Fmt("CPdfObject::getSubType() res = 1 subType = %d isPelmont = 0", c.subType)}));
  }
}

TEST_F(PdfObjectTest, SpotScanStopsAtTheFirstPageAndTheFirstInkThatIsASpot) {
  auto obj = opened("/docs/v.pdf", Inked("Vrel", {{kCyan, kBlack}, {kBlack}, {kCyan, kGold, kBlack}, {kSilver}}));
  int32_t subType = 0;
  uint32_t flag = 0;
  EXPECT_TRUE(obj->getSubType(&subType, &flag));
  EXPECT_EQ(subType, 1);
  EXPECT_EQ(flag, 1u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(engine_.acquired(i), 1) << i;
    EXPECT_EQ(engine_.released(i), 1) << i;
  }
  EXPECT_EQ(engine_.acquired(3), 0);
  Lines scan;
  for (const std::string& entry : engine_.log())
    if (entry.rfind("ASAtomGetString(", 0) != 0) scan.push_back(entry);
  const Lines lastPage(std::find(scan.begin(), scan.end(), "PDDocAcquirePage(2)"), scan.end());
  EXPECT_EQ(lastPage, (Lines{"PDDocAcquirePage(2)", "PDPageEnumInksEx(2)", "ink(Cyan)", "ink(Gold)",
                             "PDPageRelease(2)"}));
  EXPECT_EQ(engine_.calls(PdflCall::ASAtomGetString), 5) << "one name read per ink shown";

  auto process = opened("/docs/p.pdf", Inked("Vrel", {{kCyan}, {kBlack}, {kCyan, kBlack}}));
  flag = 9;
  EXPECT_TRUE(process->getSubType(&subType, &flag));
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(engine_.calls(PdflCall::PDDocAcquirePage), 3);
}

TEST_F(PdfObjectTest, RaiseReadingTheProducerIsCaughtInsideAndTheSubtypeStillAnswers) {
  auto obj = opened("/docs/v.pdf", Inked("Vrel", {{kGold}}));
  engine_.raiseAt(PdflCall::PDDocGetInfo, 1, pdfl_err::kFileRead, "info unreadable");
  int32_t subType = 0;
  uint32_t flag = 7;
  EXPECT_TRUE(obj->getSubType(&subType, &flag));
  EXPECT_EQ(subType, -1);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(obj->errState(), 3);
  EXPECT_EQ(lines(), (Lines{ErrorLine("CDravikPdfObject::getDocInfo()", pdfl_err::kFileRead, "info unreadable"),
                            "CPdfObject::getDocInfo() res = 0 a_infoKey = Producer a_value = ",
                            "CPdfObject::getSubType() res = 1 subType = -1 isPelmont = 0"}));
}

TEST(EnumInksProc, StoresTheSpotFlagAndHaltsAtASpot) {
  PDPageInkRec spot{sizeof(PDPageInkRec), ASAtomNull, 0, 1};
  PDPageInkRec process{sizeof(PDPageInkRec), ASAtomNull, 1, 1};
  ScriptedEngine engine;
  ScopedPdflEngine installed(&engine);
  int32_t flag = 5;
  EXPECT_EQ(enumInksProc(&spot, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_NE(enumInksProc(&process, &flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(engine.calls(PdflCall::ASAtomGetString), 2);
}

}  // namespace
}  // namespace pdfobject_test
