// A document's bytes, read-only and in one piece: the file mapped into
// memory through the file system seam, or (where the file system cannot
// map it) read whole into a buffer charged to the inquiry's budget.
//
// A mapping costs no memory of the inquiry's: its pages are the file's,
// fetched when read and dropped again by release(). A mapped file that is
// cut short while it is read does not kill the process (MappingGuard);
// verify() then fails, as it does once the file was rewritten since it was
// opened, so that no answer comes from a mix of two versions.
#ifndef PDFPARSE_DOCUMENT_FILEBYTES_H_
#define PDFPARSE_DOCUMENT_FILEBYTES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "outside/filesys/FileSys.h"
#include "shared/Constants.h"

class Buffer;

namespace pdfparse::outside {
class MappingGuard;
}

namespace pdfparse::document {

class WorkBudget;

// Documents larger than this are refused (shared/Constants.h).
using shared::kMaxFileBytes;

using outside::FileIdentity;

class FileBytes {
 public:
  // The bytes of `file` (named `path` in messages). Raises Error:
  // kFileTooLarge, kFileRead (a failed or short read), or the budget's
  // limits for a file that is read whole.
  static std::shared_ptr<FileBytes> Open(const std::string& path, std::unique_ptr<outside::File> file,
                                         WorkBudget& budget);
  // Bytes already in memory.
  explicit FileBytes(std::shared_ptr<Buffer> bytes);
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  std::string_view view() const { return {reinterpret_cast<const char*>(data_), size_}; }
  bool mapped() const { return mapping_ != nullptr; }

  // Raises Error kFileRead when the file was cut short while mapped (what
  // was read past its new end is zeros) or no longer is the version that
  // was opened.
  void verify(const std::string& path) const;
  // Whether verify() would fail for a cut; cheap enough for every step.
  bool damaged() const;
  // Lets the system drop the mapped pages read so far.
  void release();

 private:
  FileBytes() = default;

  std::unique_ptr<outside::File> file_;
  std::unique_ptr<outside::Mapping> mapping_;
  std::unique_ptr<outside::MappingGuard> guard_;  // destroyed before mapping_
  std::shared_ptr<Buffer> copy_;
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_FILEBYTES_H_
