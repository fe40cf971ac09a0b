#include "document/Disposer.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "document/Document.h"

namespace pdfparse::document {

Disposer::~Disposer() { stop(); }

void Disposer::dispose(std::shared_ptr<Document> doc) {
  if (!doc) return;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable()) {
    stopping_ = false;
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      lock.unlock();
      doc.reset();  // no thread: torn down here
      return;
    }
  }
  changed_.wait(lock, [this] { return !pending_ && !busy_; });
  pending_ = std::move(doc);
  changed_.notify_all();
}

void Disposer::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stopping_; });
    if (!pending_) return;  // stopping, nothing left
    std::shared_ptr<Document> doc = std::move(pending_);
    busy_ = true;
    lock.unlock();
    doc.reset();
    lock.lock();
    busy_ = false;
    ++disposed_;
    changed_.notify_all();
  }
}

void Disposer::stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    thread = std::move(thread_);
  }
  changed_.notify_all();
  thread.join();  // the thread drains what is pending first
}

bool Disposer::waitIdle(uint32_t maxMillis) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(maxMillis), [this] { return !pending_ && !busy_; });
}

size_t Disposer::disposedForTesting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return disposed_;
}

}  // namespace pdfparse::document
