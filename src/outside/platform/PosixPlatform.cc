// The real Platform over the C++ thread library and POSIX.
//
// Handles are keys into one process-wide table of live objects, so a stale
// or foreign handle is recognised (WAIT_FAILED / false) instead of being
// dereferenced, and a handle closed while another thread still waits on it
// stays alive until that wait returns.
#include <dlfcn.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "outside/platform/Platform.h"

namespace pdfparse::outside {

Platform::~Platform() = default;

namespace {

// Kept alive for the whole process: threads may still close handles while
// the process tears its statics down.
template <class T>
T& Immortal() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* instance = new (storage) T();
  return *instance;
}

std::atomic<DWORD> g_nextThreadId{1};

DWORD NewThreadId() {
  DWORD id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
  if (id == 0) id = g_nextThreadId.fetch_add(1, std::memory_order_relaxed);
  return id;
}

thread_local DWORD t_threadId = 0;

struct HandleObject {
  enum class Kind { Event, Thread };
  explicit HandleObject(Kind k) : kind(k) {}
  virtual ~HandleObject() = default;
  const Kind kind;
  std::mutex mutex;
  std::condition_variable cv;
};

struct EventObject : HandleObject {
  EventObject(bool manual, bool initial) : HandleObject(Kind::Event), manualReset(manual), signalled(initial) {}
  const bool manualReset;
  bool signalled;
};

struct ThreadObject : HandleObject {
  ThreadObject() : HandleObject(Kind::Thread) {}
  LPTHREAD_START_ROUTINE routine = nullptr;
  void* arg = nullptr;
  DWORD id = 0;
  bool resumed = false;   // the routine may run
  bool released = false;  // closed before it was resumed: end without running
  bool ended = false;
  std::thread thread;
};

class HandleTable {
 public:
  // Handles still open when the process (or the library) goes away may be
  // in use by threads that were never joined: their objects are left alive.
  ~HandleTable() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!table_.empty()) new Map(std::move(table_));
  }
  HANDLE add(std::shared_ptr<HandleObject> object) {
    HANDLE h = object.get();
    std::lock_guard<std::mutex> lock(mutex_);
    table_.emplace(h, std::move(object));
    return h;
  }
  std::shared_ptr<HandleObject> find(HANDLE h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(h);
    return it == table_.end() ? nullptr : it->second;
  }
  // The object behind `h` when it is of `kind`; otherwise null with errno EBADF.
  template <class T>
  std::shared_ptr<T> findAs(HANDLE h, HandleObject::Kind kind) {
    auto object = find(h);
    if (!object || object->kind != kind) {
      errno = EBADF;
      return nullptr;
    }
    return std::static_pointer_cast<T>(object);
  }
  std::shared_ptr<HandleObject> remove(HANDLE h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(h);
    if (it == table_.end()) return nullptr;
    auto object = std::move(it->second);
    table_.erase(it);
    return object;
  }

 private:
  using Map = std::unordered_map<HANDLE, std::shared_ptr<HandleObject>>;
  std::mutex mutex_;
  Map table_;
};

// Destroyed with the library, so an unloaded library leaves no memory behind.
HandleTable& Handles() {
  static HandleTable table;
  return table;
}

void RunThread(ThreadObject* t) {
  t_threadId = t->id;
  bool run = false;
  {
    std::unique_lock<std::mutex> lock(t->mutex);
    t->cv.wait(lock, [t] { return t->resumed || t->released; });
    run = t->resumed;
  }
  if (run) {
    try {
      t->routine(t->arg);
    } catch (...) {
      // Nothing may escape a thread; the routine's own code reports.
    }
  }
  std::lock_guard<std::mutex> lock(t->mutex);
  t->ended = true;
  t->cv.notify_all();
}

// Waits on `cv` until `ready()` or the time limit; true when ready.
template <class Pred>
bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, DWORD ms, Pred ready) {
  if (ms == INFINITE) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(ms), ready);
}

struct RecursiveSection {
  std::recursive_mutex mutex;
};

class PosixPlatform final : public Platform {
 public:
  HANDLE CreateEventA(bool manualReset, bool initialState) override {
    try {
      return Handles().add(std::make_shared<EventObject>(manualReset, initialState));
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return nullptr;
    }
  }

  bool SetEvent(HANDLE event) override {
    auto e = Handles().findAs<EventObject>(event, HandleObject::Kind::Event);
    if (!e) return false;
    std::lock_guard<std::mutex> lock(e->mutex);
    e->signalled = true;  // a second signal while one is pending is lost
    if (e->manualReset)
      e->cv.notify_all();
    else
      e->cv.notify_one();
    return true;
  }

  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    auto object = Handles().find(handle);
    if (!object) {
      errno = EBADF;
      return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(object->mutex);
    if (object->kind == HandleObject::Kind::Event) {
      auto* e = static_cast<EventObject*>(object.get());
      if (!WaitFor(lock, e->cv, milliseconds, [e] { return e->signalled; })) return WAIT_TIMEOUT;
      if (!e->manualReset) e->signalled = false;
      return WAIT_OBJECT_0;
    }
    auto* t = static_cast<ThreadObject*>(object.get());
    if (!WaitFor(lock, t->cv, milliseconds, [t] { return t->ended; })) return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
  }

  bool CloseHandle(HANDLE handle) override {
    auto object = Handles().find(handle);
    if (!object) {
      errno = EBADF;
      return false;
    }
    if (object->kind == HandleObject::Kind::Thread) {
      auto* t = static_cast<ThreadObject*>(object.get());
      if (t->thread.get_id() == std::this_thread::get_id()) {
        errno = EDEADLK;  // a thread cannot join itself; the handle stays valid
        return false;
      }
      {
        std::lock_guard<std::mutex> lock(t->mutex);
        if (!t->resumed) t->released = true;
        t->cv.notify_all();
      }
      if (!Handles().remove(handle)) {
        errno = EBADF;  // closed concurrently by another thread
        return false;
      }
      if (t->thread.joinable()) t->thread.join();
      return true;
    }
    Handles().remove(handle);
    return true;
  }

  HANDLE CreateThread(LPTHREAD_START_ROUTINE routine, void* arg, DWORD flags, DWORD* threadId) override {
    if (!routine) {
      errno = EINVAL;
      return nullptr;
    }
    std::shared_ptr<ThreadObject> t;
    try {
      t = std::make_shared<ThreadObject>();
      t->routine = routine;
      t->arg = arg;
      t->id = NewThreadId();
      t->resumed = (flags & CREATE_SUSPENDED) == 0;
      t->thread = std::thread(RunThread, t.get());
    } catch (const std::system_error& e) {
      errno = e.code().value() ? e.code().value() : EAGAIN;
      return nullptr;
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return nullptr;
    }
    if (threadId) *threadId = t->id;
    try {
      return Handles().add(t);
    } catch (const std::bad_alloc&) {
      {
        std::lock_guard<std::mutex> lock(t->mutex);
        t->released = !t->resumed;
        t->cv.notify_all();
      }
      t->thread.join();
      errno = ENOMEM;
      return nullptr;
    }
  }

  DWORD ResumeThread(HANDLE thread) override {
    auto t = Handles().findAs<ThreadObject>(thread, HandleObject::Kind::Thread);
    if (!t) return 0xFFFFFFFFu;
    std::lock_guard<std::mutex> lock(t->mutex);
    DWORD previous = t->resumed ? 0 : 1;
    t->resumed = true;
    t->cv.notify_all();
    return previous;
  }

  DWORD GetCurrentThreadId() override {
    if (t_threadId == 0) t_threadId = NewThreadId();
    return t_threadId;
  }

  DWORD GetCurrentProcessId() override { return static_cast<DWORD>(::getpid()); }

  void InitializeCriticalSection(CRITICAL_SECTION* section) override { section->impl = new RecursiveSection(); }
  void EnterCriticalSection(CRITICAL_SECTION* section) override {
    static_cast<RecursiveSection*>(section->impl)->mutex.lock();
  }
  void LeaveCriticalSection(CRITICAL_SECTION* section) override {
    static_cast<RecursiveSection*>(section->impl)->mutex.unlock();
  }
  void DeleteCriticalSection(CRITICAL_SECTION* section) override {
    delete static_cast<RecursiveSection*>(section->impl);
    section->impl = nullptr;
  }

  LONG InterlockedIncrement(volatile LONG* value) override { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
  LONG InterlockedDecrement(volatile LONG* value) override { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

  DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) override {
    const char* value = name ? std::getenv(name) : nullptr;
    if (!value || !*value) {
      errno = ENOENT;
      return 0;
    }
    size_t length = std::strlen(value);
    if (length >= 0xFFFFFFFFu) {
      errno = E2BIG;
      return 0;
    }
    if (!buffer || static_cast<size_t>(size) < length + 1) return static_cast<DWORD>(length + 1);
    std::memcpy(buffer, value, length + 1);
    return static_cast<DWORD>(length);
  }

  void Sleep(DWORD milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

  bool GetProcessMemoryInfo(PROCESS_MEMORY_COUNTERS* counters, DWORD cb) override {
    if (!counters || cb < sizeof(PROCESS_MEMORY_COUNTERS)) {
      errno = EINVAL;
      return false;
    }
    std::ifstream statm("/proc/self/statm");
    unsigned long long sizePages = 0, residentPages = 0, sharedPages = 0;
    if (!(statm >> sizePages >> residentPages >> sharedPages)) {
      errno = EIO;
      return false;
    }
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0) pageSize = 4096;
    size_t resident = static_cast<size_t>(residentPages) * static_cast<size_t>(pageSize);
    counters->cb = cb;
    counters->PageFaultCount = 0;
    counters->WorkingSetSize = resident;
    counters->PeakWorkingSetSize = resident;
    counters->PrivateUsage = static_cast<size_t>(residentPages - std::min(sharedPages, residentPages)) *
                             static_cast<size_t>(pageSize);
    return true;
  }

  DWORD GetLastError() override { return static_cast<DWORD>(errno); }

  void TrimHeap() override { malloc_trim(0); }

  // The coarse clock: a few milliseconds' resolution is all deadlines need,
  // and the walks read it at every step.
  uint64_t MonotonicMillis() override {
    struct timespec now {};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) {
      using namespace std::chrono;
      return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
  }

  HMODULE LoadModule(const char* path, std::string* error) override {
    if (!path) {
      if (error) *error = "no module path";
      return nullptr;
    }
    dlerror();
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module && error) *error = LastDlError();
    return module;
  }

  void* FindSymbol(HMODULE module, const char* symbol, std::string* error) override {
    if (!module || !symbol) {
      if (error) *error = "no module or symbol";
      return nullptr;
    }
    dlerror();
    void* address = dlsym(module, symbol);
    if (!address && error) *error = LastDlError();
    return address;
  }

  bool FreeModule(HMODULE module, std::string* error) override {
    if (!module) {
      if (error) *error = "no module";
      return false;
    }
    dlerror();
    if (dlclose(module) != 0) {
      if (error) *error = LastDlError();
      return false;
    }
    return true;
  }

  std::string ModulePathOf(const void* address) override {
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname) return std::string();
    return info.dli_fname;
  }

 private:
  static std::string LastDlError() {
    const char* text = dlerror();
    return text ? text : "unknown error";
  }
};

std::atomic<Platform*> g_current{nullptr};

}  // namespace

Platform* Platform::Default() { return &Immortal<PosixPlatform>(); }

Platform* CurrentPlatform() {
  Platform* p = g_current.load(std::memory_order_acquire);
  return p ? p : Platform::Default();
}

Platform* SetPlatformForTesting(Platform* platform) {
  Platform* previous = g_current.exchange(platform, std::memory_order_acq_rel);
  return previous ? previous : Platform::Default();
}

}  // namespace pdfparse::outside
