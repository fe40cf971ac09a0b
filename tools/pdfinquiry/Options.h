// Command line of pdfinquiry.
#ifndef PDFINQUIRY_OPTIONS_H_
#define PDFINQUIRY_OPTIONS_H_

#include <string>
#include <vector>

namespace pdfparse::inquirytool {

// Exit codes of the whole program.
inline constexpr int kExitOk = 0;      // every inquiry succeeded
inline constexpr int kExitFailed = 1;  // at least one inquiry failed
inline constexpr int kExitUsage = 2;   // bad command line, or no loadable library

struct Options {
  int level = 3;
  std::string key = "Producer";
  bool json = false;
  std::string traceFile;  // empty: leave PDFPARSE_TRACE as it is
  bool recursive = false;
  std::string filesFrom;  // empty: none; "-": standard input, answered line by line
  bool quiet = false;
  std::string library;  // empty: PDFPARSE_LIBRARY, else the library next to the program
  std::string password;  // empty: none; tried before the library's own
  bool pages = false;    // a row per page instead of the level inquiry
  bool inks = false;     // the document's inks in each row
  std::vector<std::string> paths;
};

struct ParsedCommandLine {
  bool run = false;  // false: print `output`/`error` and exit with `exitCode`
  int exitCode = kExitOk;
  std::string output;  // for stdout (--help, --version)
  std::string error;   // for stderr (usage errors)
  Options options;
};

// Parses argv. Never throws; usage errors give exitCode kExitUsage and a
// message that ends with a hint to --help.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_OPTIONS_H_
