#include "ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace tooltest {

namespace {

// A guard against a hung child, not a measure of speed.
constexpr int kHangGuardMs = 60'000;

std::vector<std::string> Environment(const Launch& launch) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& [name, value] : launch.env) {
    if (value) env[name] = *value;
    else env.erase(name);
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : env) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

pid_t Spawn(const Launch& launch, int* inFd, int* outFd, int* errFd) {
  std::vector<std::string> args = launch.argv;
  std::vector<std::string> envStrings = Environment(launch);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(envStrings);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (launch.stderrOnTerminal) {
    if (openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    fcntl(err[0], F_SETFD, FD_CLOEXEC);
    fcntl(err[1], F_SETFD, FD_CLOEXEC);
  } else if (pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  *inFd = in[1];
  *outFd = out[0];
  *errFd = err[0];
  return pid;
}

// Reads whatever `fd` has into `sink`; false at end (or, for a terminal,
// EIO once the child has gone).
bool Drain(int fd, std::string* sink) {
  char buf[4096];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n > 0) {
    sink->append(buf, static_cast<size_t>(n));
    return true;
  }
  return n < 0 && (errno == EINTR || errno == EAGAIN);
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Pumps stdin data and both outputs until both outputs end.
void Pump(pid_t pid, int inFd, int outFd, int errFd, const std::string& input, Outcome* o) {
  size_t written = 0;
  if (input.empty() && inFd >= 0) {
    close(inFd);
    inFd = -1;
  }
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    int outIdx = -1, errIdx = -1, inIdx = -1;
    if (outOpen) { fds[n] = {outFd, POLLIN, 0}; outIdx = n++; }
    if (errOpen) { fds[n] = {errFd, POLLIN, 0}; errIdx = n++; }
    if (inFd >= 0) { fds[n] = {inFd, POLLOUT, 0}; inIdx = n++; }
    const int r = poll(fds, n, kHangGuardMs);
    if (r == 0) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "child did not finish; killed";
      break;
    }
    if (r < 0) continue;
    if (outIdx >= 0 && fds[outIdx].revents) outOpen = Drain(outFd, &o->out);
    if (errIdx >= 0 && fds[errIdx].revents) errOpen = Drain(errFd, &o->err);
    if (inIdx >= 0 && fds[inIdx].revents) {
      const ssize_t w = write(inFd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(outFd);
  close(errFd);
  o->exitCode = Reap(pid);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) throw std::runtime_error(std::string(name) + " is not set");
  return v;
}

}  // namespace

Outcome RunToEnd(const Launch& launch, const std::string& input) {
  signal(SIGPIPE, SIG_IGN);
  int in, out, err;
  const pid_t pid = Spawn(launch, &in, &out, &err);
  Outcome o;
  Pump(pid, in, out, err, input, &o);
  return o;
}

Interactive::Interactive(const Launch& launch) {
  signal(SIGPIPE, SIG_IGN);
  pid_ = Spawn(launch, &in_, &out_, &err_);
}

Interactive::~Interactive() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Reap(pid_);
  }
  for (int fd : {in_, out_, err_})
    if (fd >= 0) close(fd);
}

void Interactive::writeLine(const std::string& line) {
  const std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t w = write(in_, data.data() + done, data.size() - done);
    if (w <= 0) throw std::runtime_error("write to child failed");
    done += static_cast<size_t>(w);
  }
}

std::optional<std::string> Interactive::readLine() {
  for (;;) {
    const size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    pollfd fd{out_, POLLIN, 0};
    const int r = poll(&fd, 1, kHangGuardMs);
    if (r == 0) {
      ADD_FAILURE() << "no line from child; it holds back its output";
      return std::nullopt;
    }
    if (r < 0) continue;
    if (!Drain(out_, &pending_)) return std::nullopt;
  }
}

void Interactive::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

Outcome Interactive::finish() {
  closeInput();
  Outcome o;
  o.out = pending_;
  const pid_t pid = pid_;
  pid_ = -1;
  const int out = out_, err = err_;
  out_ = err_ = -1;
  Pump(pid, -1, out, err, "", &o);
  return o;
}

std::string ToolPath() { return Env("PDFPARSE_BIN_DIR") + "/pdfinquiry"; }
std::string LibraryPath() { return Env("PDFPARSE_LIB"); }
std::string FakeLibraryPath() { return PDFINQUIRY_FAKE_LIB; }

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "pdfinquiry-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  const std::filesystem::path p = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f << content;
  return p.string();
}

}  // namespace tooltest
