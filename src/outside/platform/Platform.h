// The kernel services the library uses, behind one narrow interface.
//
// Names follow the calls the rest of the code makes (threads, auto-reset
// events, waits, critical sections, environment, memory, modules). The real
// implementation is Platform::Default(); tests install a double derived from
// PlatformWrapper, which forwards every call to another Platform so a double
// overrides only the call it breaks. Nothing above src/outside/ calls POSIX,
// pthreads or dlopen directly.
#ifndef PDFPARSE_OUTSIDE_PLATFORM_PLATFORM_H_
#define PDFPARSE_OUTSIDE_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace pdfparse::outside {

// Opaque handle to an event or a thread. Null means "none".
using HANDLE = void*;

using DWORD = uint32_t;
using LONG = int32_t;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD CREATE_SUSPENDED = 4;

using LPTHREAD_START_ROUTINE = DWORD (*)(void* arg);

// A critical section: a lock owned by the caller's memory. Opaque storage
// initialised by InitializeCriticalSection.
struct CRITICAL_SECTION {
  void* impl = nullptr;
};

struct PROCESS_MEMORY_COUNTERS {
  DWORD cb = 0;
  DWORD PageFaultCount = 0;
  size_t PeakWorkingSetSize = 0;
  size_t WorkingSetSize = 0;  // resident set size in bytes
  size_t PrivateUsage = 0;    // resident bytes of the process's own (not pages of mapped files)
};

// Opaque handle to a loaded module.
using HMODULE = void*;

class Platform {
 public:
  virtual ~Platform();

  // The real implementation; lives for the whole process.
  static Platform* Default();

  // --- Events (always auto-reset here) -------------------------------------
  // Creates an unnamed event. A signal set while nobody waits stays pending
  // until the next wait; a second signal while one is pending is lost; each
  // wait that returns WAIT_OBJECT_0 consumes one signal. Null on failure.
  virtual HANDLE CreateEventA(bool manualReset, bool initialState) = 0;
  // Signals the event. False when `event` is not an event.
  virtual bool SetEvent(HANDLE event) = 0;
  // Waits on an event (or a thread: signalled when it has ended) up to
  // `milliseconds` (INFINITE waits without limit). WAIT_OBJECT_0 when
  // signalled, WAIT_TIMEOUT on time-out, WAIT_FAILED on a bad handle.
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  // Releases an event or a thread handle. Closing a thread handle does not
  // stop the thread: it waits for the thread to end and then joins it (a
  // thread that was never resumed ends without running its routine). True
  // on success.
  virtual bool CloseHandle(HANDLE handle) = 0;

  // --- Threads ---------------------------------------------------------------
  // Creates a thread running `routine(arg)`. With CREATE_SUSPENDED in
  // `flags` the routine does not run before ResumeThread. `threadId` (if not
  // null) receives a non-zero id, unique among live threads. Null on failure.
  virtual HANDLE CreateThread(LPTHREAD_START_ROUTINE routine, void* arg, DWORD flags, DWORD* threadId) = 0;
  // Lets a suspended thread run. Returns the previous suspend count (1 for
  // a suspended thread, 0 for a running one), or 0xFFFFFFFF on failure.
  virtual DWORD ResumeThread(HANDLE thread) = 0;
  // Id of the calling thread (non-zero).
  virtual DWORD GetCurrentThreadId() = 0;
  // Id of the calling process; a child made by fork() has its own, and none
  // of the parent's threads but the forking one.
  virtual DWORD GetCurrentProcessId() = 0;

  // --- Critical sections ----------------------------------------------------
  virtual void InitializeCriticalSection(CRITICAL_SECTION* section) = 0;
  virtual void EnterCriticalSection(CRITICAL_SECTION* section) = 0;
  virtual void LeaveCriticalSection(CRITICAL_SECTION* section) = 0;
  virtual void DeleteCriticalSection(CRITICAL_SECTION* section) = 0;

  // --- Atomics ---------------------------------------------------------------
  // Atomically add or subtract one; return the new value.
  virtual LONG InterlockedIncrement(volatile LONG* value) = 0;
  virtual LONG InterlockedDecrement(volatile LONG* value) = 0;

  // --- Environment, time, memory, errors -----------------------------------
  // Copies the variable's value with its terminator into `buffer` when it
  // fits in `size` bytes and returns its length (without terminator). When
  // it does not fit, writes nothing and returns the size needed (with the
  // terminator). Returns 0 when the variable is absent or empty. Never
  // writes past `size` bytes.
  virtual DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  // Fills `counters` (WorkingSetSize = resident set size from the kernel)
  // when `cb` is at least 40. False on failure, with GetLastError set.
  virtual bool GetProcessMemoryInfo(PROCESS_MEMORY_COUNTERS* counters, DWORD cb) = 0;
  // errno of the last failed call on this thread.
  virtual DWORD GetLastError() = 0;
  // Gives freed heap memory back to the system (malloc_trim).
  virtual void TrimHeap() = 0;
  // Monotonic clock in milliseconds, for deadlines.
  virtual uint64_t MonotonicMillis() = 0;

  // --- Modules ---------------------------------------------------------------
  // Loads a shared object (RTLD_NOW | RTLD_LOCAL). Null on failure; then
  // `error` (if not null) gets the system's reason.
  virtual HMODULE LoadModule(const char* path, std::string* error) = 0;
  // Address of `symbol` in `module`, or null with the reason in `error`.
  virtual void* FindSymbol(HMODULE module, const char* symbol, std::string* error) = 0;
  // Unloads the module. True on success.
  virtual bool FreeModule(HMODULE module, std::string* error) = 0;
  // Path of the shared object that holds `address`; empty when unknown.
  virtual std::string ModulePathOf(const void* address) = 0;
};

// Forwards every call to `target`; derive from it to override single calls.
class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform* target) : target_(target) {}
  Platform* target() const { return target_; }

  HANDLE CreateEventA(bool m, bool i) override { return target_->CreateEventA(m, i); }
  bool SetEvent(HANDLE e) override { return target_->SetEvent(e); }
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override { return target_->WaitForSingleObject(h, ms); }
  bool CloseHandle(HANDLE h) override { return target_->CloseHandle(h); }
  HANDLE CreateThread(LPTHREAD_START_ROUTINE r, void* a, DWORD f, DWORD* id) override {
    return target_->CreateThread(r, a, f, id);
  }
  DWORD ResumeThread(HANDLE t) override { return target_->ResumeThread(t); }
  DWORD GetCurrentThreadId() override { return target_->GetCurrentThreadId(); }
  DWORD GetCurrentProcessId() override { return target_->GetCurrentProcessId(); }
  void InitializeCriticalSection(CRITICAL_SECTION* s) override { target_->InitializeCriticalSection(s); }
  void EnterCriticalSection(CRITICAL_SECTION* s) override { target_->EnterCriticalSection(s); }
  void LeaveCriticalSection(CRITICAL_SECTION* s) override { target_->LeaveCriticalSection(s); }
  void DeleteCriticalSection(CRITICAL_SECTION* s) override { target_->DeleteCriticalSection(s); }
  LONG InterlockedIncrement(volatile LONG* v) override { return target_->InterlockedIncrement(v); }
  LONG InterlockedDecrement(volatile LONG* v) override { return target_->InterlockedDecrement(v); }
  DWORD GetEnvironmentVariableA(const char* n, char* b, DWORD s) override {
    return target_->GetEnvironmentVariableA(n, b, s);
  }
  void Sleep(DWORD ms) override { target_->Sleep(ms); }
  bool GetProcessMemoryInfo(PROCESS_MEMORY_COUNTERS* c, DWORD cb) override {
    return target_->GetProcessMemoryInfo(c, cb);
  }
  DWORD GetLastError() override { return target_->GetLastError(); }
  void TrimHeap() override { target_->TrimHeap(); }
  uint64_t MonotonicMillis() override { return target_->MonotonicMillis(); }
  HMODULE LoadModule(const char* p, std::string* e) override { return target_->LoadModule(p, e); }
  void* FindSymbol(HMODULE m, const char* s, std::string* e) override { return target_->FindSymbol(m, s, e); }
  bool FreeModule(HMODULE m, std::string* e) override { return target_->FreeModule(m, e); }
  std::string ModulePathOf(const void* a) override { return target_->ModulePathOf(a); }

 private:
  Platform* target_;
};

// The platform every layer above uses: Platform::Default() unless a test has
// installed another one. Install only while no worker thread runs.
Platform* CurrentPlatform();
// Installs `platform` (null restores the default). Returns the previous one.
Platform* SetPlatformForTesting(Platform* platform);

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_PLATFORM_PLATFORM_H_
