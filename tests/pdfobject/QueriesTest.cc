// The document queries (preconditions, raises, the overall media box, the
// subtype with its spot-ink scan) and one inquiry on the parser's document
// object, level by level.
#include <cstring>
#include <limits>

#include "Fixture.h"
#include "parser/CPdfParse.h"

namespace pdfparse::test {
namespace {

using Inks = std::vector<std::pair<std::string, bool>>;
const std::pair<std::string, bool> kCyan{"Cyan", true}, kBlack{"Black", true}, kGold{"Gold", false};

ScriptedDoc Inked(const std::string& producer, const std::vector<Inks>& pages) {
  ScriptedDoc doc = ScriptedDoc::WithPages(static_cast<int>(pages.size()));
  if (!producer.empty()) doc.info["Producer"] = producer;
  for (size_t i = 0; i < pages.size(); ++i) doc.pages[i].inks = pages[i];
  return doc;
}

// Pages whose crop boxes all differ, so every page is measured.
ScriptedDoc DifferentCrops(size_t n) {
  ScriptedDoc doc = ScriptedDoc::WithPages(static_cast<int>(n));
  for (size_t i = 0; i < n; ++i) doc.pages[i].cropBox = FixedRect(static_cast<int32_t>(i), 700, 500, 0);
  return doc;
}

TEST_F(PdfObjectTest, QueriesWithoutADocumentOrPageCallNothingAndKeepTheOutputs) {
  CPdfObject notStarted;
  auto startedOnly = opened();
  for (CPdfObject* obj : {&notStarted, startedOnly.get()}) {
    clear();
    int32_t value = 77, mode = 77;
    uint32_t flag = 5;
    std::string text = "host text";
    float box[4] = {1, 2, 3, 4};
    EXPECT_FALSE(obj->getNumPages(&value) || obj->getPageRotation(1, &value) || obj->getDocInfo("Producer", &text) ||
                 obj->checkDifferentCrop(&mode) || obj->getPageMode(&value) || obj->getPageMediaBox(box) ||
                 obj->getSubType(&value, &flag));
    EXPECT_EQ(lines(), (Lines{"CPdfObject::getNumPages() res = 0 numPages = 77",
                              "CPdfObject::getPageRotation() res = 0 page = 1 rotation = 77",
                              "CPdfObject::getDocInfo() res = 0 a_infoKey = Producer a_value = host text",
                              "CPdfObject::getPageMode() res = 0 pageMode = 77",
                              "CPdfObject::getPageMediaBox() res = 0 left = 1 top = 2, right = 3 , bottom = 4",
                              "CPdfObject::getSubType() res = 0 subType = 77 isPelmont = 5"}));
    EXPECT_TRUE(mode == 77 && engine_.log.empty() && script_->calls.empty());
  }
  // Pages below 1 never reach the library, pages beyond the document no page.
  auto obj = opened("/docs/r.pdf", ScriptedDoc::WithPages(2));
  int32_t rotation = 11;
  for (int32_t page : {0, -1, 3}) EXPECT_FALSE(obj->getPageRotation(page, &rotation));
  EXPECT_EQ(engine_.log, Lines{"PDDocGetNumPages"});
  EXPECT_EQ(std::make_pair(rotation, obj->errState()), std::make_pair(11, 0));
}

TEST_F(PdfObjectTest, EveryConverterSequenceEndsWithEndJobAndClosesWhatItOpened) {
  const std::string open = "openDocument(/docs/f.pdf,Dummy)";
  // Pages 0: three pages whose crops agree, else that many with different
  // crops. The `nth` call of `fail` fails: a converter call, or the
  // engine's page count, which raises.
  const struct {
    size_t pages;
    std::string fail;
    int nth;
    Lines calls;
    Box box = {};
    const char* errorLabel = nullptr;
  } cases[] = {
      {0, "", 0, {"beginJob(0)", open, "selectPage(0)", "getPageBox", "closeDocument(0)", "endJob"}, {0, 800, 600, 0}},
      {1, "beginJob", 1, {"beginJob(0)", "endJob"}},
      {1, "openDocument", 1, {"beginJob(0)", open, "endJob"}},
      {1, "getPageBox", 1, {"beginJob(0)", open, "selectPage(0)", "getPageBox", "closeDocument(1)", "endJob"}},
      {3,
       "selectPage",
       3,
       {"beginJob(0)", open, "selectPage(0)", "getPageBox", "selectPage(1)", "getPageBox", "selectPage(2)",
        "closeDocument(1)", "endJob"},
       {0, 900, 600, 0}},
      {2,
       "PDDocGetNumPages",
       2,
       {"beginJob(0)", open, "closeDocument(1)", "endJob"},
       {},
       "CDravikPdfObject::RetrieveAllPagesMediaBox"},
      {2, "PDDocGetNumPages", 1, {}, {}, "CPdfObject::checkDifferentCrop()"},  // in the crop check
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail + " " + std::to_string(c.nth));
    ScriptedDoc doc = c.pages == 0 ? ScriptedDoc::WithPages(3) : DifferentCrops(c.pages);
    if (c.pages == 0) doc.pages[1].mediaBox = FixedRect(0, 900, 700, 0);  // media differs, crops agree
    auto obj = opened("/docs/f.pdf", doc);
    script_->failAt.clear();
    script_->boxes = {{0, 800, 600, 0}, {0, 900, 500, 0}, {0, 999, 999, 0}};
    if (c.fail == "PDDocGetNumPages") {
      engine_.raiseAt(c.fail, c.nth);
    } else if (!c.fail.empty()) {
      script_->failAt[c.fail] = c.nth;
    }
    float box[4] = {7, 7, 7, 7};
    EXPECT_EQ(obj->getPageMediaBox(box), c.pages == 0);
    EXPECT_EQ(script_->calls, c.calls);
    EXPECT_EQ(Box({box[0], box[1], box[2], box[3]}), c.box);
    EXPECT_EQ(obj->errState(), c.errorLabel ? 3 : 0);
    const Lines got = lines();
    EXPECT_EQ(got.size(), c.errorLabel ? 2u : 1u);
    EXPECT_TRUE(!c.errorLabel || got[0].rfind(std::string(c.errorLabel) + " failed Error code: ", 0) == 0) << got[0];
  }
}

// The inquiry's deadline or memory limit as the engine sees it once it has
// run out: from the `from`-th page count on (1-based), every page count
// raises `code`. 0: never.
class LimitEngine : public pdfl::PdflEngineWrapper {
 public:
  LimitEngine(pdfl::PdflEngine* target, int from, ASErrorCode code)
      : PdflEngineWrapper(target), from_(from), code_(code) {}
  ASInt32 PDDocGetNumPages(PDDoc doc) override {
    if (from_ != 0 && ++seen_ >= from_) throw pdfl::PdflException(code_, Message(code_));
    return PdflEngineWrapper::PDDocGetNumPages(doc);
  }
  static std::string Message(ASErrorCode code) {
    return code == pdfl::err::kNoMemory ? "memory limit of 1024 MiB reached" : "time limit of 30000 ms passed";
  }

 private:
  const int from_;
  const ASErrorCode code_;
  int seen_ = 0;
};

// A converter failure fails the media-box step with no error line of its
// own: the step's trace line is all. When the deadline or the memory limit
// is why (or runs out in the step's own page count), the step has exactly one
// error line, under its label.
TEST_F(PdfObjectTest, AConverterFailureHasNoErrorLineAndAWorkLimitInTheStepHasOne) {
  const char* const label = "CDravikPdfObject::RetrieveAllPagesMediaBox";
  const auto result = [](const Box& b) {
    return Fmt("CPdfObject::getPageMediaBox() res = 0 left = %d top = %d, right = %d , bottom = %d",
               static_cast<int>(b[0]), static_cast<int>(b[1]), static_cast<int>(b[2]), static_cast<int>(b[3]));
  };
  const Box none = {0, 0, 0, 0}, first = {0, 800, 600, 0};
  const std::string open = "openDocument(/docs/m.pdf,Dummy)";
  const Lines one = {"beginJob(0)", open, "selectPage(0)", "getPageBox", "closeDocument(1)", "endJob"};
  const Lines two = {"beginJob(0)", open, "selectPage(0)", "getPageBox", "selectPage(1)", "closeDocument(1)", "endJob"};
  // Pages 1: page 1 stands for all (the crop check reads the page count
  // once); 3: the crops differ and each page is measured (the crop check
  // and the step read it). The converter's `fail` fails at its `nth` call;
  // the engine's page counts raise `code` from the `from`-th on.
  const struct {
    const char* name;
    size_t pages;
    std::string fail;
    int nth;
    int from;
    ASErrorCode code;
    Lines calls;
    Box box;
    bool errorLine;
  } cases[] = {
      {"beginJob fails", 1, "beginJob", 1, 0, 0, {"beginJob(0)", "endJob"}, none, false},
      {"openDocument fails", 1, "openDocument", 1, 0, 0, {"beginJob(0)", open, "endJob"}, none, false},
      {"getPageBox fails", 1, "getPageBox", 1, 0, 0, one, none, false},
      {"selectPage fails on page 2", 3, "selectPage", 2, 0, 0, two, first, false},
      {"the engine raises, but not a work limit", 3, "selectPage", 2, 3, pdfl::err::kInternal, two, first, false},
      {"the deadline passes in the converter", 1, "getPageBox", 1, 2, pdfl::err::kTimeout, one, none, true},
      {"the memory limit is reached in the converter", 3, "selectPage", 2, 3, pdfl::err::kNoMemory, two, first, true},
      {"the deadline passes at the step's page count", 3, "", 0, 2, pdfl::err::kTimeout,
       Lines{"beginJob(0)", open, "closeDocument(1)", "endJob"}, none, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto obj = opened("/docs/m.pdf", c.pages == 1 ? ScriptedDoc::WithPages(1) : DifferentCrops(c.pages));
    script_->boxes = {{0, 800, 600, 0}, {0, 900, 500, 0}, {0, 999, 999, 0}};
    script_->failAt.clear();
    if (!c.fail.empty()) script_->failAt[c.fail] = c.nth;
    LimitEngine limit(&engine_, c.from, c.code);
    ScopedPdflEngine installed(&limit);
    float box[4] = {7, 7, 7, 7};
    EXPECT_FALSE(obj->getPageMediaBox(box));
    EXPECT_EQ(script_->calls, c.calls);
    Lines expected;
    if (c.errorLine) expected.push_back(ErrorLine(label, c.code, LimitEngine::Message(c.code)));
    expected.push_back(result(c.box));
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(obj->errState(), c.errorLine ? 3 : 0);
    EXPECT_EQ(obj->workLimitError(), c.errorLine ? c.code : 0);
  }
}

TEST_F(PdfObjectTest, MediaBoxKeepsTheFirstWidestAndTallestAndTracesWholeNumbers) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const struct {
    std::vector<Box> pages;
    Box kept;
    const char* shown;
  } cases[] = {
      {{{0, 800, 600, 0}, {0, 900, 500, 0}}, {0, 900, 600, 0}, "left = 0 top = 900, right = 600 , bottom = 0"},
      {{{10, 800, 610, 0}, {20, 800, 620, 0}}, {10, 800, 610, 0}, "left = 10 top = 800, right = 610 , bottom = 0"},
      {{{0, 800, 600, 0}, {-50, 850, 500, -100}},
       {0, 850, 600, -100},
       "left = 0 top = 850, right = 600 , bottom = -100"},  // not the union
      {{{0, 800, 600, 0}, {nan, 900, 700, 0}, {0, nan, 600, 0}},
       {0, 900, 600, 0},
       "left = 0 top = 900, right = 600 , bottom = 0"},  // NaN never replaces
      {{{nan, 1e20f, -1e20f, 2.5f}},
       {nan, 1e20f, -1e20f, 2.5f},
       "left = 0 top = 2147483647, right = -2147483648 , bottom = 3"},
      {{{-2.5f, 1.4f, 0.6f, -0.4f}}, {-2.5f, 1.4f, 0.6f, -0.4f}, "left = -3 top = 1, right = 1 , bottom = 0"},
      {{{inf, 2147483520.0f, -2147483648.0f, 99.5f}},
       {inf, 2147483520.0f, -2147483648.0f, 99.5f},
       "left = 2147483647 top = 2147483520, right = -2147483648 , bottom = 100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    auto obj = opened("/docs/w.pdf", DifferentCrops(c.pages.size()));
    script_->boxes = c.pages;
    float box[4] = {};
    EXPECT_TRUE(obj->getPageMediaBox(box));
    EXPECT_EQ(std::memcmp(box, c.kept.data(), sizeof box), 0);
    EXPECT_EQ(script_->count("selectPage"), static_cast<int>(c.pages.size()));
    EXPECT_EQ(lines(), Lines{std::string("CPdfObject::getPageMediaBox() res = 1 ") + c.shown});
  }
}

TEST_F(PdfObjectTest, SubtypeComesFromTheProducerAndTheSpotScanStopsAtTheFirstSpot) {
  for (const auto& [producer, subType] :
       std::initializer_list<std::pair<std::string, int>>{{"", -1},
                                                          {"AcmeVrelWriter 2.0", 1},
                                                          {"acme vrel writer", -1},
                                                          {"VREL", -1},
                                                          {std::string("ab\0cd Vrel", 10), 1},
                                                          {std::string("\0Vrel", 5), 1}}) {  // zero bytes are text too
    SCOPED_TRACE(producer);
    auto obj = opened("/docs/s.pdf", Inked(producer, {{kCyan}, {kBlack}}));
    int32_t type = 9;
    uint32_t flag = 9;
    EXPECT_TRUE(obj->getSubType(&type, &flag));
    EXPECT_EQ(std::make_pair(type, flag), std::make_pair(subType, 0u));
    EXPECT_EQ(engine_.calls("PDDocAcquirePage"), subType == 1 ? 2 : 0);
    std::string shown;  // the trace line shows a zero byte as \x00
    for (char c : producer) shown += c == '\0' ? std::string("\\x00") : std::string(1, c);
    EXPECT_EQ(lines(), (Lines{Fmt("CPdfObject::getDocInfo() res = 1 a_infoKey = Producer a_value = %s", shown.c_str()),
                              Fmt("CPdfObject::getSubType() res = 1 subType = %d isPelmont = 0", subType)}));
    std::string value;
    EXPECT_TRUE(obj->getDocInfo("Producer", &value));
    EXPECT_EQ(value, producer);
  }
  // Four pages, the first spot on page 3: page 4 is never acquired.
  auto obj = opened("/docs/v.pdf", Inked("Vrel", {{kCyan, kBlack}, {kBlack}, {kCyan, kGold, kBlack}, {kGold}}));
  int32_t type = 0;
  uint32_t flag = 0;
  EXPECT_TRUE(obj->getSubType(&type, &flag) && type == 1 && flag == 1u) << type << flag;
  EXPECT_EQ(engine_.calls("PDDocAcquirePage(3)"), 0);
  EXPECT_EQ(engine_.calls("PDPageRelease"), 3);
  EXPECT_EQ(engine_.calls("ink(Black)"), 2) << "page 3's scan stops at Gold";
}

// --- One inquiry on the parser's document object ----------------------------

// A record with every output set to something no inquiry produces.
PdfInquiryRec Sentinel(int32_t level, const char* key = "Producer") {
  PdfInquiryRec rec;
  rec.level = level, rec.infoKey = key, rec.infoValue = "host text", rec.hasSpotInk = 7, rec.mediaBox[0] = -7;
  rec.numPages = rec.rotation = rec.pageMode = rec.subType = -7;
  return rec;
}

// Which outputs differ from the sentinel: n r i p m s h.
std::string Written(const PdfInquiryRec& r) {
  std::string w;
  for (auto [changed, tag] : std::initializer_list<std::pair<bool, char>>{{r.numPages != -7, 'n'},
                                                                          {r.rotation != -7, 'r'},
                                                                          {r.infoValue != "host text", 'i'},
                                                                          {r.pageMode != -7, 'p'},
                                                                          {r.mediaBox[0] != -7, 'm'},
                                                                          {r.subType != -7, 's'},
                                                                          {r.hasSpotInk != 7, 'h'}})
    if (changed) w += tag;
  return w;
}

class InquiryTest : public PdfObjectTest {
 protected:
  void SetUp() override {
    PdfObjectTest::SetUp();
    ScriptedDoc doc = Inked("VrelPress 5", {{}, {kCyan, kGold}});
    doc.pages[0].rotate = 90;
    engine_.docs[kFile] = doc;
    script_->boxes = {{0, 842, 595, 0}};
  }
  void TearDown() override {
    parser_.reset();  // no worker ever served it: the last parser releases the object
    EXPECT_EQ(engine_.calls("PDFLTerm"), 1);
    PdfObjectTest::TearDown();
  }
  bool run(PdfInquiryRec* rec, const char* file = kFile) { return parser_->runInquiryPdfObj(file, rec); }

  static constexpr const char* kFile = "/docs/vrel.pdf";
  std::unique_ptr<CPdfParse> parser_ = std::make_unique<CPdfParse>();
};

TEST_F(InquiryTest, Level3OnAnExistingObjectWritesEveryLineInOrder) {
  PdfInquiryRec first = Sentinel(1);
  ASSERT_TRUE(run(&first));
  clear();
  PdfInquiryRec rec = Sentinel(3);
  EXPECT_TRUE(run(&rec));
  EXPECT_EQ(parser_->getStatus(), 0);
  EXPECT_EQ(
      lines(),
      (Lines{"CPdfParse::initPdfObj() End res = 1", "CPdfObject::openPdf() res = 1 fileName /docs/vrel.pdf",
             "CPdfObject::getNumPages() res = 1 numPages = 2",
             "CPdfObject::getPageRotation() res = 1 page = 1 rotation = 90",
             "CPdfObject::getDocInfo() res = 1 a_infoKey = Producer a_value = VrelPress 5",
             "CPdfParse::runInquiryLevel1() End res = 1", "CPdfObject::getPageMode() res = 1 pageMode = 3",
             "CPdfObject::getPageMediaBox() res = 1 left = 0 top = 842, right = 595 , bottom = 0",
             "CPdfParse::runInquiryLevel2() End res = 1",
             "CPdfObject::getDocInfo() res = 1 a_infoKey = Producer a_value = VrelPress 5",
             "CPdfObject::getSubType() res = 1 subType = 1 isPelmont = 1", "CPdfParse::runInquiryLevel3() End res = 1",
             "CPdfObject::closePdf() res = 1 procMem = 0 freeMem = 0l", "CPdfParse::runInquiryPdfObj() End res = 1"}));
  EXPECT_EQ(std::make_tuple(rec.numPages, rec.rotation, rec.infoValue, rec.pageMode, rec.mediaBox[1], rec.subType,
                            rec.hasSpotInk),
            std::make_tuple(2, 90, std::string("VrelPress 5"), 3, 842.0f, 1, 1u));
  EXPECT_EQ(engine_.calls("PDFLInit"), 0) << "the object and its library are reused";
}

TEST_F(InquiryTest, EachLevelWritesItsFieldsAndTheBoxOnlyWhenTheLevelSucceeded) {
  // Status 0, 1 or 3 (succeeded, but the library raised on the way).
  const struct {
    int32_t level;
    const char* key;
    const char* file;
    const char* raise;
    int nth;
    bool ok;
    int status;
    const char* written;
  } cases[] = {
      {1, "Producer", kFile, nullptr, 0, true, 0, "nri"},
      {2, "Producer", kFile, nullptr, 0, true, 0, "nripm"},
      {3, "Producer", kFile, nullptr, 0, true, 0, "nripmsh"},
      {1, "Subject", kFile, nullptr, 0, true, 0, "nr"},  // a missing entry keeps the host's text
      {0, "Producer", kFile, nullptr, 0, false, 1, ""},
      {2, "Producer", kFile, "PDPageGetRotate", 1, false, 1, "nip"},  // level 1 fails: no box
      {3, "Producer", kFile, "PDPageEnumInksEx", 1, false, 1, "nripm"},
      {2, "Producer", kFile, "PDPageGetMediaBox", 1, false, 1, "nri"},  // in the page mode
      {2, "Producer", "/docs/empty.pdf", nullptr, 0, false, 1, "n"},    // no page 1
      {3, "Producer", kFile, "PDDocClose", 1, true, 3, "nripmsh"},
      {3, "Title", "/docs/t.pdf", "PDDocGetInfo", 3, true, 3, "nripmsh"},  // the producer read inside the subtype
      {3, "Producer", "/docs/broken.pdf", nullptr, 0, false, 1, ""},
      {3, "Producer", nullptr, nullptr, 0, false, 1, ""},
  };
  engine_.docs["/docs/empty.pdf"] = ScriptedDoc::WithPages(0);
  engine_.docs["/docs/t.pdf"] = Inked("Vrel", {{kGold}});
  engine_.docs["/docs/t.pdf"].info["Title"] = "T";
  engine_.failOpen = {"broken"};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.level) + " " + c.key + " " + (c.raise ? c.raise : ""));
    clear();
    if (c.raise) engine_.raiseAt(c.raise, c.nth);
    PdfInquiryRec rec = Sentinel(c.level, c.key);
    EXPECT_EQ(run(&rec, c.file), c.ok);
    EXPECT_EQ(parser_->getStatus(), c.status);
    EXPECT_EQ(Written(rec), c.written);
    EXPECT_EQ(engine_.calls("PDDocClose"), c.file && std::string(c.file) != "/docs/broken.pdf" ? 1 : 0);
    // Each raise is reported once, with its page released (see TearDown).
    const Lines got = lines();
    EXPECT_EQ(std::count_if(got.begin(), got.end(), [](auto& l) { return l.find(" failed Error code: ") != l.npos; }),
              c.raise || (c.file && std::string(c.file) == "/docs/broken.pdf") ? 1 : 0);
    EXPECT_TRUE((c.level != 0 && c.level != 4) ||
                got[got.size() - 3] == Fmt("--ERROR-- CPdfParse::runInquiryPdfObj() default level = %d ", c.level));
  }
  EXPECT_FALSE(run(nullptr));
  EXPECT_EQ(engine_.calls("PDDocOpenEx"), 0);
}

}  // namespace
}  // namespace pdfparse::test
