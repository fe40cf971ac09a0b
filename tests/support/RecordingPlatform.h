// A Platform double over the platform in force, for tests that call it from
// one thread: scripted environment variables, recorded sleeps, scripted
// working-set sizes, and module loads that are recorded and can be kept from
// the real loader. Everything not scripted goes to the wrapped platform.
#ifndef PDFPARSE_TESTS_SUPPORT_RECORDINGPLATFORM_H_
#define PDFPARSE_TESTS_SUPPORT_RECORDINGPLATFORM_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "outside/platform/Platform.h"

namespace pdfparse::test {

class RecordingPlatform : public outside::PlatformWrapper {
 public:
  RecordingPlatform() : PlatformWrapper(outside::CurrentPlatform()) {}

  // Scripted variables (nullopt: absent); others come from the real
  // environment.
  std::map<std::string, std::optional<std::string>> env;
  // Working-set sizes handed out in order (the last one repeats); nullopt
  // makes that call fail.
  void queueWorkingSet(std::optional<size_t> bytes) { workingSets.push_back(bytes); }
  std::deque<std::optional<size_t>> workingSets;
  std::vector<outside::DWORD> sleeps;
  // When set, only these paths load, without the real loader.
  std::optional<std::vector<std::string>> loadable;
  std::vector<std::string> loadAttempts;
  std::optional<std::string> modulePath;   // what ModulePathOf reports
  std::optional<std::string> freeFailure;  // FreeModule fails with this reason
  std::function<void()> onFree;            // runs first at each FreeModule
  int frees = 0;

  outside::DWORD GetEnvironmentVariableA(const char* name, char* buffer, outside::DWORD size) override {
    if (!env.count(name)) return PlatformWrapper::GetEnvironmentVariableA(name, buffer, size);
    // The real call's contract: nothing written when it does not fit.
    const std::string value = env[name].value_or("");
    if (value.empty() || buffer == nullptr || size < value.size() + 1)
      return value.empty() ? 0 : static_cast<outside::DWORD>(value.size() + 1);
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return static_cast<outside::DWORD>(value.size());
  }
  void Sleep(outside::DWORD milliseconds) override { sleeps.push_back(milliseconds); }
  bool GetProcessMemoryInfo(outside::PROCESS_MEMORY_COUNTERS* counters, outside::DWORD cb) override {
    if (!workingSets.empty()) lastWorkingSet_ = workingSets.front(), workingSets.pop_front();
    if (!lastWorkingSet_ || cb < sizeof(outside::PROCESS_MEMORY_COUNTERS)) return false;
    counters->WorkingSetSize = *lastWorkingSet_;
    counters->PrivateUsage = *lastWorkingSet_;
    return true;
  }
  outside::HMODULE LoadModule(const char* path, std::string* error) override {
    loadAttempts.push_back(path);
    if (!loadable) return PlatformWrapper::LoadModule(path, error);
    if (std::find(loadable->begin(), loadable->end(), path) != loadable->end())
      return reinterpret_cast<outside::HMODULE>(static_cast<uintptr_t>(0x1000 + loadAttempts.size()));
    *error = std::string(path) + ": scripted load failure";
    return nullptr;
  }
  bool FreeModule(outside::HMODULE module, std::string* error) override {
    ++frees;
    if (onFree) onFree();
    if (freeFailure) *error = *freeFailure;
    return freeFailure ? false : loadable ? true : PlatformWrapper::FreeModule(module, error);
  }
  std::string ModulePathOf(const void* address) override {
    return modulePath ? *modulePath : PlatformWrapper::ModulePathOf(address);
  }

 private:
  std::optional<size_t> lastWorkingSet_ = size_t{1} << 20;
};

// Installs a platform for the scope's lifetime.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(outside::Platform* platform) : previous_(outside::SetPlatformForTesting(platform)) {}
  ~ScopedPlatform() { outside::SetPlatformForTesting(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  outside::Platform* previous_;
};

}  // namespace pdfparse::test

#endif  // PDFPARSE_TESTS_SUPPORT_RECORDINGPLATFORM_H_
