#include "outside/trace/StreamSinks.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <mutex>

namespace outside {

std::string FormatTraceLine(const TraceRecord& record, std::chrono::system_clock::time_point when) {
  if (record.call == TraceCall::CreateInstance || record.call == TraceCall::ReleaseInstance)
    return std::string();
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
    line += record.instance;
    line += ": ";
  }
  line += record.text;
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
  explicit RotatingFileSink(std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> sink)
      : sink_(std::move(sink)) {}
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

}  // namespace

std::shared_ptr<TraceSink> MakeStderrSink() { return std::make_shared<StderrSink>(); }

std::shared_ptr<TraceSink> MakeRotatingFileSink(const std::string& path, size_t maxBytes,
                                                size_t maxFiles, std::string* error) {
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

}  // namespace outside
