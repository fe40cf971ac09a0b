#include "outside/trace/CDravikTrace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "outside/platform/Platform.h"
#include "outside/trace/StreamSinks.h"

namespace outside {

namespace {

std::string FormatV(const char* format, va_list args) {
  if (!format) return std::string();
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string(format);
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

}  // namespace

CDravikTrace::CDravikTrace() : sink_(SharedEnvironmentSink()) {}

CDravikTrace::~CDravikTrace() {
  std::shared_ptr<TraceSink> sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sink.swap(sink_);
  }
  if (sink) sink->flush();
}

bool CDravikTrace::CreateTraceInstance(const char* instance) {
  std::string name = instance ? instance : "";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++instances_[name];
  }
  emit(TraceCall::CreateInstance, instance, std::string());
  return true;
}

bool CDravikTrace::ReleaseInstance(const char* instance) {
  std::string name = instance ? instance : "";
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = instances_.find(name);
    if (it != instances_.end() && it->second > 0) {
      known = true;
      if (--it->second == 0) instances_.erase(it);
    }
  }
  emit(TraceCall::ReleaseInstance, instance, std::string());
  return known;
}

void CDravikTrace::StartTrace(const char* text, char fill, uint32_t count) {
  std::string banner = text ? text : "";
  banner.append(count, fill);
  emit(TraceCall::StartTrace, nullptr, std::move(banner));
}

void CDravikTrace::OutputEx(const char* instance, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  emit(TraceCall::OutputEx, instance, std::move(text));
}

void CDravikTrace::Output(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  emit(TraceCall::Output, nullptr, std::move(text));
}

std::shared_ptr<TraceSink> CDravikTrace::SetSink(std::shared_ptr<TraceSink> sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  sink_.swap(sink);
  return sink;
}

std::shared_ptr<TraceSink> CDravikTrace::sink() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sink_;
}

void CDravikTrace::emit(TraceCall call, const char* instance, std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sink_) return;
  TraceRecord record;
  record.call = call;
  record.threadId = Platform::Default()->GetCurrentThreadId();
  record.instance = instance ? instance : "";
  record.text = std::move(text);
  try {
    sink_->write(record);
  } catch (...) {
    // A failing sink loses the line; tracing never fails the caller.
  }
}

}  // namespace outside
