// The worker hand-off when the platform fails: events or the thread cannot
// be made, the start signal comes late, waits fail, the worker ends, or it
// answers the quit message after the deadline.
#include "parser/ParserFixture.h"

namespace parser_test {
namespace {

class FaultTest : public ParserTest {
 protected:
  void SetUp() override {
    ParserTest::SetUp();
    SetPlatformForTesting(&fake);
  }
  FaultyPlatform fake;
};

TEST_F(FaultTest, EventCreationFailsNothingRunsAndTheNextInitRetries) {
  auto p = Make();
  fake.failEventCreation(2);  // the done event
  size_t m = mark();
  EXPECT_FALSE(p->init());
  EXPECT_TRUE(linesSince(m).empty());
  // The thread was made suspended, released and joined without running.
  EXPECT_EQ(fake.threadCalls(), 1);
  EXPECT_TRUE(fake.wasClosed(fake.lastThread()));
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_EQ(worker->m_hThread, nullptr);
  EXPECT_EQ(worker->m_hDoneEvent, nullptr);
  EXPECT_EQ(worker->m_hRequestEvent, nullptr);
  EXPECT_EQ(worker->m_threadId, 0u);

  fake.failEventCreation(1);  // the request event, on the call inside runInquiry
  PdfInquiryRec rec;
  EXPECT_FALSE(p->runInquiry("doc.pdf", &rec));
  EXPECT_EQ(linesSince(m), std::vector<std::string>{EndLine(0, 0)});
  EXPECT_EQ(engine.totalCalls(), 0);

  EXPECT_TRUE(p->init());
  EXPECT_EQ(linesSince(m).back(), kStarted);
}

TEST_F(FaultTest, ThreadCreationFailsTheEventsAreReleased) {
  auto p = Make();
  fake.failThreadCreation = true;
  size_t m = mark();
  EXPECT_FALSE(p->init());
  EXPECT_TRUE(linesSince(m).empty());
  EXPECT_EQ(fake.eventCalls(), 2);
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_EQ(worker->m_hDoneEvent, nullptr);
  EXPECT_EQ(worker->m_hRequestEvent, nullptr);

  PdfInquiryRec rec;
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));  // tries again
  EXPECT_EQ(fake.threadCalls(), 2);
}

TEST_F(FaultTest, ALateStartSignalIsNotTakenForTheAnswer) {
  auto p = Make();
  fake.initWaitTimesOutAfterStart = true;
  size_t m = mark();
  EXPECT_TRUE(p->init());  // a late start does not fail init
  EXPECT_EQ(linesSince(m), (std::vector<std::string>{kResume, kStarted, kInitTimeout}));

  // The start signal is still pending on the done event. Taken for the
  // answer, runInquiry would return before the worker ran, with status 0.
  PdfInquiryRec rec;
  m = mark();
  EXPECT_FALSE(p->runInquiry("fail.pdf", &rec));
  EXPECT_EQ(p->getStatus(), 1);
  auto lines = linesSince(m);
  EXPECT_TRUE(InOrder(lines, {kInquiry, "CPdfParse::runInquiryPdfObj() End res = 0", EndLine(0, 1)}))
      << Join(lines);
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
}

TEST_F(FaultTest, AnEndedWorkerAnswersNothingAndTheNextInitRestartsIt) {
  auto p = Make();
  fake.requestWaitFails = true;
  PdfInquiryRec rec;
  size_t m = mark();
  // The worker takes the request, its wait fails, it ends: the waiting
  // caller is woken and told, instead of waiting for ever.
  EXPECT_FALSE(p->runInquiry("doc.pdf", &rec));
  auto lines = linesSince(m);
  EXPECT_TRUE(InOrder(lines, {kEFail, "--ERROR--CTreadObject::post() worker ended without answering message 1178",
                              EndLine(0, 0)}))
      << Join(lines);
  EXPECT_FALSE(Has(lines, kInquiry));
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_TRUE(worker->workerEnded());

  // A post that does not go through init fails at once.
  m = mark();
  EXPECT_EQ(worker->postInquiry(static_cast<CPdfParse*>(p.get()), "doc.pdf", &rec),
            CTreadObject::PostResult::WorkerEnded);
  EXPECT_TRUE(Has(linesSince(m), "--ERROR--CTreadObject::post() worker has ended, message 1178 not posted"));

  // init joins the ended thread and starts a fresh worker.
  HANDLE ended = fake.lastThread();
  m = mark();
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
  EXPECT_TRUE(fake.wasClosed(ended));
  EXPECT_TRUE(InOrder(linesSince(m), {kResume, kStarted, kInquiry, EndLine(1, 0)}));
  EXPECT_FALSE(worker->workerEnded());
}

TEST_F(FaultTest, AWorkerEndedAtStopIsNotWaitedFor) {
  auto p = Make();
  fake.requestWaitFails = true;
  PdfInquiryRec rec;
  EXPECT_FALSE(p->runInquiry("doc.pdf", &rec));
  size_t m = mark();
  p.reset();
  EXPECT_EQ(linesSince(m),
            (std::vector<std::string>{"--ERROR--CTreadObject::post() worker has ended, message 18 not posted",
                                      kEndLate, kObjEnd}));
}

TEST_F(FaultTest, AFailedWaitForTheAnswerIsReportedAndTheNextPostGetsItsOwn) {
  auto p = Make();
  ASSERT_TRUE(p->init());
  fake.posterWaitFails = true;
  PdfInquiryRec first;
  size_t m = mark();
  EXPECT_FALSE(p->runInquiry("doc.pdf", &first));
  EXPECT_TRUE(Has(linesSince(m), "--ERROR--CPdfParse::runInquiry() WaitForSingleObject "));

  // The first inquiry's answer is still to come; the next post waits for it
  // to clear the slot, then for its own.
  PdfInquiryRec second;
  EXPECT_FALSE(p->runInquiry("fail.pdf", &second));
  EXPECT_EQ(p->getStatus(), 1);
  EXPECT_EQ(first.numPages, 2) << Join(linesSince(m)) << Join(sinkA->lines());
  EXPECT_TRUE(p->runInquiry("doc.pdf", &second));
}

TEST_F(FaultTest, AWorkerLateForTheQuitDeadlineIsJoinedBeforeAnythingIsFreed) {
  auto p = Make();
  PdfInquiryRec rec;
  ASSERT_TRUE(p->runInquiry("doc.pdf", &rec));

  // The worker's answer to the quit message is held back until the
  // destroying thread has given up waiting for it.
  std::atomic<bool> workerDoneAtEnd{false};
  sinkB->hook = [&](const std::string& line) {
    if (line == kEndLate) fake.releaseHold();
    if (line == kObjEnd) workerDoneAtEnd = fake.heldSignalDone.load();
  };
  fake.holdDoneSignal = true;
  fake.timedDoneWaitTimesOut = true;
  size_t m = mark();
  p.reset();
  auto lines = linesSince(m);
  EXPECT_TRUE(InOrder(lines, {kEndLate, kObjEnd})) << Join(lines);
  EXPECT_TRUE(InOrder(lines, {kReleaseBegin, kReleaseEnd, kCompleted, kObjEnd})) << Join(lines);
  EXPECT_TRUE(workerDoneAtEnd.load()) << "the worker still ran when the worker object was freed";
  EXPECT_EQ(engine.calls(testing_support::PdflCall::PDFLTerm), 1);
  sinkB->hook = nullptr;
}

}  // namespace
}  // namespace parser_test
