// The trace sinks a user sees: standard error and a size-bounded, rotating
// file. Both format a record as one line:
//   <local time to the millisecond> [<thread id>] <instance>: <text>
// (no instance part for Output lines). Instance bookkeeping calls
// (CreateTraceInstance, ReleaseInstance) are not written. Every record is
// exactly one line: text from a document cannot start a line of its own. Both sinks take
// their own lock, since the two trace objects of the library may share one.
#ifndef PDFPARSE_OUTSIDE_TRACE_STREAMSINKS_H_
#define PDFPARSE_OUTSIDE_TRACE_STREAMSINKS_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "outside/trace/TraceSink.h"

namespace pdfparse::outside {

// `text` with line breaks, tabs and the other control bytes written as
// \n, \r, \t and \xNN; every other byte unchanged.
std::string EscapeTraceText(std::string_view text);

// The line a stream sink writes for `record` at `when`, without the line
// break (instance and text escaped); empty for records that are not written.
std::string FormatTraceLine(const TraceRecord& record, std::chrono::system_clock::time_point when);

std::shared_ptr<TraceSink> MakeStderrSink();

// Appends to `path`; when the file would grow past `maxBytes` it is renamed
// with ".1" before its extension (trace.log to trace.1.log, trace.1.log to
// trace.2.log, ... keeping `maxFiles` old files) and a new one is begun.
// Null when the file cannot be opened or is not a regular file (a FIFO, a
// device, a directory; nothing blocks on them); `error` (if not null) then
// says why.
std::shared_ptr<TraceSink> MakeRotatingFileSink(const std::string& path, size_t maxBytes, size_t maxFiles,
                                                std::string* error);

// Size bound of the file PDFPARSE_TRACE names, and how many old files stay.
inline constexpr size_t kTraceFileMaxBytes = 4u * 1024u * 1024u;
inline constexpr size_t kTraceFileKeep = 3;

// The sink made from PDFPARSE_TRACE once per process, shared by every trace
// object the library constructs.
std::shared_ptr<TraceSink> SharedEnvironmentSink();

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_TRACE_STREAMSINKS_H_
