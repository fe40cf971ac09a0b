// The file system documents are read through: open a regular file, read at
// an offset. The real one uses POSIX calls (DefaultFileSys); tests install
// doubles that fail opens, fail reads or return short reads. The engine
// sees only this interface.
#ifndef PDFPARSE_OUTSIDE_FILESYS_FILESYS_H_
#define PDFPARSE_OUTSIDE_FILESYS_FILESYS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pdfparse::outside {

// Which file an open reads, and which version of it: two opens that give
// equal identities read the same bytes.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanos = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A read-only mapping of a whole file. A page that the file no longer
// holds (it was cut short after the mapping was made) raises SIGBUS when
// read, unless the range is guarded (MappingGuard.h).
class Mapping {
 public:
  virtual ~Mapping() = default;
  virtual const unsigned char* data() const = 0;
  virtual size_t size() const = 0;
  // Lets the system drop the pages read so far; they are read again from
  // the file when next used.
  virtual void release() {}
};

// An open file. Not shared between threads.
class File {
 public:
  virtual ~File() = default;
  // Size in bytes when the file was opened.
  virtual uint64_t size() const = 0;
  // Reads up to `n` bytes at `offset`. Returns the bytes read (fewer near
  // the end, 0 at the end), or -errno on failure. A short read is not an
  // error; callers loop.
  virtual int64_t readAt(uint64_t offset, void* buffer, size_t n) = 0;
  // Which file this is; null when it cannot be told.
  virtual const FileIdentity* identity() const { return nullptr; }
  // The whole file mapped read-only; null when this file cannot be mapped
  // (callers then read it).
  virtual std::unique_ptr<Mapping> map() { return nullptr; }
  // Whether the file still is the version that was opened (same size and
  // modification time); false once it was rewritten or cut short.
  virtual bool unchanged() const { return true; }
};

class FileSys {
 public:
  virtual ~FileSys() = default;
  // Opens `path` for reading. Only regular files: a directory, FIFO, socket
  // or device is refused before any read, without blocking. Returns 0 and
  // sets `out`, or an errno value (ENOENT, EACCES, EISDIR for a directory,
  // ENODEV for any other non-regular file, ...).
  virtual int open(const std::string& path, std::unique_ptr<File>* out) = 0;
};

// Forwards to another FileSys; derive from it to break single calls.
class FileSysWrapper : public FileSys {
 public:
  explicit FileSysWrapper(FileSys* target) : target_(target) {}
  int open(const std::string& path, std::unique_ptr<File>* out) override { return target_->open(path, out); }

 private:
  FileSys* target_;
};

// The POSIX file system. Each module that links the file system has its own.
FileSys* DefaultFileSys();
// The file system documents are opened through: DefaultFileSys() unless a
// test installed another. Null restores the default; returns the previous one.
FileSys* CurrentFileSys();
FileSys* SetFileSysForTesting(FileSys* fileSys);

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_FILESYS_FILESYS_H_
