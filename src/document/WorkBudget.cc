#include "document/WorkBudget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

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

void WorkBudget::restartDeadline() {
  const uint64_t now = clock_();
  deadline_ = (now > std::numeric_limits<uint64_t>::max() - timeoutMillis_) ? std::numeric_limits<uint64_t>::max()
                                                                          : now + timeoutMillis_;
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

void WorkBudget::checkMemoryFor(uint64_t bytes, const char* what) {
  if (!reason_.empty()) again();
  if (bytes > maxMemory_ || memory_ > maxMemory_ - bytes) {
    reason_ = "memory limit of " + std::to_string(maxMemory_ >> 20) + " MiB reached: " + what + " takes " +
              std::to_string(bytes) + " bytes";
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
  lastClock_ = now;
  if (now >= deadline_) {
    trip("time limit of " + std::to_string(timeoutMillis_) + " ms passed");
  }
  checkResident(now);
}

BudgetedInput::BudgetedInput(std::string name, std::string_view head, std::string_view tail,
                             std::shared_ptr<const void> owner, std::shared_ptr<WorkBudget> budget)
    : name_(std::move(name)), head_(head), tail_(tail), owner_(std::move(owner)), budget_(std::move(budget)) {}

std::string_view BudgetedInput::partAt(qpdf_offset_t offset) const {
  const auto at = static_cast<size_t>(offset);
  if (at < head_.size()) return head_.substr(at);
  if (at - head_.size() < tail_.size()) return tail_.substr(at - head_.size());
  return {};
}

void BudgetedInput::stopAtEnd() {
  stopped_ = true;
  position_ = end();
  last_offset = position_;
}

// As libqpdf's own sources do: the offset of the next end of line, and
// the position after it and any end-of-line bytes that follow.
qpdf_offset_t BudgetedInput::findAndSkipNextEOL() {
  if (stopped_ || position_ >= end()) {
    position_ = end();
    return position_;
  }
  const qpdf_offset_t before = position_;
  qpdf_offset_t result = end();
  for (std::string_view part = partAt(position_); !part.empty(); part = partAt(position_)) {
    const size_t eol = part.find_first_of("\r\n");
    if (eol == std::string_view::npos) {
      position_ += static_cast<qpdf_offset_t>(part.size());
      continue;
    }
    result = position_ + static_cast<qpdf_offset_t>(eol);
    position_ = result;
    break;
  }
  if (result < end()) {
    for (std::string_view part = partAt(position_); !part.empty(); part = partAt(position_)) {
      const size_t other = part.find_first_not_of("\r\n");
      position_ += static_cast<qpdf_offset_t>(other == std::string_view::npos ? part.size() : other);
      if (other != std::string_view::npos) break;
    }
  } else {
    position_ = end();
  }
  try {
    budget_->chargeRead(static_cast<uint64_t>(position_ - before));
  } catch (...) {
    stopAtEnd();
    throw;
  }
  return result;
}

std::string const& BudgetedInput::getName() const { return name_; }

qpdf_offset_t BudgetedInput::tell() { return position_; }

void BudgetedInput::seek(qpdf_offset_t offset, int whence) {
  if (stopped_) return;
  try {
    budget_->chargeSeek();
  } catch (...) {
    stopAtEnd();
    throw;
  }
  qpdf_offset_t base = 0;
  if (whence == SEEK_END) base = end();
  if (whence == SEEK_CUR) base = position_;
  if ((offset < 0 && base < -offset) || (offset > 0 && base > std::numeric_limits<qpdf_offset_t>::max() - offset)) {
    throw std::runtime_error(name_ + ": seek out of range");
  }
  position_ = base + offset;
}

void BudgetedInput::rewind() { seek(0, SEEK_SET); }

size_t BudgetedInput::read(char* buffer, size_t length) {
  last_offset = std::min(position_, end());
  size_t got = 0;
  if (!stopped_) {
    for (std::string_view part = partAt(position_); got < length && !part.empty(); part = partAt(position_)) {
      const size_t n = std::min(part.size(), length - got);
      std::memcpy(buffer + got, part.data(), n);
      got += n;
      position_ += static_cast<qpdf_offset_t>(n);
    }
  }
  if (stopped_) return 0;
  try {
    budget_->chargeRead(got > 0 ? got : 1);  // reads at the end count too
  } catch (...) {
    stopAtEnd();
    throw;
  }
  return got;
}

void BudgetedInput::unreadCh(char) {
  if (!stopped_ && position_ > 0) --position_;
}

}  // namespace pdfparse::document
