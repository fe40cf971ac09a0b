// Shared pieces of the parser tests: a platform double that breaks single
// calls of the worker hand-off, a recording sink with a hook, and a fixture
// that installs the scripted PDF engine and records trace object B.
#ifndef PDFPARSE_TESTS_PARSER_PARSERFIXTURE_H_
#define PDFPARSE_TESTS_PARSER_PARSERFIXTURE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "outside/framework/Framework.h"
#include "outside/platform/Platform.h"
#include "outside/trace/LibraryTraces.h"
#include "parser/CPdfParse.h"
#include "parser/CTreadObject.h"
#include "pdfparse/CPdfParseIf.h"
#include "support/ScriptedEngine.h"

namespace parser_test {

using namespace outside;

// Breaks chosen calls of the worker hand-off; everything else goes to the
// real platform. The worker object creates the request event and then the
// done event, so odd CreateEventA calls make request events, even ones done
// events. Each "next" switch acts once.
class FaultyPlatform : public PlatformWrapper {
 public:
  FaultyPlatform() : PlatformWrapper(Platform::Default()) {
    startSignalled_ = target()->CreateEventA(true, false);
    releaseHold_ = target()->CreateEventA(true, false);
  }
  ~FaultyPlatform() override {
    target()->CloseHandle(startSignalled_);
    target()->CloseHandle(releaseHold_);
  }

  // The k-th CreateEventA call from now fails.
  void failEventCreation(int k) { failEventAt_ = eventCalls_.load() + k; }
  std::atomic<bool> failThreadCreation{false};
  // The next 5000 ms wait on the done event reports a time-out once the
  // worker's start signal is pending (the signal stays pending).
  std::atomic<bool> initWaitTimesOutAfterStart{false};
  // The next 5000 ms wait on the done event reports a time-out once the
  // worker thread has ended.
  std::atomic<bool> initWaitTimesOutAfterThreadEnd{false};
  // The next 5000 ms wait on the done event times out at once.
  std::atomic<bool> timedDoneWaitTimesOut{false};
  // The next unlimited wait on the done event fails at once.
  std::atomic<bool> posterWaitFails{false};
  // The worker's next wait for a request takes the request and then fails.
  std::atomic<bool> requestWaitFails{false};
  // The next SetEvent on the done event waits until releaseHold().
  std::atomic<bool> holdDoneSignal{false};
  std::atomic<bool> heldSignalDone{false};
  void releaseHold() { target()->SetEvent(releaseHold_); }

  int eventCalls() const { return eventCalls_.load(); }
  int threadCalls() const { return threadCalls_.load(); }
  HANDLE lastThread() const { return thread_.load(); }
  bool wasClosed(HANDLE h) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(closed_.begin(), closed_.end(), h) != closed_.end();
  }

  HANDLE CreateEventA(bool manual, bool initial) override {
    int n = ++eventCalls_;
    HANDLE h = n == failEventAt_.load() ? nullptr : target()->CreateEventA(manual, initial);
    (n % 2 ? request_ : done_).store(h);
    return h;
  }
  HANDLE CreateThread(LPTHREAD_START_ROUTINE r, void* a, DWORD f, DWORD* id) override {
    ++threadCalls_;
    if (failThreadCreation.exchange(false)) return nullptr;
    HANDLE h = target()->CreateThread(r, a, f, id);
    thread_.store(h);
    return h;
  }
  bool SetEvent(HANDLE h) override {
    if (h != nullptr && h == done_.load()) {
      if (holdDoneSignal.exchange(false)) {
        target()->WaitForSingleObject(releaseHold_, INFINITE);
        bool r = target()->SetEvent(h);
        heldSignalDone = true;
        return r;
      }
      bool r = target()->SetEvent(h);
      target()->SetEvent(startSignalled_);
      return r;
    }
    return target()->SetEvent(h);
  }
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override {
    if (h != nullptr && h == done_.load()) {
      if (ms == 5000 && initWaitTimesOutAfterStart.exchange(false)) {
        target()->WaitForSingleObject(startSignalled_, INFINITE);
        return WAIT_TIMEOUT;
      }
      if (ms == 5000 && initWaitTimesOutAfterThreadEnd.exchange(false)) {
        target()->WaitForSingleObject(thread_.load(), INFINITE);
        return WAIT_TIMEOUT;
      }
      if (ms <= 5000 && timedDoneWaitTimesOut.exchange(false)) return WAIT_TIMEOUT;
      if (ms == INFINITE && posterWaitFails.exchange(false)) return WAIT_FAILED;
    }
    if (h != nullptr && h == request_.load() && requestWaitFails.exchange(false)) {
      target()->WaitForSingleObject(h, INFINITE);
      return WAIT_FAILED;
    }
    return target()->WaitForSingleObject(h, ms);
  }
  bool CloseHandle(HANDLE h) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_.push_back(h);
    }
    return target()->CloseHandle(h);
  }

 private:
  std::atomic<int> eventCalls_{0};
  std::atomic<int> failEventAt_{0};
  std::atomic<int> threadCalls_{0};
  std::atomic<HANDLE> request_{nullptr};
  std::atomic<HANDLE> done_{nullptr};
  std::atomic<HANDLE> thread_{nullptr};
  HANDLE startSignalled_;
  HANDLE releaseHold_;
  std::mutex mutex_;
  std::vector<HANDLE> closed_;
};

// Records like RecordingSink and calls `hook` with each line's text (with
// the trace object's lock held: the hook must not trace or block).
class HookedSink : public RecordingSink {
 public:
  std::function<void(const std::string&)> hook;
  void write(const TraceRecord& record) override {
    RecordingSink::write(record);
    if (hook) hook(record.text);
  }
};

class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CPdfParse::instanceCount(), 0) << "a parser outlived an earlier test";
    ASSERT_EQ(CPdfParse::threadObject(), nullptr);
    engine.setDefaultDocument(testing_support::ScriptedDoc::WithPages(2));
    engine.failOpen("fail");
    previousA_ = g_traceA.SetSink(sinkA);
    previousB_ = g_traceB.SetSink(sinkB);
  }
  void TearDown() override {
    EXPECT_EQ(CPdfParse::instanceCount(), 0);
    EXPECT_EQ(CPdfParse::threadObject(), nullptr);
    SetPlatformForTesting(nullptr);
    FailFrameworkAllocationsForTesting(0, 0);
    g_traceA.SetSink(previousA_);
    g_traceB.SetSink(previousB_);
  }

  static std::unique_ptr<CPdfParseIf> Make() { return std::unique_ptr<CPdfParseIf>(CreateCPdfParse(0)); }

  // Lines written on trace object B since `mark` (an index from lines()).
  std::vector<std::string> linesSince(size_t mark) const {
    auto all = sinkB->lines();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
  }
  size_t mark() const { return sinkB->lines().size(); }

  static size_t Count(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& text) {
    return Count(lines, text) > 0;
  }
  // True when `expected` appear in `lines` in this order (others may lie between).
  static bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const auto& line : lines)
      if (at < expected.size() && line == expected[at]) ++at;
    return at == expected.size();
  }
  static std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += "  " + l + "\n";
    return s;
  }

  testing_support::ScriptedEngine engine;
  testing_support::ScopedPdflEngine scopedEngine{&engine};
  std::shared_ptr<RecordingSink> sinkA = std::make_shared<RecordingSink>();
  std::shared_ptr<HookedSink> sinkB = std::make_shared<HookedSink>();

 private:
  std::shared_ptr<TraceSink> previousA_;
  std::shared_ptr<TraceSink> previousB_;
};

// The lines of the worker's life, as written.
inline const std::string kResume = "CTreadObject::init() ResumeThread";
inline const std::string kStarted = "CPdfParse::workingTread() started";
inline const std::string kInquiry = "CPdfParse::workingTread() MES_INQUIRY";
inline const std::string kCompleted = "CPdfParse::workingTread() completed";
inline const std::string kEFail = "CPdfParse::workingTread() E_FAIL";
inline const std::string kEInvalidArg = "CPdfParse::workingTread() E_INVALIDARG";
inline const std::string kInitTimeout = "--ERROR--CTreadObject::init() TIME_WAITING_INIT_THREAD";
inline const std::string kEndOk = "CTreadObject::~CTreadObject() thread end OK";
inline const std::string kEndLate = "CTreadObject::~CTreadObject() thread end  may be --ERROR--";
inline const std::string kObjEnd = "CTreadObject::~CTreadObject() End";
inline const std::string kReleaseBegin = "CPdfParse::releasePdfObj() Begin";
inline const std::string kReleaseEnd = "CPdfParse::releasePdfObj() end";
inline const std::string kCritSect = "CPdfParse::CPdfPars() was Init CRITICAL_SECTION";

inline std::string EndLine(int res, int status) {
  return "CPdfParse::runInquiry() End res = " + std::to_string(res) +
         " m_status = " + std::to_string(status);
}
inline std::string BeginLine(DWORD threadId) {
  return "CPdfParse::runInquiry() Begin sm_threadId = " + std::to_string(static_cast<int>(threadId)) + " ";
}

}  // namespace parser_test

#endif  // PDFPARSE_TESTS_PARSER_PARSERFIXTURE_H_
