#include "LibraryLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#ifndef PDFINQUIRY_LIBDIR
#define PDFINQUIRY_LIBDIR "lib"
#endif

namespace pdfparse::inquirytool {

namespace fs = std::filesystem;

namespace {
const char kLibraryName[] = "libpdfparse.so";
const char kLibrarySoname[] = "libpdfparse.so.1";
}  // namespace

std::vector<std::string> DefaultLibraryCandidates(const std::string& exePath) {
  std::vector<std::string> out;
  if (exePath.empty()) return out;
  const fs::path prefix = fs::path(exePath).parent_path().parent_path();
  // The build tree and a prefix whose libdir is "lib"; then the install's
  // own libdir (lib/<multiarch> under /usr on Debian).
  std::vector<std::string> dirs = {"lib"};
  if (std::string(PDFINQUIRY_LIBDIR) != "lib") dirs.push_back(PDFINQUIRY_LIBDIR);
  for (const auto& dir : dirs) {
    out.push_back((prefix / dir / kLibraryName).lexically_normal().string());
    out.push_back((prefix / dir / kLibrarySoname).lexically_normal().string());
  }
  return out;
}

std::string ExecutablePath() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string ChooseLibrary(const std::string& option, const char* envValue, const std::vector<std::string>& candidates) {
  if (!option.empty()) return option;
  if (envValue != nullptr && envValue[0] != '\0') return envValue;
  for (const auto& c : candidates) {
    std::error_code ec;
    if (fs::exists(c, ec)) return c;
  }
  return kLibrarySoname;
}

PdfParseLibrary::PdfParseLibrary(void* handle, CreateCPdfParseFn factory, std::string path)
    : handle_(handle), factory_(factory), path_(std::move(path)) {}

PdfParseLibrary::~PdfParseLibrary() { dlclose(handle_); }

std::unique_ptr<PdfParseLibrary> PdfParseLibrary::Load(const std::string& path, std::string* error) {
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = "cannot load " + path + ": " + (why ? why : "unknown reason");
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(handle, "CreateCPdfParse");
  if (symbol == nullptr) {
    const char* why = dlerror();
    *error = path + " has no CreateCPdfParse: " + (why ? why : "symbol is null");
    dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<PdfParseLibrary>(
      new PdfParseLibrary(handle, reinterpret_cast<CreateCPdfParseFn>(symbol), path));
}

std::unique_ptr<CPdfParseIf> PdfParseLibrary::createParser() { return std::unique_ptr<CPdfParseIf>(factory_(0)); }

}  // namespace pdfparse::inquirytool
