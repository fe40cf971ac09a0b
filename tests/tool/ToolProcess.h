// Runs pdfinquiry (or any program) as a child process for the tool's tests:
// whole runs with captured output, and interactive runs fed line by line.
#ifndef PDFPARSE_TESTS_TOOL_TOOLPROCESS_H_
#define PDFPARSE_TESTS_TOOL_TOOLPROCESS_H_

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tooltest {

struct Outcome {
  int exitCode = -1;   // -1 when the child did not exit normally
  std::string out;
  std::string err;
};

struct Launch {
  std::vector<std::string> argv;
  // Set (value) or removed (nullopt) on top of this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string cwd;          // empty: this process's
  bool stderrOnTerminal = false;  // stderr is a pseudo-terminal
};

// Runs to the end, feeding `input` to stdin. A child that runs longer than
// a minute is killed and fails the test (a hang guard, not a timing check).
Outcome RunToEnd(const Launch& launch, const std::string& input = "");

// A child whose stdin the test writes while reading its stdout.
class Interactive {
 public:
  explicit Interactive(const Launch& launch);
  ~Interactive();
  void writeLine(const std::string& line);
  // The next line of stdout, without "\n"; nullopt at end of output.
  std::optional<std::string> readLine();
  void closeInput();
  // Reads the rest, waits, returns the outcome (out holds what readLine left).
  Outcome finish();

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string pending_;
};

// Paths from the test environment.
std::string ToolPath();        // the built pdfinquiry
std::string LibraryPath();     // the built libpdfparse.so
std::string FakeLibraryPath(); // the test stand-in library

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes `content` to `name` (created with parents) and returns the path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

}  // namespace tooltest

#endif  // PDFPARSE_TESTS_TOOL_TOOLPROCESS_H_
