// The trace facility. Two file-scope objects exist in the library: A for the
// document object, B for the parser and its worker. Safe for concurrent calls
// on one object. Each line written carries a time stamp, the calling
// thread's id and the text; where it goes depends on the sink (by default
// the one PDFPARSE_TRACE names, see TraceSink.h).
//
// Lines carry text taken from documents (file names, information entries,
// engine messages): a sink never receives more than kMaxTraceText bytes of
// text per call, and the stream sinks escape what would break the line
// (StreamSinks.h).
#ifndef PDFPARSE_OUTSIDE_TRACE_CDRAVIKTRACE_H_
#define PDFPARSE_OUTSIDE_TRACE_CDRAVIKTRACE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "outside/trace/TraceSink.h"

namespace pdfparse::outside {

// Longest text, in bytes, a trace call keeps (a path of PATH_MAX bytes
// still fits); the rest is cut, not inside a UTF-8 sequence, and "..." is
// appended. Bounds Output, OutputEx and the StartTrace banner.
inline constexpr size_t kMaxTraceText = 4096;

class CDravikTrace {
 public:
  CDravikTrace();
  virtual ~CDravikTrace();
  CDravikTrace(const CDravikTrace&) = delete;
  CDravikTrace& operator=(const CDravikTrace&) = delete;

  // Counts users of an instance name. Results are informational.
  bool CreateTraceInstance(const char* instance);
  bool ReleaseInstance(const char* instance);
  // Writes a banner: `text` followed by `count` copies of `fill`.
  void StartTrace(const char* text, char fill, uint32_t count);
  // Writes one printf-style line tagged with the instance name.
  void OutputEx(const char* instance, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Writes one printf-style line without an instance name.
  void Output(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Replaces the sink (null: lines are dropped). Returns the previous one.
  std::shared_ptr<TraceSink> SetSink(std::shared_ptr<TraceSink> sink);
  std::shared_ptr<TraceSink> sink() const;

 private:
  void emit(TraceCall call, const char* instance, std::string text);

  mutable std::mutex mutex_;
  std::shared_ptr<TraceSink> sink_;
  std::map<std::string, int> instances_;  // users per instance name
};

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_TRACE_CDRAVIKTRACE_H_
