// CLoaderLibrary over the platform's module calls. Every failure leaves a
// small error code (GetErrorState) and one trace line on trace object A with
// the system's reason, since the callers' own lines show only the number.
#include "outside/loader/CLoaderLibrary.h"

#include <cstring>
#include <vector>

#include "outside/trace/LibraryTraces.h"

namespace {

using pdfparse::outside::CurrentPlatform;
using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;

// Module names are plain names ("Kestaro"), never paths.
constexpr size_t kMaxModuleName = 200;
constexpr pdfparse::outside::DWORD kMaxEnvValue = 64 * 1024;

bool ValidModuleName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  size_t n = strnlen(name, kMaxModuleName + 1);
  if (n > kMaxModuleName) return false;
  return std::strchr(name, '/') == nullptr;
}

// Value of an environment variable of any length up to kMaxEnvValue;
// empty when absent, empty or longer.
std::string EnvValue(const char* name) {
  std::vector<char> buffer(4096, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    pdfparse::outside::DWORD n = CurrentPlatform()->GetEnvironmentVariableA(
        name, buffer.data(), static_cast<pdfparse::outside::DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (n > kMaxEnvValue) return std::string();
    buffer.assign(n, '\0');  // n is the size needed, terminator included
  }
  return std::string();
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash == 0 ? 1 : slash);
}

std::string Join(const std::string& folder, const std::string& file) {
  if (folder.empty()) return file;
  return folder.back() == '/' ? folder + file : folder + "/" + file;
}

// An address inside this module's code, for ModulePathOf.
void LoaderAnchor() {}

}  // namespace

CLoaderLibrary::CLoaderLibrary() = default;

CLoaderLibrary::~CLoaderLibrary() {
  if (m_module != nullptr) ReleaseLibrary();
}

int CLoaderLibrary::LoadLibraryA(const char* moduleName) { return LoadLibraryA(moduleName, nullptr, 0); }

int CLoaderLibrary::LoadLibraryA(const char* moduleName, const char* folder, int /*flags*/) {
  if (!ValidModuleName(moduleName)) {
    m_errState = m_errReason = kErrNotFound;
    m_errText = "invalid module name";
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::LoadLibraryA() invalid module name");
    return 0;
  }
  const std::string file = std::string("lib") + moduleName + ".so";
  if (m_module != nullptr) {
    // One module per loader: the same one again is already there.
    size_t slash = m_path.rfind('/');
    if (m_path.substr(slash == std::string::npos ? 0 : slash + 1) == file) {
      m_errState = kErrNone;
      return 1;
    }
    ReleaseLibrary();
  }

  std::vector<std::string> candidates;
  if (folder != nullptr && folder[0] != '\0') {
    candidates.push_back(Join(folder, file));
  } else {
    std::string pluginDir = EnvValue("PDFPARSE_PLUGIN_DIR");
    if (!pluginDir.empty()) candidates.push_back(Join(pluginDir, file));
    std::string self = CurrentPlatform()->ModulePathOf(reinterpret_cast<const void*>(&LoaderAnchor));
    std::string selfDir = DirectoryOf(self);
    if (!selfDir.empty()) candidates.push_back(Join(selfDir, file));
    candidates.push_back(file);  // the system's library search path
  }

  std::string reasons;
  for (const std::string& candidate : candidates) {
    std::string error;
    pdfparse::outside::HMODULE module = CurrentPlatform()->LoadModule(candidate.c_str(), &error);
    if (module != nullptr) {
      m_module = module;
      m_path = candidate;
      m_errState = kErrNone;
      m_errText.clear();
      return 1;
    }
    if (!reasons.empty()) reasons += "; ";
    reasons += candidate + ": " + (error.empty() ? std::string("cannot be loaded") : error);
  }
  m_errState = m_errReason = kErrNotFound;
  m_errText = reasons;
  g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::LoadLibraryA() %s not loaded: %s", file.c_str(),
                    reasons.c_str());
  return 0;
}

void* CLoaderLibrary::CreateObject(const char* entryName, long arg) {
  if (m_module == nullptr) {
    m_errState = m_errReason = kErrNotLoaded;
    m_errText = "no module loaded";
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::CreateObject() %s: no module loaded",
                      entryName != nullptr ? entryName : "(null)");
    return nullptr;
  }
  if (entryName == nullptr || entryName[0] == '\0') {
    m_errState = m_errReason = kErrNoEntry;
    m_errText = "no entry name";
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::CreateObject() no entry name");
    return nullptr;
  }
  std::string error;
  void* symbol = CurrentPlatform()->FindSymbol(m_module, entryName, &error);
  if (symbol == nullptr) {
    m_errState = m_errReason = kErrNoEntry;
    m_errText = error;
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::CreateObject() %s missing in %s: %s", entryName,
                      m_path.c_str(), error.c_str());
    return nullptr;
  }
  using Entry = void* (*)(long);
  void* object = nullptr;
  bool raised = false;
  try {
    object = reinterpret_cast<Entry>(symbol)(arg);
  } catch (...) {
    // A plug-in must not throw across its boundary; one that does has failed.
    raised = true;
  }
  if (object == nullptr) {
    m_errState = m_errReason = kErrEntryNull;
    m_errText = raised ? "the entry raised an exception" : "the entry returned null";
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::CreateObject() %s in %s: %s", entryName,
                      m_path.c_str(), m_errText.c_str());
    return nullptr;
  }
  m_errState = kErrNone;
  return object;
}

int CLoaderLibrary::ReleaseLibrary() {
  if (m_module == nullptr) {
    m_errState = m_errReason = kErrNotLoaded;
    m_errText = "no module loaded";
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::ReleaseLibrary() no module loaded");
    return 0;
  }
  std::string error;
  pdfparse::outside::HMODULE module = m_module;
  m_module = nullptr;  // never closed twice, whatever the result
  if (!CurrentPlatform()->FreeModule(module, &error)) {
    m_errState = m_errReason = kErrReleaseFailed;
    m_errText = error;
    g_traceA.OutputEx(kTraceInstance, "--ERROR-- CLoaderLibrary::ReleaseLibrary() %s: %s", m_path.c_str(),
                      error.c_str());
    return 0;
  }
  m_errState = kErrNone;
  m_errText.clear();
  return 1;
}

// The code of the most recent failure; unlike GetErrorState it survives a
// later success.
unsigned long CLoaderLibrary::GetErrReason() const { return m_errReason; }

int CLoaderLibrary::IsLibraryLoaded() const { return m_module != nullptr ? 1 : 0; }
