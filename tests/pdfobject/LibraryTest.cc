// The document object's life: start and stop of the PDF library with its
// resource directories under DRAVIK, the converter from the plug-in, and
// opening (with authorisation) and closing documents.
#include "Fixture.h"
#include "outside/loader/CLoaderLibrary.h"

namespace pdfparse::test {
namespace {

TEST_F(PdfObjectTest, StartAndStopWriteTheirLinesAndPairTheCalls) {
  const void* data = nullptr;
  int destroyedAtFree = -1;
  platform_.onFree = [&] { destroyedAtFree = script_->destroyed; };
  {
    CPdfObject obj;
    ASSERT_TRUE(obj.init());
    data = obj.libData();
    EXPECT_EQ(lines(), (Lines{Fmt("OK CPdfObject::loadPdfLibrary() m_pdflLibData = %p", data),
                              "CPdfObject::loadPdfConverter() Begin load ",
                              "CDravikPdfObject::loadPdfConverter() End init bRes = 1",
                              "CPdfObject::loadPdfConverter() End load bRes = 1", "CPdfObject::init() End bRes = 1"}));
    EXPECT_EQ(sink_->records()[3].call, outside::TraceCall::Output) << "the init line has no instance";
    EXPECT_EQ(engine_.log, (Lines{"PDFLInit", "CosSetMaxDocStorage(8388608)"}));
    EXPECT_EQ(script_->calls, Lines{"initConverter(1,1,1,1,0;0)"});
    clear();
  }
  EXPECT_EQ(lines(),
            (Lines{"CPdfObject::unloadPdfConverter() Begin unload ", "CPdfObject::unloadPdfConverter() End bRes = 1",
                   Fmt("CPdfObject::unloadPdfLibrary() begin m_pdflLibData =%p PDFLInitCount = 1", data),
                   "CPdfObject::unloadPdfLibrary() End", "CPdfObject::release End bRes = 1",
                   "CPdfObject::~CPdfObject() End"}));
  EXPECT_EQ(engine_.log, (Lines{"PDFLGetInitCount", "PDFLTerm", "PDFLWaitForTermination(200)"}));
  EXPECT_TRUE(platform_.sleeps.empty()) << "no fixed pause: the engine says when its teardown is done";
  EXPECT_EQ(destroyedAtFree, 1) << "the converter goes before its module";

  // A failed start shows the code's parts and leaves the converter alone.
  engine_.initResult = static_cast<ASInt32>((2u << 28) | (15u << 24) | (3u << 16) | 7u);
  pdfl::detail::SetCurrentException(pdfl::PdflException(pdfl::err::kInitBadRecord, "no font directory"));
  clear();
  CPdfObject failed;
  EXPECT_FALSE(failed.init());
  EXPECT_EQ(failed.errState(), 1);
  EXPECT_TRUE(failed.release());  // stops nothing
  EXPECT_EQ(lines(), (Lines{ErrorLine("CPdfObject::loadPdfLibrary()", pdfl::err::kInitBadRecord, "no font directory"),
                            "CPdfObject::loadPdfLibrary() Initialization error, please see \"AcroErr\" for more "
                            "information Error System: 3\nError Severity: 2\nError Code: 7",
                            Fmt("--ERROR-- CPdfObject::loadPdfLibrary() m_pdflLibData = %p", nullptr),
                            "CPdfObject::init() End bRes = 0", "CPdfObject::unloadPdfLibrary() End",
                            "CPdfObject::release End bRes = 1"}));
  EXPECT_EQ(engine_.log, Lines{"PDFLInit"});
  EXPECT_EQ(script_->created, 1);
}

// The three entries for a root (in UTF-16); null where the joined path does
// not fit its 260 units with the terminator.
std::vector<std::optional<std::u16string>> Dirs(const std::u16string& root) {
  std::vector<std::optional<std::u16string>> dirs;
  for (std::u16string suffix : {u"\\Fonts", u"\\Resource\\CMap", u"\\Resource\\CIDFont"}) {
    suffix = u"\\General\\RIP" + suffix;
    dirs.push_back(root.size() + suffix.size() <= 259 ? std::optional(root + suffix) : std::nullopt);
  }
  return dirs;
}

TEST_F(PdfObjectTest, ResourceDirectoriesFollowTheRootUnchangedAndNeverOverflow) {
  const std::string smiley = "\xF0\x9F\x98\x80";
  std::string euros;
  for (int i = 0; i < 86; ++i) euros += "\xE2\x82\xAC";  // 258 bytes, 86 units
  // widened: nullopt for no list at all.
  const struct {
    std::optional<std::string> root;
    std::optional<std::u16string> widened;
    long errorLines;
  } cases[] = {
      {"/srv/dravik", u"/srv/dravik", 0},
      {"C:\\Dravik\\", u"C:\\Dravik\\", 0},  // a trailing backslash stays
      {std::nullopt, std::nullopt, 0},
      {"", std::nullopt, 0},
      {std::string(300, 'r'), std::nullopt, 1},                               // too long for the buffer
      {std::string(259, 'r'), std::u16string(259, u'r'), 3},                  // fills the buffer; no joined path fits
      {std::string(241, 'r'), std::u16string(241, u'r'), 2},                  // only the shortest fits, exactly
      {std::string(240, 'r') + smiley, std::u16string(240, u'r') + u"😀", 3},  // the pair counts two
      {"/donn\u00E9es/\u5B57/" + smiley, u"/données/字/😀", 0},
      {"/x\xFF\xC3", u"/x\uFFFD\uFFFD", 0},
      {euros, std::u16string(86, u'€'), 0},  // bounded by units, not bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.root.value_or("(unset)").substr(0, 20));
    platform_.env["DRAVIK"] = c.root;
    clear();
    CPdfObject obj;
    ASSERT_TRUE(obj.loadPdfLibrary());
    const auto& seen = engine_.lastInit.value();
    EXPECT_EQ(std::make_tuple(seen.size, seen.flags, seen.hadList, seen.dirListLen),
              std::make_tuple(52u, 1u, c.widened.has_value(), c.widened ? 3 : 0));
    EXPECT_EQ(seen.dirs, c.widened ? Dirs(*c.widened) : decltype(Dirs(u"")){});
    const Lines got = lines();
    const auto isError = [](const std::string& l) { return l.find("buildResourceDirs() DRAVIK") != l.npos; };
    EXPECT_EQ(std::count_if(got.begin(), got.end(), isError), c.errorLines);
  }
}

TEST_F(PdfObjectTest, ConverterLoadFailuresWriteTheirLinesFailInitAndCloseTheModule) {
  // The loader's own line starts with "--ERROR-- CLoaderLibrary::" and `loaderLine`.
  const struct {
    const char* folder;
    bool initFails, createNull;
    unsigned long state;
    const char* loaderLine;
  } cases[] = {
      {"scripted", true, false, 0, nullptr},
      {"empty", false, false, CLoaderLibrary::kErrNotFound, "LoadLibraryA() libKestaro.so not loaded: "},
      {"noentry", false, false, CLoaderLibrary::kErrNoEntry, "CreateObject() CreatePDFConverterNoRip missing in "},
      {"scripted", false, true, CLoaderLibrary::kErrEntryNull, "CreateObject() CreatePDFConverterNoRip in "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + (c.initFails ? " init fails" : ""));
    platform_.env["PDFPARSE_PLUGIN_DIR"] = std::string(PDFPARSE_TEST_PLUGINS) + "/" + c.folder;
    script_->failAt["initConverter"] = c.initFails ? 0 : -1;
    script_->createNull = c.createNull;
    const int frees = platform_.frees;
    {
      CPdfObject obj;
      ASSERT_TRUE(obj.loadPdfLibrary());
      clear();
      EXPECT_FALSE(obj.loadPdfConverter());
      Lines expected{"CPdfObject::loadPdfConverter() Begin load "};
      if (c.initFails) expected.push_back("CDravikPdfObject::loadPdfConverter() End init bRes = 0");
      expected.push_back(Fmt("--ERROR--CPdfObject::loadPdfConverter() load bRes = %lu", c.state));
      expected.push_back("CPdfObject::loadPdfConverter() End load bRes = 0");
      Lines got = lines();
      if (c.loaderLine != nullptr) {
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[1].rfind(std::string("--ERROR-- CLoaderLibrary::") + c.loaderLine, 0), 0u) << got[1];
        got.erase(got.begin() + 1);
      }
      EXPECT_EQ(got, expected);
      CPdfObject other;
      EXPECT_FALSE(other.init());
      EXPECT_EQ(other.errState(), 1);
    }
    EXPECT_EQ(script_->created, script_->destroyed);
    EXPECT_EQ(platform_.frees - frees, std::string(c.folder) == "empty" ? 0 : 2) << "the module goes with the object";
  }
}

TEST_F(PdfObjectTest, OpenGoesThroughTheFileSystemAndCloseGivesGrowthBack) {
  auto obj = opened();
  engine_.docs["/docs/a.pdf"] = ScriptedDoc::WithPages(2);
  engine_.purgeResult = 4096;
  for (size_t bytes : {1000000, 1500000, 400000, 1000000}) platform_.queueWorkingSet(bytes);
  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));  // the first open measures the base
  EXPECT_EQ(engine_.log, (Lines{"ASAtomFromString(Cstring)", "ASFileSysCreatePathName(/docs/a.pdf)",
                                "PDDocOpenEx(/docs/a.pdf)", "ASFileSysReleasePathName"}));
  EXPECT_TRUE(obj->closePdf());
  EXPECT_EQ(obj->document(), nullptr);
  ASSERT_TRUE(obj->openPdf("/docs/a.pdf"));
  EXPECT_TRUE(obj->closePdf());  // below the base: negative, and the same bits purged
  EXPECT_TRUE(obj->closePdf());  // nothing open: measured, no library call
  const std::string open = "CPdfObject::openPdf() res = 1 fileName /docs/a.pdf";
  EXPECT_EQ(lines(), (Lines{open, "CPdfObject::closePdf() res = 1 procMem = 500000 freeMem = 4096l", open,
                            "CPdfObject::closePdf() res = 1 procMem = -600000 freeMem = 4096l",
                            "CPdfObject::closePdf() res = 1 procMem = 0 freeMem = 0l"}));
  EXPECT_EQ(engine_.calls("ASPurgeMemory(500000)") + engine_.calls("ASPurgeMemory(4294367296)"), 2);
  EXPECT_EQ(engine_.calls("ASPurgeMemory") + engine_.calls("PDDocClose"), 4);

  // A working set past 4 GiB saturates instead of wrapping.
  platform_.queueWorkingSet(size_t{5} << 30);
  EXPECT_EQ(opened("/docs/a.pdf")->baseProcMem(), 0xFFFFFFFFu);
}

TEST_F(PdfObjectTest, FailedOpensReportTheirStateAndLeaveNothingOpen) {
  engine_.defaultDoc = ScriptedDoc::WithPages(1);
  engine_.failOpen = {"broken"};
  auto obj = opened();
  EXPECT_FALSE(obj->openPdf("/docs/broken.pdf"));
  EXPECT_EQ(lines(), (Lines{ErrorLine("CDravikPdfObject::openPdf()", pdfl::err::kDamaged, "scripted open failure"),
                            "CPdfObject::openPdf() res = 0 fileName /docs/broken.pdf"}));
  EXPECT_EQ(obj->errState(), 3);
  EXPECT_EQ(engine_.held(ScriptedEngine::kPath), 0);

  engine_.raiseAt("ASFileSysReleasePathName", 2);  // after the document opened: it is closed again
  EXPECT_FALSE(obj->openPdf("/docs/a.pdf"));
  EXPECT_EQ(engine_.held(ScriptedEngine::kDoc), 0);

  // Opening again closes the open document first.
  ASSERT_TRUE(obj->openPdf("/docs/first.pdf"));
  ASSERT_TRUE(obj->openPdf("/docs/second.pdf"));
  EXPECT_EQ(engine_.held(ScriptedEngine::kDoc), 1);

  clear();
  EXPECT_FALSE(obj->openPdf("") || obj->openPdf(nullptr));
  EXPECT_TRUE(engine_.log.empty());
}

TEST_F(PdfObjectTest, ProtectedDocumentsOpenOnlyWithTheFixedPassword) {
  const auto locked = [](const char* password, ASInt32 perms) {
    ScriptedDoc doc = ScriptedDoc::WithPages(1);
    std::tie(doc.password, doc.grantedPerms) = std::make_tuple(password, perms);
    return doc;
  };
  // A refusal raises from the open; the callback saw the permissions granted.
  const struct {
    const char* path;
    ScriptedDoc doc;
    int perms;
    bool opens;
  } cases[] = {
      {"/ok.pdf", locked("marble", 1), 1, true},
      {"/odd.pdf", locked("marble", 7), 7, true},
      {"/even.pdf", locked("marble", 6), 6, false},
      {"/other.pdf", locked("secret", 1), 0, false},
  };
  auto obj = opened();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    engine_.docs[c.path] = c.doc;
    obj->closePdf();
    clear();
    EXPECT_EQ(obj->openPdf(c.path), c.opens);
    Lines expected{Fmt("CPDFConverter::authProc() PDF password protected. perms = %d ", c.perms)};
    const std::string refused = "scripted engine: password required";
    if (!c.opens) expected.push_back(ErrorLine("CDravikPdfObject::openPdf()", pdfl::err::kPassword, refused));
    expected.push_back(Fmt("CPdfObject::openPdf() res = %d fileName %s", c.opens, c.path));
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(obj->errState(), c.opens ? 0 : 2);
  }
  // The request stays noted across failed opens, until one succeeds.
  EXPECT_FALSE(obj->openPdf("/nowhere.pdf"));
  EXPECT_EQ(obj->errState(), 2);
  engine_.docs["/plain.pdf"] = ScriptedDoc::WithPages(1);
  ASSERT_TRUE(obj->openPdf("/plain.pdf"));
  EXPECT_EQ(obj->errState(), 0);
}

}  // namespace
}  // namespace pdfparse::test
