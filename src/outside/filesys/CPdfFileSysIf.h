// The host's PDF file system: what the engine reads documents through.
//
// FileSys is the narrow interface (open a regular file, read at an offset);
// the real one uses POSIX calls, tests install doubles that fail opens,
// fail reads or return short reads. CPdfFileSysIf::Create hands the current
// FileSys to the PDF library as its ASFileSys.
#ifndef PDFPARSE_OUTSIDE_FILESYS_CPDFFILESYSIF_H_
#define PDFPARSE_OUTSIDE_FILESYS_CPDFFILESYSIF_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "document/RegularFile.h"
#include "outside/pdfl/PdflTypes.h"

namespace pdfparse::outside {

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
  // Which file this is, for telling whether two opens read the same bytes;
  // null when it cannot be told.
  virtual const document::FileIdentity* identity() const { return nullptr; }
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

FileSys* DefaultFileSys();
// The file system Create hands out; null restores the default. Returns the
// previous one.
FileSys* SetFileSysForTesting(FileSys* fileSys);

// Converts an ASFileSys back to the FileSys it stands for.
inline FileSys* FileSysFromHandle(ASFileSys handle) { return reinterpret_cast<FileSys*>(handle); }

}  // namespace pdfparse::outside

class CPdfFileSysIf {
 public:
  enum EModePdf { eModeDefault = 0, eModeRead = 1 };
  // The file system documents are opened through. Never released.
  static ASFileSys Create(EModePdf mode);
  // Pool setting of the host's file system; accepted and recorded only.
  static void IgnorePool(bool ignore);
  static bool PoolIgnored();
};

#endif  // PDFPARSE_OUTSIDE_FILESYS_CPDFFILESYSIF_H_
