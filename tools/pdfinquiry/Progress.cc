#include "Progress.h"

#include <cmath>

namespace pdfparse::inquirytool {

std::string ProgressText(size_t done, size_t total, double elapsedSeconds) {
  const double rate = elapsedSeconds > 0 ? static_cast<double>(done) / elapsedSeconds : 0.0;
  char buf[160];
  if (total == 0) {
    std::snprintf(buf, sizeof buf, "%zu files  %.1f files/s", done, rate);
    return buf;
  }
  std::string left = "--:--";
  if (rate > 0 && done <= total) {
    const long secs = std::lround(static_cast<double>(total - done) / rate);
    char t[48];
    if (secs >= 3600) {
      std::snprintf(t, sizeof t, "%ld:%02ld:%02ld", secs / 3600, (secs / 60) % 60, secs % 60);
    } else {
      std::snprintf(t, sizeof t, "%ld:%02ld", secs / 60, secs % 60);
    }
    left = t;
  }
  std::snprintf(buf, sizeof buf, "%zu/%zu files  %.1f files/s  %s left", done, total, rate, left.c_str());
  return buf;
}

Progress::Progress(std::FILE* out, bool enabled, size_t total)
    : out_(out), enabled_(enabled), total_(total), start_(std::chrono::steady_clock::now()) {}

void Progress::update(size_t done) {
  if (!enabled_) return;
  if (total_ == 1 || (total_ == 0 && done < 2)) return;
  const auto now = std::chrono::steady_clock::now();
  // A terminal need not be redrawn more than ten times a second.
  if (shown_ && done != total_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::fprintf(out_, "\r%s\x1b[K", ProgressText(done, total_, elapsed).c_str());
  std::fflush(out_);
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  std::fputs("\r\x1b[K", out_);
  std::fflush(out_);
  shown_ = false;
}

}  // namespace pdfparse::inquirytool
