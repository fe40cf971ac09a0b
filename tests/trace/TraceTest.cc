// The trace facility: formatting, instance bookkeeping, concurrent use of
// one object, and the sinks a user gets from PDFPARSE_TRACE.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "outside/platform/Platform.h"
#include "outside/trace/CDravikTrace.h"
#include "outside/trace/LibraryTraces.h"
#include "outside/trace/StreamSinks.h"

namespace {

using namespace outside;

class TraceObject : public ::testing::Test {
 protected:
  void SetUp() override { trace.SetSink(sink); }
  CDravikTrace trace;
  std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

TEST_F(TraceObject, LinesAreFormattedAndTaggedWithInstanceAndThread) {
  trace.OutputEx(kTraceInstance, "CPdfParse::runInquiry() End res = %d m_status = %d", 1, 0);
  trace.Output("value %s %ld %ul", "x", 12L, 5u);
  auto records = sink->records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].call, TraceCall::OutputEx);
  EXPECT_EQ(records[0].instance, "Rip\\PdfParseServer");
  EXPECT_EQ(records[0].text, "CPdfParse::runInquiry() End res = 1 m_status = 0");
  EXPECT_EQ(records[0].threadId, Platform::Default()->GetCurrentThreadId());
  EXPECT_EQ(records[1].call, TraceCall::Output);
  EXPECT_EQ(records[1].instance, "");
  EXPECT_EQ(records[1].text, "value x 12 5l");
}

TEST_F(TraceObject, LongLinesAreKeptWhole) {
  std::string name(3000, 'n');
  trace.OutputEx(kTraceInstance, "open %s end", name.c_str());
  ASSERT_EQ(sink->lines().size(), 1u);
  EXPECT_EQ(sink->lines()[0], "open " + name + " end");
}

TEST_F(TraceObject, StartTraceAndInstanceBookkeeping) {
  EXPECT_TRUE(trace.CreateTraceInstance(kTraceInstance));
  EXPECT_TRUE(trace.CreateTraceInstance(kTraceInstance));
  trace.StartTrace("CPdfParse Start ", '=', 60);
  EXPECT_TRUE(trace.ReleaseInstance(kTraceInstance));
  EXPECT_TRUE(trace.ReleaseInstance(kTraceInstance));
  EXPECT_FALSE(trace.ReleaseInstance(kTraceInstance));  // one more than created
  EXPECT_FALSE(trace.ReleaseInstance("Other"));
  EXPECT_EQ(sink->count(TraceCall::CreateInstance), 2u);
  EXPECT_EQ(sink->count(TraceCall::ReleaseInstance), 4u);
  auto records = sink->records();
  ASSERT_EQ(records[2].call, TraceCall::StartTrace);
  EXPECT_EQ(records[2].text, "CPdfParse Start " + std::string(60, '='));
}

TEST_F(TraceObject, SinkCanBeReplacedOrRemoved) {
  auto second = std::make_shared<RecordingSink>();
  EXPECT_EQ(trace.SetSink(second), sink);
  trace.Output("to second");
  EXPECT_EQ(trace.SetSink(nullptr), second);
  trace.Output("dropped");
  EXPECT_TRUE(sink->lines().empty());
  ASSERT_EQ(second->lines().size(), 1u);
  EXPECT_EQ(trace.sink(), nullptr);
}

TEST_F(TraceObject, AFailingSinkDoesNotFailTheCaller) {
  struct Throwing : TraceSink {
    void write(const TraceRecord&) override { throw std::runtime_error("disk full"); }
  };
  trace.SetSink(std::make_shared<Throwing>());
  EXPECT_NO_THROW(trace.OutputEx(kTraceInstance, "line %d", 1));
}

TEST_F(TraceObject, ConcurrentCallersEachGetWholeLines) {
  constexpr int kThreads = 8, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) trace.OutputEx(kTraceInstance, "thread %d line %d end", t, i);
    });
  for (auto& th : threads) th.join();
  auto records = sink->records();
  ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  std::vector<uint64_t> ids(kThreads, 0);
  for (const auto& r : records) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(r.text.c_str(), "thread %d line %d end", &t, &i), 2) << r.text;
    ASSERT_EQ(i, next[t]++) << "lines of one thread out of order";
    if (ids[t] == 0) ids[t] = r.threadId;
    EXPECT_EQ(ids[t], r.threadId);
  }
  for (int t = 1; t < kThreads; ++t) EXPECT_NE(ids[t], ids[0]);
}

TEST(LibraryTraceObjects, BothExistAndAreDistinct) {
  EXPECT_NE(&g_traceA, &g_traceB);
  auto sink = std::make_shared<RecordingSink>();
  auto previous = g_traceB.SetSink(sink);
  g_traceB.OutputEx(kTraceInstance, "b");
  g_traceB.SetSink(previous);
  EXPECT_EQ(sink->lines(), std::vector<std::string>{"b"});
}

// --- Line format and sinks --------------------------------------------------

TEST(TraceLineFormat, TimeThreadInstanceAndText) {
  TraceRecord r;
  r.call = TraceCall::OutputEx;
  r.threadId = 42;
  r.instance = kTraceInstance;
  r.text = "CTreadObject::init() ResumeThread";
  std::string line = FormatTraceLine(r, std::chrono::system_clock::now());
  std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[42\] Rip\\PdfParseServer: CTreadObject::init\(\) ResumeThread$)");
  EXPECT_TRUE(std::regex_match(line, shape)) << line;

  r.call = TraceCall::Output;
  r.instance.clear();
  r.text = "plain";
  line = FormatTraceLine(r, std::chrono::system_clock::now());
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(^\S+ \S+ \[42\] plain$)"))) << line;

  r.call = TraceCall::CreateInstance;
  EXPECT_EQ(FormatTraceLine(r, std::chrono::system_clock::now()), "");
}

std::string TempDir() {
  char pattern[] = "/tmp/pdfparse-trace-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "/tmp";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TraceRecord Line(const std::string& text) {
  TraceRecord r;
  r.call = TraceCall::OutputEx;
  r.threadId = 1;
  r.instance = kTraceInstance;
  r.text = text;
  return r;
}

TEST(TraceEnvironment, UnsetMeansNoOutputStderrAndFileAreHonoured) {
  const char* saved = std::getenv("PDFPARSE_TRACE");
  std::string savedValue = saved ? saved : "";

  unsetenv("PDFPARSE_TRACE");
  EXPECT_EQ(MakeSinkFromEnvironment(), nullptr);
  setenv("PDFPARSE_TRACE", "", 1);
  EXPECT_EQ(MakeSinkFromEnvironment(), nullptr);

  setenv("PDFPARSE_TRACE", "stderr", 1);
  auto err = MakeSinkFromEnvironment();
  ASSERT_NE(err, nullptr);
  ::testing::internal::CaptureStderr();
  err->write(Line("to stderr"));
  err->flush();
  std::string captured = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(captured.find("Rip\\PdfParseServer: to stderr\n"), std::string::npos) << captured;

  std::string path = TempDir() + "/trace.log";
  { std::ofstream(path) << "earlier run\n"; }
  setenv("PDFPARSE_TRACE", path.c_str(), 1);
  auto file = MakeSinkFromEnvironment();
  ASSERT_NE(file, nullptr);
  file->write(Line("to the file"));
  std::string content = ReadFile(path);  // flushed per line
  EXPECT_EQ(content.rfind("earlier run\n", 0), 0u) << "the file is appended to";
  EXPECT_NE(content.find("Rip\\PdfParseServer: to the file\n"), std::string::npos) << content;

  if (saved)
    setenv("PDFPARSE_TRACE", savedValue.c_str(), 1);
  else
    unsetenv("PDFPARSE_TRACE");
}

TEST(TraceFileSink, RotatesWhenTheSizeBoundIsReached) {
  std::string path = TempDir() + "/rot.log";
  auto sink = MakeRotatingFileSink(path, 2048, 2, nullptr);
  ASSERT_NE(sink, nullptr);
  for (int i = 0; i < 200; ++i) sink->write(Line("line " + std::to_string(i) + std::string(60, '.')));
  sink->flush();
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_LE(st.st_size, 2048);
  // Older files are numbered before the extension.
  std::string base = path.substr(0, path.size() - 4);
  EXPECT_TRUE(Exists(base + ".1.log"));
  EXPECT_TRUE(Exists(base + ".2.log"));
  EXPECT_FALSE(Exists(base + ".3.log"));
  EXPECT_NE(ReadFile(path).find("line 199"), std::string::npos);
}

TEST(TraceFileSink, AnUnopenablePathGivesNoSinkAndAReason) {
  std::string blocker = TempDir() + "/plainfile";
  { std::ofstream(blocker) << "x"; }
  std::string error;
  EXPECT_EQ(MakeRotatingFileSink(blocker + "/sub/trace.log", 1024, 1, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
