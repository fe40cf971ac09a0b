// Loads a plug-in module at run time and creates objects through its
// creation entries. Built over the platform's module calls.
#ifndef PDFPARSE_OUTSIDE_LOADER_CLOADERLIBRARY_H_
#define PDFPARSE_OUTSIDE_LOADER_CLOADERLIBRARY_H_

#include <string>

#include "outside/platform/Platform.h"

class CLoaderLibrary {
 public:
  // Error states (GetErrorState).
  enum : unsigned long {
    kErrNone = 0,
    kErrNotFound = 1,       // no module of that name could be loaded
    kErrNoEntry = 2,        // the creation entry is missing
    kErrEntryNull = 3,      // the creation entry returned null
    kErrReleaseFailed = 4,  // unloading failed
    kErrNotLoaded = 5,      // a call that needs a loaded module
  };

  CLoaderLibrary();
  virtual ~CLoaderLibrary();  // slot 0
  // Loads lib<moduleName>.so, searching: $PDFPARSE_PLUGIN_DIR, the folder
  // of the module this code is in (the library's private part, in the
  // private folder beside libpdfparse.so), the system's library path.
  // Non-zero on success.
  virtual int LoadLibraryA(const char* moduleName);                                 // slot 1
  virtual int LoadLibraryA(const char* moduleName, const char* folder, int flags);  // slot 2
  // Calls the module's entry `entryName(arg)`; null when missing or when it
  // yields null.
  virtual void* CreateObject(const char* entryName, long arg);  // slot 3
  virtual int ReleaseLibrary();                                 // slot 4
  virtual unsigned long GetErrReason() const;                   // slot 5
  virtual int IsLibraryLoaded() const;                          // slot 6
  unsigned long GetErrorState() const { return m_errState; }
  // The system's reason for the last failure (dlerror text).
  const std::string& GetErrorText() const { return m_errText; }
  const std::string& LoadedPath() const { return m_path; }

 private:
  pdfparse::outside::HMODULE m_module = nullptr;
  unsigned long m_errState = kErrNone;
  unsigned long m_errReason = 0;
  std::string m_errText;
  std::string m_path;
};

#endif  // PDFPARSE_OUTSIDE_LOADER_CLOADERLIBRARY_H_
