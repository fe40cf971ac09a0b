// Writes large PDF files for the benchmark directly as PDF syntax (fast
// and with full control over the page tree's shape).
#ifndef PDFPARSE_BENCH_BENCHPDF_H_
#define PDFPARSE_BENCH_BENCHPDF_H_

#include <string>

namespace pdfparse::bench {

enum class Shape {
  // One /Pages node holding every page; each page has the same media box.
  kFlat,
  // Nodes of at most kFanOut kids; letter and A4 media boxes inherited from
  // nodes and set on pages, crop boxes on some pages, /Rotate inherited
  // from some nodes and set on some pages, producer "Vrel ...", and one
  // Separation ink in the last page's resources.
  kBalancedVrel,
};

inline constexpr int kFanOut = 10;

// The whole file as bytes.
std::string MakePdf(long pages, Shape shape);

// Writes MakePdf(...) to `path`; false when the file cannot be written.
bool WritePdf(const std::string& path, long pages, Shape shape);

// Writes a one-page file of about `bytes` bytes, almost all of it the
// page's content stream (uncompressed drawing operators), with the Info
// dictionary and a Separation ink at the end of the file, after the
// content. Written as it goes; false when the file cannot be written.
bool WriteLargeOnePagePdf(const std::string& path, unsigned long long bytes);

}  // namespace pdfparse::bench

#endif  // PDFPARSE_BENCH_BENCHPDF_H_
