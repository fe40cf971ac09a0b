#include "ToolProcess.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <sstream>

namespace pdfparse::test {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The shell command: timeout(1) over env(1), which sets and removes variables.
std::string Command(const Launch& launch) {
  std::string unset, set, args;
  for (const auto& [name, value] : launch.env) value ? set += " " + Quote(name + "=" + *value) : unset += " -u " + name;
  for (const auto& a : launch.argv) args += " " + Quote(a);
  return "exec /usr/bin/timeout -s KILL 60 /usr/bin/env" + unset + set + args;
}

int ExitCode(int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 128 + 9 ? WEXITSTATUS(status) : -1; }

std::string Slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

}  // namespace

Outcome RunToEnd(const Launch& launch, const std::string& input) {
  pdfbuilder::TempDir dir;
  std::string in = dir.write("in", input), out = dir.file("out"), err = dir.file("err");
  std::string redirect = " <" + Quote(in) + " >" + Quote(out) + " 2>" + Quote(err);
  Outcome o;
  o.exitCode = ExitCode(std::system((Command(launch) + redirect).c_str()));
  o.out = Slurp(out);
  o.err = Slurp(err);
  return o;
}

// Stdout goes through a FIFO, opened here once the child has opened it too.
Child::Child(const Launch& launch) {
  std::signal(SIGPIPE, SIG_IGN);
  mkfifo(dir_.file("out").c_str(), 0600);
  in_ = popen((Command(launch) + " >" + Quote(dir_.file("out")) + " 2>/dev/null").c_str(), "w");
  out_ = std::fopen(dir_.file("out").c_str(), "r");
}

Child::~Child() {
  if (in_ != nullptr) finish();
}

void Child::write(const std::string& text) {
  std::fputs(text.c_str(), in_);
  std::fflush(in_);
}

std::optional<std::string> Child::readLine() {
  std::string line;
  for (int c; (c = std::fgetc(out_)) != '\n'; line += static_cast<char>(c))
    if (c == EOF) return std::nullopt;
  return line;
}

Outcome Child::finish() {
  Outcome o;
  o.exitCode = ExitCode(pclose(in_));  // what is left fits in the FIFO
  in_ = nullptr;
  for (int c; (c = std::fgetc(out_)) != EOF;) o.out += static_cast<char>(c);
  std::fclose(out_);
  return o;
}

std::string ToolPath() { return std::string(std::getenv("PDFPARSE_BIN_DIR")) + "/pdfinquiry"; }
std::string FakeLibraryPath() { return PDFINQUIRY_FAKE_LIB; }

}  // namespace pdfparse::test
