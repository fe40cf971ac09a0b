// Bounded work for one document: a deadline for the inquiry and a budget of
// bytes read and seeks, checked by the document's input source and by the
// walks over its structure.
#ifndef PDFPARSE_DOCUMENT_WORKBUDGET_H_
#define PDFPARSE_DOCUMENT_WORKBUDGET_H_

#include <qpdf/InputSource.hh>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "document/Error.h"

namespace pdfparse::document {

inline constexpr uint64_t kDefaultTimeoutMillis = 30000;
inline constexpr uint64_t kDefaultMemoryLimitBytes = 1ull << 30;

// Milliseconds on a monotonic clock.
using MonotonicClock = std::function<uint64_t()>;
uint64_t SteadyClockMillis();
// The process's resident memory in bytes (0 when it cannot be told).
using ResidentMemory = std::function<uint64_t()>;

// What bounds one inquiry.
struct Limits {
  uint64_t timeoutMillis = kDefaultTimeoutMillis;
  // Memory the inquiry may take: what it holds of the document (the file's
  // bytes, copies made for repair, decoded object streams) and, where
  // `resident` tells it, the growth of the process's resident memory since
  // the inquiry began.
  uint64_t memoryBytes = kDefaultMemoryLimitBytes;
  MonotonicClock clock = SteadyClockMillis;
  ResidentMemory resident = {};
};

class WorkBudget {
 public:
  // `fileSize` scales the budget; the deadline counts from now.
  WorkBudget(uint64_t fileSize, const Limits& limits);
  WorkBudget(uint64_t fileSize, uint64_t timeoutMillis, MonotonicClock clock = SteadyClockMillis);

  // Each raises Error kTimeout (kMemoryLimit for memory) once a
  // limit is reached, and again on every later call.
  void chargeRead(uint64_t bytes);
  void chargeSeek();
  // One warning of libqpdf's: counted, and the clock looked at now and
  // then (endless repair shows as endless warnings). Warnings are not
  // stored, so they cost no memory and fail nothing by their number.
  void chargeWarning();
  // Memory taken on behalf of the document; `what` names it in the message.
  void chargeMemory(uint64_t bytes, const char* what);
  // Whether `bytes` more, about to be taken for a while, would pass the
  // limit; raises as chargeMemory does, but charges nothing.
  void checkMemoryFor(uint64_t bytes, const char* what);
  void checkDeadline();
  // The clock as checkDeadline() last read it.
  uint64_t lastClock() const { return lastClock_; }
  // The deadline counts anew from now (for a document kept open between
  // calls, each with the whole time). A limit already reached stays.
  void restartDeadline();

  bool exhausted() const { return !reason_.empty(); }
  const std::string& reason() const { return reason_; }
  uint64_t bytesRead() const { return bytesRead_; }
  uint64_t seeks() const { return seeks_; }
  uint64_t maxBytesRead() const { return maxBytesRead_; }
  uint64_t maxSeeks() const { return maxSeeks_; }
  uint64_t warnings() const { return warnings_; }
  uint64_t memoryCharged() const { return memory_; }

 private:
  [[noreturn]] void trip(std::string reason);
  [[noreturn]] void again() const;
  void tick();

  void checkResident(uint64_t now);

  MonotonicClock clock_;
  ResidentMemory resident_;
  uint64_t maxBytesRead_;
  uint64_t maxSeeks_;
  uint64_t maxMemory_;
  uint64_t residentBase_ = 0;
  uint64_t residentCheckedAt_ = 0;
  uint64_t warnings_ = 0;
  uint64_t memory_ = 0;
  bool memoryTripped_ = false;
  uint64_t deadline_;
  uint64_t lastClock_ = 0;
  uint64_t timeoutMillis_;
  uint64_t bytesRead_ = 0;
  uint64_t seeks_ = 0;
  uint32_t ticks_ = 0;
  std::string reason_;
};

// An InputSource over the document's bytes: `head` (the file) followed by
// `tail` (what repair appends, often empty), read in place. Every read and
// seek is charged to a WorkBudget. Once the budget is spent it raises, and
// in case libqpdf swallows that, it stays at the end of the data from then
// on so that no loop of libqpdf keeps it busy. `owner` keeps both alive.
class BudgetedInput : public InputSource {
 public:
  BudgetedInput(std::string name, std::string_view head, std::string_view tail, std::shared_ptr<const void> owner,
                std::shared_ptr<WorkBudget> budget);

  qpdf_offset_t findAndSkipNextEOL() override;
  std::string const& getName() const override;
  qpdf_offset_t tell() override;
  void seek(qpdf_offset_t offset, int whence) override;
  void rewind() override;
  size_t read(char* buffer, size_t length) override;
  void unreadCh(char ch) override;

 private:
  void stopAtEnd();
  // The bytes from `offset` to the end of the part that holds it.
  std::string_view partAt(qpdf_offset_t offset) const;
  qpdf_offset_t end() const { return static_cast<qpdf_offset_t>(head_.size() + tail_.size()); }

  std::string name_;
  std::string_view head_;
  std::string_view tail_;
  std::shared_ptr<const void> owner_;
  std::shared_ptr<WorkBudget> budget_;
  qpdf_offset_t position_ = 0;
  bool stopped_ = false;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_WORKBUDGET_H_
