// The real file system: POSIX open/fstat/pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "outside/filesys/CPdfFileSysIf.h"

namespace outside {
namespace {

// Why a stat result is refused; 0 for a regular file.
int RefusalFor(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return ENODEV;
}

class PosixFile : public File {
 public:
  PosixFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint64_t size() const override { return size_; }

  int64_t readAt(uint64_t offset, void* buffer, size_t n) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -EINVAL;
    if (n > static_cast<size_t>(SSIZE_MAX)) n = SSIZE_MAX;
    for (;;) {
      ssize_t got = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
      if (got >= 0) return got;
      if (errno != EINTR) return -errno;
    }
  }

 private:
  int fd_;
  uint64_t size_;
};

class PosixFileSys : public FileSys {
 public:
  int open(const std::string& path, std::unique_ptr<File>* out) override {
    if (out == nullptr) return EINVAL;
    out->reset();
    if (path.empty()) return ENOENT;
    // Refuse what is not a regular file before opening it: opening a device
    // can have side effects, and a FIFO would wait for a writer.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (int refusal = RefusalFor(st)) return refusal;
    int fd;
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    // The path may have been replaced between stat and open.
    if (::fstat(fd, &st) != 0) {
      int err = errno;
      ::close(fd);
      return err;
    }
    if (int refusal = RefusalFor(st)) {
      ::close(fd);
      return refusal;
    }
    *out = std::make_unique<PosixFile>(fd, static_cast<uint64_t>(st.st_size));
    return 0;
  }
};

std::atomic<FileSys*> g_current{nullptr};
std::atomic<bool> g_poolIgnored{false};

}  // namespace

FileSys* DefaultFileSys() {
  // Destroyed when the library is unloaded, so a host that unloads it leaks nothing.
  static PosixFileSys fileSys;
  return &fileSys;
}

FileSys* SetFileSysForTesting(FileSys* fileSys) {
  FileSys* previous = g_current.exchange(fileSys);
  return previous != nullptr ? previous : DefaultFileSys();
}

}  // namespace outside

ASFileSys CPdfFileSysIf::Create(EModePdf /*mode*/) {
  // Every mode reads; documents are never written.
  outside::FileSys* fileSys = outside::g_current.load();
  if (fileSys == nullptr) fileSys = outside::DefaultFileSys();
  return reinterpret_cast<ASFileSys>(fileSys);
}

void CPdfFileSysIf::IgnorePool(bool ignore) { outside::g_poolIgnored.store(ignore); }

bool CPdfFileSysIf::PoolIgnored() { return outside::g_poolIgnored.load(); }
