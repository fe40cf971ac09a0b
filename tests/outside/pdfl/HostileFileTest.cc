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

using document::Error;
using document::ErrorCode;
using document::WorkBudget;

TEST(WorkBudgetLimitsTest, MemoryAndWarningsRunOutAndStayRunOut) {
  WorkBudget memory(1000, document::Limits{60000, 1 << 20});
  memory.chargeMemory(1 << 19, "half");
  try {
    memory.chargeMemory(1 << 20, "a decoded object stream");
    FAIL() << "past the limit";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::kMemoryLimit);
    EXPECT_THAT(e.what(), HasSubstr("memory limit of 1 MiB reached: a decoded object stream"));
  }
  auto code = [](auto&& call) {
    try {
      call();
    } catch (const Error& e) {
      return e.code();
    }
    return ErrorCode::kInternal;
  };
  EXPECT_EQ(code([&] { memory.chargeRead(1); }), ErrorCode::kMemoryLimit);  // every later charge, as the same kind
  EXPECT_EQ(code([&] { memory.checkDeadline(); }), ErrorCode::kMemoryLimit);

  // Warnings are counted and passed on, and libqpdf's copies released, but
  // they fail nothing: a file that warns a million times is read all the same.
  WorkBudget warnings(64 * 1000, 60000);
  size_t passed = 0, released = 0;
  auto logger = document::CountingLogger(
      std::shared_ptr<WorkBudget>(&warnings, [](WorkBudget*) {}),
      [&](const std::string& text) { passed += text == "broken"; }, [&] { ++released; });
  for (int i = 0; i < 3000; ++i) {
    *logger->getWarn() << "WARNING: "
                       << "broken\n";
  }
  EXPECT_EQ(std::make_tuple(warnings.warnings(), passed, released), std::make_tuple(uint64_t{3000}, size_t{3000}, size_t{2}));

  // The process's growth counts, read no more often than the clock allows.
  uint64_t now = 0, resident = 100 << 20;
  WorkBudget grown(1000, document::Limits{60000, 8 << 20, [&] { return now; }, [&] { return resident; }});
  resident += 9 << 20;
  EXPECT_NO_THROW(grown.checkDeadline());  // not read again yet
  now += 1000;
  EXPECT_EQ(code([&] { grown.checkDeadline(); }), ErrorCode::kMemoryLimit);
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
    // The structure reader's list of 30,000 kids does not fit either.
    EXPECT_THAT(message, AnyOf(HasSubstr("object stream"), HasSubstr("an object of the file")));
  }
  platform.env["PDFPARSE_READER"] = "";
  platform.env["PDFPARSE_MEMORY_LIMIT_MB"] = "64";
  PDDoc opened = open(path);
  EXPECT_EQ(engine_.PDDocGetNumPages(opened), 30000);
  EXPECT_EQ(info(opened, "Producer"), std::string(4000, 'x'));
  engine_.PDDocClose(opened);

  // The file's own bytes are not what the limit bounds: a file four times
  // the limit, all but a little of it a content stream, answers within it.
  const std::string content(4u << 20, ' ');
  const std::string large = write("large.pdf", Assemble(RawDoc{{
                                                   "<< /Type /Catalog /Pages 2 0 R >>",
                                                   "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] "
                                                   "/Contents 4 0 R >>",
                                                   "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                                                       content + "\nendstream",
                                                   "<< /Producer (after the content) >>",
                                               },
                                               "/Root 1 0 R /Info 5 0 R"}));
  platform.env["PDFPARSE_MEMORY_LIMIT_MB"] = "1";
  for (const char* reader : {"", "qpdf"}) {
    SCOPED_TRACE(reader);
    platform.env["PDFPARSE_READER"] = reader;
    opened = open(large);
    EXPECT_EQ(engine_.PDDocGetNumPages(opened), 1);
    EXPECT_EQ(info(opened, "Producer"), "after the content");
    engine_.PDDocClose(opened);
  }
}

// What the engine answers for a page listed again is PageReleaseTest's; here,
// that each listing costs an index entry, not a page, whichever reads it.
TEST(PageTableTest, APageListedOverAndOverCostsOneEntry) {
  constexpr int kTimes = 200000;
  std::string kids;
  for (int i = 0; i < kTimes; ++i) kids += "3 0 R ";
  const std::string bytes = Assemble(RawDoc{{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(kTimes) + " >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Rotate 90 >>",
  }});
  auto buffer = std::make_shared<Buffer>(bytes.size());
  std::memcpy(buffer->getBuffer(), bytes.data(), bytes.size());
  for (bool structureReader : {true, false}) {
    document::Document::SetStructureReaderEnabled(structureReader);
    document::Document parsed("kids.pdf", buffer, std::make_shared<WorkBudget>(bytes.size(), 60000), true);
    ASSERT_EQ(parsed.open(nullptr), document::Document::OpenResult::Opened);
    EXPECT_EQ(parsed.pageCount(), static_cast<size_t>(kTimes));
    EXPECT_EQ(parsed.readByStructureReader(), structureReader);
    EXPECT_EQ(parsed.pageTable().distinctPages(), 1u);
    EXPECT_EQ(parsed.pageTable().rotation(kTimes - 1), 90);
  }
  document::Document::SetStructureReaderEnabled(true);
}

}  // namespace
}  // namespace pdfparse::test
