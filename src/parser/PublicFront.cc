// libpdfparse.so itself, the library a host links or loads: the exported
// interface class and the factory, nothing else. The parsers are made by the
// library's private part, pdfparse/libpdfparse_core.so in the folder beside
// this file. That folder also holds the document engine
// (libpdfparse_document.so) and the converter plug-in (libKestaro.so): the
// private part and the plug-in find the one engine they share there through
// their own run path ($ORIGIN), the private part finds the plug-in in its own
// folder, and this public library needs no run path at all.
//
// The private part is loaded when this library is loaded and unloaded with it,
// so that the library's load-time registration and its unloading behave as if
// it were one file. When it cannot be loaded, CreateCPdfParse returns null and
// says why once on stderr: the installation is broken, and no trace can be
// written without the private part.
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "pdfparse/CPdfParseIf.h"

#ifndef PDFPARSE_PRIVATE_SUBDIR
#error "PDFPARSE_PRIVATE_SUBDIR (the private folder beside the library) must be defined"
#endif
#ifndef PDFPARSE_CORE_FILE
#error "PDFPARSE_CORE_FILE (the private part's file name) must be defined"
#endif

namespace {

void* g_core = nullptr;
CreateCPdfParseFn g_create = nullptr;
// Why the private part could not be loaded; kept without allocation so that
// nothing here runs a destructor at unload.
char g_failure[2048] = "";
std::once_flag g_failureReported;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string PrivatePartIn(const std::string& folder) {
  return folder + "/" PDFPARSE_PRIVATE_SUBDIR "/" PDFPARSE_CORE_FILE;
}

void Append(const std::string& text) {
  std::string all = g_failure;
  all += all.empty() ? text : "; " + text;
  std::snprintf(g_failure, sizeof g_failure, "%s", all.c_str());
}

bool TryLoad(const std::string& path) {
  dlerror();
  void* core = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (core == nullptr) {
    const char* why = dlerror();
    Append(why != nullptr ? why : path + ": cannot be loaded");
    return false;
  }
  auto create = reinterpret_cast<CreateCPdfParseFn>(dlsym(core, "CreateCPdfParse"));
  if (create == nullptr) {
    Append(path + ": no CreateCPdfParse");
    dlclose(core);
    return false;
  }
  g_core = core;
  g_create = create;
  return true;
}

// The private folder beside this file as it was loaded, then beside the file
// that path leads to (a link to the library from another folder).
__attribute__((constructor)) void LoadPrivatePart() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&LoadPrivatePart), &info) == 0 || info.dli_fname == nullptr) {
    Append("the library's own path is unknown");
    return;
  }
  const std::string asLoaded = PrivatePartIn(FolderOf(info.dli_fname));
  if (TryLoad(asLoaded)) return;
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return;
  const std::string target = PrivatePartIn(FolderOf(resolved));
  if (target != asLoaded) TryLoad(target);
}

__attribute__((destructor)) void UnloadPrivatePart() {
  g_create = nullptr;
  if (g_core != nullptr) dlclose(g_core);
  g_core = nullptr;
}

}  // namespace

extern "C" PDFPARSE_EXPORT CPdfParseIf* CreateCPdfParse(int32_t unused) {
  if (g_create == nullptr) {
    std::call_once(g_failureReported,
                   [] { std::fprintf(stderr, "libpdfparse: cannot load its private part: %s\n", g_failure); });
    return nullptr;
  }
  return g_create(unused);
}
