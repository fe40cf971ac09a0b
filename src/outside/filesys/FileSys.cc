// The real file system: regular files, opened without blocking, identified
// by what fstat says of the opened descriptor, read with pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "outside/filesys/FileSys.h"

namespace pdfparse::outside {
namespace {

// Why a stat result is refused; 0 for a regular file.
int RefusalFor(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return ENODEV;
}

class PosixFile : public File {
 public:
  PosixFile(int fd, const FileIdentity& identity) : fd_(fd), identity_(identity) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint64_t size() const override { return identity_.size; }
  const FileIdentity* identity() const override { return &identity_; }

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
  FileIdentity identity_;
};

class PosixFileSys : public FileSys {
 public:
  int open(const std::string& path, std::unique_ptr<File>* out) override {
    if (out == nullptr) return EINVAL;
    out->reset();
    if (path.empty()) return ENOENT;
    // Refuse what is not a regular file before opening it: opening a device
    // can have side effects. O_NONBLOCK keeps a FIFO from waiting for a
    // writer should the path be replaced by one between stat and open.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (int refusal = RefusalFor(st)) return refusal;
    int fd;
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    if (::fstat(fd, &st) != 0) {
      int err = errno;
      ::close(fd);
      return err;
    }
    if (int refusal = RefusalFor(st)) {
      ::close(fd);
      return refusal;
    }
    FileIdentity identity;
    identity.device = static_cast<uint64_t>(st.st_dev);
    identity.inode = static_cast<uint64_t>(st.st_ino);
    identity.size = static_cast<uint64_t>(st.st_size);
    identity.modifiedNanos = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    *out = std::make_unique<PosixFile>(fd, identity);
    return 0;
  }
};

std::atomic<FileSys*> g_current{nullptr};

}  // namespace

FileSys* DefaultFileSys() {
  // Destroyed when the module is unloaded, so a host that unloads it leaks nothing.
  static PosixFileSys fileSys;
  return &fileSys;
}

FileSys* CurrentFileSys() {
  FileSys* fileSys = g_current.load();
  return fileSys != nullptr ? fileSys : DefaultFileSys();
}

FileSys* SetFileSysForTesting(FileSys* fileSys) {
  FileSys* previous = g_current.exchange(fileSys);
  return previous != nullptr ? previous : DefaultFileSys();
}

}  // namespace pdfparse::outside
