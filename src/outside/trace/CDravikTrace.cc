#include "outside/trace/CDravikTrace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "outside/platform/Platform.h"
#include "outside/trace/StreamSinks.h"

namespace pdfparse::outside {

namespace {

// `text` cut to kMaxTraceText bytes, not inside a UTF-8 sequence, and
// marked "..." when cut.
std::string Cut(std::string text) {
  if (text.size() <= kMaxTraceText) return text;
  size_t keep = kMaxTraceText;
  for (int back = 0; back < 3 && keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80; ++back) --keep;
  text.resize(keep);
  return text + "...";
}

// Formats into a bounded buffer: a value of any size costs at most
// kMaxTraceText bytes here (vsnprintf still reads it to its end).
std::string FormatV(const char* format, va_list args) {
  if (!format) return std::string();
  char text[kMaxTraceText + 2];  // one byte more than is kept tells a cut
  int needed = std::vsnprintf(text, sizeof text, format, args);
  if (needed < 0) return Cut(std::string(format).substr(0, kMaxTraceText + 1));
  return Cut(std::string(text, std::min(static_cast<size_t>(needed), kMaxTraceText + 1)));
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
  banner.append(std::min<size_t>(count, kMaxTraceText + 1), fill);
  emit(TraceCall::StartTrace, nullptr, Cut(std::move(banner)));
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
  try {
    TraceRecord record;
    record.call = call;
    record.threadId = Platform::Default()->GetCurrentThreadId();
    record.instance = instance ? instance : "";
    record.text = std::move(text);
    sink_->write(record);
  } catch (...) {
    // A failing sink (or no memory for the line) loses the line; tracing
    // never fails the caller.
  }
}

}  // namespace pdfparse::outside
