// A Platform double over the real one for the document object's and the
// loader's tests: scripted environment variables, recorded sleeps, scripted
// working-set sizes, and module loads that are recorded and can be made to
// fail. Everything not scripted goes to the real platform.
#ifndef PDFPARSE_TESTS_SUPPORT_RECORDINGPLATFORM_H_
#define PDFPARSE_TESTS_SUPPORT_RECORDINGPLATFORM_H_

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "outside/platform/Platform.h"

namespace testing_support {

class RecordingPlatform : public outside::PlatformWrapper {
 public:
  RecordingPlatform();  // wraps the platform in force
  ~RecordingPlatform() override;

  // Environment: a scripted value, or absent; unscripted names are read
  // from the real environment.
  void setEnv(const std::string& name, const std::string& value);
  void unsetEnv(const std::string& name);

  // Working-set sizes handed out in order (the last one repeats); nullopt in
  // the queue makes that call fail with `memoryError`.
  void queueWorkingSet(std::optional<size_t> bytes);
  void setMemoryError(outside::DWORD error);
  int memoryCalls() const;

  std::vector<outside::DWORD> sleeps() const;

  // Module loads: every path tried is recorded. With interceptLoads set,
  // loads only succeed for paths listed in `loadable` (no real dlopen).
  void interceptLoads(std::vector<std::string> loadable);
  std::vector<std::string> loadAttempts() const;
  void setModulePath(const std::string& path);  // ModulePathOf result
  void failFree(const std::string& reason);
  // Called at each FreeModule, before it is carried out.
  void onFree(std::function<void()> hook);
  int frees() const;

  outside::DWORD GetEnvironmentVariableA(const char* name, char* buffer, outside::DWORD size) override;
  void Sleep(outside::DWORD milliseconds) override;
  bool GetProcessMemoryInfo(outside::PROCESS_MEMORY_COUNTERS* counters, outside::DWORD cb) override;
  outside::DWORD GetLastError() override;
  outside::HMODULE LoadModule(const char* path, std::string* error) override;
  bool FreeModule(outside::HMODULE module, std::string* error) override;
  std::string ModulePathOf(const void* address) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::optional<std::string>> env_;
  std::deque<std::optional<size_t>> workingSets_;
  std::optional<size_t> lastWorkingSet_ = 1u << 20;
  outside::DWORD memoryError_ = 12;
  bool memoryFailed_ = false;
  int memoryCalls_ = 0;
  std::vector<outside::DWORD> sleeps_;
  bool intercept_ = false;
  std::vector<std::string> loadable_;
  std::vector<std::string> attempts_;
  std::optional<std::string> modulePath_;
  std::optional<std::string> freeFailure_;
  std::function<void()> freeHook_;
  int frees_ = 0;
  int fakeModules_ = 0;
};

// Installs a platform for the scope's lifetime.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(outside::Platform* platform)
      : previous_(outside::SetPlatformForTesting(platform)) {}
  ~ScopedPlatform() { outside::SetPlatformForTesting(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  outside::Platform* previous_;
};

}  // namespace testing_support

#endif  // PDFPARSE_TESTS_SUPPORT_RECORDINGPLATFORM_H_
