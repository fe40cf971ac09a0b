// Reading a document's bytes: regular files only, opened without blocking,
// identified by what fstat says of the opened descriptor, and read whole
// into one buffer. Shared by the library's file system and by modules that
// open documents by path themselves.
#ifndef PDFPARSE_DOCUMENT_REGULARFILE_H_
#define PDFPARSE_DOCUMENT_REGULARFILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "shared/Constants.h"

class Buffer;

namespace pdfparse::document {

class WorkBudget;

// Documents larger than this are refused (shared/Constants.h).
using shared::kMaxFileBytes;

// Which file a descriptor reads, and which version of it: two opens that
// give equal identities read the same bytes.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanos = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A failed open (`error` is its errno value) or a failed or short read.
class __attribute__((visibility("default"))) FileError : public std::runtime_error {
 public:
  enum class Stage { Open, Read };
  FileError(Stage stage, int error, const std::string& message)
      : std::runtime_error(message), stage_(stage), error_(error) {}
  Stage stage() const { return stage_; }
  int error() const { return error_; }

 private:
  Stage stage_;
  int error_;
};

// More than kMaxFileBytes.
class __attribute__((visibility("default"))) FileTooLarge : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An open regular file. Not shared between threads.
class RegularFile {
 public:
  // Opens `path` for reading. A directory (EISDIR) or any other file that is
  // not regular (ENODEV) is refused without blocking and without reading;
  // the check is made on the opened descriptor. Returns 0 and sets `out`, or
  // an errno value.
  static int Open(const std::string& path, std::unique_ptr<RegularFile>* out);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  const FileIdentity& identity() const { return identity_; }
  uint64_t size() const { return identity_.size; }
  // Up to `n` bytes at `offset`: the bytes read (0 at the end) or -errno.
  int64_t readAt(uint64_t offset, void* buffer, size_t n);

 private:
  RegularFile(int fd, const FileIdentity& identity) : fd_(fd), identity_(identity) {}
  int fd_;
  FileIdentity identity_;
};

// Reads `size` bytes through `readAt` (RegularFile::readAt's contract) into
// one buffer, checking `budget`'s deadline between chunks. Raises
// FileTooLarge, FileError (a failed or short read) or WorkLimitExceeded.
using ReadAt = std::function<int64_t(uint64_t offset, void* buffer, size_t n)>;
std::shared_ptr<Buffer> ReadWhole(const std::string& path, uint64_t size, const ReadAt& readAt, WorkBudget& budget);

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_REGULARFILE_H_
