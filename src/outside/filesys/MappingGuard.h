// Keeps a mapped file that is cut short while it is read from killing the
// process. Reading a mapped page beyond the file's new end raises SIGBUS;
// while a range is guarded, the handler puts zero pages in place of that
// page and the rest of the range, marks the range damaged and lets the
// read go on. Whoever reads the range checks damaged() before trusting
// what it read.
//
// The handler is installed while any range is guarded and the previous
// one is put back when the last guard ends; a SIGBUS elsewhere goes to the
// previous handler (or the default action). Guards may live on any thread.
#ifndef PDFPARSE_OUTSIDE_FILESYS_MAPPINGGUARD_H_
#define PDFPARSE_OUTSIDE_FILESYS_MAPPINGGUARD_H_

#include <cstddef>

namespace pdfparse::outside {

class MappingGuard {
 public:
  // Guards [data, data + size), a whole mapping made by mmap. When no guard
  // can be set (too many at once), active() is false and the range must
  // not be read.
  MappingGuard(const void* data, size_t size);
  ~MappingGuard();
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  bool active() const { return slot_ >= 0; }
  // Whether a read of the range failed; what it read from there is zeros.
  bool damaged() const;

 private:
  int slot_ = -1;
};

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_FILESYS_MAPPINGGUARD_H_
