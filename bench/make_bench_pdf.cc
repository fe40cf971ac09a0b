// make_bench_pdf PAGES flat|balanced OUT.pdf: writes one benchmark file.
// make_bench_pdf MEGABYTES large OUT.pdf: one page of about that size.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BenchPdf.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[2], "large") == 0) {
    const long megabytes = std::strtol(argv[1], nullptr, 10);
    if (megabytes < 1 || megabytes > 4000) {
      std::fprintf(stderr, "make_bench_pdf: MEGABYTES must be 1 to 4000\n");
      return 2;
    }
    if (!pdfparse::bench::WriteLargeOnePagePdf(argv[3], static_cast<unsigned long long>(megabytes) << 20)) {
      std::fprintf(stderr, "make_bench_pdf: cannot write %s\n", argv[3]);
      return 1;
    }
    return 0;
  }
  if (argc != 4 || (std::strcmp(argv[2], "flat") != 0 && std::strcmp(argv[2], "balanced") != 0)) {
    std::fprintf(stderr, "usage: %s PAGES flat|balanced OUT.pdf | MEGABYTES large OUT.pdf\n", argv[0]);
    return 2;
  }
  const long pages = std::strtol(argv[1], nullptr, 10);
  if (pages < 1 || pages > 10'000'000) {
    std::fprintf(stderr, "make_bench_pdf: PAGES must be 1 to 10000000\n");
    return 2;
  }
  const auto shape =
      std::strcmp(argv[2], "flat") == 0 ? pdfparse::bench::Shape::kFlat : pdfparse::bench::Shape::kBalancedVrel;
  if (!pdfparse::bench::WritePdf(argv[3], pages, shape)) {
    std::fprintf(stderr, "make_bench_pdf: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
