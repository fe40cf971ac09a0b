// Runs pdfinquiry (or any program) as a child process for the tool's tests,
// through the shell under timeout(1), which kills a child still running
// after a minute: a hang guard, not a timing check.
#ifndef PDFPARSE_TESTS_TOOLS_PDFINQUIRY_TOOLPROCESS_H_
#define PDFPARSE_TESTS_TOOLS_PDFINQUIRY_TOOLPROCESS_H_

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {

struct Outcome {
  int exitCode = -1;  // -1 when the child did not exit normally
  std::string out, err;
};

// Variables set (value) or removed (nullopt) on top of this process's.
using Env = std::map<std::string, std::optional<std::string>>;
struct Launch {
  std::vector<std::string> argv;
  Env env = {};
};

// Runs to the end with `input` on stdin.
Outcome RunToEnd(const Launch& launch, const std::string& input = "");

// A child whose stdin the test writes while it reads its stdout.
class Child {
 public:
  explicit Child(const Launch& launch);
  ~Child();
  void write(const std::string& text);    // flushed
  std::optional<std::string> readLine();  // without "\n"; nullopt at the end
  Outcome finish();                       // closes stdin and waits; `out` holds what was not read

 private:
  pdfbuilder::TempDir dir_;
  FILE *in_ = nullptr, *out_ = nullptr;
};

std::string ToolPath();         // the built pdfinquiry
std::string FakeLibraryPath();  // the test stand-in library

}  // namespace pdfparse::test

#endif  // PDFPARSE_TESTS_TOOLS_PDFINQUIRY_TOOLPROCESS_H_
