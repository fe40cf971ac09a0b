// Bounded work for one document: a deadline for the inquiry and a budget of
// bytes read and seeks, checked by the document's input source and by the
// walks over its structure.
#ifndef PDFPARSE_OUTSIDE_PDFL_CORE_WORKBUDGET_H_
#define PDFPARSE_OUTSIDE_PDFL_CORE_WORKBUDGET_H_

#include <qpdf/Buffer.hh>
#include <qpdf/InputSource.hh>
#include <qpdf/BufferInputSource.hh>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace pdfcore {

// Raised when the deadline has passed or the budget is spent. The engine
// turns it into the library's time-out error.
class __attribute__((visibility("default"))) WorkLimitExceeded : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr uint64_t kDefaultTimeoutMillis = 30000;

// Milliseconds on a monotonic clock.
using MonotonicClock = std::function<uint64_t()>;
uint64_t SteadyClockMillis();

class WorkBudget {
 public:
  // `fileSize` scales the budget; `timeoutMillis` counts from now on `clock`.
  WorkBudget(uint64_t fileSize, uint64_t timeoutMillis, MonotonicClock clock = SteadyClockMillis);

  // Each raises WorkLimitExceeded once the limit is reached, and again on
  // every later call.
  void chargeRead(uint64_t bytes);
  void chargeSeek();
  void checkDeadline();

  bool exhausted() const { return !reason_.empty(); }
  const std::string& reason() const { return reason_; }
  uint64_t bytesRead() const { return bytesRead_; }
  uint64_t seeks() const { return seeks_; }
  uint64_t maxBytesRead() const { return maxBytesRead_; }
  uint64_t maxSeeks() const { return maxSeeks_; }

 private:
  [[noreturn]] void trip(std::string reason);
  void tick();

  MonotonicClock clock_;
  uint64_t maxBytesRead_;
  uint64_t maxSeeks_;
  uint64_t deadline_;
  uint64_t timeoutMillis_;
  uint64_t bytesRead_ = 0;
  uint64_t seeks_ = 0;
  uint32_t ticks_ = 0;
  std::string reason_;
};

// An InputSource over the document's bytes in memory (a BufferInputSource)
// that charges every read and seek to a WorkBudget. Once the budget is spent it raises, and in
// case libqpdf swallows that, it stays at the end of the data from then on
// so that no loop of libqpdf keeps it busy.
class BudgetedInput : public InputSource {
 public:
  BudgetedInput(std::string name, std::shared_ptr<Buffer> data, std::shared_ptr<WorkBudget> budget);

  qpdf_offset_t findAndSkipNextEOL() override;
  std::string const& getName() const override;
  qpdf_offset_t tell() override;
  void seek(qpdf_offset_t offset, int whence) override;
  void rewind() override;
  size_t read(char* buffer, size_t length) override;
  void unreadCh(char ch) override;

 private:
  void stopAtEnd();

  std::shared_ptr<Buffer> data_;  // outlives inner_, which borrows it
  std::unique_ptr<InputSource> inner_;
  std::shared_ptr<WorkBudget> budget_;
  bool stopped_ = false;
};

}  // namespace pdfcore

#endif  // PDFPARSE_OUTSIDE_PDFL_CORE_WORKBUDGET_H_
