// The host application framework's services the library relies on: its
// string object, its allocator with its exception class, and the
// registration of the library as an extension module at load and unload.
#ifndef PDFPARSE_OUTSIDE_FRAMEWORK_FRAMEWORK_H_
#define PDFPARSE_OUTSIDE_FRAMEWORK_FRAMEWORK_H_

#include <cstddef>
#include <new>
#include <string>
#include <utility>

namespace pdfparse::outside {

// The framework's string object: counted, heap-held 8-bit text.
using CString = std::string;

// The framework's exception class. Its allocator reports exhausted memory
// by throwing it; the factory is the one place that catches it.
using CFrameworkException = std::bad_alloc;

// Allocates `size` bytes with the framework's allocator. Never returns
// null: throws CFrameworkException when memory is exhausted (or when a test
// made this allocation fail). The memory is released with ::operator delete,
// so objects made by FrameworkNew may be destroyed with plain delete.
void* FrameworkAlloc(size_t size);

// Constructs a T in framework memory. When the constructor throws, the
// memory is released and the exception passes on.
template <class T, class... Args>
T* FrameworkNew(Args&&... args) {
  void* memory = FrameworkAlloc(sizeof(T));
  try {
    return new (memory) T(std::forward<Args>(args)...);
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
}

// As FrameworkNew, but reports exhausted memory as null instead of throwing.
template <class T, class... Args>
T* FrameworkNewOrNull(Args&&... args) {
  try {
    return FrameworkNew<T>(std::forward<Args>(args)...);
  } catch (const CFrameworkException&) {
    return nullptr;
  }
}

// Test seam: after `skip` more successful framework allocations, the next
// `count` ones throw CFrameworkException. (0, 0) switches it off.
void FailFrameworkAllocationsForTesting(int skip, int count);

// --- Extension-module registration ---------------------------------------

// The record a library keeps with the framework while it is loaded.
// Constant-initialised, so it is usable before any constructor of the
// library has run; `failure` points to static text.
struct AFX_EXTENSION_MODULE {
  bool bInitialized = false;
  const void* hModule = nullptr;  // an address inside the registered module
  const char* failure = nullptr;  // why the last registration failed; null when it did not
};

// Registers the module that contains `instance`. True on success; on
// failure the record's `failure` names the reason. Never throws.
bool AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, const void* instance);
// Unregisters the module; the record returns to its unregistered state.
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module, bool all);

// Joins a registered module to the framework's chain of extension libraries
// for as long as it lives.
class CDynLinkLibrary {
 public:
  CDynLinkLibrary(AFX_EXTENSION_MODULE& module, bool system);
  ~CDynLinkLibrary();
  CDynLinkLibrary(const CDynLinkLibrary&) = delete;
  CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

  AFX_EXTENSION_MODULE& module() const { return module_; }

 private:
  friend size_t ExtensionLibraryCount();
  AFX_EXTENSION_MODULE& module_;
  CDynLinkLibrary* next_ = nullptr;
};

// Number of libraries now in the chain.
size_t ExtensionLibraryCount();

// Test seam: the next AfxInitExtensionModule fails with `reason` (static
// text). Null switches it off.
void FailModuleRegistrationForTesting(const char* reason);

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_FRAMEWORK_FRAMEWORK_H_
