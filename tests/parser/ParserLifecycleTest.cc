// Construction and sharing of the worker object, starting and stopping the
// worker, the factory's failures.
#include "parser/ParserFixture.h"

namespace parser_test {
namespace {

using LifecycleTest = ParserTest;

TEST_F(LifecycleTest, FirstParserCreatesTheWorkerObjectButNoThread) {
  auto p = Make();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getStatus(), 0);
  EXPECT_EQ(CPdfParse::instanceCount(), 1);
  CTreadObject* worker = CPdfParse::threadObject();
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(worker->m_hThread, nullptr);
  EXPECT_EQ(worker->m_threadId, 0u);
  // The parser's and the worker object's.
  EXPECT_EQ(sinkB->count(TraceCall::CreateInstance), 2u);
  auto records = sinkB->records();
  auto banner = std::find_if(records.begin(), records.end(),
                             [](const TraceRecord& r) { return r.call == TraceCall::StartTrace; });
  ASSERT_NE(banner, records.end());
  EXPECT_EQ(banner->text, "CPdfParse Start " + std::string(60, '='));
  EXPECT_EQ(sinkB->lines(), std::vector<std::string>{kCritSect});

  // Never started: destroying it posts nothing.
  size_t m = mark();
  p.reset();
  EXPECT_EQ(linesSince(m), std::vector<std::string>{kObjEnd});
  EXPECT_EQ(sinkB->count(TraceCall::ReleaseInstance), 2u);
}

TEST_F(LifecycleTest, ParsersShareOneWorkerThatStopsWithTheLast) {
  auto p1 = Make();
  auto p2 = Make();
  EXPECT_EQ(CPdfParse::instanceCount(), 2);
  EXPECT_EQ(sinkB->count(TraceCall::CreateInstance), 3u);
  EXPECT_EQ(sinkB->count(TraceCall::StartTrace), 2u);
  CTreadObject* worker = CPdfParse::threadObject();

  ASSERT_TRUE(p1->init());
  ASSERT_TRUE(p1->init());
  ASSERT_TRUE(p2->init());
  auto lines = sinkB->lines();
  EXPECT_EQ(Count(lines, kResume), 1u);
  EXPECT_EQ(Count(lines, kStarted), 1u);
  EXPECT_TRUE(InOrder(lines, {kResume, kStarted}));
  EXPECT_NE(worker->m_threadId, 0u);

  size_t m = mark();
  p1.reset();
  EXPECT_EQ(CPdfParse::threadObject(), worker);
  EXPECT_EQ(CPdfParse::instanceCount(), 1);
  EXPECT_TRUE(linesSince(m).empty());
  EXPECT_EQ(sinkB->count(TraceCall::ReleaseInstance), 1u);

  p2.reset();
  lines = linesSince(m);
  EXPECT_EQ(lines, (std::vector<std::string>{kReleaseBegin, kReleaseEnd, kCompleted, kEndOk, kObjEnd}))
      << Join(lines);
  EXPECT_EQ(sinkB->count(TraceCall::ReleaseInstance), 3u);
}

TEST_F(LifecycleTest, ANewParserAfterTheLastGetsAFreshWorker) {
  DWORD firstId = 0;
  {
    auto p = Make();
    ASSERT_TRUE(p->init());
    firstId = CPdfParse::threadObject()->m_threadId;
  }
  EXPECT_EQ(CPdfParse::threadObject(), nullptr);
  size_t m = mark();
  auto p = Make();
  ASSERT_NE(CPdfParse::threadObject(), nullptr);
  EXPECT_EQ(CPdfParse::threadObject()->m_hThread, nullptr);
  ASSERT_TRUE(p->init());
  EXPECT_TRUE(InOrder(linesSince(m), {kResume, kStarted}));
  EXPECT_NE(CPdfParse::threadObject()->m_threadId, 0u);
  EXPECT_NE(CPdfParse::threadObject()->m_threadId, firstId);
}

TEST_F(LifecycleTest, ExhaustedMemoryWhileCreatingAParserYieldsNoParser) {
  FailFrameworkAllocationsForTesting(0, 1);  // the parser itself
  EXPECT_EQ(CreateCPdfParse(0), nullptr);
  EXPECT_EQ(CPdfParse::instanceCount(), 0);
  EXPECT_TRUE(sinkB->records().empty());

  FailFrameworkAllocationsForTesting(1, 1);  // its critical section
  EXPECT_EQ(CreateCPdfParse(0), nullptr);
  EXPECT_EQ(CPdfParse::instanceCount(), 0);
  EXPECT_EQ(CPdfParse::threadObject(), nullptr);
  EXPECT_EQ(sinkB->count(TraceCall::CreateInstance), sinkB->count(TraceCall::ReleaseInstance));
  EXPECT_TRUE(sinkB->lines().empty());
}

TEST_F(LifecycleTest, MissingWorkerObjectFailsInitUntilALaterParserMakesOne) {
  FailFrameworkAllocationsForTesting(2, 1);  // the worker object
  auto p1 = Make();
  ASSERT_NE(p1, nullptr);
  EXPECT_EQ(CPdfParse::threadObject(), nullptr);
  EXPECT_EQ(CPdfParse::instanceCount(), 1);

  size_t m = mark();
  PdfInquiryRec rec;
  EXPECT_FALSE(p1->init());
  EXPECT_FALSE(p1->runInquiry("a.pdf", &rec));
  EXPECT_EQ(linesSince(m), (std::vector<std::string>{"--ERROR--CPdfParse::init() sm_threadObj = NULL",
                                                     "--ERROR--CPdfParse::init() sm_threadObj = NULL",
                                                     EndLine(0, 0)}));

  auto p2 = Make();
  ASSERT_NE(CPdfParse::threadObject(), nullptr);
  EXPECT_TRUE(p1->init());
}

TEST_F(LifecycleTest, FailedRegistrationAtLoadMakesTheFactoryRefuseWithAReason) {
  FailModuleRegistrationForTesting("framework refused the module");
  EXPECT_FALSE(AfxInitExtensionModule(g_pdfParseModule, &g_pdfParseModule));
  EXPECT_EQ(CreateCPdfParse(0), nullptr);
  EXPECT_EQ(CPdfParse::instanceCount(), 0);
  EXPECT_EQ(sinkB->lines(),
            std::vector<std::string>{"--ERROR--CreateCPdfParse() library not registered with the "
                                     "framework: framework refused the module"});

  // A successful registration (as at a normal load) lets parsers be made.
  ASSERT_TRUE(AfxInitExtensionModule(g_pdfParseModule, &g_pdfParseModule));
  size_t chained = ExtensionLibraryCount();
  {
    CDynLinkLibrary link(g_pdfParseModule, false);
    EXPECT_EQ(ExtensionLibraryCount(), chained + 1);
    auto p = Make();
    EXPECT_NE(p, nullptr);
  }
  EXPECT_EQ(ExtensionLibraryCount(), chained);
  AfxTermExtensionModule(g_pdfParseModule, false);
  EXPECT_EQ(g_pdfParseModule.failure, nullptr);
}

TEST_F(LifecycleTest, StartedWithoutAParserTheWorkerEndsAndIsReplacedByTheNextInit) {
  FaultyPlatform fake;
  SetPlatformForTesting(&fake);
  fake.initWaitTimesOutAfterThreadEnd = true;  // no start signal can come
  auto p = Make();
  size_t m = mark();
  CTreadObject* worker = CPdfParse::threadObject();
  EXPECT_TRUE(worker->init(nullptr));
  EXPECT_EQ(linesSince(m), (std::vector<std::string>{kResume, kEInvalidArg, kInitTimeout}));
  EXPECT_TRUE(worker->workerEnded());

  // The next init joins the ended thread and starts one bound to the parser.
  HANDLE ended = fake.lastThread();
  m = mark();
  PdfInquiryRec rec;
  EXPECT_TRUE(p->runInquiry("doc.pdf", &rec));
  EXPECT_TRUE(fake.wasClosed(ended));
  EXPECT_TRUE(InOrder(linesSince(m), {kResume, kStarted, kInquiry, EndLine(1, 0)})) << Join(linesSince(m));
}

}  // namespace
}  // namespace parser_test
