// Helpers shared by the document object's sources, and the PDF library's
// calls (Pdfl.h), which only these sources see: CPdfObject.h needs only the
// plain types.
#ifndef PDFPARSE_PDFOBJECT_PDFOBJECTDETAIL_H_
#define PDFPARSE_PDFOBJECT_PDFOBJECTDETAIL_H_

#include <cstddef>
#include <new>

#include "outside/framework/Framework.h"
#include "outside/pdfl/Pdfl.h"
#include "outside/trace/LibraryTraces.h"

namespace pdfparse::pdfobject {

// Holds an acquired page and releases it on every path, also when a library
// call raises while the page is held.
class PageHolder {
 public:
  explicit PageHolder(PDPage page) : page_(page) {}
  ~PageHolder() {
    if (page_ == nullptr) return;
    // Unwinding already carries the first exception; a second one from the
    // release must not escape a destructor.
    try {
      PDPageRelease(page_);
    } catch (const pdfl::PdflException&) {
    }
  }
  PageHolder(const PageHolder&) = delete;
  PageHolder& operator=(const PageHolder&) = delete;

  PDPage get() const { return page_; }
  // Releases now (the normal path); a raise here is the block's to catch.
  void release() {
    PDPage page = page_;
    page_ = nullptr;
    PDPageRelease(page);
  }

 private:
  PDPage page_;
};

inline int Flag(bool value) { return value ? 1 : 0; }

// The error with which the inquiry's deadline, work budget or memory limit
// ran out.
inline bool IsWorkLimit(ASErrorCode code) { return code == pdfl::err::kTimeout || code == pdfl::err::kNoMemory; }

// Framework memory, or null when the allocator has none. Freed with FreeMem.
inline void* AllocOrNull(size_t size) {
  try {
    return outside::FrameworkAlloc(size);
  } catch (const outside::CFrameworkException&) {
    return nullptr;
  }
}
inline void FreeMem(void* memory) { ::operator delete(memory); }

struct MemDeleter {
  void operator()(void* memory) const { FreeMem(memory); }
};

}  // namespace pdfparse::pdfobject

#endif  // PDFPARSE_PDFOBJECT_PDFOBJECTDETAIL_H_
