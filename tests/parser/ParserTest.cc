// The parser front end: the one worker that all parsers share, the hand-off
// of inquiries to it, and what happens when the platform fails under it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/framework/Framework.h"
#include "outside/trace/LibraryTraces.h"
#include "parser/CPdfParse.h"
#include "parser/CTreadObject.h"
#include "support/ScriptedEngine.h"

namespace pdfparse::test {
namespace {

using namespace outside;
using Lines = std::vector<std::string>;

// Breaks single calls of the worker hand-off; everything else goes to the
// real platform. The worker object creates the request event and then the
// done event, so odd CreateEventA calls make request events.
class FaultyPlatform : public PlatformWrapper {
 public:
  FaultyPlatform() : PlatformWrapper(Platform::Default()) {}

  int failEventAt = 0;  // this CreateEventA call (counted from 1) fails
  // failThread: the next CreateThread fails. lateStart: the next bounded
  // wait on the done event times out once the start signal is pending, and
  // leaves it pending. requestWaitFails: the worker's next wait for a
  // request takes the request, then fails.
  std::atomic<bool> failThread{false}, lateStart{false}, requestWaitFails{false};
  // Bounded waits on the done event time out at once, and the worker's
  // answer waits until one of them has.
  std::atomic<bool> quitLate{false}, timedOut{false}, answeredLate{false};
  std::vector<HANDLE> closed;  // closed on the test thread
  std::atomic<HANDLE> thread{nullptr};

  HANDLE CreateEventA(bool manual, bool initial) override {
    const int n = ++events_;
    HANDLE h = n == failEventAt ? nullptr : target()->CreateEventA(manual, initial);
    (n % 2 ? request_ : done_) = h;
    return h;
  }
  HANDLE CreateThread(LPTHREAD_START_ROUTINE r, void* a, DWORD f, DWORD* id) override {
    if (failThread.exchange(false)) return nullptr;
    return thread = target()->CreateThread(r, a, f, id);
  }
  bool SetEvent(HANDLE h) override {
    if (h != done_ || !quitLate) return target()->SetEvent(h);
    timedOut.wait(false);
    const bool r = target()->SetEvent(h);
    answeredLate = true;
    return r;
  }
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override {
    if (h == done_ && ms != INFINITE && quitLate) {
      timedOut = true;
      timedOut.notify_all();
      return WAIT_TIMEOUT;
    }
    if (h == done_ && ms != INFINITE && lateStart.exchange(false)) {
      target()->WaitForSingleObject(h, INFINITE);
      target()->SetEvent(h);
      return WAIT_TIMEOUT;
    }
    if (h == request_ && requestWaitFails.exchange(false)) {
      target()->WaitForSingleObject(h, INFINITE);
      return WAIT_FAILED;
    }
    return target()->WaitForSingleObject(h, ms);
  }
  bool CloseHandle(HANDLE h) override {
    closed.push_back(h);
    return target()->CloseHandle(h);
  }

 private:
  int events_ = 0;
  std::atomic<HANDLE> request_{nullptr}, done_{nullptr};
};

const std::string kCritSect = "CPdfParse::CPdfPars() was Init CRITICAL_SECTION";
const std::string kResume = "CTreadObject::init() ResumeThread";
const std::string kStarted = "CPdfParse::workingTread() started";
const std::string kObjEnd = "CTreadObject::~CTreadObject() End";
const Lines kStop = {"CPdfParse::releasePdfObj() Begin", "CPdfParse::releasePdfObj() end",
                     "CPdfParse::workingTread() completed", "CTreadObject::~CTreadObject() thread end OK", kObjEnd};

std::string End(int res, int status) {
  return "CPdfParse::runInquiry() End res = " + std::to_string(res) + " m_status = " + std::to_string(status);
}
std::string Begin(DWORD id) { return "CPdfParse::runInquiry() Begin sm_threadId = " + std::to_string(id) + " "; }

class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CPdfParse::instanceCount(), 0) << "a parser outlived an earlier test";
    engine.defaultDoc = ScriptedDoc::WithPages(2);
    engine.failOpen = {"fail"};
    previousA_ = g_traceA.SetSink(nullptr);
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
  // Lines written on trace object B since the last call.
  Lines take() {
    Lines lines = sinkB->lines();
    sinkB->clear();
    return lines;
  }

  ScriptedEngine engine;
  std::shared_ptr<RecordingSink> sinkB = std::make_shared<RecordingSink>();

 private:
  std::shared_ptr<TraceSink> previousA_, previousB_;
};

TEST_F(ParserTest, OneWorkerIsSharedAndStopsWithTheLastParser) {
  auto idle = Make();
  ASSERT_NE(CPdfParse::threadObject(), nullptr);
  EXPECT_EQ(CPdfParse::threadObject()->m_hThread, nullptr) << "no thread before init";
  EXPECT_EQ(sinkB->records().at(1).text, "CPdfParse Start " + std::string(60, '='));
  idle.reset();  // never started: nothing is posted
  EXPECT_EQ(take(), (Lines{kCritSect, kObjEnd}));
  EXPECT_EQ(sinkB->count(TraceCall::CreateInstance), sinkB->count(TraceCall::ReleaseInstance));

  auto p1 = Make(), p2 = Make();
  CTreadObject* worker = CPdfParse::threadObject();
  ASSERT_TRUE(p1->init() && p1->init() && p2->init());
  EXPECT_EQ(take(), (Lines{kCritSect, kCritSect, kResume, kStarted}));
  p1.reset();
  EXPECT_EQ(CPdfParse::threadObject(), worker);
  EXPECT_TRUE(take().empty());
  p2.reset();
  EXPECT_EQ(take(), kStop);
  auto fresh = Make();
  ASSERT_TRUE(fresh->init());
  EXPECT_EQ(take(), (Lines{kCritSect, kResume, kStarted}));
}

TEST_F(ParserTest, TheFactoryRefusesWithoutMemoryOrRegistration) {
  FailFrameworkAllocationsForTesting(1, 1);  // the parser's critical section
  EXPECT_EQ(CreateCPdfParse(0), nullptr);
  FailModuleRegistrationForTesting("framework refused the module");
  EXPECT_FALSE(AfxInitExtensionModule(g_pdfParseModule, &g_pdfParseModule));
  EXPECT_EQ(CreateCPdfParse(0), nullptr);
  EXPECT_EQ(take(), (Lines{"--ERROR--CreateCPdfParse() library not registered with the framework: "
                           "framework refused the module"}));
  ASSERT_TRUE(AfxInitExtensionModule(g_pdfParseModule, &g_pdfParseModule));
  EXPECT_NE(Make(), nullptr);
}

TEST_F(ParserTest, AnswersReachTheirAskersAndTheServedParserMayGo) {
  engine.docs["three.pdf"] = ScriptedDoc::WithPages(3);
  auto p1 = Make(), p2 = Make();
  take();
  PdfInquiryRec r1, r2;
  EXPECT_TRUE(p1->runInquiry("three.pdf", &r1));
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_EQ(take(), (Lines{kResume, kStarted, Begin(worker->m_threadId), "CPdfParse::workingTread() MES_INQUIRY",
                           "CPdfParse::initPdfObj() End res = 1", "CPdfParse::runInquiryLevel1() End res = 1",
                           "CPdfParse::runInquiryPdfObj() End res = 1", End(1, 0)}));
  r2.numPages = -7;
  EXPECT_FALSE(p2->runInquiry("fail.pdf", &r2));
  EXPECT_EQ(take().back(), End(0, 1));
  EXPECT_EQ(std::make_tuple(p1->getStatus(), p2->getStatus(), r1.numPages, r2.numPages), std::make_tuple(0, 1, 3, -7));
  EXPECT_TRUE(p2->runInquiry("doc.pdf", &r2));
  EXPECT_FALSE(p1->runInquiry("fail.pdf", &r1));
  EXPECT_EQ(std::make_tuple(p1->getStatus(), p2->getStatus(), r2.numPages), std::make_tuple(1, 0, 2));

  // The served parser goes: its document object waits for the next asker.
  p1.reset();
  EXPECT_EQ(worker->servedParser(), nullptr);
  EXPECT_TRUE(worker->holdsDocumentObject());
  EXPECT_TRUE(p2->runInquiry("doc.pdf", &r2));
  EXPECT_EQ(worker->servedParser(), static_cast<CPdfParse*>(p2.get()));
  EXPECT_EQ(engine.calls("PDFLInit"), 1) << "one document object for all parsers";
  EXPECT_EQ(engine.calls("PDFLTerm"), 0);
  p2.reset();
  EXPECT_EQ(engine.calls("PDFLTerm"), 1);
}

// A parser, not yet started, over the faulty platform (which breaks nothing
// until told to).
class FaultTest : public ParserTest {
 protected:
  void SetUp() override {
    ParserTest::SetUp();
    SetPlatformForTesting(&fake);
    p = Make();
    take();
  }
  void TearDown() override {
    p.reset();
    ParserTest::TearDown();
  }
  FaultyPlatform fake;
  std::unique_ptr<CPdfParseIf> p;
  PdfInquiryRec rec;
};

TEST_F(FaultTest, NullArgumentsPostNothingAndFailWithStatusOne) {
  EXPECT_FALSE(p->runInquiry(nullptr, &rec));  // starts the worker all the same
  EXPECT_EQ(take(), (Lines{kResume, kStarted, "--ERROR--CPdfParse::runInquiry() fileName = NULL", End(0, 1)}));
  // Each right after a success, whose status 0 must not show through.
  const std::pair<std::function<bool()>, std::string> cases[] = {
      {[&] { return p->runInquiry(nullptr, &rec); }, "--ERROR--CPdfParse::runInquiry() fileName = NULL"},
      {[&] { return p->runInquiry("doc.pdf", nullptr); }, "--ERROR--CPdfParse::runInquiry() rec = NULL"},
  };
  for (const auto& [call, line] : cases) {
    ASSERT_TRUE(p->runInquiry("doc.pdf", &rec)) << "the worker still waits for requests";
    take();
    EXPECT_FALSE(call());
    EXPECT_EQ(p->getStatus(), 1) << line;
    EXPECT_EQ(take(), (Lines{line, End(0, 1)}));
  }
  EXPECT_EQ(engine.calls("PDDocOpenEx"), 2) << "only the good inquiries reached the worker";
}

TEST_F(FaultTest, StartUpFailuresReleaseWhatWasMadeAndTheNextCallRetries) {
  fake.failEventAt = 2;  // the done event
  EXPECT_FALSE(p->init());
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_EQ(std::make_tuple(worker->m_hThread, worker->m_hRequestEvent, worker->m_hDoneEvent),
            std::make_tuple(nullptr, nullptr, nullptr));
  // The request event and the suspended thread, which ends without running.
  ASSERT_EQ(fake.closed.size(), 2u);
  EXPECT_EQ(fake.closed[1], fake.thread.load());
  fake.failThread = true;
  EXPECT_FALSE(p->init());
  EXPECT_EQ(fake.closed.size(), 4u) << "both events are released";
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
}

TEST_F(FaultTest, ALateStartSignalIsNotTakenForTheAnswer) {
  fake.lateStart = true;
  EXPECT_TRUE(p->init());
  EXPECT_EQ(take(), (Lines{kResume, kStarted, "--ERROR--CTreadObject::init() TIME_WAITING_INIT_THREAD"}));
  // Taken for the answer, the pending start signal would end runInquiry
  // before the worker ran, with status 0.
  EXPECT_FALSE(p->runInquiry("fail.pdf", &rec));
  EXPECT_EQ(p->getStatus(), 1);
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
}

TEST_F(FaultTest, AnEndedWorkerFailsFastAndTheNextInitRestartsIt) {
  fake.requestWaitFails = true;
  EXPECT_FALSE(p->runInquiry("doc.pdf", &rec));  // woken and told, instead of waiting for ever
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_EQ(take(), (Lines{kResume, kStarted, Begin(worker->m_threadId), "CPdfParse::workingTread() E_FAIL",
                           "--ERROR--CTreadObject::post() worker ended without answering message 1178", End(0, 1)}));
  EXPECT_EQ(p->getStatus(), 1);
  EXPECT_TRUE(worker->workerEnded());
  EXPECT_EQ(worker->postInquiry(static_cast<CPdfParse*>(p.get()), "doc.pdf", &rec),
            CTreadObject::PostResult::WorkerEnded);
  EXPECT_EQ(take().back(), "--ERROR--CTreadObject::post() worker has ended, message 1178 not posted");

  HANDLE ended = fake.thread;
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
  EXPECT_NE(std::find(fake.closed.begin(), fake.closed.end(), ended), fake.closed.end()) << "joined";
  EXPECT_FALSE(worker->workerEnded());
  EXPECT_EQ(take().front(), kResume);
}

TEST_F(FaultTest, AWorkerLateForTheQuitDeadlineIsJoinedBeforeAnythingIsFreed) {
  ASSERT_TRUE(p->runInquiry("doc.pdf", &rec));
  take();
  fake.quitLate = true;
  p.reset();
  EXPECT_TRUE(fake.answeredLate) << "the worker still ran when its object was freed";
  const Lines lines = take(), expected = {kStop[0], kStop[1], kStop[2],
                                          "CTreadObject::~CTreadObject() thread end  may be --ERROR--", kObjEnd};
  EXPECT_TRUE(std::is_permutation(lines.begin(), lines.end(), expected.begin(), expected.end()));
  EXPECT_EQ(lines.back(), kObjEnd);
  EXPECT_EQ(engine.calls("PDFLTerm"), 1);
}

// Holds the worker inside the next inquiry, in its page count, until the test
// lets it go; the minute is a guard against a hang, not a time being measured.
struct HoldingEngine : pdfl::PdflEngineWrapper {
  using PdflEngineWrapper::PdflEngineWrapper;
  std::atomic<bool> hold{false};  // set by the test: hold the next inquiry
  std::promise<void> inside, letGo;
  std::atomic<bool> held{false};  // the worker is held now
  bool letGoFirst = false;        // the test let it go before the guard ran out
  ASInt32 PDDocGetNumPages(PDDoc doc) override {
    if (hold.exchange(false)) {
      held = true;
      inside.set_value();
      letGoFirst = letGoSignal_.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
      held = false;
    }
    return PdflEngineWrapper::PDDocGetNumPages(doc);
  }

 private:
  std::future<void> letGoSignal_ = letGo.get_future();
};

TEST_F(ParserTest, AnIdleParserGoesWithoutWaitingForAnotherParsersInquiry) {
  HoldingEngine holding(&engine);
  ScopedPdflEngine installed(&holding);
  auto served = Make(), never = Make(), busy = Make();
  PdfInquiryRec r1, r2;
  ASSERT_TRUE(served->runInquiry("doc.pdf", &r1));  // holds the document object until busy asks
  holding.hold = true;
  std::thread asker([&] { EXPECT_TRUE(busy->runInquiry("doc.pdf", &r2)); });
  holding.inside.get_future().wait();
  served.reset();
  never.reset();
  holding.letGo.set_value();
  asker.join();
  EXPECT_TRUE(holding.letGoFirst) << "a delete waited for another parser's inquiry";
  EXPECT_EQ(r2.numPages, 2);
  busy.reset();  // the last one still stops the worker
  EXPECT_EQ(std::make_pair(engine.calls("PDFLInit"), engine.calls("PDFLTerm")), std::make_pair(1, 1));
}

TEST_F(ParserTest, InitDoesNotWaitForAnotherParsersInquiry) {
  HoldingEngine holding(&engine);
  ScopedPdflEngine installed(&holding);
  auto busy = Make(), started = Make();
  ASSERT_TRUE(started->init());
  holding.hold = true;
  PdfInquiryRec rec;
  std::thread asker([&] { EXPECT_TRUE(busy->runInquiry("doc.pdf", &rec)); });
  holding.inside.get_future().wait();
  // A parser that has started the worker, and one made while it is held.
  auto fresh = Make();
  const bool startedInit = started->init(), freshInit = fresh->init();
  const bool stillHeld = holding.held;
  holding.letGo.set_value();
  asker.join();
  EXPECT_TRUE(startedInit);
  EXPECT_TRUE(freshInit);
  EXPECT_TRUE(stillHeld) << "init() waited for another parser's inquiry";
  EXPECT_TRUE(holding.letGoFirst);
  EXPECT_EQ(rec.numPages, 2);
  const Lines lines = take();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kResume), 1) << "one worker was started, once";
  EXPECT_TRUE(fresh->runInquiry("doc.pdf", &rec)) << "the worker goes on serving";
}

// In a child made by fork() the worker does not exist: the inquiry fails
// with a trace line, and the last parser's delete does not wait for it.
// The child reports through its exit code only, and makes no thread.
TEST_F(ParserTest, AParserInAForkedChildFailsInsteadOfWaitingForTheParentsWorker) {
  auto p = Make();
  PdfInquiryRec rec;
  ASSERT_TRUE(p->runInquiry("doc.pdf", &rec));
  take();
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    alarm(60);  // a hang guard: a child still waiting then is killed
    const bool ok = p->runInquiry("doc.pdf", &rec);
    const int status = p->getStatus();
    const Lines lines = take();
    p.reset();
    const Lines gone = take();
    const std::string ours = " (" + std::to_string(getpid()) + ")", parent = std::to_string(getppid());
    _exit(
        (ok ? 1 : 0) | (status != 1 ? 2 : 0) |
        (lines != Lines{"--ERROR--CTreadObject::init() worker of process " + parent + " does not run in this process" +
                            ours,
                        End(0, 1)}
             ? 4
             : 0) |
        (gone != Lines{"--ERROR--CTreadObject::~CTreadObject() worker of process " + parent + " left alone"} ? 8 : 0));
  }
  int waited = 0;
  ASSERT_EQ(waitpid(child, &waited, 0), child);
  EXPECT_TRUE(WIFEXITED(waited)) << "killed by signal " << WTERMSIG(waited);
  EXPECT_EQ(WEXITSTATUS(waited), 0) << "1: succeeded, 2: status not 1, 4: inquiry trace, 8: delete trace";
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec)) << "the parent's worker is untouched";
}

TEST_F(ParserTest, ParsersMadeAndDestroyedOnManyThreadsAtOnce) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        auto p = Make();
        PdfInquiryRec rec;
        if (!p || ((t + i) % 2 == 0 && (!p->runInquiry("doc.pdf", &rec) || rec.numPages != 2))) ++failures;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  // Every worker that was started was stopped.
  const Lines lines = take();
  const auto count = [&](const std::string& text) { return std::count(lines.begin(), lines.end(), text); };
  EXPECT_EQ(count(kStarted), count(kStop[2]));
}

TEST_F(ParserTest, StressEightHostThreadsOnFourParsers) {
  for (int t = 0; t < 8; ++t) engine.docs["ok-" + std::to_string(t) + ".pdf"] = ScriptedDoc::WithPages(t + 1);
  g_traceB.SetSink(nullptr);
  std::vector<std::unique_ptr<CPdfParseIf>> parsers;
  for (int i = 0; i < 4; ++i) parsers.push_back(Make());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      const std::string good = "ok-" + std::to_string(t) + ".pdf", bad = "fail-" + std::to_string(t) + ".pdf";
      for (int i = 0; i < 200; ++i) {
        const bool shouldFail = (i + t) % 3 == 0;
        PdfInquiryRec rec;
        rec.numPages = -1;
        const bool ok = parsers[t % 4]->runInquiry(shouldFail ? bad.c_str() : good.c_str(), &rec);
        if (ok == shouldFail || rec.numPages != (shouldFail ? -1 : t + 1)) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(engine.calls("PDFLInit"), 1);
  parsers.clear();
  EXPECT_EQ(engine.calls("PDFLTerm"), 1);
  EXPECT_EQ(engine.held(ScriptedEngine::kDoc), 0);
}

}  // namespace
}  // namespace pdfparse::test
