// Whole inquiries at level 3 through CPdfParseIf, with the real engine and
// the real converter plug-in together: what one reading of a file answers
// when it is damaged, encrypted, replaced on the way, or runs out of time at
// any step.
#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "document/OpenDocuments.h"
#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/trace/LibraryTraces.h"
#include "pdfbuilder/PdfBuilder.h"
#include "pdfparse/CPdfParseIf.h"
#include "support/RecordingPlatform.h"

namespace pdfparse::test {
namespace {

using namespace pdfbuilder;

constexpr int32_t kUntouched = -7;

const char kSpotResources[] =
    "/Resources << /ColorSpace << /CS0 [/Separation /Gold /DeviceCMYK << /FunctionType 2 /Domain [0 1] "
    "/C0 [0 0 0 0] /C1 [0 0.2 0.8 0] /N 1 >>] >> >>";

PdfInquiryRec Level3() {
  PdfInquiryRec rec;
  rec.level = 3, rec.numPages = rec.pageMode = rec.subType = kUntouched, rec.hasSpotInk = 77;
  for (float& v : rec.mediaBox) v = kUntouched;
  return rec;
}

// Width and height of the record's media box.
std::pair<float, float> Size(const PdfInquiryRec& rec) {
  return {rec.mediaBox[2] - rec.mediaBox[0], rec.mediaBox[1] - rec.mediaBox[3]};
}

std::string Cut(const std::string& bytes, const std::string& before, size_t back = 0) {
  const size_t at = bytes.rfind(before);
  EXPECT_NE(at, std::string::npos) << before;
  return bytes.substr(0, at - back);
}

class WholeInquiryTest : public ::testing::Test {
 protected:
  void SetUp() override { parser_.reset(CreateCPdfParse(0)); }
  void TearDown() override {
    parser_.reset();
    EXPECT_EQ(document::OpenDocuments::CountForTesting(), 0u);  // nothing left attached
  }
  PdfInquiryRec run(const std::string& path) {
    PdfInquiryRec rec = Level3();
    const bool ok = parser_->runInquiry(path.c_str(), &rec);
    EXPECT_EQ(ok, parser_->getStatus() == 0);
    return rec;
  }

  TempDir dir_;
  std::unique_ptr<CPdfParseIf> parser_;
};

TEST_F(WholeInquiryTest, FilesTheEngineRepairsOrUnlocksAnswerEveryLevel) {
  DocLayout three = Pages(3);
  three.info = {{"Producer", "Vrel Imposer"}};
  three.pages[2] = kSpotResources;
  DocLayout streams = three;
  streams.objectStreams = true;
  DocLayout sealed = three;
  sealed.encryption = DocLayout::Encryption{"marble", "owner"};
  // Which damage the engine repairs is its own test; here, that every level
  // is answered from a repaired (and from an unlocked) reading.
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cut inside the cross-reference stream", Cut(BuildPdf(streams), "startxref", 40)},
      {"the host's password", BuildPdf(sealed)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PdfInquiryRec rec = run(dir_.write("case.pdf", c.bytes));
    EXPECT_EQ(std::make_tuple(parser_->getStatus(), rec.numPages, rec.infoValue, rec.pageMode, Size(rec), rec.subType,
                              rec.hasSpotInk),
              std::make_tuple(0, 3, std::string("Vrel Imposer"), 3, std::make_pair(612.0f, 792.0f), 1, 1u));
  }
}

// Every answer of a level-3 inquiry, and the status.
auto Answers(CPdfParseIf& parser, const PdfInquiryRec& rec) {
  return std::make_tuple(parser.getStatus(), rec.numPages, rec.rotation, rec.infoValue, rec.pageMode,
                         std::vector<float>(std::begin(rec.mediaBox), std::end(rec.mediaBox)), rec.subType,
                         rec.hasSpotInk);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// `bytes` rewritten by libqpdf, linearized (the Info dictionary lies at the end).
std::string Linearized(const std::string& bytes) {
  QPDF pdf;
  pdf.processMemoryFile("sample", bytes.data(), bytes.size());
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setLinearization(true);
  writer.setStaticID(true);
  writer.write();
  std::shared_ptr<Buffer> out = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
}

// A file cut short answers what the whole file answers, or fails: a page,
// an Info dictionary or a resource that the cut took is never read as
// absent. Each sample (and a linearized copy) is cut at every twentieth.
TEST_F(WholeInquiryTest, ACutFileAnswersAsTheWholeFileOrFails) {
  const std::string samples = std::string(std::getenv("PDFPARSE_BUILD_DIR")) + "/samples/";
  std::vector<std::pair<std::string, std::string>> files;
  for (const char* name : {"letter", "a4-cropped", "rotated", "vrel-spot", "protected", "damaged"}) {
    files.emplace_back(name, ReadFile(samples + name + ".pdf"));
    ASSERT_GT(files.back().second.size(), 100u) << name;
    if (std::string(name) != "protected" && std::string(name) != "damaged") {
      files.emplace_back(std::string(name) + ", linearized", Linearized(files.back().second));
    }
  }
  size_t answered = 0, failed = 0;
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    PdfInquiryRec whole = run(dir_.write("whole.pdf", bytes));
    const auto expected = Answers(*parser_, whole);
    ASSERT_EQ(parser_->getStatus(), 0);
    for (size_t twentieth = 1; twentieth < 20; ++twentieth) {
      SCOPED_TRACE(std::to_string(twentieth) + "/20");
      PdfInquiryRec cut = run(dir_.write("cut.pdf", bytes.substr(0, bytes.size() * twentieth / 20)));
      if (parser_->getStatus() != 0) {
        ++failed;
        continue;
      }
      ++answered;
      EXPECT_EQ(Answers(*parser_, cut), expected);
    }
  }
  // Some cuts keep every object the answers need; most do not.
  EXPECT_GT(answered, 0u);
  EXPECT_GT(failed, answered);
}

TEST_F(WholeInquiryTest, OverallMediaBoxDoesNotDependOnPageOrder) {
  const struct {
    const char* name;
    std::string first, second;
    float width, height;
  } cases[] = {
      {"pages differing only in /UserUnit", "/MediaBox [0 0 1000 500] /UserUnit 10", "/MediaBox [0 0 1000 500]", 10000,
       5000},
      {"boxes beyond the fixed-point range", "/MediaBox [0 0 40000 40000]", "/MediaBox [0 0 50000 50000]", 50000,
       50000},
  };
  for (const auto& c : cases) {
    for (bool swapped : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (swapped ? ", swapped" : ""));
      DocLayout doc = Pages(2);
      doc.pages = swapped ? std::vector<std::string>{c.second, c.first} : std::vector<std::string>{c.first, c.second};
      PdfInquiryRec rec = run(dir_.write("order.pdf", BuildPdf(doc)));
      EXPECT_EQ(parser_->getStatus(), 0);
      EXPECT_EQ(Size(rec), std::make_pair(c.width, c.height));
    }
  }
}

// The real file system, except that once the engine has opened the file,
// `replacement` takes its place under the same name.
class ReplacingFileSys : public outside::FileSysWrapper {
 public:
  ReplacingFileSys(std::string replacement) : FileSysWrapper(outside::DefaultFileSys()), replacement_(replacement) {}
  int open(const std::string& path, std::unique_ptr<outside::File>* out) override {
    const int err = FileSysWrapper::open(path, out);
    if (err == 0 && !replacement_.empty()) {
      EXPECT_EQ(std::rename(replacement_.c_str(), path.c_str()), 0);
      replacement_.clear();
    }
    return err;
  }

 private:
  std::string replacement_;
};

TEST_F(WholeInquiryTest, AFileReplacedDuringTheInquiryIsAnsweredFromTheFirstReading) {
  DocLayout first = Pages(2);
  first.rootAttrs = "/MediaBox [0 0 595 842]";
  first.info = {{"Producer", "first"}};
  DocLayout second = Pages(5);
  second.rootAttrs = "/MediaBox [0 0 842 1191]";
  second.info = {{"Producer", "second"}};
  const std::string path = dir_.write("job.pdf", BuildPdf(first));
  ReplacingFileSys fileSys(dir_.write("next.pdf", BuildPdf(second)));
  outside::FileSys* previous = outside::SetFileSysForTesting(&fileSys);
  PdfInquiryRec rec = run(path);
  outside::SetFileSysForTesting(previous);
  EXPECT_EQ(std::make_tuple(parser_->getStatus(), rec.numPages, rec.infoValue, Size(rec)),
            std::make_tuple(0, 2, std::string("first"), std::make_pair(595.0f, 842.0f)));
  // The next inquiry reads the file as it is now.
  rec = run(path);
  EXPECT_EQ(std::make_pair(rec.numPages, Size(rec)), std::make_pair(5, std::make_pair(842.0f, 1191.0f)));
}

// A clock that stands still for the first `steps` readings made off the
// host's thread (the worker's, where the inquiry's deadline is checked) and
// then jumps far ahead. The host thread's own waits read the real clock.
class SteppedClock : public RecordingPlatform {
 public:
  explicit SteppedClock(pthread_t host) : host_(host) {}
  std::atomic<long> steps{0};
  uint64_t MonotonicMillis() override {
    if (pthread_equal(pthread_self(), host_)) return RecordingPlatform::MonotonicMillis();
    return steps.fetch_sub(1) > 0 ? 1000 : 1000 + (uint64_t{1} << 40);
  }

 private:
  pthread_t host_;
};

TEST(WholeInquiryDeadline, PassingAtAnyStepFailsTheInquiryAndFillsNothingAfterIt) {
  SteppedClock clock(pthread_self());
  ScopedPlatform installed(&clock);
  auto sink = std::make_shared<outside::RecordingSink>();
  auto previousSink = outside::g_traceA.SetSink(sink);
  TempDir dir;
  DocLayout doc = Pages(3);
  doc.info = {{"Producer", "Vrel Imposer"}};
  doc.pages = {kSpotResources, "/CropBox [0 0 300 300]", ""};  // crop boxes differ: every page is measured
  const std::string path = dir.write("timed.pdf", BuildPdf(doc));
  std::unique_ptr<CPdfParseIf> parser(CreateCPdfParse(0));
  bool converterTimedOut = false;
  long steps = 1;  // the first reading starts the inquiry's deadline
  for (;; ++steps) {
    ASSERT_LT(steps, 5000) << "the inquiry never completed";
    SCOPED_TRACE("deadline after " + std::to_string(steps) + " clock readings");
    clock.steps = steps;
    PdfInquiryRec rec = Level3();
    const size_t before = sink->lines().size();
    const bool ok = parser->runInquiry(path.c_str(), &rec);
    if (ok) {
      EXPECT_EQ(std::make_tuple(rec.subType, rec.hasSpotInk, Size(rec)),
                std::make_tuple(1, 1u, std::make_pair(612.0f, 792.0f)));
      break;
    }
    EXPECT_EQ(std::make_tuple(parser->getStatus(), rec.subType, rec.hasSpotInk), std::make_tuple(1, kUntouched, 77u));
    const std::vector<std::string> lines = sink->lines();
    bool traced = false;
    for (size_t i = before; i < lines.size(); ++i) {
      if (lines[i].find("time limit") == std::string::npos) continue;
      traced = true;
      // Inside the converter, after it measured a page: the media-box
      // step's one error line, between the page mode's line and its own.
      if (lines[i].rfind("CDravikPdfObject::RetrieveAllPagesMediaBox failed", 0) == 0 && i > before &&
          i + 1 < lines.size() && lines[i - 1].rfind("CPdfObject::getPageMode() res = 1", 0) == 0 &&
          lines[i + 1].rfind("CPdfObject::getPageMediaBox() res = 0 left = 0 top = 792, right = 612", 0) == 0) {
        converterTimedOut = true;
      }
    }
    EXPECT_TRUE(traced) << "no trace line names the deadline";
  }
  EXPECT_TRUE(converterTimedOut) << "no step count stopped the inquiry inside the converter";
  EXPECT_GT(steps, 3);
  parser.reset();
  outside::g_traceA.SetSink(previousSink);
}

}  // namespace
}  // namespace pdfparse::test
