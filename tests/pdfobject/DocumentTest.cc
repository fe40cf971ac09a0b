// Opening (with authorisation) and closing documents, and the memory given
// back at each close.
#include "outside/filesys/CPdfFileSysIf.h"
#include "pdfobject/Fixture.h"

namespace pdfobject_test {
namespace {

ScriptedDoc Protected(const std::string& password, ASInt32 perms = pdPermOpen,
                      ScriptedDoc::RefusedAs refusedAs = ScriptedDoc::RefusedAs::Exception) {
  ScriptedDoc doc = ScriptedDoc::WithPages(1);
  doc.password = password;
  doc.grantedPerms = perms;
  doc.refusedAs = refusedAs;
  return doc;
}

TEST_F(PdfObjectTest, OpenGoesThroughTheFileSystemAndCloseGivesGrowthBack) {
  engine_.addDocument("/docs/a.pdf", ScriptedDoc::WithPages(2));
  auto obj = started();
  platform_.queueWorkingSet(1000000);  // first open: the base
  platform_.queueWorkingSet(1500000);
  engine_.setPurgeResult(4096);

  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));
  EXPECT_EQ(engine_.log(), (Lines{"ASAtomFromString(Cstring)", "ASFileSysCreatePathName(/docs/a.pdf)",
                                  "PDDocOpenEx(/docs/a.pdf)", "ASFileSysReleasePathName"}));
  EXPECT_TRUE(CPdfFileSysIf::PoolIgnored());
  EXPECT_EQ(obj->baseProcMem(), 1000000u);
  EXPECT_EQ(obj->errState(), 0);
  EXPECT_TRUE(obj->closePdf());
  EXPECT_EQ(engine_.purgeRequests(), (std::vector<ASUns32>{500000}));
  EXPECT_EQ(obj->document(), nullptr);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::openPdf() res = 1 fileName /docs/a.pdf",
                            "CPdfObject::closePdf() res = 1 procMem = 500000 freeMem = 4096l"}));

  // The base stays that of the first open; no purge when nothing grew; a
  // working set below the base shows as negative and purges the same bits.
  clear();
  platform_.queueWorkingSet(1000000);
  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));
  EXPECT_TRUE(obj->closePdf());
  platform_.queueWorkingSet(400000);
  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));
  EXPECT_TRUE(obj->closePdf());
  EXPECT_EQ(obj->baseProcMem(), 1000000u);
  EXPECT_EQ(engine_.purgeRequests(), (std::vector<ASUns32>{500000, 4294367296u}));
  EXPECT_EQ(lines()[1], "CPdfObject::closePdf() res = 1 procMem = 0 freeMem = 0l");
  EXPECT_EQ(lines()[3], "CPdfObject::closePdf() res = 1 procMem = -600000 freeMem = 4096l");

  // Closing with nothing open measures but calls no library function.
  clear();
  const int measured = platform_.memoryCalls();
  EXPECT_TRUE(obj->closePdf());
  EXPECT_EQ(engine_.totalCalls(), 0);
  EXPECT_EQ(platform_.memoryCalls(), measured + 1);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::closePdf() res = 1 procMem = -600000 freeMem = 0l"}));
}

TEST_F(PdfObjectTest, OpenRefusesWithoutLibraryOrNameAndClosesAStillOpenDocument) {
  engine_.setDefaultDocument(ScriptedDoc::WithPages(1));
  auto obj = started();
  ASSERT_TRUE(obj->openPdf("/docs/first.pdf"));
  ASSERT_TRUE(obj->openPdf("/docs/second.pdf"));
  EXPECT_EQ(engine_.docsOpen(), 1);
  Lines got = lines();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].rfind("CPdfObject::closePdf() res = 1", 0), 0u) << "closed before the new open";
  EXPECT_EQ(got[2], "CPdfObject::openPdf() res = 1 fileName /docs/second.pdf");

  // The still-open document cannot be closed: no open is tried.
  clear();
  engine_.raiseAt(PdflCall::PDDocClose, 1);
  EXPECT_FALSE(obj->openPdf("/docs/third.pdf"));
  EXPECT_EQ(engine_.calls(PdflCall::PDDocOpenEx), 0);
  EXPECT_EQ(obj->errState(), 3);

  clear();
  EXPECT_FALSE(obj->openPdf(""));
  EXPECT_FALSE(obj->openPdf(nullptr));
  EXPECT_EQ(lines(), (Lines{"CPdfObject::openPdf() res = 0 fileName ", "CPdfObject::openPdf() res = 0 fileName "}));

  // Library stopped: the previous name stays.
  ASSERT_TRUE(obj->openPdf("/docs/first.pdf"));
  ASSERT_TRUE(obj->closePdf());
  ASSERT_TRUE(obj->unloadPdfLibrary());
  clear();
  EXPECT_FALSE(obj->openPdf("/docs/other.pdf"));
  EXPECT_EQ(obj->fileName(), "/docs/first.pdf");
  EXPECT_EQ(engine_.totalCalls(), 0);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::openPdf() res = 0 fileName /docs/first.pdf"}));
}

TEST_F(PdfObjectTest, ExceptionsWhileOpeningAreReportedAndLeaveNothingBehind) {
  engine_.setDefaultDocument(ScriptedDoc::WithPages(1));
  engine_.failOpen("broken", pdfl_err::kDamaged, "xref damaged");
  engine_.openReturnsNull("nothing");
  auto obj = started();

  EXPECT_FALSE(obj->openPdf("/docs/broken.pdf"));
  EXPECT_EQ(lines(), (Lines{ErrorLine("CDravikPdfObject::openPdf()", pdfl_err::kDamaged, "xref damaged"),
                            "CPdfObject::openPdf() res = 0 fileName /docs/broken.pdf"}));
  EXPECT_EQ(obj->errState(), 3);
  EXPECT_EQ(obj->document(), nullptr);
  EXPECT_EQ(engine_.pathNamesHeld(), 0);

  // No document without an exception: no error line, state unchanged.
  clear();
  EXPECT_FALSE(obj->openPdf("/docs/nothing.pdf"));
  EXPECT_EQ(lines(), (Lines{"CPdfObject::openPdf() res = 0 fileName /docs/nothing.pdf"}));
  EXPECT_EQ(obj->errState(), 3);

  // A raise before the path name exists releases nothing.
  clear();
  engine_.raiseAt(PdflCall::ASFileSysCreatePathName, 1);
  EXPECT_FALSE(obj->openPdf("/docs/a.pdf"));
  EXPECT_EQ(engine_.calls(PdflCall::ASFileSysReleasePathName), 0);

  // A raise after the document opened closes it again.
  clear();
  engine_.raiseAt(PdflCall::ASFileSysReleasePathName, 1);
  EXPECT_FALSE(obj->openPdf("/docs/a.pdf"));
  EXPECT_EQ(obj->document(), nullptr);
  EXPECT_EQ(engine_.docsOpen(), 0);
  EXPECT_EQ(obj->errState(), 3);
}

TEST_F(PdfObjectTest, ProtectedDocumentsOpenOnlyWithTheFixedPassword) {
  engine_.addDocument("/docs/ok.pdf", Protected("marble"));
  engine_.addDocument("/docs/odd.pdf", Protected("marble", 0x7));
  engine_.addDocument("/docs/even.pdf", Protected("marble", 0x6));
  engine_.addDocument("/docs/other.pdf", Protected("secret"));
  engine_.addDocument("/docs/other-null.pdf", Protected("secret", pdPermOpen, ScriptedDoc::RefusedAs::NullDocument));
  engine_.addDocument("/docs/plain.pdf", ScriptedDoc::WithPages(1));
  auto obj = started();

  ASSERT_TRUE(obj->openPdf("/docs/ok.pdf"));
  EXPECT_EQ(lines(), (Lines{"CPDFConverter::authProc() PDF password protected. perms = 1 ",
                            "CPdfObject::openPdf() res = 1 fileName /docs/ok.pdf"}));
  EXPECT_EQ(engine_.calls(PdflCall::PDDocAuthorize), 1);
  EXPECT_FALSE(obj->authRequested());
  EXPECT_EQ(obj->errState(), 0);
  ASSERT_TRUE(obj->openPdf("/docs/odd.pdf"));

  struct Refused {
    const char* path;
    int perms;
    bool errorLine;
  } refused[] = {{"/docs/even.pdf", 6, true}, {"/docs/other.pdf", 0, true}, {"/docs/other-null.pdf", 0, false}};
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.path);
    ASSERT_TRUE(obj->closePdf());
    clear();
    EXPECT_FALSE(obj->openPdf(r.path));
    Lines expected{Fmt("CPDFConverter::authProc() PDF password protected. perms = %d ", r.perms)};
    if (r.errorLine) expected.push_back(ErrorLine("CDravikPdfObject::openPdf()", pdfl_err::kPassword,
                                                  "scripted engine: password required"));
    expected.push_back(Fmt("CPdfObject::openPdf() res = 0 fileName %s", r.path));
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(obj->errState(), 2);
    EXPECT_TRUE(obj->authRequested());
  }

  // The request stays noted across failed opens, until one succeeds.
  clear();
  EXPECT_FALSE(obj->openPdf("/docs/nowhere.pdf"));
  EXPECT_EQ(obj->errState(), 2);
  ASSERT_TRUE(obj->openPdf("/docs/plain.pdf"));
  EXPECT_FALSE(obj->authRequested());
  EXPECT_EQ(obj->errState(), 0);
}

TEST_F(PdfObjectTest, RaiseInsideTheAuthorisationIsReportedByBothBlocks) {
  engine_.addDocument("/docs/ok.pdf", Protected("marble"));
  engine_.raiseAt(PdflCall::PDDocAuthorize, 1, pdfl_err::kInternal, "authorize broke");
  auto obj = started();
  EXPECT_FALSE(obj->openPdf("/docs/ok.pdf"));
  EXPECT_EQ(lines(), (Lines{ErrorLine("CPdfObject::authProc()", pdfl_err::kInternal, "authorize broke"),
                            ErrorLine("CDravikPdfObject::openPdf()", pdfl_err::kPassword,
                                      "scripted engine: password required"),
                            "CPdfObject::openPdf() res = 0 fileName /docs/ok.pdf"}));
  EXPECT_EQ(obj->errState(), 2);
}

TEST_F(PdfObjectTest, WorkingSetFailuresAndHugeSizes) {
  engine_.setDefaultDocument(ScriptedDoc::WithPages(1));
  auto obj = started();
  platform_.queueWorkingSet(std::nullopt);
  platform_.setMemoryError(12);
  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));
  EXPECT_EQ(lines(), (Lines{"CPdfObject::getProcMemSize() Error = 12",
                            "CPdfObject::openPdf() res = 1 fileName /docs/a.pdf"}));
  EXPECT_EQ(obj->baseProcMem(), 0u);

  // The next successful open measures again; a working set past 4 GiB
  // saturates instead of wrapping.
  platform_.queueWorkingSet(size_t{5} << 30);
  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));
  EXPECT_EQ(obj->baseProcMem(), 0xFFFFFFFFu);
}

TEST_F(PdfObjectTest, RaiseWhileClosingFailsTheCloseButClearsTheDocument) {
  auto obj = opened("/docs/a.pdf", ScriptedDoc::WithPages(1));
  engine_.raiseAt(PdflCall::PDDocClose, 1, pdfl_err::kFileRead, "close broke");
  EXPECT_FALSE(obj->closePdf());
  EXPECT_EQ(obj->document(), nullptr);
  EXPECT_EQ(obj->errState(), 3);
  EXPECT_EQ(lines(), (Lines{ErrorLine("CPdfObject::closePdf()", pdfl_err::kFileRead, "close broke"),
                            "CPdfObject::closePdf() res = 0 procMem = 0 freeMem = 0l"}));
  clear();
  EXPECT_TRUE(obj->closePdf());
  EXPECT_EQ(engine_.totalCalls(), 0);
}

}  // namespace
}  // namespace pdfobject_test
