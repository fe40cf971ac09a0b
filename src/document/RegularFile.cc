#include "document/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "document/WorkBudget.h"

namespace pdfparse::document {
namespace {

constexpr size_t kReadChunk = 1 << 20;

// Why a stat result is refused; 0 for a regular file.
int RefusalFor(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return ENODEV;
}

}  // namespace

int RegularFile::Open(const std::string& path, std::unique_ptr<RegularFile>* out) {
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
  out->reset(new RegularFile(fd, identity));
  return 0;
}

RegularFile::~RegularFile() { ::close(fd_); }

int64_t RegularFile::readAt(uint64_t offset, void* buffer, size_t n) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return -EINVAL;
  if (n > static_cast<size_t>(SSIZE_MAX)) n = SSIZE_MAX;
  for (;;) {
    ssize_t got = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
    if (got >= 0) return got;
    if (errno != EINTR) return -errno;
  }
}

std::shared_ptr<Buffer> ReadWhole(const std::string& path, uint64_t size, const ReadAt& readAt, WorkBudget& budget) {
  if (size > kMaxFileBytes) {
    throw FileTooLarge(path + " has " + std::to_string(size) + " bytes, more than " + std::to_string(kMaxFileBytes) +
                       " allowed");
  }
  budget.chargeMemory(size, "the file's bytes");
  auto bytes = std::make_shared<Buffer>(static_cast<size_t>(size));
  unsigned char* data = bytes->getBuffer();
  uint64_t offset = 0;
  while (offset < size) {
    budget.checkDeadline();
    size_t want = static_cast<size_t>(std::min<uint64_t>(size - offset, kReadChunk));
    int64_t got = readAt(offset, data + offset, want);
    if (got < 0) {
      const int err = static_cast<int>(-got);
      throw FileError(FileError::Stage::Read, err,
                      "cannot read " + path + " at offset " + std::to_string(offset) + ": " + std::strerror(err));
    }
    if (got == 0) {
      throw FileError(FileError::Stage::Read, EIO,
                      "cannot read " + path + ": it ended after " + std::to_string(offset) + " of " +
                          std::to_string(size) + " bytes");
    }
    if (static_cast<uint64_t>(got) > want) {
      throw FileError(FileError::Stage::Read, EIO,
                      "cannot read " + path + ": the file system returned more than asked");
    }
    offset += static_cast<uint64_t>(got);
  }
  return bytes;
}

}  // namespace pdfparse::document
