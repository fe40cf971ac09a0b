#include "document/WorkBudget.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace pdfparse::document {
namespace {

// Generous multiples of the file size: opening, repairing and walking a
// valid file reads it a few times; hostile files that make libqpdf seek back
// and forth without end run into these.
constexpr uint64_t kReadFactor = 64;
constexpr uint64_t kReadAllowance = 64ull << 20;
constexpr uint64_t kSeekFactor = 16;
constexpr uint64_t kSeekAllowance = 4ull << 20;
// The clock is asked once per this many charges.
constexpr uint32_t kTicksPerClockCheck = 1024;
// Resident memory is read at most this often (milliseconds).
constexpr uint64_t kResidentCheckInterval = 20;

uint64_t SaturatingMulAdd(uint64_t a, uint64_t factor, uint64_t add) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  if (a > (max - add) / factor) return max;
  return a * factor + add;
}

}  // namespace

uint64_t SteadyClockMillis() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

WorkBudget::WorkBudget(uint64_t fileSize, uint64_t timeoutMillis, MonotonicClock clock)
    : WorkBudget(fileSize, Limits{timeoutMillis, kDefaultMemoryLimitBytes, std::move(clock), {}}) {}

WorkBudget::WorkBudget(uint64_t fileSize, const Limits& limits)
    : clock_(limits.clock ? limits.clock : MonotonicClock(SteadyClockMillis)),
      resident_(limits.resident),
      maxBytesRead_(SaturatingMulAdd(fileSize, kReadFactor, kReadAllowance)),
      maxSeeks_(SaturatingMulAdd(fileSize, kSeekFactor, kSeekAllowance)),
      maxMemory_(limits.memoryBytes),
      timeoutMillis_(limits.timeoutMillis) {
  uint64_t now = clock_();
  deadline_ = (now > std::numeric_limits<uint64_t>::max() - timeoutMillis_) ? std::numeric_limits<uint64_t>::max()
                                                                            : now + timeoutMillis_;
  if (resident_) residentBase_ = resident_();
  residentCheckedAt_ = now;
}

void WorkBudget::chargeWarning() {
  if (!reason_.empty()) again();
  ++warnings_;
  tick();
}

void WorkBudget::chargeMemory(uint64_t bytes, const char* what) {
  if (!reason_.empty()) again();
  memory_ =
      bytes > std::numeric_limits<uint64_t>::max() - memory_ ? std::numeric_limits<uint64_t>::max() : memory_ + bytes;
  if (memory_ > maxMemory_) {
    reason_ = "memory limit of " + std::to_string(maxMemory_ >> 20) + " MiB reached: " + what + " takes " +
              std::to_string(bytes) + " bytes more";
    memoryTripped_ = true;
    again();
  }
}

void WorkBudget::checkResident(uint64_t now) {
  if (!resident_ || now - residentCheckedAt_ < kResidentCheckInterval) return;
  residentCheckedAt_ = now;
  const uint64_t current = resident_();
  if (current > residentBase_ && current - residentBase_ > maxMemory_) {
    reason_ = "memory limit of " + std::to_string(maxMemory_ >> 20) + " MiB reached: the process grew by " +
              std::to_string((current - residentBase_) >> 20) + " MiB during the inquiry";
    memoryTripped_ = true;
    again();
  }
}

void WorkBudget::again() const { throw Error(memoryTripped_ ? ErrorCode::kMemoryLimit : ErrorCode::kTimeout, reason_); }

void WorkBudget::trip(std::string reason) {
  if (reason_.empty()) reason_ = std::move(reason);
  throw Error(ErrorCode::kTimeout, reason_);
}

void WorkBudget::tick() {
  if (++ticks_ >= kTicksPerClockCheck) {
    ticks_ = 0;
    checkDeadline();
  }
}

void WorkBudget::chargeRead(uint64_t bytes) {
  if (!reason_.empty()) again();
  bytesRead_ += bytes;
  if (bytesRead_ > maxBytesRead_) {
    trip("work budget spent: " + std::to_string(bytesRead_) + " bytes read, more than " +
         std::to_string(maxBytesRead_) + " allowed for this file");
  }
  tick();
}

void WorkBudget::chargeSeek() {
  if (!reason_.empty()) again();
  if (++seeks_ > maxSeeks_) {
    trip("work budget spent: more than " + std::to_string(maxSeeks_) + " seeks for this file");
  }
  tick();
}

void WorkBudget::checkDeadline() {
  if (!reason_.empty()) again();
  const uint64_t now = clock_();
  if (now >= deadline_) {
    trip("time limit of " + std::to_string(timeoutMillis_) + " ms passed");
  }
  checkResident(now);
}

BudgetedInput::BudgetedInput(std::string name, std::shared_ptr<Buffer> data, std::shared_ptr<WorkBudget> budget)
    : data_(std::move(data)),
      inner_(std::make_unique<BufferInputSource>(name, data_.get(), false)),
      budget_(std::move(budget)) {}

void BudgetedInput::stopAtEnd() {
  stopped_ = true;
  inner_->seek(0, SEEK_END);
  last_offset = inner_->tell();
}

qpdf_offset_t BudgetedInput::findAndSkipNextEOL() {
  if (stopped_) return inner_->tell();
  qpdf_offset_t before = inner_->tell();
  qpdf_offset_t result = inner_->findAndSkipNextEOL();
  qpdf_offset_t after = inner_->tell();
  try {
    budget_->chargeRead(after > before ? static_cast<uint64_t>(after - before) : 0);
  } catch (...) {
    stopAtEnd();
    throw;
  }
  return result;
}

std::string const& BudgetedInput::getName() const { return inner_->getName(); }

qpdf_offset_t BudgetedInput::tell() { return inner_->tell(); }

void BudgetedInput::seek(qpdf_offset_t offset, int whence) {
  if (stopped_) return;
  try {
    budget_->chargeSeek();
  } catch (...) {
    stopAtEnd();
    throw;
  }
  inner_->seek(offset, whence);
}

void BudgetedInput::rewind() { seek(0, SEEK_SET); }

size_t BudgetedInput::read(char* buffer, size_t length) {
  if (stopped_) {
    last_offset = inner_->tell();
    return 0;
  }
  size_t got = inner_->read(buffer, length);
  last_offset = inner_->getLastOffset();
  try {
    budget_->chargeRead(got > 0 ? got : 1);  // reads at the end count too
  } catch (...) {
    stopAtEnd();
    throw;
  }
  return got;
}

void BudgetedInput::unreadCh(char ch) {
  if (!stopped_) inner_->unreadCh(ch);
}

}  // namespace pdfparse::document
