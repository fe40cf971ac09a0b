// Tearing a large parsed document down (libqpdf's object cache, the page
// table) takes a noticeable part of an inquiry; a Disposer does it on a
// thread of its own so that closing returns at once.
//
// The disposer owns its thread and joins it (stop(), the destructor); the
// thread only destroys documents and touches nothing outside the engine.
//
// At most one document is torn down at a time: handing over a second waits
// for the first, so memory never holds more than one document being
// destroyed besides the ones in use. stop() (and the destructor) waits for
// the work handed over and joins the thread.
#ifndef PDFPARSE_DOCUMENT_DISPOSER_H_
#define PDFPARSE_DOCUMENT_DISPOSER_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace pdfparse::document {

class Document;

class Disposer {
 public:
  Disposer() = default;
  ~Disposer();
  Disposer(const Disposer&) = delete;
  Disposer& operator=(const Disposer&) = delete;

  // Releases `doc` on the disposer's thread (started at the first call).
  // When the thread cannot be started, releases it here.
  void dispose(std::shared_ptr<Document> doc);
  // Waits for the documents handed over and joins the thread. dispose()
  // starts it again.
  void stop();
  // Waits until nothing handed over is left to tear down, at most
  // `maxMillis`; true when nothing is left.
  bool waitIdle(uint32_t maxMillis);
  // Documents released by the thread so far.
  size_t disposedForTesting() const;

 private:
  void run();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<Document> pending_;
  bool busy_ = false;
  bool stopping_ = false;
  size_t disposed_ = 0;
  std::thread thread_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_DISPOSER_H_
