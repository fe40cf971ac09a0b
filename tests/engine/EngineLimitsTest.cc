// The inquiry deadline and the work budget, and how failures of every kind
// become the library's error codes.
#include <gmock/gmock.h>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFSystemError.hh>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "engine/EngineFixture.h"
#include "outside/pdfl/qpdf/WorkBudget.h"
#include "outside/platform/Platform.h"

namespace enginetest {
namespace {

using ::testing::HasSubstr;
using pdfl_qpdf::BudgetedInput;
using pdfl_qpdf::WorkBudget;
using pdfl_qpdf::WorkLimitExceeded;

// A platform whose clock only moves when the test moves it, and whose
// PDFPARSE_TIMEOUT_MS the test sets.
class ClockPlatform : public outside::PlatformWrapper {
 public:
  ClockPlatform() : PlatformWrapper(outside::CurrentPlatform()) {}
  std::atomic<uint64_t> now{1000};
  std::string timeout;  // empty: unset
  uint64_t MonotonicMillis() override { return now.load(); }
  outside::DWORD GetEnvironmentVariableA(const char* name, char* buffer, outside::DWORD size) override {
    if (std::strcmp(name, "PDFPARSE_TIMEOUT_MS") != 0) return PlatformWrapper::GetEnvironmentVariableA(name, buffer, size);
    if (timeout.empty()) return 0;
    if (timeout.size() + 1 > size) return static_cast<outside::DWORD>(timeout.size() + 1);
    std::memcpy(buffer, timeout.c_str(), timeout.size() + 1);
    return static_cast<outside::DWORD>(timeout.size());
  }
};

class LimitsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    previous_ = outside::SetPlatformForTesting(&clock_);
  }
  void TearDown() override {
    outside::SetPlatformForTesting(previous_);
    EngineTest::TearDown();
  }
  ClockPlatform clock_;
  outside::Platform* previous_ = nullptr;
};

TEST_F(LimitsTest, TimeoutComesFromTheEnvironment) {
  EXPECT_EQ(pdfl_qpdf::InquiryTimeoutMillis(), pdfl_qpdf::kDefaultTimeoutMillis);
  clock_.timeout = "250";
  EXPECT_EQ(pdfl_qpdf::InquiryTimeoutMillis(), 250u);
  for (const char* bad : {"0", "-5", "12ms", "abc", "99999999999999999999999999999999999"}) {
    clock_.timeout = bad;
    EXPECT_EQ(pdfl_qpdf::InquiryTimeoutMillis(), pdfl_qpdf::kDefaultTimeoutMillis) << bad;
  }
}

TEST_F(LimitsTest, APassedDeadlineFailsTheNextCallWithTimeout) {
  clock_.timeout = "1000";
  PDDoc doc = open(write("a.pdf", pdftest::BuildPdf(pdftest::Pages(3))));
  clock_.now += 999;
  EXPECT_EQ(engine_.PDDocGetNumPages(doc), 3);
  clock_.now += 1;
  std::string message;
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocAcquirePage(doc, 0); }, &message), pdfl_err::kTimeout);
  EXPECT_THAT(message, HasSubstr("time limit of 1000 ms passed"));
  EXPECT_EQ(ErrorOf([&] { engine_.PDDocGetInfo(doc, "Producer", nullptr, 0); }), pdfl_err::kTimeout);
  engine_.PDDocClose(doc);  // closing still works
  // The next document has its own deadline.
  PDDoc next = open(write("b.pdf", pdftest::BuildPdf(pdftest::Pages(1))));
  EXPECT_EQ(engine_.PDDocGetNumPages(next), 1);
  engine_.PDDocClose(next);
}

TEST(WorkBudgetTest, EndlessSeekingRunsOutOfBudgetAndStaysAtTheEnd) {
  auto data = std::make_shared<Buffer>(1000);
  std::memset(data->getBuffer(), 'x', 1000);
  auto budget = std::make_shared<WorkBudget>(1000, 60000);
  BudgetedInput input("hostile", data, budget);
  char buffer[128];
  uint64_t seeks = 0;
  EXPECT_THROW(
      {
        for (;;) {  // what a looping parser does: back and forth
          input.seek(static_cast<qpdf_offset_t>(seeks % 900), SEEK_SET);
          input.read(buffer, sizeof buffer);
          ++seeks;
        }
      },
      WorkLimitExceeded);
  EXPECT_TRUE(budget->exhausted());
  EXPECT_LE(budget->seeks(), budget->maxSeeks() + 1);
  EXPECT_THAT(budget->reason(), HasSubstr("work budget spent"));
  // From now on it is at the end, whatever the caller does.
  input.seek(0, SEEK_SET);
  EXPECT_EQ(input.tell(), 1000);
  EXPECT_EQ(input.read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(input.findAndSkipNextEOL(), 1000);
  EXPECT_THROW(budget->checkDeadline(), WorkLimitExceeded);
}

TEST(WorkBudgetTest, ReadsAreChargedAndTheBudgetGrowsWithTheFile) {
  WorkBudget small(10, 60000);
  WorkBudget large(1u << 20, 60000);
  EXPECT_GT(large.maxBytesRead(), small.maxBytesRead());
  EXPECT_GT(large.maxSeeks(), small.maxSeeks());
  EXPECT_THROW(
      {
        for (;;) small.chargeRead(1 << 20);
      },
      WorkLimitExceeded);
  EXPECT_GT(small.bytesRead(), small.maxBytesRead());
  WorkBudget huge(UINT64_MAX / 2, 60000);  // no overflow in the limits
  EXPECT_EQ(huge.maxBytesRead(), UINT64_MAX);
}

TEST(WorkBudgetTest, ReadsThroughTheBudgetMatchTheBytes) {
  std::string text = "line one\r\nline two\n\nend";
  auto data = std::make_shared<Buffer>(text.size());
  std::memcpy(data->getBuffer(), text.data(), text.size());
  BudgetedInput input("lines", data, std::make_shared<WorkBudget>(text.size(), 60000));
  EXPECT_EQ(input.findAndSkipNextEOL(), 8);
  EXPECT_EQ(input.tell(), 10);
  char buffer[8] = {};
  EXPECT_EQ(input.read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "line");
  EXPECT_EQ(input.getLastOffset(), 10);
  input.unreadCh('e');
  EXPECT_EQ(input.tell(), 13);
  input.seek(-3, SEEK_END);
  EXPECT_EQ(input.read(buffer, 8), 3u);
  EXPECT_EQ(std::string(buffer, 3), "end");
}

// --- Error conversion ------------------------------------------------------------

ASErrorCode Converted(std::exception_ptr error, std::string* message = nullptr) {
  return ErrorOf(
      [&] {
        try {
          std::rethrow_exception(error);
        } catch (...) {
          pdfl_qpdf::RaiseAsPdflException("Call");
        }
      },
      message);
}

TEST(ErrorConversionTest, EveryKindOfFailureGetsItsCode) {
  auto qpdf = [](qpdf_error_code_e code) {
    return std::make_exception_ptr(QPDFExc(code, "f.pdf", "", 0, "detail"));
  };
  EXPECT_EQ(Converted(qpdf(qpdf_e_password)), pdfl_err::kPassword);
  EXPECT_EQ(Converted(qpdf(qpdf_e_damaged_pdf)), pdfl_err::kDamaged);
  EXPECT_EQ(Converted(qpdf(qpdf_e_pages)), pdfl_err::kDamaged);
  EXPECT_EQ(Converted(qpdf(qpdf_e_unsupported)), pdfl_err::kUnsupported);
  EXPECT_EQ(Converted(qpdf(qpdf_e_system)), pdfl_err::kFileRead);
  EXPECT_EQ(Converted(qpdf(qpdf_e_internal)), pdfl_err::kInternal);
  EXPECT_EQ(Converted(std::make_exception_ptr(QPDFSystemError("open", ENOENT))), pdfl_err::kFileNotFound);
  EXPECT_EQ(Converted(std::make_exception_ptr(QPDFSystemError("open", EACCES))), pdfl_err::kFilePermission);
  EXPECT_EQ(Converted(std::make_exception_ptr(std::bad_alloc())), pdfl_err::kNoMemory);
  EXPECT_EQ(Converted(std::make_exception_ptr(std::length_error("big"))), pdfl_err::kNoMemory);
  EXPECT_EQ(Converted(std::make_exception_ptr(std::range_error("r"))), pdfl_err::kDamaged);
  EXPECT_EQ(Converted(std::make_exception_ptr(std::runtime_error("r"))), pdfl_err::kDamaged);
  EXPECT_EQ(Converted(std::make_exception_ptr(std::logic_error("l"))), pdfl_err::kInternal);
  EXPECT_EQ(Converted(std::make_exception_ptr(42)), pdfl_err::kInternal);
  EXPECT_EQ(Converted(std::make_exception_ptr(WorkLimitExceeded("spent"))), pdfl_err::kTimeout);
  std::string message;
  EXPECT_EQ(Converted(std::make_exception_ptr(PdflException(pdfl_err::kBadPage, "as is")), &message),
            pdfl_err::kBadPage);
  EXPECT_EQ(message, "as is");
  Converted(std::make_exception_ptr(std::runtime_error(std::string(2000, 'x') + "\nsecond line")), &message);
  EXPECT_EQ(message.find('\n'), std::string::npos);  // one line, bounded
  EXPECT_LT(message.size(), 600u);
  EXPECT_THAT(message, HasSubstr("Call: "));
}

}  // namespace
}  // namespace enginetest
