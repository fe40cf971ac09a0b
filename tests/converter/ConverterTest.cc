// The converter plug-in, loaded the way the library loads it: dlopen of
// libKestaro.so and its one creation entry. The documents are built here
// with libqpdf and written to a temporary directory.
#include <dlfcn.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/QPDFWriter.hh>

#include <array>
#include <cfloat>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "outside/converter/CPdfConverterIf.h"
#include "support/InkPdfs.h"

namespace {

namespace fs = std::filesystem;
using Box = std::array<float, 4>;  // left, top, right, bottom

fs::path PluginPath() {
  const char* dir = std::getenv("PDFPARSE_PLUGIN_DIR");
  return fs::path(dir != nullptr ? dir : ".") / "libKestaro.so";
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestaro-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  fs::path file(const std::string& name) const { return path_ / name; }
  bool ok() const { return !path_.empty(); }

 private:
  fs::path path_;
};

std::string Save(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

ConverterInitRec GoodRecord() {
  ConverterInitRec rec{};
  rec.version = 1;
  rec.mode = 1;
  rec.units = 1;
  rec.unused = 0x5a5a;  // the caller leaves it unwritten
  rec.pages = 1;
  rec.options = 0;
  return rec;
}

struct Deleter {
  void operator()(CPdfConverterIf* c) const { delete c; }
};
using Converter = std::unique_ptr<CPdfConverterIf, Deleter>;

class KestaroTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    handle_ = ::dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) {
      create_ = reinterpret_cast<CreatePDFConverterNoRipFn>(::dlsym(handle_, "CreatePDFConverterNoRip"));
    }
  }
  static void TearDownTestSuite() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
    create_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(handle_, nullptr) << ::dlerror() << " (" << PluginPath() << ")";
    ASSERT_NE(create_, nullptr);
    ASSERT_TRUE(dir_.ok());
  }

  Converter Make() { return Converter(create_(0)); }
  // A converter initialised and in a job.
  Converter Ready() {
    Converter c = Make();
    ConverterInitRec rec = GoodRecord();
    EXPECT_NE(c->initConverter(&rec, 0), 0);
    EXPECT_NE(c->beginJob(0), 0);
    return c;
  }
  // Selects page `index` and measures it.
  static bool Measure(CPdfConverterIf& c, int index, Box& box) {
    return c.selectPage(index) != 0 && c.getPageBox(box.data()) != 0;
  }
  // One page document, with `edit` applied to the page before writing.
  std::string OnePage(const std::string& name, const std::function<void(QPDF&, QPDFObjectHandle)>& edit) {
    auto pdf = inkpdfs::NewPdf();
    auto page = inkpdfs::AddPage(*pdf, QPDFObjectHandle::newNull(), "");
    edit(*pdf, page);
    return Save(dir_.file(name), inkpdfs::Write(*pdf));
  }

  static void* handle_;
  static CreatePDFConverterNoRipFn create_;
  TempDir dir_;
};

void* KestaroTest::handle_ = nullptr;
CreatePDFConverterNoRipFn KestaroTest::create_ = nullptr;

// --- The module ------------------------------------------------------------------

std::set<std::string> Lines(const std::string& command, int* status) {
  std::set<std::string> lines;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return lines;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) lines.insert(line);
  }
  *status = ::pclose(pipe);
  return lines;
}

TEST_F(KestaroTest, ExportsOnlyTheCreationEntryAndNeedsNotTheLibrary) {
  int status = 0;
  auto symbols = Lines("nm -D --defined-only '" + PluginPath().string() + "' 2>/dev/null | awk '{print $NF}'", &status);
  if (status != 0 || symbols.empty()) GTEST_SKIP() << "nm is not available";
  EXPECT_THAT(symbols, testing::ElementsAre("CreatePDFConverterNoRip"));

  auto needed = Lines("readelf -d '" + PluginPath().string() + "' 2>/dev/null | grep NEEDED", &status);
  ASSERT_FALSE(needed.empty());
  for (const auto& line : needed) EXPECT_THAT(line, testing::Not(testing::HasSubstr("libpdfparse")));
}

TEST_F(KestaroTest, InitialisationChecksEveryRecordValue) {
  {
    Converter c = Make();
    ConverterInitRec rec = GoodRecord();
    EXPECT_EQ(c->initConverter(nullptr, 0), 0);
    EXPECT_EQ(c->beginJob(0), 0);  // not initialised
    EXPECT_NE(c->initConverter(&rec, 0), 0);
    EXPECT_NE(c->beginJob(0), 0);
  }
  const std::vector<std::function<void(ConverterInitRec&)>> breaks = {
      [](ConverterInitRec& r) { r.version = 2; }, [](ConverterInitRec& r) { r.version = 0; },
      [](ConverterInitRec& r) { r.mode = 0; },    [](ConverterInitRec& r) { r.units = 2; },
      [](ConverterInitRec& r) { r.units = -1; },  [](ConverterInitRec& r) { r.pages = 0; },
      [](ConverterInitRec& r) { r.options = 1; },
  };
  for (size_t i = 0; i < breaks.size(); ++i) {
    SCOPED_TRACE(i);
    Converter c = Make();
    ConverterInitRec rec = GoodRecord();
    breaks[i](rec);
    EXPECT_EQ(c->initConverter(&rec, 0), 0);
    EXPECT_EQ(c->beginJob(0), 0);
    // A failed re-initialisation also withdraws an earlier success.
    ConverterInitRec good = GoodRecord();
    ASSERT_NE(c->initConverter(&good, 0), 0);
    EXPECT_EQ(c->initConverter(&rec, 0), 0);
    EXPECT_EQ(c->beginJob(0), 0);
  }
}

TEST_F(KestaroTest, CallsOutOfOrderFailCleanly) {
  std::string path = OnePage("a.pdf", [](QPDF&, QPDFObjectHandle) {});
  Converter c = Make();
  ConverterInitRec rec = GoodRecord();
  Box box{};
  EXPECT_EQ(c->endJob(), 0);
  EXPECT_EQ(c->openDocument(path.c_str(), "Dummy"), 0);  // not initialised, no job
  ASSERT_NE(c->initConverter(&rec, 0), 0);
  EXPECT_EQ(c->openDocument(path.c_str(), "Dummy"), 0);  // outside a job
  EXPECT_EQ(c->selectPage(0), 0);
  EXPECT_EQ(c->getPageBox(box.data()), 0);
  EXPECT_EQ(c->closeDocument(0), 0);
  ASSERT_NE(c->beginJob(0), 0);
  EXPECT_EQ(c->beginJob(0), 0);                     // a second job
  EXPECT_EQ(c->initConverter(&rec, 0), 0);          // no re-initialising inside a job
  EXPECT_EQ(c->selectPage(0), 0);                   // no document
  EXPECT_EQ(c->openDocument(nullptr, "Dummy"), 0);
  EXPECT_EQ(c->openDocument("", "Dummy"), 0);
  ASSERT_NE(c->openDocument(path.c_str(), "Dummy"), 0);
  EXPECT_EQ(c->openDocument(path.c_str(), "Dummy"), 0);  // one document at a time
  EXPECT_EQ(c->getPageBox(box.data()), 0);               // no page selected
  ASSERT_NE(c->selectPage(0), 0);
  EXPECT_EQ(c->getPageBox(nullptr), 0);
  EXPECT_NE(c->closeDocument(0), 0);
  EXPECT_EQ(c->closeDocument(0), 0);
  EXPECT_EQ(c->selectPage(0), 0);  // closed
  EXPECT_NE(c->endJob(), 0);
  EXPECT_EQ(c->endJob(), 0);
  EXPECT_EQ(c->openDocument(path.c_str(), "Dummy"), 0);  // job ended

  // The same object serves the next job, and endJob closes what is open.
  ASSERT_NE(c->beginJob(0), 0);
  ASSERT_NE(c->openDocument(path.c_str(), "Dummy"), 0);
  EXPECT_NE(c->endJob(), 0);
  EXPECT_EQ(c->selectPage(0), 0);
  ASSERT_NE(c->beginJob(0), 0);
  EXPECT_NE(c->openDocument(path.c_str(), nullptr), 0);  // the name is not used
  // Destroyed with a document open: nothing leaks (checked under ASan).
}

// --- Boxes ------------------------------------------------------------------------

struct BoxCase {
  const char* name;
  const char* pageKeys;    // added to the page
  const char* parentKeys;  // added to the page-tree root (inherited)
  Box expected;
};

TEST_F(KestaroTest, PageBoxIsTheEffectiveCropBoxInPoints) {
  const BoxCase cases[] = {
      {"media only", "/MediaBox [0 0 612 792]", "", {0, 792, 612, 0}},
      {"crop inside", "/MediaBox [0 0 612 792] /CropBox [10 20 300 400]", "", {10, 400, 300, 20}},
      {"crop clipped", "/MediaBox [0 0 612 792] /CropBox [-50 100 700 900]", "", {0, 792, 612, 100}},
      {"reversed corners", "/MediaBox [612 792 0 0] /CropBox [300 400 10 20]", "", {10, 400, 300, 20}},
      {"offset media", "/MediaBox [-100 -200 100 200]", "", {-100, 200, 100, -200}},
      {"fractions", "/MediaBox [0.5 0.25 595.5 841.75]", "", {0.5f, 841.75f, 595.5f, 0.25f}},
      {"user unit", "/MediaBox [0 0 100 50] /CropBox [10 10 90 40] /UserUnit 2.5", "", {25, 100, 225, 25}},
      {"rotation ignored", "/MediaBox [0 0 300 100] /Rotate 90", "", {0, 100, 300, 0}},
      {"inherited media and crop", "", "/MediaBox [0 0 300 300] /CropBox [10 10 100 200]", {10, 200, 100, 10}},
      {"own crop, inherited media", "/CropBox [0 0 400 50]", "/MediaBox [0 0 300 300]", {0, 50, 300, 0}},
      {"disjoint crop", "/MediaBox [0 0 100 100] /CropBox [200 200 300 300]", "", {0, 100, 100, 0}},
  };
  for (const auto& bc : cases) {
    SCOPED_TRACE(bc.name);
    auto pdf = inkpdfs::NewPdf();
    auto page = inkpdfs::AddPage(*pdf, QPDFObjectHandle::newNull(), "");
    page.removeKey("/MediaBox");
    auto keys = inkpdfs::Obj(*pdf, std::string("<< ") + bc.pageKeys + " >>");
    for (const auto& k : keys.getKeys()) page.replaceKey(k, keys.getKey(k));
    auto inherited = inkpdfs::Obj(*pdf, std::string("<< ") + bc.parentKeys + " >>");
    auto root = pdf->getRoot().getKey("/Pages");
    for (const auto& k : inherited.getKeys()) root.replaceKey(k, inherited.getKey(k));
    std::string path = Save(dir_.file("box.pdf"), inkpdfs::Write(*pdf));

    Converter c = Ready();
    ASSERT_NE(c->openDocument(path.c_str(), "Dummy"), 0);
    Box box{-1, -1, -1, -1};
    ASSERT_TRUE(Measure(*c, 0, box));
    EXPECT_EQ(box, bc.expected);
    c->closeDocument(0);
    c->endJob();
  }
}

TEST_F(KestaroTest, EachPageIsSelectedByItsIndex) {
  auto pdf = inkpdfs::NewPdf();
  constexpr int kPages = 5;
  for (int i = 0; i < kPages; ++i) {
    auto page = inkpdfs::AddPage(*pdf, QPDFObjectHandle::newNull(), "");
    page.replaceKey("/MediaBox", inkpdfs::Obj(*pdf, "[0 0 " + std::to_string(100 + i) + " " + std::to_string(200 + i) + "]"));
  }
  std::string path = Save(dir_.file("pages.pdf"), inkpdfs::Write(*pdf));
  Converter c = Ready();
  ASSERT_NE(c->openDocument(path.c_str(), "Dummy"), 0);
  for (int i : {3, 0, 4, 1, 2}) {
    Box box{};
    ASSERT_TRUE(Measure(*c, i, box)) << i;
    EXPECT_EQ(box, (Box{0, 200.0f + i, 100.0f + i, 0})) << i;
  }
  Box box{};
  ASSERT_TRUE(Measure(*c, 0, box));
  EXPECT_EQ(c->selectPage(kPages), 0);
  EXPECT_EQ(c->getPageBox(box.data()), 0);  // a failed selection leaves no page current
  EXPECT_EQ(c->selectPage(-1), 0);
  EXPECT_EQ(c->selectPage(INT32_MAX), 0);
}

TEST_F(KestaroTest, BoxesBeyondFloatRangeAreClamped) {
  const std::string huge = "1" + std::string(45, '0') + ".0";
  std::string path = OnePage("huge.pdf", [&](QPDF& pdf, QPDFObjectHandle page) {
    page.replaceKey("/MediaBox", inkpdfs::Obj(pdf, "[-" + huge + " 0 " + huge + " 10]"));
  });
  Converter c = Ready();
  ASSERT_NE(c->openDocument(path.c_str(), "Dummy"), 0);
  Box box{};
  ASSERT_TRUE(Measure(*c, 0, box));
  EXPECT_EQ(box, (Box{-FLT_MAX, 10, FLT_MAX, 0}));
}

// --- Opening ------------------------------------------------------------------------

std::string Encrypted(const std::string& user, const std::string& owner, bool r6) {
  auto pdf = inkpdfs::NewPdf();
  auto page = inkpdfs::AddPage(*pdf, QPDFObjectHandle::newNull(), "");
  page.replaceKey("/CropBox", inkpdfs::Obj(*pdf, "[1 2 3 4]"));
  QPDFWriter writer(*pdf);
  writer.setOutputMemory();
  if (r6) {
    writer.setR6EncryptionParameters(user.c_str(), owner.c_str(), true, true, true, true, true, true, qpdf_r3p_full,
                                     true);
  } else {
    writer.setR4EncryptionParametersInsecure(user.c_str(), owner.c_str(), true, true, true, true, true, true,
                                             qpdf_r3p_full, true, true);
  }
  writer.write();
  auto buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

TEST_F(KestaroTest, EncryptedDocumentsOpenWithTheHostPasswordOnly) {
  struct Case {
    const char* name;
    std::string user, owner;
    bool opens;
  } cases[] = {
      {"user marble", "marble", "owner-secret", true},
      {"owner marble", "someone", "marble", true},
      {"empty user", "", "owner-secret", true},
      {"other password", "granite", "basalt", false},
  };
  for (bool r6 : {false, true}) {
    for (const auto& cs : cases) {
      SCOPED_TRACE(std::string(cs.name) + (r6 ? " R6" : " R4"));
      std::string path = Save(dir_.file("enc.pdf"), Encrypted(cs.user, cs.owner, r6));
      Converter c = Ready();
      ASSERT_EQ(c->openDocument(path.c_str(), "Dummy") != 0, cs.opens);
      if (!cs.opens) {
        EXPECT_EQ(c->selectPage(0), 0);
        continue;
      }
      Box box{};
      ASSERT_TRUE(Measure(*c, 0, box));
      EXPECT_EQ(box, (Box{1, 4, 3, 2}));
    }
  }
}

TEST_F(KestaroTest, OnlyRegularFilesAreOpened) {
  std::string good = OnePage("good.pdf", [](QPDF&, QPDFObjectHandle) {});
  fs::path fifo = dir_.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::path link = dir_.file("link.pdf");
  fs::create_symlink(good, link);
  Save(dir_.file("empty.pdf"), "");
  Save(dir_.file("text.pdf"), "this is not a PDF file at all\n");

  Converter c = Ready();
  // A FIFO without a writer would block a plain open; it must be refused.
  EXPECT_EQ(c->openDocument(fifo.c_str(), "Dummy"), 0);
  EXPECT_EQ(c->openDocument(dir_.file("").c_str(), "Dummy"), 0);
  EXPECT_EQ(c->openDocument("/dev/null", "Dummy"), 0);
  EXPECT_EQ(c->openDocument(dir_.file("missing.pdf").c_str(), "Dummy"), 0);
  EXPECT_EQ(c->openDocument(dir_.file("empty.pdf").c_str(), "Dummy"), 0);
  EXPECT_EQ(c->openDocument(dir_.file("text.pdf").c_str(), "Dummy"), 0);
  // A link to a regular file is that file.
  ASSERT_NE(c->openDocument(link.c_str(), "Dummy"), 0);
  Box box{};
  EXPECT_TRUE(Measure(*c, 0, box));
}

// Captures what the process writes to fd 1 and 2 while `fn` runs.
std::string CaptureOutput(const fs::path& into, const std::function<void()>& fn) {
  std::fflush(stdout);
  std::fflush(stderr);
  int file = ::open(into.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int savedOut = ::dup(1);
  int savedErr = ::dup(2);
  ::dup2(file, 1);
  ::dup2(file, 2);
  fn();
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  ::close(savedOut);
  ::close(savedErr);
  ::close(file);
  std::ifstream in(into, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(KestaroTest, DamagedDocumentsAreRepairedSilently) {
  auto pdf = inkpdfs::NewPdf();
  for (int i = 0; i < 3; ++i) {
    auto page = inkpdfs::AddPage(*pdf, QPDFObjectHandle::newNull(), "");
    page.replaceKey("/MediaBox", inkpdfs::Obj(*pdf, "[0 0 " + std::to_string(300 + i) + " 400]"));
  }
  std::string bytes = inkpdfs::Write(*pdf);
  // Wreck the cross-reference table and the start pointer: libqpdf must
  // rebuild them, and would normally say so on stderr.
  size_t xref = bytes.rfind("xref");
  ASSERT_NE(xref, std::string::npos);
  for (size_t i = xref; i < bytes.size() && i < xref + 80; ++i) {
    if (bytes[i] >= '0' && bytes[i] <= '9') bytes[i] = '7';
  }
  std::string path = Save(dir_.file("damaged.pdf"), bytes);
  // And a page tree with a broken second kid.
  std::string tree = inkpdfs::Write(*pdf);
  size_t kids = tree.find("/Kids [");
  ASSERT_NE(kids, std::string::npos);
  tree.replace(kids, 7, "/Kids [(x) ");
  std::string treePath = Save(dir_.file("tree.pdf"), tree);

  Converter c = Ready();
  int opened = 0, measured = 0, treeOpened = 0;
  Box box{}, treeBox{};
  std::string output = CaptureOutput(dir_.file("out.txt"), [&] {
    opened = c->openDocument(path.c_str(), "Dummy");
    measured = opened != 0 && Measure(*c, 2, box);
    c->closeDocument(0);
    treeOpened = c->openDocument(treePath.c_str(), "Dummy");
    if (treeOpened != 0) Measure(*c, 0, treeBox);
    c->closeDocument(0);
  });
  EXPECT_EQ(output, "");
  ASSERT_NE(opened, 0);
  ASSERT_NE(measured, 0);
  EXPECT_EQ(box, (Box{0, 400, 302, 0}));
  ASSERT_NE(treeOpened, 0);
  EXPECT_EQ(treeBox, (Box{0, 400, 300, 0}));
}

}  // namespace
