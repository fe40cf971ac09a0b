// The trace facility: what a trace object hands its sink, and the sinks a
// user gets from PDFPARSE_TRACE.
#include <gmock/gmock.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "outside/platform/Platform.h"
#include "outside/trace/CDravikTrace.h"
#include "outside/trace/LibraryTraces.h"
#include "outside/trace/StreamSinks.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

using namespace outside;

TEST(TraceObject, RecordsCallsTaggedWithInstanceAndThread) {
  CDravikTrace trace;
  auto sink = std::make_shared<RecordingSink>();
  trace.SetSink(sink);
  EXPECT_TRUE(trace.CreateTraceInstance(kTraceInstance));
  trace.StartTrace("CPdfParse Start ", '=', 60);
  const std::string name(3000, 'n');  // long lines are kept whole
  trace.OutputEx(kTraceInstance, "open %s end = %d", name.c_str(), 1);
  trace.Output("value %ld %ul", 12L, 5u);
  EXPECT_TRUE(trace.ReleaseInstance(kTraceInstance));
  EXPECT_FALSE(trace.ReleaseInstance(kTraceInstance));  // one more than created
  const auto r = sink->records();
  ASSERT_EQ(r.size(), 6u);
  const auto fields = [](const TraceRecord& record) { return std::tie(record.call, record.instance, record.text); };
  EXPECT_EQ(fields(r[1]), std::make_tuple(TraceCall::StartTrace, "", "CPdfParse Start " + std::string(60, '=')));
  EXPECT_EQ(fields(r[2]), std::make_tuple(TraceCall::OutputEx, "Rip\\PdfParseServer", "open " + name + " end = 1"));
  EXPECT_EQ(fields(r[3]), std::make_tuple(TraceCall::Output, "", "value 12 5l"));
  EXPECT_EQ(r[2].threadId, Platform::Default()->GetCurrentThreadId());

  // A failing sink does not fail the caller; no sink drops the lines.
  struct Throwing : TraceSink {
    void write(const TraceRecord&) override { throw std::runtime_error("disk full"); }
  };
  EXPECT_EQ(trace.SetSink(std::make_shared<Throwing>()), sink);
  EXPECT_NO_THROW(trace.OutputEx(kTraceInstance, "line %d", 1));
  trace.SetSink(nullptr);
  trace.Output("dropped");
  EXPECT_EQ(sink->records().size(), 6u);
}

// Text from a document reaches a sink cut to a bounded size, whichever call
// writes it, and a stream sink writes it as exactly one line.
TEST(TraceObject, DocumentTextIsCutAndWrittenAsOneEscapedLine) {
  CDravikTrace trace;
  auto sink = std::make_shared<RecordingSink>();
  trace.SetSink(sink);
  const std::string forged = "x\r\nCPdfParse::runInquiry() End res = 1 m_status = 0", a(kMaxTraceText - 1, 'a');
  const std::pair<std::string, std::string> cases[] = {
      // value, the end of its written line
      {forged, "x\\r\\nCPdfParse::runInquiry() End res = 1 m_status = 0"},
      {"tab\t\x01\x1f\x7f caf\xC3\xA9 back\\slash", "tab\\t\\x01\\x1f\\x7f caf\xC3\xA9 back\\slash"},
      {std::string(1u << 20, 'p'), std::string(kMaxTraceText, 'p') + "..."},  // a Producer of 1 MiB
      {a + "\xC3\xA9", a + "..."},                                            // not cut inside a character
  };
  for (const auto& [value, expected] : cases) {
    sink->clear();
    trace.OutputEx(kTraceInstance, "%s", value.c_str());
    trace.Output("%s", value.c_str());
    trace.StartTrace(value.c_str(), '=', 2);
    const auto r = sink->records();
    ASSERT_EQ(r.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
      const std::string line = FormatTraceLine(r[k], std::chrono::system_clock::now());
      const std::string end = k == 2 && value.size() < kMaxTraceText ? expected + "==" : expected;
      EXPECT_LE(r[k].text.size(), kMaxTraceText + 3);
      EXPECT_THAT(line, ::testing::EndsWith(end));
      EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(EscapeTraceText(std::string_view("a\0b", 3)), "a\\x00b");
}

TraceRecord Line(const std::string& text, TraceCall call = TraceCall::OutputEx) {
  return TraceRecord{call, 42, call == TraceCall::OutputEx ? kTraceInstance : "", text};
}

TEST(TraceSinks, EnvironmentChoosesNothingStderrOrAnAppendedFile) {
  const char* saved = std::getenv("PDFPARSE_TRACE");
  const std::string savedValue = saved ? saved : "";
  unsetenv("PDFPARSE_TRACE");
  EXPECT_EQ(MakeSinkFromEnvironment(), nullptr);
  setenv("PDFPARSE_TRACE", "", 1);
  EXPECT_EQ(MakeSinkFromEnvironment(), nullptr);

  // Time to the millisecond, thread, instance (none for Output) and text.
  setenv("PDFPARSE_TRACE", "stderr", 1);
  auto err = MakeSinkFromEnvironment();
  ASSERT_NE(err, nullptr);
  ::testing::internal::CaptureStderr();
  err->write(Line("CTreadObject::init() ResumeThread"));
  err->write(Line("", TraceCall::CreateInstance));  // not written
  err->write(Line("plain", TraceCall::Output));
  err->flush();
  const std::string captured = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(captured, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[42\] )"
                                                    R"(Rip\\PdfParseServer: CTreadObject::init\(\) ResumeThread\n)"
                                                    R"(\S+ \S+ \[42\] plain\n)")))
      << captured;

  pdfbuilder::TempDir dir;
  const std::string path = dir.write("trace.log", "earlier run\n");
  setenv("PDFPARSE_TRACE", path.c_str(), 1);
  auto file = MakeSinkFromEnvironment();
  ASSERT_NE(file, nullptr);
  file->write(Line("to the file"));
  std::stringstream read;
  read << std::ifstream(path).rdbuf();  // flushed per line
  const std::string content = read.str();
  EXPECT_EQ(content.rfind("earlier run\n", 0), 0u) << "the file is appended to";
  EXPECT_NE(content.find("Rip\\PdfParseServer: to the file\n"), std::string::npos) << content;

  // Nothing that is not a regular file is opened, and nothing blocks on a
  // FIFO without a reader: no trace, and the reason on stderr.
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const std::string& target : {dir.file("fifo"), dir.path(), std::string("/dev/null")}) {
    setenv("PDFPARSE_TRACE", target.c_str(), 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MakeSinkFromEnvironment(), nullptr) << target;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "pdfparse: cannot open trace file " + target + ": not a regular file\n");
  }
  if (saved)
    setenv("PDFPARSE_TRACE", savedValue.c_str(), 1);
  else
    unsetenv("PDFPARSE_TRACE");
}

}  // namespace
}  // namespace pdfparse::test
