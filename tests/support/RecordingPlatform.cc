#include "support/RecordingPlatform.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

RecordingPlatform::RecordingPlatform() : PlatformWrapper(outside::CurrentPlatform()) {}
RecordingPlatform::~RecordingPlatform() = default;

void RecordingPlatform::setEnv(const std::string& name, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  env_[name] = value;
}

void RecordingPlatform::unsetEnv(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  env_[name] = std::nullopt;
}

void RecordingPlatform::queueWorkingSet(std::optional<size_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  workingSets_.push_back(bytes);
}

void RecordingPlatform::setMemoryError(outside::DWORD error) {
  std::lock_guard<std::mutex> lock(mutex_);
  memoryError_ = error;
}

int RecordingPlatform::memoryCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return memoryCalls_;
}

std::vector<outside::DWORD> RecordingPlatform::sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

void RecordingPlatform::interceptLoads(std::vector<std::string> loadable) {
  std::lock_guard<std::mutex> lock(mutex_);
  intercept_ = true;
  loadable_ = std::move(loadable);
}

std::vector<std::string> RecordingPlatform::loadAttempts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attempts_;
}

void RecordingPlatform::setModulePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  modulePath_ = path;
}

void RecordingPlatform::failFree(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  freeFailure_ = reason;
}

void RecordingPlatform::onFree(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  freeHook_ = std::move(hook);
}

int RecordingPlatform::frees() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frees_;
}

outside::DWORD RecordingPlatform::GetEnvironmentVariableA(const char* name, char* buffer,
                                                          outside::DWORD size) {
  std::optional<std::string> value;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = env_.find(name ? name : "");
    if (it == env_.end()) return PlatformWrapper::GetEnvironmentVariableA(name, buffer, size);
    value = it->second;
  }
  // The contract of the real call: nothing written when it does not fit.
  if (!value || value->empty()) return 0;
  if (buffer == nullptr || size < value->size() + 1)
    return static_cast<outside::DWORD>(value->size() + 1);
  std::memcpy(buffer, value->c_str(), value->size() + 1);
  return static_cast<outside::DWORD>(value->size());
}

void RecordingPlatform::Sleep(outside::DWORD milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  sleeps_.push_back(milliseconds);
}

bool RecordingPlatform::GetProcessMemoryInfo(outside::PROCESS_MEMORY_COUNTERS* counters,
                                             outside::DWORD cb) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++memoryCalls_;
  if (!workingSets_.empty()) {
    lastWorkingSet_ = workingSets_.front();
    workingSets_.pop_front();
  }
  memoryFailed_ = !lastWorkingSet_.has_value();
  if (memoryFailed_ || counters == nullptr || cb < 40) return false;
  counters->WorkingSetSize = *lastWorkingSet_;
  return true;
}

outside::DWORD RecordingPlatform::GetLastError() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (memoryFailed_) return memoryError_;
  return PlatformWrapper::GetLastError();
}

outside::HMODULE RecordingPlatform::LoadModule(const char* path, std::string* error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_.push_back(path ? path : "");
    if (intercept_) {
      if (path != nullptr && std::find(loadable_.begin(), loadable_.end(), path) != loadable_.end())
        return reinterpret_cast<outside::HMODULE>(static_cast<uintptr_t>(0x1000 + ++fakeModules_));
      if (error) *error = std::string(path ? path : "") + ": scripted load failure";
      return nullptr;
    }
  }
  return PlatformWrapper::LoadModule(path, error);
}

bool RecordingPlatform::FreeModule(outside::HMODULE module, std::string* error) {
  std::function<void()> hook;
  bool fake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++frees_;
    hook = freeHook_;
    if (freeFailure_) {
      if (error) *error = *freeFailure_;
      return false;
    }
    fake = intercept_;
  }
  if (hook) hook();
  return fake ? true : PlatformWrapper::FreeModule(module, error);
}

std::string RecordingPlatform::ModulePathOf(const void* address) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (modulePath_) return *modulePath_;
  }
  return PlatformWrapper::ModulePathOf(address);
}

}  // namespace testing_support
