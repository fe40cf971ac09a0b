// The cost of handing an inquiry to the library's worker and back, and the
// memory a long run keeps.
//   BM_EmptyLoop           the loop alone (the floor)
//   BM_FrontEndNullFile    a null file name: refused by the caller's side,
//                          nothing reaches the worker (the front end alone)
//   BM_HandOffEmptyFileName  an empty file name: posted to the worker, whose
//                          open fails at once; the hand-off and back with
//                          the least engine work there is
//   BM_RoundTripMissingFile  a path that does not exist
//   BM_TinyFile/level      a one-page file at each level
//   BM_Rss1000Inquiries    resident memory before and after 1,000 level-3
//                          inquiries on a 100-page "Vrel" file
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchPdf.h"
#include "pdfparse/CPdfParseIf.h"

namespace {

struct Fixture {
  std::unique_ptr<CPdfParseIf> parser{CreateCPdfParse(0)};
  std::string dir;
  std::string tiny;
  std::string medium;

  Fixture() {
    std::string templ = (std::filesystem::temp_directory_path() / "pdfparse-bench-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    dir = templ;
    tiny = dir + "/tiny.pdf";
    medium = dir + "/vrel-100.pdf";
    pdfparse::bench::WritePdf(tiny, 1, pdfparse::bench::Shape::kFlat);
    pdfparse::bench::WritePdf(medium, 100, pdfparse::bench::Shape::kBalancedVrel);
    // The first inquiry starts the engine; none of the timings include that.
    PdfInquiryRec rec;
    if (!parser || !parser->runInquiry(tiny.c_str(), &rec)) {
      std::fprintf(stderr, "bench_handoff: the library does not answer a one-page file\n");
    }
  }
  ~Fixture() {
    parser.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Fixture& F() {
  static Fixture fixture;
  return fixture;
}

double ResidentMiB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void BM_EmptyLoop(benchmark::State& state) {
  PdfInquiryRec rec;
  for (auto _ : state) {
    benchmark::DoNotOptimize(&rec);
    benchmark::ClobberMemory();
  }
}

void BM_FrontEndNullFile(benchmark::State& state) {
  auto& parser = *F().parser;
  PdfInquiryRec rec;
  for (auto _ : state) benchmark::DoNotOptimize(parser.runInquiry(nullptr, &rec));
}

void BM_HandOffEmptyFileName(benchmark::State& state) {
  auto& parser = *F().parser;
  PdfInquiryRec rec;
  for (auto _ : state) benchmark::DoNotOptimize(parser.runInquiry("", &rec));
}

void BM_RoundTripMissingFile(benchmark::State& state) {
  auto& parser = *F().parser;
  const std::string missing = F().dir + "/missing.pdf";
  PdfInquiryRec rec;
  for (auto _ : state) benchmark::DoNotOptimize(parser.runInquiry(missing.c_str(), &rec));
}

void BM_TinyFile(benchmark::State& state) {
  auto& parser = *F().parser;
  bool ok = true;
  for (auto _ : state) {
    PdfInquiryRec rec;
    rec.level = static_cast<int32_t>(state.range(0));
    ok = parser.runInquiry(F().tiny.c_str(), &rec) && ok;
  }
  if (!ok) state.SkipWithError("inquiry failed");
}

void BM_Rss1000Inquiries(benchmark::State& state) {
  auto& parser = *F().parser;
  for (auto _ : state) {
    for (int i = 0; i < 10; ++i) {
      PdfInquiryRec rec;
      parser.runInquiry(F().medium.c_str(), &rec);
    }
    const double before = ResidentMiB();
    bool ok = true;
    for (int i = 0; i < 1000; ++i) {
      PdfInquiryRec rec;
      rec.level = 3;
      ok = parser.runInquiry(F().medium.c_str(), &rec) && ok;
    }
    const double after = ResidentMiB();
    state.counters["rss_before_MiB"] = before;
    state.counters["rss_after_MiB"] = after;
    state.counters["rss_growth_pct"] = before > 0 ? 100.0 * (after - before) / before : 0;
    if (!ok) state.SkipWithError("an inquiry failed");
  }
}

BENCHMARK(BM_EmptyLoop);
BENCHMARK(BM_FrontEndNullFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HandOffEmptyFileName)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTripMissingFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TinyFile)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Rss1000Inquiries)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
