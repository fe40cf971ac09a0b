// Where trace lines go. A sink receives every call made on a CDravikTrace,
// already formatted; implementations only write. Sinks may be called from
// several threads at once: CDravikTrace serialises calls into one sink.
#ifndef PDFPARSE_OUTSIDE_TRACE_TRACESINK_H_
#define PDFPARSE_OUTSIDE_TRACE_TRACESINK_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pdfparse::outside {

enum class TraceCall { CreateInstance, ReleaseInstance, StartTrace, Output, OutputEx };

struct TraceRecord {
  TraceCall call = TraceCall::Output;
  uint64_t threadId = 0;  // id of the calling thread
  std::string instance;   // instance name; empty for Output
  std::string text;       // the formatted line (or StartTrace's banner)
};

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // Called with the trace object's lock held.
  virtual void write(const TraceRecord& record) = 0;
  virtual void flush() {}
};

// Keeps every record in memory; for tests.
class RecordingSink : public TraceSink {
 public:
  void write(const TraceRecord& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(record);
  }
  std::vector<TraceRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  // Texts of the Output and OutputEx lines, in order.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : records_)
      if (r.call == TraceCall::Output || r.call == TraceCall::OutputEx) out.push_back(r.text);
    return out;
  }
  size_t count(TraceCall call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& r : records_) n += (r.call == call);
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<TraceRecord> records_;
};

// Makes the sink that PDFPARSE_TRACE asks for: unset or empty gives null
// (no output), "stderr" the standard error stream, anything else a file
// appended to, rotated when it grows past a few MiB.
std::shared_ptr<TraceSink> MakeSinkFromEnvironment();

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_TRACE_TRACESINK_H_
