// The document object's life: library start and stop, resource directories
// under DRAVIK, and loading the converter from the plug-in.
#include <cmath>
#include <optional>

#include "outside/loader/CLoaderLibrary.h"
#include "pdfobject/Fixture.h"

namespace pdfobject_test {
namespace {

const char* const kSuffixes[] = {"\\General\\RIP\\Fonts", "\\General\\RIP\\Resource\\CMap",
                                 "\\General\\RIP\\Resource\\CIDFont"};

std::u16string Ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST_F(PdfObjectTest, StartAndStopWriteTheirLinesAndPairTheLibraryCalls) {
  const void* data = nullptr;
  int destroyedAtRelease = -1;
  platform_.onFree([&] { destroyedAtRelease = script_->destroyed(); });
  {
    CPdfObject obj;
    ASSERT_TRUE(obj.init());
    data = obj.libData();
    EXPECT_EQ(lines(), (Lines{Fmt("OK CPdfObject::loadPdfLibrary() m_pdflLibData = %p", data),
                              "CPdfObject::loadPdfConverter() Begin load ",
                              "CDravikPdfObject::loadPdfConverter() End init bRes = 1",
                              "CPdfObject::loadPdfConverter() End load bRes = 1",
                              "CPdfObject::init() End bRes = 1"}));
    EXPECT_EQ(sink_->records()[3].call, outside::TraceCall::Output);
    EXPECT_EQ(engine_.maxDocStorage(), 0x800000);
    EXPECT_EQ(engine_.initCount(), 1);
    EXPECT_EQ(script_->calls(), (Lines{"initConverter(1,1,1,1,0;0)"}));
    EXPECT_EQ(obj.errState(), 0);

    // A second start makes no library call and shows the same record.
    clear();
    EXPECT_TRUE(obj.loadPdfLibrary());
    EXPECT_TRUE(obj.loadPdfConverter());
    EXPECT_EQ(engine_.totalCalls(), 0);
    EXPECT_EQ(lines(), (Lines{Fmt("OK CPdfObject::loadPdfLibrary() m_pdflLibData = %p", data)}));
    clear();
  }
  EXPECT_EQ(lines(), (Lines{"CPdfObject::unloadPdfConverter() Begin unload ",
                            "CPdfObject::unloadPdfConverter() End bRes = 1",
                            Fmt("CPdfObject::unloadPdfLibrary() begin m_pdflLibData =%p PDFLInitCount = 1", data),
                            "CPdfObject::unloadPdfLibrary() End", "CPdfObject::release End bRes = 1",
                            "CPdfObject::~CPdfObject() End"}));
  EXPECT_EQ(engine_.log(), (Lines{"PDFLGetInitCount", "PDFLTerm"}));
  EXPECT_EQ(engine_.initCount(), 0);
  EXPECT_EQ(platform_.sleeps(), (std::vector<outside::DWORD>{200}));
  EXPECT_EQ(destroyedAtRelease, 1) << "the converter goes before its module";
  EXPECT_EQ(sink_->count(outside::TraceCall::ReleaseInstance), 1u);
}

TEST_F(PdfObjectTest, FailedLibraryStartShowsTheSplitCodeAndSkipsTheConverter) {
  engine_.setInitResult(static_cast<ASInt32>((2u << 28) | (15u << 24) | (3u << 16) | 7u));
  pdfl_detail::SetCurrentException(PdflException(pdfl_err::kInitBadRecord, "no font directory"));
  CPdfObject obj;
  EXPECT_FALSE(obj.init());
  EXPECT_EQ(obj.errState(), 1);
  EXPECT_EQ(obj.libData(), nullptr);
  EXPECT_EQ(lines(),
            (Lines{ErrorLine("CPdfObject::loadPdfLibrary()", pdfl_err::kInitBadRecord, "no font directory"),
                   "CPdfObject::loadPdfLibrary() Initialization error, please see \"AcroErr\" for more "
                   "information Error System: 3\nError Severity: 2\nError Code: 7",
                   Fmt("--ERROR-- CPdfObject::loadPdfLibrary() m_pdflLibData = %p", nullptr),
                   "CPdfObject::init() End bRes = 0"}));
  EXPECT_EQ(sink_->records()[1].call, outside::TraceCall::Output);
  EXPECT_EQ(script_->created(), 0);
  EXPECT_EQ(platform_.loadAttempts().size(), 0u);

  // Stopping what never started makes no call and says so.
  clear();
  EXPECT_FALSE(obj.unloadPdfLibrary());
  EXPECT_TRUE(obj.release());
  EXPECT_EQ(engine_.totalCalls(), 0);
  EXPECT_EQ(lines(), (Lines{"CPdfObject::unloadPdfLibrary() End", "CPdfObject::unloadPdfLibrary() End",
                            "CPdfObject::release End bRes = 1"}));
}

TEST_F(PdfObjectTest, AllocatorFailuresLeaveNoRecordOrAnEmptyEntry) {
  CPdfObject obj;
  outside::FailFrameworkAllocationsForTesting(0, 1);  // the record
  EXPECT_FALSE(obj.loadPdfLibrary());
  EXPECT_EQ(engine_.calls(PdflCall::PDFLInit), 0);
  EXPECT_EQ(lines().back(), Fmt("--ERROR-- CPdfObject::loadPdfLibrary() m_pdflLibData = %p", nullptr));

  outside::FailFrameworkAllocationsForTesting(2, 1);  // record and list made, first entry not
  ASSERT_TRUE(obj.loadPdfLibrary());
  auto seen = engine_.lastInit();
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->dirListLen, 3);
  ASSERT_EQ(seen->dirs.size(), 3u);
  EXPECT_FALSE(seen->dirs[0].has_value());
  EXPECT_EQ(seen->dirs[2], Ascii16(std::string("/srv/dravik") + kSuffixes[2]));
}

// What PDFLInit receives for a DRAVIK value (nullopt: the variable is unset).
struct DirCase {
  const char* name;
  std::optional<std::string> root;
  bool list;
  std::vector<std::optional<std::u16string>> dirs;
  size_t errorLines;
};

std::vector<std::optional<std::u16string>> AsciiDirs(const std::string& root) {
  std::vector<std::optional<std::u16string>> dirs;
  for (const char* suffix : kSuffixes) {
    std::string joined = root + suffix;
    dirs.push_back(joined.size() <= 259 ? std::optional(Ascii16(joined)) : std::nullopt);
  }
  return dirs;
}

TEST_F(PdfObjectTest, ResourceDirectoriesFollowTheRootUnchangedAndNeverOverflow) {
  const std::string euros = [] {
    std::string s;
    for (int i = 0; i < 86; ++i) s += "\xE2\x82\xAC";  // 258 bytes, 86 units
    return s;
  }();
  const std::vector<DirCase> cases = {
      {"plain", "/srv/dravik", true, AsciiDirs("/srv/dravik"), 0},
      {"trailing backslash", "C:\\Dravik\\", true, AsciiDirs("C:\\Dravik\\"), 0},
      {"unset", std::nullopt, false, {}, 0},
      {"empty", "", false, {}, 0},
      {"too long for the buffer", std::string(300, 'r'), false, {}, 1},
      {"fills the buffer, joined too long", std::string(259, 'r'), true, AsciiDirs(std::string(259, 'r')), 3},
      {"only the shortest fits", std::string(240, 'r'), true, AsciiDirs(std::string(240, 'r')), 2},
      {"UTF-8",
       "/donn\xC3\xA9""es/\xE5\xAD\x97/\xF0\x9F\x98\x80",
       true,
       {u"/données/字/😀\\General\\RIP\\Fonts", u"/données/字/😀\\General\\RIP\\Resource\\CMap",
        u"/données/字/😀\\General\\RIP\\Resource\\CIDFont"},
       0},
      {"invalid bytes", "/x\xFF\xC3", true,
       {u"/x\uFFFD\uFFFD\\General\\RIP\\Fonts", u"/x\uFFFD\uFFFD\\General\\RIP\\Resource\\CMap",
        u"/x\uFFFD\uFFFD\\General\\RIP\\Resource\\CIDFont"},
       0},
      {"bounded by units, not bytes", euros, true,
       {std::u16string(86, u'€') + u"\\General\\RIP\\Fonts",
        std::u16string(86, u'€') + u"\\General\\RIP\\Resource\\CMap",
        std::u16string(86, u'€') + u"\\General\\RIP\\Resource\\CIDFont"},
       0},
  };
  for (const DirCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.root)
      platform_.setEnv("DRAVIK", *c.root);
    else
      platform_.unsetEnv("DRAVIK");
    clear();
    {
      CPdfObject obj;
      ASSERT_TRUE(obj.loadPdfLibrary());
      auto seen = engine_.lastInit();
      ASSERT_TRUE(seen.has_value());
      EXPECT_EQ(seen->size, 52u);
      EXPECT_EQ(seen->flags, 1u);
      EXPECT_EQ(seen->hadList, c.list);
      EXPECT_EQ(seen->dirListLen, c.list ? 3 : 0);
      EXPECT_EQ(seen->dirs, c.dirs);
      size_t errors = 0;
      for (const std::string& line : lines()) {
        if (line.rfind("--ERROR-- CPdfObject::buildResourceDirs() DRAVIK", 0) == 0) ++errors;
      }
      EXPECT_EQ(errors, c.errorLines);
    }
  }
}

TEST(WidenString, DecodesUtf8AndNeverWritesPastTheEntry) {
  ASUTF16Val out[8];
  auto text = [&] { return std::u16string(reinterpret_cast<const char16_t*>(out)); };

  ASSERT_TRUE(CPdfObject::widenString(out, "a\xF0\x9F\x98\x80", 8));
  EXPECT_EQ(text(), u"a\U0001F600");  // a surrogate pair
  ASSERT_TRUE(CPdfObject::widenString(out, "\xC0\xAF|\xED\xA0\x80", 8));
  EXPECT_EQ(text(), u"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD");  // overlong and surrogate encodings
  ASSERT_TRUE(CPdfObject::widenString(out, "\xE2\x82", 8));
  EXPECT_EQ(text(), u"\uFFFD\uFFFD");  // cut-off sequence

  // Seven units and the terminator fit in eight; one more does not, and
  // nothing is written beyond the capacity.
  ASUTF16Val bounded[10];
  std::fill(std::begin(bounded), std::end(bounded), ASUTF16Val{0xBEEF});
  EXPECT_TRUE(CPdfObject::widenString(bounded, "1234567", 8));
  EXPECT_EQ(bounded[7], 0);
  std::fill(std::begin(bounded), std::end(bounded), ASUTF16Val{0xBEEF});
  EXPECT_FALSE(CPdfObject::widenString(bounded, "12345678", 8));
  EXPECT_EQ(bounded[0], 0);
  EXPECT_EQ(bounded[8], 0xBEEF);
  // A pair that would straddle the end is refused whole.
  EXPECT_FALSE(CPdfObject::widenString(bounded, "123456\xF0\x9F\x98\x80", 8));
}

struct ConverterCase {
  const char* name;
  const char* folder;
  bool initFails;
  bool createNull;
  unsigned long loaderState;
  const char* loaderLine;  // start of the loader's own line, or null
};

TEST_F(PdfObjectTest, ConverterLoadFailuresWriteTheirLinesAndFailInit) {
  const ConverterCase cases[] = {
      {"init fails", "scripted", true, false, 0, nullptr},
      {"no module", "empty", false, false, CLoaderLibrary::kErrNotFound,
       "--ERROR-- CLoaderLibrary::LoadLibraryA() libKestaro.so not loaded: "},
      {"no entry", "noentry", false, false, CLoaderLibrary::kErrNoEntry,
       "--ERROR-- CLoaderLibrary::CreateObject() CreatePDFConverterNoRip missing in "},
      {"entry yields null", "scripted", false, true, CLoaderLibrary::kErrEntryNull,
       "--ERROR-- CLoaderLibrary::CreateObject() CreatePDFConverterNoRip in "},
  };
  for (const ConverterCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.setEnv("PDFPARSE_PLUGIN_DIR", std::string(kPlugins) + "/" + c.folder);
    auto script = std::make_shared<ConverterScript>();
    ScopedConverterScript installed(script);
    if (c.initFails) script->failAt(ConverterOp::initConverter);
    script->setCreateReturnsNull(c.createNull);
    const int freesBefore = platform_.frees();
    {
      CPdfObject obj;
      ASSERT_TRUE(obj.loadPdfLibrary());
      clear();
      EXPECT_FALSE(obj.loadPdfConverter());
      Lines expected{"CPdfObject::loadPdfConverter() Begin load "};
      if (c.initFails) expected.push_back("CDravikPdfObject::loadPdfConverter() End init bRes = 0");
      expected.push_back(Fmt("--ERROR--CPdfObject::loadPdfConverter() load bRes = %d", static_cast<int>(c.loaderState)));
      expected.push_back("CPdfObject::loadPdfConverter() End load bRes = 0");
      Lines got = lines();
      if (c.loaderLine != nullptr) {
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[1].rfind(c.loaderLine, 0), 0u) << got[1];
        got.erase(got.begin() + 1);
      }
      EXPECT_EQ(got, expected);
      EXPECT_EQ(obj.converter() != nullptr, c.initFails) << "a converter that failed to start stays";
    }
    {
      CPdfObject obj;
      EXPECT_FALSE(obj.init());
      EXPECT_EQ(obj.errState(), 1);
    }
    EXPECT_EQ(script->created(), script->destroyed());
    // Whatever module was loaded is closed with the object.
    const bool moduleLoaded = std::string(c.folder) != "empty";
    EXPECT_EQ(platform_.frees() - freesBefore, moduleLoaded ? 2 : 0);
  }
}

TEST_F(PdfObjectTest, FailedModuleReleaseIsReportedButTheConverterIsGone) {
  auto obj = started();
  platform_.failFree("module busy");
  EXPECT_FALSE(obj->unloadPdfConverter());
  EXPECT_EQ(obj->converter(), nullptr);
  const Lines got = lines();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], "CPdfObject::unloadPdfConverter() Begin unload ");
  EXPECT_NE(got[1].find("module busy"), std::string::npos);
  EXPECT_EQ(got[2], "CPdfObject::unloadPdfConverter() End bRes = 0");
  clear();
  EXPECT_TRUE(obj->unloadPdfConverter());
  EXPECT_TRUE(lines().empty());
}

TEST_F(PdfObjectTest, ReportPdflErrorAlwaysYieldsFalseAndState3) {
  CPdfObject obj;
  pdfl_detail::SetCurrentException(PdflException(pdfl_err::kFileRead, std::string(400, 'm')));
  EXPECT_FALSE(obj.reportPdflError("Label"));
  EXPECT_EQ(obj.errState(), 3);
  // The message is cut to the 256-byte buffer.
  EXPECT_EQ(lines().back(), ErrorLine("Label", pdfl_err::kFileRead, std::string(255, 'm')));
  EXPECT_EQ(sink_->records().back().call, outside::TraceCall::Output);
}

}  // namespace
}  // namespace pdfobject_test
