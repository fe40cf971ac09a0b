#include "outside/trace/StreamSinks.h"

#include <fcntl.h>
#include <spdlog/details/log_msg.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>

namespace pdfparse::outside {

std::string EscapeTraceText(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7F) {
      line += static_cast<char>(c);
    } else if (c == '\n' || c == '\r' || c == '\t') {
      line += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else {
      line += "\\x";
      line += kHex[c >> 4];
      line += kHex[c & 0xF];
    }
  }
  return line;
}

std::string FormatTraceLine(const TraceRecord& record, std::chrono::system_clock::time_point when) {
  if (record.call == TraceCall::CreateInstance || record.call == TraceCall::ReleaseInstance) return std::string();
  using namespace std::chrono;
  std::time_t seconds = system_clock::to_time_t(when);
  auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[48];
  size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + n, sizeof stamp - n, ".%03d", static_cast<int>(millis));

  std::string line = stamp;
  line += " [";
  line += std::to_string(record.threadId);
  line += "] ";
  if (!record.instance.empty()) {
    line += EscapeTraceText(record.instance);
    line += ": ";
  }
  line += EscapeTraceText(record.text);
  return line;
}

namespace {

class StderrSink : public TraceSink {
 public:
  void write(const TraceRecord& record) override {
    std::string line = FormatTraceLine(record, std::chrono::system_clock::now());
    if (line.empty()) return;
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  void flush() override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fflush(stderr);
  }

 private:
  std::mutex mutex_;
};

// spdlog's rotating file sink does the size bound and the renaming; the
// line itself is ours, so the sink's pattern is the bare message.
class RotatingFileSink : public TraceSink {
 public:
  explicit RotatingFileSink(std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> sink) : sink_(std::move(sink)) {}
  void write(const TraceRecord& record) override {
    std::string line = FormatTraceLine(record, std::chrono::system_clock::now());
    if (line.empty()) return;
    try {
      sink_->log(spdlog::details::log_msg(spdlog::string_view_t(), spdlog::level::info,
                                          spdlog::string_view_t(line.data(), line.size())));
      sink_->flush();  // a trace must survive a crash of the host
    } catch (const std::exception&) {
      // A full disk must not stop the library; the line is lost.
    }
  }
  void flush() override {
    try {
      sink_->flush();
    } catch (const std::exception&) {
    }
  }

 private:
  std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> sink_;
};

// True when `path` is, or can be made as, a regular file the trace may
// append to. Opened without blocking: a FIFO without a reader would
// otherwise hold the opening thread (and with it the host) for good, and a
// device or FIFO can neither be rotated nor bounded in size.
bool IsTraceableFile(const std::string& path, std::string* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = errno == ENXIO ? "not a regular file" : std::strerror(errno);
    return false;
  }
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) *error = "not a regular file";
  return regular;
}

}  // namespace

std::shared_ptr<TraceSink> MakeStderrSink() { return std::make_shared<StderrSink>(); }

std::shared_ptr<TraceSink> MakeRotatingFileSink(const std::string& path, size_t maxBytes, size_t maxFiles,
                                                std::string* error) {
  std::string reason;
  if (!IsTraceableFile(path, &reason)) {
    if (error) *error = reason;
    return nullptr;
  }
  try {
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, maxBytes, maxFiles);
    sink->set_pattern("%v");
    return std::make_shared<RotatingFileSink>(std::move(sink));
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return nullptr;
  }
}

std::shared_ptr<TraceSink> MakeSinkFromEnvironment() {
  const char* target = std::getenv("PDFPARSE_TRACE");
  if (!target || !*target) return nullptr;
  if (std::string(target) == "stderr") return MakeStderrSink();
  std::string error;
  auto sink = MakeRotatingFileSink(target, kTraceFileMaxBytes, kTraceFileKeep, &error);
  if (!sink) std::fprintf(stderr, "pdfparse: cannot open trace file %s: %s\n", target, error.c_str());
  return sink;
}

std::shared_ptr<TraceSink> SharedEnvironmentSink() {
  static const std::shared_ptr<TraceSink> sink = MakeSinkFromEnvironment();
  return sink;
}

}  // namespace pdfparse::outside
