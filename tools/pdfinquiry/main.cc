// pdfinquiry: asks PDF files about pages, boxes and inks through
// libpdfparse.so, loaded at run time like any host loads it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Answer.h"
#include "FileCollection.h"
#include "Format.h"
#include "LibraryLoader.h"
#include "Options.h"
#include "Progress.h"

namespace pdfparse::inquirytool {
namespace {

// Width of the file column when the files are not known in advance.
constexpr size_t kStreamFileWidth = 40;
constexpr size_t kMaxFileWidth = 60;

class Run {
 public:
  // `parser` is null with --pages, which asks the document API alone.
  Run(const Options& options, CPdfParseIf* parser, const Extras& extras)
      : o_(options), parser_(parser), extras_(extras) {}

  // Prints the header. `total` 0: the number of files is not known yet.
  void begin(size_t fileWidth, size_t total) {
    table_ = std::make_unique<TextTable>(o_.key, fileWidth, o_.inks);
    pageTable_ = std::make_unique<PageTextTable>(fileWidth);
    progress_ = std::make_unique<Progress>(stderr, !o_.quiet && isatty(STDERR_FILENO), total);
    stdoutIsTerminal_ = isatty(STDOUT_FILENO);
    if (!o_.json) emit(o_.pages ? pageTable_->header() : table_->header());
  }

  void answerAll(const std::vector<Candidate>& files) {
    for (const auto& c : files) answer(c);
  }

  // Answers each line of `in` as soon as it arrives.
  void answerStream(std::istream& in, FileCollector& collector) {
    while (auto listed = NextListedPath(in)) {
      if (!listed->error.empty()) {
        answer(*listed);
        continue;
      }
      std::vector<Candidate> expanded;
      collector.expand(listed->path, &expanded);
      for (const auto& c : expanded) answer(c);
    }
  }

  void finish() {
    if (progress_) progress_->clear();
  }

  bool allSucceeded() const { return allSucceeded_; }
  size_t count() const { return done_; }

 private:
  void answer(const Candidate& c) {
    const auto index = static_cast<uint32_t>(done_ + 1);
    if (o_.pages) {
      answerPages(c, index);
    } else {
      const Answer a = Inquire(*parser_, c.path, c.error, o_.level, o_.key, index, extras_);
      allSucceeded_ = allSucceeded_ && a.succeeded;
      emit(o_.json ? JsonLine(a) : table_->row(a));
    }
    ++done_;
    progress_->update(done_);
  }

  // --pages: the document API alone, a row per page.
  void answerPages(const Candidate& c, uint32_t index) {
    PageAnswer a;
    a.file = c.path;
    a.index = index;
    DocumentReport report = extras_.api->read(c.path, extras_.document, /*inks=*/false, /*pages=*/true);
    a.failure = std::move(report.failure);
    if (!c.error.empty()) a.failure = Failure{a.failure ? a.failure->code : "unknown", c.error};
    a.repaired = report.repaired;
    a.pages = std::move(report.pages);
    allSucceeded_ = allSucceeded_ && !a.failure;
    for (const std::string& line : o_.json ? PageJsonLines(a) : pageTable_->rows(a)) emit(line, /*flush=*/false);
    std::fflush(stdout);
  }

  void emit(const std::string& line, bool flush = true) {
    // The progress line shares the terminal with the rows.
    if (stdoutIsTerminal_ && progress_) progress_->clear();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    // Flushed per row (per file with --pages): a program feeding
    // --files-from - waits for each answer.
    if (flush) std::fflush(stdout);
  }

  const Options& o_;
  CPdfParseIf* parser_;
  const Extras& extras_;
  std::unique_ptr<TextTable> table_;
  std::unique_ptr<PageTextTable> pageTable_;
  std::unique_ptr<Progress> progress_;
  bool stdoutIsTerminal_ = false;
  bool allSucceeded_ = true;
  size_t done_ = 0;
};

int Main(int argc, const char* const* argv) {
  const ParsedCommandLine cl = ParseCommandLine(argc, argv);
  if (!cl.run) {
    std::fputs(cl.output.c_str(), stdout);
    std::fputs(cl.error.c_str(), stderr);
    return cl.exitCode;
  }
  const Options& o = cl.options;

  // The library reads where its trace goes when it is loaded, the password
  // at each inquiry.
  if (!o.traceFile.empty()) setenv("PDFPARSE_TRACE", o.traceFile.c_str(), 1);
  if (!o.password.empty()) setenv("PDFPARSE_PASSWORD", o.password.c_str(), 1);

  const std::vector<std::string> candidates = DefaultLibraryCandidates(ExecutablePath());
  const char* envLibrary = std::getenv("PDFPARSE_LIBRARY");
  const std::string libraryPath = ChooseLibrary(o.library, envLibrary, candidates);
  std::string error;
  std::unique_ptr<PdfParseLibrary> library = PdfParseLibrary::Load(libraryPath, &error);
  if (!library) {
    std::fprintf(stderr, "pdfinquiry: %s\n", error.c_str());
    if (o.library.empty() && (envLibrary == nullptr || envLibrary[0] == '\0')) {
      std::fputs("pdfinquiry: looked beside the program in:\n", stderr);
      for (const auto& c : candidates) std::fprintf(stderr, "  %s\n", c.c_str());
      std::fputs("pdfinquiry: name the library with --library PATH or PDFPARSE_LIBRARY\n", stderr);
    }
    return kExitUsage;
  }

  // The document API of the library's engine: reasons, repairs, pages, inks.
  const std::unique_ptr<DocumentApi> api = DocumentApi::Find(library->path());
  if (!api && (o.pages || o.inks)) {
    std::fprintf(stderr, "pdfinquiry: --pages and --inks need the document API (libpdfparse_document.so.1), "
                         "not found with %s\n", library->path().c_str());
    return kExitUsage;
  }
  Extras extras;
  extras.api = api.get();
  extras.inks = o.inks;
  extras.document = DocumentOptionsFromEnvironment();

  FileCollector collector(o.recursive);
  std::vector<Candidate> files;
  for (const auto& p : o.paths) collector.expand(p, &files);
  std::ifstream listFile;
  const bool streaming = o.filesFrom == "-";
  if (!o.filesFrom.empty() && !streaming) {
    listFile.open(o.filesFrom);
    if (!listFile) {
      std::fprintf(stderr, "pdfinquiry: cannot read the list %s\n", o.filesFrom.c_str());
      return kExitUsage;
    }
    while (auto listed = NextListedPath(listFile)) {
      if (listed->error.empty()) {
        collector.expand(listed->path, &files);
      } else {
        files.push_back(*listed);
      }
    }
  }

  std::unique_ptr<CPdfParseIf> parser;
  if (!o.pages) parser = library->createParser();
  if (!parser && !o.pages) {
    std::fprintf(stderr, "pdfinquiry: %s could not create a parser\n", library->path().c_str());
    return kExitUsage;
  }

  Run run(o, parser.get(), extras);
  if (streaming) {
    run.begin(kStreamFileWidth, 0);
    run.answerAll(files);
    run.answerStream(std::cin, collector);
  } else {
    size_t width = 4;
    for (const auto& c : files) width = std::max(width, DisplayWidth(PrintableText(c.path)));
    run.begin(std::min(width, kMaxFileWidth), files.size());
    run.answerAll(files);
  }
  run.finish();
  if (run.count() == 0 && !o.quiet) std::fputs("pdfinquiry: no PDF files found\n", stderr);

  // The last parser stops the library's worker; only then may it be unloaded.
  parser.reset();
  library.reset();
  return run.allSucceeded() ? kExitOk : kExitFailed;
}

}  // namespace
}  // namespace pdfparse::inquirytool

int main(int argc, char** argv) { return pdfparse::inquirytool::Main(argc, argv); }
