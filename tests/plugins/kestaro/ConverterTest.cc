// The converter plug-in, loaded the way the library loads it: dlopen of
// libKestaro.so and its one creation entry, over documents built here.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <array>
#include <cfloat>
#include <filesystem>
#include <tuple>

#include "outside/converter/CPdfConverterIf.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

using Box = std::array<float, 4>;  // left, top, right, bottom
using Converter = std::unique_ptr<CPdfConverterIf>;
using pdfbuilder::BuildPdf;

std::string PluginPath() { return std::string(std::getenv("PDFPARSE_PLUGIN_DIR")) + "/libKestaro.so"; }

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  if (pipe != nullptr) ::pclose(pipe);
  return out;
}

class KestaroTest : public testing::Test {
 protected:
  void SetUp() override {
    handle_ = ::dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << ::dlerror();
    create_ = reinterpret_cast<CreatePDFConverterNoRipFn>(::dlsym(handle_, "CreatePDFConverterNoRip"));
    ASSERT_NE(create_, nullptr);
  }
  void TearDown() override { ::dlclose(handle_); }
  static ConverterInitRec Record() { return {1, 1, 1, 0x5a5a, 1, 0}; }  // `unused` left unwritten
  // A converter initialised and in a job.
  Converter Ready() {
    Converter c(create_(0));
    ConverterInitRec rec = Record();
    EXPECT_NE(c->initConverter(&rec, 0), 0);
    EXPECT_NE(c->beginJob(0), 0);
    return c;
  }
  static Box Measure(CPdfConverterIf& c, int index) {
    Box box{-1, -1, -1, -1};
    EXPECT_NE(c.selectPage(index), 0) << index;
    EXPECT_NE(c.getPageBox(box.data()), 0) << index;
    return box;
  }
  void* handle_ = nullptr;
  CreatePDFConverterNoRipFn create_ = nullptr;
  pdfbuilder::TempDir dir_;
  const std::string onePage_ = dir_.write("one.pdf", BuildPdf(pdfbuilder::Pages(1)));
};

TEST_F(KestaroTest, ExportsOnlyTheCreationEntryAndNeedsNotTheLibrary) {
  std::string symbols = Output("nm -D --defined-only '" + PluginPath() + "' | awk '{print $NF}'");
  if (symbols.empty()) GTEST_SKIP() << "nm is not available";
  EXPECT_EQ(symbols, "CreatePDFConverterNoRip\n");
  // It needs the document engine, not the library, and reads no PDF itself.
  const std::string needed = Output("readelf -d '" + PluginPath() + "' | grep NEEDED");
  EXPECT_THAT(needed, testing::HasSubstr("libpdfparse_document.so"));
  EXPECT_THAT(needed, testing::Not(testing::HasSubstr("libpdfparse.so")));
  EXPECT_THAT(needed, testing::Not(testing::HasSubstr("libqpdf")));
}

TEST_F(KestaroTest, InitialisationChecksEveryRecordValue) {
  Converter c(create_(0));
  EXPECT_EQ(c->initConverter(nullptr, 0), 0);
  EXPECT_EQ(c->beginJob(0), 0);  // not initialised
  // version, mode, units, (unused), pages, options: each one wrong
  for (ConverterInitRec bad : {ConverterInitRec{2, 1, 1, 0, 1, 0},
                               {0, 1, 1, 0, 1, 0},
                               {1, 0, 1, 0, 1, 0},
                               {1, 1, 2, 0, 1, 0},
                               {1, 1, -1, 0, 1, 0},
                               {1, 1, 1, 0, 0, 0},
                               {1, 1, 1, 0, 1, 1}}) {
    ConverterInitRec good = Record();
    ASSERT_NE(c->initConverter(&good, 0), 0);
    EXPECT_EQ(c->initConverter(&bad, 0), 0);
    EXPECT_EQ(c->beginJob(0), 0);  // the failed initialisation withdrew the earlier success
  }
}

TEST_F(KestaroTest, CallsOutOfOrderFailCleanly) {
  const char* path = onePage_.c_str();
  Converter c(create_(0));
  ConverterInitRec rec = Record();
  Box box{};
  EXPECT_EQ(c->endJob(), 0);
  EXPECT_EQ(c->openDocument(path, "Dummy"), 0);  // not initialised, no job
  ASSERT_NE(c->initConverter(&rec, 0), 0);
  EXPECT_EQ(c->openDocument(path, "Dummy"), 0);  // outside a job
  EXPECT_EQ(c->getPageBox(box.data()), 0);
  EXPECT_EQ(c->closeDocument(0), 0);
  ASSERT_NE(c->beginJob(0), 0);
  EXPECT_EQ(c->beginJob(0), 0);             // a second job
  EXPECT_EQ(c->initConverter(&rec, 0), 0);  // no re-initialising inside a job
  EXPECT_EQ(c->selectPage(0), 0);           // no document
  EXPECT_EQ(c->openDocument(nullptr, "Dummy"), 0);
  ASSERT_NE(c->openDocument(path, "Dummy"), 0);
  EXPECT_EQ(c->openDocument(path, "Dummy"), 0);  // one document at a time
  EXPECT_EQ(c->getPageBox(box.data()), 0);       // no page selected
  ASSERT_NE(c->selectPage(0), 0);
  EXPECT_EQ(c->getPageBox(nullptr), 0);
  EXPECT_NE(c->closeDocument(0), 0);
  EXPECT_EQ(c->closeDocument(0), 0);
  EXPECT_NE(c->endJob(), 0);
  EXPECT_EQ(c->endJob(), 0);
  EXPECT_EQ(c->openDocument(path, "Dummy"), 0);  // job ended
  // The same object serves the next job, and endJob closes what is open.
  ASSERT_NE(c->beginJob(0), 0);
  ASSERT_NE(c->openDocument(path, "Dummy"), 0);
  EXPECT_NE(c->endJob(), 0);
  EXPECT_EQ(c->selectPage(0), 0);
  ASSERT_NE(c->beginJob(0), 0);
  EXPECT_NE(c->openDocument(path, nullptr), 0);  // the name is not used
  // Destroyed with a document open: nothing leaks (checked under ASan).
}

TEST_F(KestaroTest, EachPagesBoxIsItsEffectiveCropBoxInPoints) {
  const std::string huge = "1" + std::string(45, '0') + ".0";
  // The box rules and their inheritance are the page model's tests; here, the
  // corners' order, the unit and rotation as the plug-in reports them and the
  // conversion to float.
  const std::pair<std::string, Box> cases[] = {
      {"/MediaBox [0 0 612 792] /CropBox [10 20 300 400]", {10, 400, 300, 20}},
      {"/MediaBox [0.5 0.25 595.5 841.75]", {0.5f, 841.75f, 595.5f, 0.25f}},
      {"/MediaBox [0 0 100 50] /CropBox [10 10 90 40] /UserUnit 2.5", {25, 100, 225, 25}},
      {"/MediaBox [0 0 300 100] /Rotate 90", {0, 100, 300, 0}},                     // rotation ignored
      {"/MediaBox [-" + huge + " 0 " + huge + " 10]", {-FLT_MAX, 10, FLT_MAX, 0}},  // clamped
  };
  pdfbuilder::DocLayout layout;
  layout.pages.clear();
  for (const auto& c : cases) layout.pages.push_back(c.first);
  std::string path = dir_.write("boxes.pdf", BuildPdf(layout));
  Converter c = Ready();
  ASSERT_NE(c->openDocument(path.c_str(), "Dummy"), 0);
  for (int i = std::size(cases) - 1; i >= 0; --i) EXPECT_EQ(Measure(*c, i), cases[i].second) << cases[i].first;
  Box box{};
  EXPECT_EQ(c->selectPage(std::size(cases)), 0);
  EXPECT_EQ(c->getPageBox(box.data()), 0);  // a failed selection leaves no page current
  EXPECT_EQ(c->selectPage(-1), 0);
  EXPECT_EQ(c->selectPage(INT32_MAX), 0);
}

TEST_F(KestaroTest, EncryptedDocumentsOpenWithTheHostPasswordOnly) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"marble", "owner", true}, {"someone", "marble", true}, {"", "owner", true}, {"granite", "basalt", false}};
  for (const auto& [user, owner, opens] : cases) {
    SCOPED_TRACE(user + "/" + owner);
    pdfbuilder::DocLayout layout = pdfbuilder::Pages(1);
    layout.encryption = pdfbuilder::DocLayout::Encryption{user, owner};
    std::string path = dir_.write("sealed.pdf", BuildPdf(layout));
    Converter c = Ready();
    ASSERT_EQ(c->openDocument(path.c_str(), "Dummy") != 0, opens);
    EXPECT_EQ(c->selectPage(0) != 0, opens);
  }
}

TEST_F(KestaroTest, OnlyRegularPdfFilesOpenAndDamageIsRepairedSilently) {
  ASSERT_EQ(::mkfifo(dir_.file("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(onePage_, dir_.file("link.pdf"));
  std::string plain = BuildPdf(pdfbuilder::Pages(3));
  plain.replace(plain.rfind("startxref") + 10, 3, "999");  // a wrong start pointer: rebuilt
  Converter c = Ready();
  // Which paths the file system refuses is its own test; here, that the
  // plug-in opens through it (a FIFO without a writer must not block).
  for (const std::string& path : {dir_.file("fifo"), dir_.write("text.pdf", "not a PDF at all\n")})
    EXPECT_EQ(c->openDocument(path.c_str(), "Dummy"), 0) << path;
  for (const std::string& path : {dir_.file("link.pdf"), dir_.write("damaged.pdf", plain)}) {
    testing::internal::CaptureStderr();
    EXPECT_NE(c->openDocument(path.c_str(), "Dummy"), 0) << path;  // a link to a regular file is that file
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << path;
    EXPECT_EQ(Measure(*c, 0), (Box{0, 792, 612, 0}));
    c->closeDocument(0);
  }
}

}  // namespace
}  // namespace pdfparse::test
