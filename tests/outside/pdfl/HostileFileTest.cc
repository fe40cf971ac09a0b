// Files that decide how much memory and work an inquiry takes: decoded
// object streams, repeated pages, endless warnings. Bounded by counters and
// limits, never by time.
#include <cstring>

#include "document/Document.h"
#include "document/SilentLogger.h"
#include "document/WorkBudget.h"
#include "support/EngineFixture.h"
#include "support/RecordingPlatform.h"

namespace pdfparse::test {
namespace {

using document::MemoryLimitExceeded;
using document::WorkBudget;
using document::WorkLimitExceeded;

TEST(WorkBudgetLimitsTest, MemoryAndWarningsRunOutAndStayRunOut) {
  WorkBudget memory(1000, document::Limits{60000, 1 << 20});
  memory.chargeMemory(1 << 19, "half");
  try {
    memory.chargeMemory(1 << 20, "a decoded object stream");
    FAIL() << "past the limit";
  } catch (const MemoryLimitExceeded& e) {
    EXPECT_THAT(e.what(), HasSubstr("memory limit of 1 MiB reached: a decoded object stream"));
  }
  EXPECT_THROW(memory.chargeRead(1), MemoryLimitExceeded);  // every later charge, as the same kind
  EXPECT_THROW(memory.checkDeadline(), MemoryLimitExceeded);

  WorkBudget warnings(64 * 1000, 60000);
  EXPECT_EQ(warnings.maxWarnings(), 20000u + 1000u);
  auto logger = document::CountingLogger(std::shared_ptr<WorkBudget>(&warnings, [](WorkBudget*) {}));
  for (uint64_t i = 0; i < warnings.maxWarnings(); ++i)
    *logger->getWarn() << "WARNING: "
                       << "broken\n";
  EXPECT_THROW(*logger->getWarn() << "WARNING: one too many\n", WorkLimitExceeded);

  // The process's growth counts, read no more often than the clock allows.
  uint64_t now = 0, resident = 100 << 20;
  WorkBudget grown(1000, document::Limits{60000, 8 << 20, [&] { return now; }, [&] { return resident; }});
  resident += 9 << 20;
  EXPECT_NO_THROW(grown.checkDeadline());  // not read again yet
  now += 1000;
  EXPECT_THROW(grown.checkDeadline(), MemoryLimitExceeded);
}

TEST_F(EngineTest, DecodedObjectStreamsCountAgainstTheMemoryLimit) {
  RecordingPlatform platform;
  ScopedPlatform scoped(&platform);
  DocLayout doc = Pages(30000);
  doc.objectStreams = true;
  doc.info = {{"Producer", std::string(4000, 'x')}};
  const std::string bytes = BuildPdf(doc);
  ASSERT_LT(bytes.size(), 1u << 19);  // the file fits, its decoded object streams do not
  const std::string path = write("streams.pdf", bytes);
  platform.env["PDFPARSE_MEMORY_LIMIT_MB"] = "1";
  for (const char* reader : {"", "qpdf"}) {
    SCOPED_TRACE(reader);
    platform.env["PDFPARSE_READER"] = reader;
    std::string message;
    EXPECT_EQ(ErrorOf(
                  [&] {
                    PDDoc opened = open(path);
                    try {
                      engine_.PDDocGetNumPages(opened);
                    } catch (...) {
                      engine_.PDDocClose(opened);
                      throw;
                    }
                    engine_.PDDocClose(opened);
                  },
                  &message),
              err::kNoMemory);
    EXPECT_THAT(message, HasSubstr("memory limit of 1 MiB reached"));
    EXPECT_THAT(message, HasSubstr("object stream"));
  }
  platform.env["PDFPARSE_READER"] = "";
  platform.env["PDFPARSE_MEMORY_LIMIT_MB"] = "64";
  PDDoc opened = open(path);
  EXPECT_EQ(engine_.PDDocGetNumPages(opened), 30000);
  EXPECT_EQ(info(opened, "Producer"), std::string(4000, 'x'));
  engine_.PDDocClose(opened);
}

TEST_F(EngineTest, APageListedOverAndOverCostsOneEntry) {
  constexpr int kTimes = 200000;
  std::string kids;
  for (int i = 0; i < kTimes; ++i) kids += "3 0 R ";
  const std::string bytes = Assemble(RawDoc{{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Rotate 90 >>",
  }});
  auto buffer = std::make_shared<Buffer>(bytes.size());
  std::memcpy(buffer->getBuffer(), bytes.data(), bytes.size());
  document::Document parsed("kids.pdf", buffer, std::make_shared<WorkBudget>(bytes.size(), 60000), true);
  ASSERT_EQ(parsed.open(nullptr), document::Document::OpenResult::Opened);
  EXPECT_EQ(parsed.repairingWalk().count(), static_cast<size_t>(kTimes));
  EXPECT_EQ(parsed.pageTable().distinctPages(), 1u);

  PDDoc doc = open(write("kids.pdf", bytes));
  EXPECT_EQ(engine_.PDDocGetNumPages(doc), kTimes);
  EXPECT_EQ(rotation(doc, kTimes - 1), 90);
  EXPECT_EQ(box(doc, kTimes / 2, false), (std::vector<double>{0, 400, 300, 0}));
  engine_.PDDocClose(doc);
}

}  // namespace
}  // namespace pdfparse::test
