// The self-updating progress line on a terminal's stderr.
#ifndef PDFINQUIRY_PROGRESS_H_
#define PDFINQUIRY_PROGRESS_H_

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace pdfparse::inquirytool {

// "12/100 files  34.5 files/s  0:03 left"; with total 0 (not known yet)
// "12 files  34.5 files/s".
std::string ProgressText(size_t done, size_t total, double elapsedSeconds);

class Progress {
 public:
  // `enabled`: stderr is a terminal and --quiet was not given. `total` 0
  // means the number of files is not known in advance.
  Progress(std::FILE* out, bool enabled, size_t total);

  // After each file. Draws only for runs of more than one file.
  void update(size_t done);
  // Removes the line (before other output, and at the end).
  void clear();

 private:
  std::FILE* out_;
  bool enabled_;
  size_t total_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_PROGRESS_H_
