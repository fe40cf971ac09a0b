// Handing inquiries to the worker: what runInquiry traces and returns, whose
// status an answer sets, the one document object shared by all parsers, and
// many host threads at once.
#include <thread>

#include "parser/ParserFixture.h"

namespace parser_test {
namespace {

using testing_support::PdflCall;
using testing_support::ScriptedDoc;
using HandoffTest = ParserTest;

TEST_F(HandoffTest, NullFileNameStartsTheWorkerButPostsNothing) {
  auto p = Make();
  size_t m = mark();
  PdfInquiryRec rec;
  EXPECT_FALSE(p->runInquiry(nullptr, &rec));
  EXPECT_EQ(linesSince(m), (std::vector<std::string>{kResume, kStarted, EndLine(0, 0)}));
  EXPECT_NE(CPdfParse::threadObject()->m_hThread, nullptr);
  EXPECT_EQ(engine.totalCalls(), 0);
}

TEST_F(HandoffTest, NullRecordIsRefusedWithAnErrorAndPostsNothing) {
  auto p = Make();
  ASSERT_TRUE(p->init());
  size_t m = mark();
  EXPECT_FALSE(p->runInquiry("doc.pdf", nullptr));
  EXPECT_EQ(linesSince(m),
            (std::vector<std::string>{"--ERROR--CPdfParse::runInquiry() rec = NULL", EndLine(0, 0)}));
  EXPECT_EQ(engine.totalCalls(), 0);
  // The worker is still waiting for a request and answers the next one.
  PdfInquiryRec rec;
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
}

TEST_F(HandoffTest, AnsweredInquiryTracesBeginWorkerAndEnd) {
  auto p = Make();
  PdfInquiryRec rec;
  rec.level = 1;
  size_t m = mark();
  ASSERT_TRUE(p->runInquiry("doc.pdf", &rec));
  EXPECT_EQ(p->getStatus(), 0);
  EXPECT_EQ(rec.numPages, 2);
  DWORD id = CPdfParse::threadObject()->m_threadId;
  auto lines = linesSince(m);
  EXPECT_TRUE(InOrder(lines, {kResume, kStarted, BeginLine(id), kInquiry,
                              "CPdfParse::runInquiryPdfObj() End res = 1", EndLine(1, 0)}))
      << Join(lines);
  EXPECT_EQ(lines.back(), EndLine(1, 0));

  // The worker is back waiting: a second inquiry is handled the same way.
  m = mark();
  PdfInquiryRec again;
  ASSERT_TRUE(p->runInquiry("doc.pdf", &again));
  EXPECT_TRUE(InOrder(linesSince(m), {BeginLine(id), kInquiry, EndLine(1, 0)}));
  EXPECT_EQ(engine.calls(PdflCall::PDFLInit), 1);
}

TEST_F(HandoffTest, FailedInquiryReportsItsStatus) {
  auto p = Make();
  PdfInquiryRec rec;
  rec.numPages = -7;
  size_t m = mark();
  EXPECT_FALSE(p->runInquiry("fail.pdf", &rec));
  EXPECT_EQ(p->getStatus(), 1);
  EXPECT_EQ(rec.numPages, -7);
  EXPECT_EQ(linesSince(m).back(), EndLine(0, 1));
}

TEST_F(HandoffTest, EachAnswerReachesTheParserThatAskedAndOneEngineServesAll) {
  engine.addDocument("three.pdf", ScriptedDoc::WithPages(3));
  auto p1 = Make();
  auto p2 = Make();
  PdfInquiryRec r1, r2;
  EXPECT_TRUE(p1->runInquiry("three.pdf", &r1));
  EXPECT_FALSE(p2->runInquiry("fail.pdf", &r2));
  EXPECT_EQ(p1->getStatus(), 0);
  EXPECT_EQ(p2->getStatus(), 1);
  EXPECT_EQ(r1.numPages, 3);

  EXPECT_FALSE(p1->runInquiry("fail.pdf", &r1));
  EXPECT_TRUE(p2->runInquiry("doc.pdf", &r2));
  EXPECT_EQ(p1->getStatus(), 1);
  EXPECT_EQ(p2->getStatus(), 0);
  EXPECT_EQ(r2.numPages, 2);

  // One document object, so the PDF library was started once.
  EXPECT_EQ(engine.calls(PdflCall::PDFLInit), 1);
  EXPECT_EQ(CPdfParse::threadObject()->servedParser(), static_cast<CPdfParse*>(p2.get()));
  p1.reset();
  p2.reset();
  EXPECT_EQ(engine.calls(PdflCall::PDFLTerm), 1);
}

TEST_F(HandoffTest, DestroyingTheServedParserHandsTheWorkerOverWithoutARestart) {
  auto served = Make();
  auto other = Make();
  PdfInquiryRec rec;
  ASSERT_TRUE(served->runInquiry("doc.pdf", &rec));
  CTreadObject* worker = CPdfParse::threadObject();
  ASSERT_EQ(worker->servedParser(), static_cast<CPdfParse*>(served.get()));

  served.reset();
  EXPECT_EQ(worker->servedParser(), nullptr);
  EXPECT_TRUE(worker->holdsDocumentObject());
  EXPECT_EQ(engine.calls(PdflCall::PDFLTerm), 0);

  size_t m = mark();
  PdfInquiryRec next;
  EXPECT_TRUE(other->runInquiry("doc.pdf", &next));
  EXPECT_EQ(other->getStatus(), 0);
  EXPECT_EQ(worker->servedParser(), static_cast<CPdfParse*>(other.get()));
  EXPECT_EQ(engine.calls(PdflCall::PDFLInit), 1);
  EXPECT_FALSE(Has(linesSince(m), kResume));

  m = mark();
  other.reset();
  EXPECT_TRUE(InOrder(linesSince(m), {kReleaseBegin, kReleaseEnd, kCompleted, kEndOk, kObjEnd}));
  EXPECT_EQ(engine.calls(PdflCall::PDFLTerm), 1);
}

TEST_F(HandoffTest, ParsersMadeAndDestroyedOnManyThreadsAtOnce) {
  sinkB->clear();
  constexpr int kThreads = 8, kRounds = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        std::unique_ptr<CPdfParseIf> p(CreateCPdfParse(0));
        if (!p) {
          ++failures;
          continue;
        }
        if ((t + i) % 2 == 0) {
          PdfInquiryRec rec;
          if (!p->runInquiry("doc.pdf", &rec) || rec.numPages != 2) ++failures;
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(CPdfParse::instanceCount(), 0);
  EXPECT_EQ(CPdfParse::threadObject(), nullptr);
  EXPECT_EQ(sinkB->count(TraceCall::CreateInstance), sinkB->count(TraceCall::ReleaseInstance));
  // Every worker that was started was stopped.
  auto lines = sinkB->lines();
  EXPECT_EQ(Count(lines, kStarted), Count(lines, kCompleted));
  EXPECT_EQ(Count(lines, kEndOk), Count(lines, kCompleted));
}

TEST_F(HandoffTest, StressEightHostThreadsOnFourParsers) {
  constexpr int kParsers = 4, kThreads = 8, kInquiries = 200;
  for (int t = 0; t < kThreads; ++t)
    engine.addDocument("ok-" + std::to_string(t) + ".pdf", ScriptedDoc::WithPages(t + 1));
  // The recording of every line is not what this test is about.
  g_traceA.SetSink(nullptr);
  g_traceB.SetSink(nullptr);

  std::vector<std::unique_ptr<CPdfParseIf>> parsers;
  for (int i = 0; i < kParsers; ++i) parsers.push_back(Make());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      CPdfParseIf* p = parsers[t % kParsers].get();
      const std::string good = "ok-" + std::to_string(t) + ".pdf";
      const std::string bad = "fail-" + std::to_string(t) + ".pdf";
      for (int i = 0; i < kInquiries; ++i) {
        const bool shouldFail = (i + t) % 3 == 0;
        PdfInquiryRec rec;
        rec.numPages = -1;
        bool ok = p->runInquiry(shouldFail ? bad.c_str() : good.c_str(), &rec);
        int expectedPages = shouldFail ? -1 : t + 1;
        if (ok == shouldFail || rec.numPages != expectedPages) ++wrong;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(engine.calls(PdflCall::PDFLInit), 1);
  parsers.clear();
  EXPECT_EQ(engine.calls(PdflCall::PDFLTerm), 1);
  EXPECT_EQ(engine.docsOpen(), 0);
}

}  // namespace
}  // namespace parser_test
