// The real file system: regular files, opened without blocking, identified
// by what fstat says of the opened descriptor, read with pread or mapped.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "outside/filesys/FileSys.h"

namespace pdfparse::outside {
namespace {

// Why a stat result is refused; 0 for a regular file.
int RefusalFor(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return ENODEV;
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(st.st_dev);
  identity.inode = static_cast<uint64_t>(st.st_ino);
  identity.size = static_cast<uint64_t>(st.st_size);
  identity.modifiedNanos = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return identity;
}

class PosixMapping : public Mapping {
 public:
  PosixMapping(void* data, size_t size) : data_(data), size_(size) {}
  ~PosixMapping() override { ::munmap(data_, size_); }
  PosixMapping(const PosixMapping&) = delete;
  PosixMapping& operator=(const PosixMapping&) = delete;

  const unsigned char* data() const override { return static_cast<const unsigned char*>(data_); }
  size_t size() const override { return size_; }
  // The pages are the file's own (never written), so dropping them loses
  // nothing; the next read faults them in from the page cache.
  void release() override { ::madvise(data_, size_, MADV_DONTNEED); }

 private:
  void* data_;
  size_t size_;
};

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

  std::unique_ptr<Mapping> map() override {
    if (identity_.size == 0 || identity_.size > SIZE_MAX) return nullptr;
    const size_t size = static_cast<size_t>(identity_.size);
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, 0);
    if (data == MAP_FAILED) return nullptr;
    return std::make_unique<PosixMapping>(data, size);
  }

  bool unchanged() const override {
    struct stat st;
    return ::fstat(fd_, &st) == 0 && IdentityOf(st) == identity_;
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
    *out = std::make_unique<PosixFile>(fd, IdentityOf(st));
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
