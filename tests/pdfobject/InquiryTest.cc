// One inquiry on the parser's document object, level by level: which fields
// are written directly, which only when the whole level succeeded, the
// parser's status, and the order of trace lines.
#include <algorithm>

#include "parser/CPdfParse.h"
#include "pdfobject/Fixture.h"

namespace pdfobject_test {
namespace {

// A record with every output set to something no inquiry produces.
PdfInquiryRec Sentinel(int32_t level, const char* key = "Producer") {
  PdfInquiryRec rec;
  rec.hostField = 0xABCD;
  rec.level = level;
  rec.numPages = -7;
  rec.rotation = -7;
  rec.infoValue = "host text";
  rec.infoKey = key;
  rec.pageMode = -7;
  for (float& v : rec.mediaBox) v = -7;
  rec.subType = -7;
  rec.hasSpotInk = 7;
  return rec;
}

// Which output fields differ from the sentinel: n r i p m s h.
std::string Written(const PdfInquiryRec& rec) {
  const PdfInquiryRec s = Sentinel(rec.level, rec.infoKey);
  std::string w;
  w += rec.numPages != s.numPages ? "n" : "";
  w += rec.rotation != s.rotation ? "r" : "";
  w += rec.infoValue != s.infoValue ? "i" : "";
  w += rec.pageMode != s.pageMode ? "p" : "";
  w += rec.mediaBox[0] != s.mediaBox[0] ? "m" : "";
  w += rec.subType != s.subType ? "s" : "";
  w += rec.hasSpotInk != s.hasSpotInk ? "h" : "";
  EXPECT_EQ(rec.hostField, 0xABCDu);
  return w;
}

class InquiryTest : public PdfObjectTest {
 protected:
  void SetUp() override {
    PdfObjectTest::SetUp();
    ScriptedDoc doc = ScriptedDoc::WithPages(2);
    doc.pages[0].rotate = 90;
    doc.pages[1].inks = {{"Cyan", true}, {"Gold", false}};
    doc.info["Producer"] = "VrelPress 5";
    engine_.addDocument(kFile, doc);
    script_->setBoxes({{0, 842, 595, 0}});
  }

  bool run(PdfInquiryRec* rec, const char* file = kFile) { return parser_.runInquiryPdfObj(file, rec); }

  static constexpr const char* kFile = "/docs/vrel.pdf";
  CPdfParse parser_;
};

TEST_F(InquiryTest, Level3OnAnExistingObjectWritesEveryLineInOrder) {
  PdfInquiryRec first = Sentinel(1);
  ASSERT_TRUE(run(&first));
  clear();

  PdfInquiryRec rec = Sentinel(3);
  EXPECT_TRUE(run(&rec));
  EXPECT_EQ(parser_.getStatus(), 0);
  EXPECT_EQ(lines(), (Lines{"CPdfParse::initPdfObj() End res = 1",
                            "CPdfObject::openPdf() res = 1 fileName /docs/vrel.pdf",
                            "CPdfObject::getNumPages() res = 1 numPages = 2",
                            "CPdfObject::getPageRotation() res = 1 page = 1 rotation = 90",
                            "CPdfObject::getDocInfo() res = 1 a_infoKey = Producer a_value = VrelPress 5",
                            "CPdfParse::runInquiryLevel1() End res = 1",
                            "CPdfObject::getPageMode() res = 1 pageMode = 3",
                            "CPdfObject::getPageMediaBox() res = 1 left = 0 top = 842, right = 595 , bottom = 0",
                            "CPdfParse::runInquiryLevel2() End res = 1",
                            "CPdfObject::getDocInfo() res = 1 a_infoKey = Producer a_value = VrelPress 5",
                            "CPdfObject::getSubType() res = 1 subType = 1 isPelmont = 1",
                            "CPdfParse::runInquiryLevel3() End res = 1",
                            "CPdfObject::closePdf() res = 1 procMem = 0 freeMem = 0l",
                            "CPdfParse::runInquiryPdfObj() End res = 1"}));
  EXPECT_EQ(Written(rec), "nripmsh");
  EXPECT_EQ(rec.infoValue, "VrelPress 5");
  EXPECT_EQ(rec.numPages, 2);
  EXPECT_EQ(rec.rotation, 90);
  EXPECT_EQ(rec.pageMode, 3);
  EXPECT_EQ(rec.mediaBox[1], 842.0f);
  EXPECT_EQ(rec.subType, 1);
  EXPECT_EQ(rec.hasSpotInk, 1u);
  EXPECT_EQ(rec.level, 3);
  EXPECT_STREQ(rec.infoKey, "Producer");
  EXPECT_EQ(engine_.calls(PdflCall::PDFLInit), 0) << "the object and its library are reused";
  EXPECT_EQ(engine_.docsOpen(), 0);
}

TEST_F(InquiryTest, EachLevelWritesOnlyItsOwnFields) {
  const std::pair<int32_t, std::string> levels[] = {{1, "nri"}, {2, "nripm"}, {3, "nripmsh"}};
  for (const auto& [level, fields] : levels) {
    PdfInquiryRec rec = Sentinel(level);
    EXPECT_TRUE(run(&rec)) << level;
    EXPECT_EQ(Written(rec), fields) << level;
  }

  // Other levels open and close the document, touch nothing and fail.
  for (int32_t level : {0, 4, -1}) {
    clear();
    PdfInquiryRec rec = Sentinel(level);
    EXPECT_FALSE(run(&rec));
    EXPECT_EQ(Written(rec), "");
    EXPECT_EQ(parser_.getStatus(), 1);
    EXPECT_EQ(engine_.calls(PdflCall::PDDocOpenEx), 1);
    EXPECT_EQ(engine_.calls(PdflCall::PDDocClose), 1);
    const Lines got = lines();
    EXPECT_NE(std::find(got.begin(), got.end(),
                        Fmt("--ERROR-- CPdfParse::runInquiryPdfObj() default level = %d ", level)),
              got.end());
  }
}

TEST_F(InquiryTest, DirectFieldsStayWrittenWhenTheLevelFails) {
  // Missing entry: the host's text stays and the level still succeeds.
  PdfInquiryRec missing = Sentinel(1, "Subject");
  EXPECT_TRUE(run(&missing));
  EXPECT_EQ(missing.infoValue, "host text");

  // Level 1 fails (rotation raises); page mode is written, the box is not.
  engine_.resetCounts();
  engine_.raiseAt(PdflCall::PDPageGetRotate, 1);
  PdfInquiryRec level2 = Sentinel(2);
  EXPECT_FALSE(run(&level2));
  EXPECT_EQ(Written(level2), "nip");
  EXPECT_EQ(parser_.getStatus(), 1);

  // The subtype fails while levels 1 and 2 succeed: the box is written.
  engine_.resetCounts();
  engine_.raiseAt(PdflCall::PDPageEnumInksEx, 1);
  PdfInquiryRec level3 = Sentinel(3);
  EXPECT_FALSE(run(&level3));
  EXPECT_EQ(Written(level3), "nripm");
  EXPECT_EQ(parser_.getStatus(), 1);

  // No pages: rotation fails, so the box measured for page index 0 is not
  // copied.
  engine_.addDocument("/docs/empty.pdf", ScriptedDoc::WithPages(0));
  clear();
  PdfInquiryRec empty = Sentinel(2);
  EXPECT_FALSE(run(&empty, "/docs/empty.pdf"));
  EXPECT_EQ(Written(empty), "n");
  EXPECT_EQ(empty.numPages, 0);
  EXPECT_EQ(script_->count(ConverterOp::getPageBox), 1);
  EXPECT_EQ(parser_.getStatus(), 1);
}

TEST_F(InquiryTest, ReportedButHarmlessExceptionsSucceedWithStatus3) {
  // The close raises after a successful level.
  engine_.raiseAt(PdflCall::PDDocClose, 1);
  PdfInquiryRec rec = Sentinel(3);
  EXPECT_TRUE(run(&rec));
  EXPECT_EQ(Written(rec), "nripmsh");
  EXPECT_EQ(parser_.getStatus(), 3);

  // Reading the producer inside the subtype raises (after the level-1
  // read of "Title" made two calls).
  ScriptedDoc doc = ScriptedDoc::WithPages(1);
  doc.info["Title"] = "T";
  doc.info["Producer"] = "Vrel";
  engine_.addDocument("/docs/t.pdf", doc);
  engine_.resetCounts();
  engine_.raiseAt(PdflCall::PDDocGetInfo, 3);
  PdfInquiryRec titled = Sentinel(3, "Title");
  EXPECT_TRUE(run(&titled, "/docs/t.pdf"));
  EXPECT_EQ(titled.subType, -1);
  EXPECT_EQ(titled.hasSpotInk, 0u);
  EXPECT_EQ(parser_.getStatus(), 3);

  // The next clean inquiry is back to 0.
  PdfInquiryRec clean = Sentinel(1);
  EXPECT_TRUE(run(&clean));
  EXPECT_EQ(parser_.getStatus(), 0);
}

TEST_F(InquiryTest, NothingIsOpenedWithoutObjectFileRecordOrASuccessfulOpen) {
  engine_.setInitResult(static_cast<ASInt32>(pdfl_err::kInitBadRecord));
  PdfInquiryRec rec = Sentinel(1);
  EXPECT_FALSE(run(&rec));
  EXPECT_EQ(parser_.getStatus(), 1);
  const Lines got = lines();
  EXPECT_EQ(got.back(), "CPdfParse::runInquiryPdfObj() End res = 0");
  EXPECT_NE(std::find(got.begin(), got.end(), "CPdfParse::initPdfObj() End res = 0"), got.end());

  // The next inquiry builds a new object and starts the library again.
  engine_.setInitResult(0);
  EXPECT_TRUE(run(&rec));
  EXPECT_EQ(engine_.calls(PdflCall::PDFLInit), 2);

  engine_.failOpen("broken");
  clear();
  PdfInquiryRec untouched = Sentinel(3);
  EXPECT_FALSE(run(&untouched, nullptr));
  EXPECT_FALSE(run(nullptr));
  EXPECT_FALSE(run(&untouched, "/docs/broken.pdf"));
  EXPECT_EQ(Written(untouched), "");
  EXPECT_EQ(parser_.getStatus(), 1);
  EXPECT_EQ(engine_.calls(PdflCall::PDDocOpenEx), 1);
  EXPECT_EQ(engine_.calls(PdflCall::PDDocClose), 0);
  for (const std::string& line : lines()) EXPECT_EQ(line.find("closePdf"), std::string::npos) << line;
}

TEST_F(InquiryTest, ReleaseDestroysTheObjectOnce) {
  PdfInquiryRec rec = Sentinel(1);
  ASSERT_TRUE(run(&rec));
  clear();
  EXPECT_TRUE(parser_.releasePdfObj());
  const Lines got = lines();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got.front(), "CPdfParse::releasePdfObj() Begin");
  EXPECT_EQ(got[got.size() - 2], "CPdfObject::~CPdfObject() End");
  EXPECT_EQ(got.back(), "CPdfParse::releasePdfObj() end");
  EXPECT_EQ(engine_.calls(PdflCall::PDFLTerm), 1);

  clear();
  EXPECT_TRUE(parser_.releasePdfObj());
  EXPECT_EQ(lines(), (Lines{"CPdfParse::releasePdfObj() Begin", "CPdfParse::releasePdfObj() end"}));
}

}  // namespace
}  // namespace pdfobject_test
