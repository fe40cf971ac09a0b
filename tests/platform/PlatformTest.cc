// The real platform against real threads, the real environment, /proc and
// the dynamic loader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "outside/platform/Platform.h"

namespace {

using namespace outside;

Platform* P() { return Platform::Default(); }

// --- Events -----------------------------------------------------------------

TEST(PlatformEvents, PendingSignalIsConsumedByOneWaitAndASecondIsLost) {
  HANDLE e = P()->CreateEventA(false, false);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(P()->SetEvent(e));
  ASSERT_TRUE(P()->SetEvent(e));  // lost: one is already pending
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(P()->CloseHandle(e));
}

TEST(PlatformEvents, InitiallySignalledAndManualResetEvents) {
  HANDLE autoEvent = P()->CreateEventA(false, true);
  EXPECT_EQ(P()->WaitForSingleObject(autoEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(P()->WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);
  HANDLE manual = P()->CreateEventA(true, false);
  P()->SetEvent(manual);
  EXPECT_EQ(P()->WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(P()->WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  P()->CloseHandle(autoEvent);
  P()->CloseHandle(manual);
}

TEST(PlatformEvents, TimeOutOnAnEventNobodySets) {
  HANDLE e = P()->CreateEventA(false, false);
  EXPECT_EQ(P()->WaitForSingleObject(e, 20), WAIT_TIMEOUT);
  P()->CloseHandle(e);
}

TEST(PlatformEvents, BadAndClosedHandlesFailInsteadOfBeingUsed) {
  int notAHandle = 0;
  EXPECT_EQ(P()->WaitForSingleObject(&notAHandle, 0), WAIT_FAILED);
  EXPECT_FALSE(P()->SetEvent(&notAHandle));
  EXPECT_FALSE(P()->SetEvent(nullptr));
  EXPECT_FALSE(P()->CloseHandle(nullptr));
  HANDLE e = P()->CreateEventA(false, false);
  ASSERT_TRUE(P()->CloseHandle(e));
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_FAILED);
  EXPECT_FALSE(P()->SetEvent(e));
  EXPECT_FALSE(P()->CloseHandle(e));
}

struct Waiter {
  HANDLE event;
  HANDLE woke;
  std::atomic<int>* count;
};

DWORD WaitAndReport(void* arg) {
  auto* w = static_cast<Waiter*>(arg);
  if (Platform::Default()->WaitForSingleObject(w->event, INFINITE) != WAIT_OBJECT_0) return 1;
  w->count->fetch_add(1);
  Platform::Default()->SetEvent(w->woke);
  return 0;
}

TEST(PlatformEvents, EachSignalReleasesExactlyOneWaiter) {
  std::atomic<int> count{0};
  Waiter w{P()->CreateEventA(false, false), P()->CreateEventA(false, false), &count};
  HANDLE a = P()->CreateThread(WaitAndReport, &w, 0, nullptr);
  HANDLE b = P()->CreateThread(WaitAndReport, &w, 0, nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  P()->SetEvent(w.event);
  ASSERT_EQ(P()->WaitForSingleObject(w.woke, INFINITE), WAIT_OBJECT_0);
  // The other waiter stays asleep: nobody sets `woke` a second time.
  EXPECT_EQ(P()->WaitForSingleObject(w.woke, 50), WAIT_TIMEOUT);
  EXPECT_EQ(count.load(), 1);
  P()->SetEvent(w.event);
  ASSERT_EQ(P()->WaitForSingleObject(w.woke, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(P()->CloseHandle(a));
  EXPECT_TRUE(P()->CloseHandle(b));
  EXPECT_EQ(count.load(), 2);
  P()->CloseHandle(w.event);
  P()->CloseHandle(w.woke);
}

// --- Threads ----------------------------------------------------------------

struct Probe {
  std::atomic<int> runs{0};
  std::atomic<DWORD> seenId{0};
  HANDLE gate = nullptr;  // when set, the routine waits on it first
};

DWORD ProbeRoutine(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  if (p->gate) Platform::Default()->WaitForSingleObject(p->gate, INFINITE);
  p->seenId = Platform::Default()->GetCurrentThreadId();
  p->runs.fetch_add(1);
  return 7;
}

TEST(PlatformThreads, SuspendedThreadRunsOnlyAfterResume) {
  Probe probe;
  DWORD id = 0;
  HANDLE t = P()->CreateThread(ProbeRoutine, &probe, CREATE_SUSPENDED, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(P()->WaitForSingleObject(t, 20), WAIT_TIMEOUT);
  EXPECT_EQ(probe.runs.load(), 0);
  EXPECT_EQ(P()->ResumeThread(t), 1u);
  EXPECT_EQ(P()->WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(probe.runs.load(), 1);
  EXPECT_EQ(probe.seenId.load(), id);
  EXPECT_EQ(P()->ResumeThread(t), 0u);
  EXPECT_TRUE(P()->CloseHandle(t));
}

TEST(PlatformThreads, ClosingANeverResumedThreadEndsItWithoutRunningIt) {
  Probe probe;
  HANDLE t = P()->CreateThread(ProbeRoutine, &probe, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(P()->CloseHandle(t));  // joins
  EXPECT_EQ(probe.runs.load(), 0);
  EXPECT_EQ(P()->ResumeThread(t), 0xFFFFFFFFu);
}

TEST(PlatformThreads, CloseHandleJoinsARunningThread) {
  Probe probe;
  probe.gate = P()->CreateEventA(false, false);
  HANDLE t = P()->CreateThread(ProbeRoutine, &probe, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(P()->WaitForSingleObject(t, 0), WAIT_TIMEOUT);
  P()->SetEvent(probe.gate);
  EXPECT_TRUE(P()->CloseHandle(t));
  EXPECT_EQ(probe.runs.load(), 1);  // finished before CloseHandle returned
  P()->CloseHandle(probe.gate);
}

TEST(PlatformThreads, LiveThreadsHaveDistinctNonZeroIds) {
  Probe a, b;
  a.gate = b.gate = P()->CreateEventA(true, false);
  DWORD idA = 0, idB = 0;
  HANDLE ta = P()->CreateThread(ProbeRoutine, &a, 0, &idA);
  HANDLE tb = P()->CreateThread(ProbeRoutine, &b, 0, &idB);
  EXPECT_NE(idA, 0u);
  EXPECT_NE(idB, 0u);
  EXPECT_NE(idA, idB);
  EXPECT_NE(idA, P()->GetCurrentThreadId());
  EXPECT_NE(P()->GetCurrentThreadId(), 0u);
  EXPECT_EQ(P()->GetCurrentThreadId(), P()->GetCurrentThreadId());
  P()->SetEvent(a.gate);
  P()->CloseHandle(ta);
  P()->CloseHandle(tb);
  EXPECT_EQ(a.seenId.load(), idA);
  EXPECT_EQ(b.seenId.load(), idB);
  P()->CloseHandle(a.gate);
}

DWORD Throwing(void*) { throw std::runtime_error("escapes the routine"); }

TEST(PlatformThreads, AnExceptionInTheRoutineEndsOnlyThatThread) {
  HANDLE t = P()->CreateThread(Throwing, nullptr, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(P()->WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(P()->CloseHandle(t));
}

// --- Critical sections and atomics -----------------------------------------

struct Shared {
  CRITICAL_SECTION section;
  long plain = 0;
  volatile LONG counter = 0;
};

DWORD Hammer(void* arg) {
  auto* s = static_cast<Shared*>(arg);
  for (int i = 0; i < 5000; ++i) {
    Platform::Default()->EnterCriticalSection(&s->section);
    Platform::Default()->EnterCriticalSection(&s->section);  // re-entrant
    ++s->plain;
    Platform::Default()->LeaveCriticalSection(&s->section);
    Platform::Default()->LeaveCriticalSection(&s->section);
    Platform::Default()->InterlockedIncrement(&s->counter);
    Platform::Default()->InterlockedIncrement(&s->counter);
    Platform::Default()->InterlockedDecrement(&s->counter);
  }
  return 0;
}

TEST(PlatformLocks, CriticalSectionsAndInterlockedCountsAcrossThreads) {
  Shared s;
  P()->InitializeCriticalSection(&s.section);
  std::vector<HANDLE> threads;
  for (int i = 0; i < 4; ++i) threads.push_back(P()->CreateThread(Hammer, &s, 0, nullptr));
  for (HANDLE t : threads) P()->CloseHandle(t);
  EXPECT_EQ(s.plain, 20000);
  EXPECT_EQ(s.counter, 20000);
  EXPECT_EQ(P()->InterlockedIncrement(&s.counter), 20001);
  EXPECT_EQ(P()->InterlockedDecrement(&s.counter), 20000);
  P()->DeleteCriticalSection(&s.section);
  EXPECT_EQ(s.section.impl, nullptr);
}

// --- Environment ------------------------------------------------------------

TEST(PlatformEnvironment, BufferContract) {
  ASSERT_EQ(setenv("PDFPARSE_PLATFORM_TEST", "hello", 1), 0);
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, 6), 5u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(buffer[6], 'x');

  // Too small by one (no room for the terminator): nothing written, size needed.
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, 5), 6u);
  for (char c : buffer) EXPECT_EQ(c, 'x');
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", nullptr, 0), 6u);

  ASSERT_EQ(setenv("PDFPARSE_PLATFORM_TEST", "", 1), 0);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, sizeof buffer), 0u);
  ASSERT_EQ(unsetenv("PDFPARSE_PLATFORM_TEST"), 0);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, sizeof buffer), 0u);
  EXPECT_EQ(P()->GetLastError(), static_cast<DWORD>(ENOENT));
}

// --- Memory ---------------------------------------------------------------

TEST(PlatformMemory, WorkingSetIsTheResidentSetAndFollowsTouchedMemory) {
  PROCESS_MEMORY_COUNTERS counters;
  EXPECT_FALSE(P()->GetProcessMemoryInfo(&counters, 39));
  EXPECT_EQ(P()->GetLastError(), static_cast<DWORD>(EINVAL));
  EXPECT_FALSE(P()->GetProcessMemoryInfo(nullptr, 40));

  ASSERT_TRUE(P()->GetProcessMemoryInfo(&counters, 40));
  size_t before = counters.WorkingSetSize;
  EXPECT_GT(before, 0u);
  EXPECT_EQ(before % static_cast<size_t>(sysconf(_SC_PAGESIZE)), 0u);

  const size_t size = 64u << 20;
  char* block = static_cast<char*>(std::malloc(size));
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, size);
  ASSERT_TRUE(P()->GetProcessMemoryInfo(&counters, 40));
  EXPECT_GE(counters.WorkingSetSize, before + size / 2);
  volatile char keep = block[size - 1];
  (void)keep;
  std::free(block);
  P()->TrimHeap();
}

// --- Modules ----------------------------------------------------------------

TEST(PlatformModules, LoadFindAndFreeTheLibrary) {
  const char* lib = std::getenv("PDFPARSE_LIB");
  ASSERT_NE(lib, nullptr);
  std::string error;
  EXPECT_EQ(P()->LoadModule("/nonexistent/libnothing.so", &error), nullptr);
  EXPECT_NE(error.find("libnothing"), std::string::npos) << error;

  HMODULE module = P()->LoadModule(lib, &error);
  ASSERT_NE(module, nullptr) << error;
  void* factory = P()->FindSymbol(module, "CreateCPdfParse", &error);
  EXPECT_NE(factory, nullptr) << error;
  error.clear();
  EXPECT_EQ(P()->FindSymbol(module, "NoSuchSymbolAnywhere", &error), nullptr);
  EXPECT_NE(error.find("NoSuchSymbolAnywhere"), std::string::npos) << error;
  EXPECT_EQ(P()->ModulePathOf(factory), std::string(lib));
  EXPECT_TRUE(P()->FreeModule(module, &error)) << error;
  EXPECT_FALSE(P()->FreeModule(nullptr, &error));
  EXPECT_EQ(P()->ModulePathOf(nullptr), "");
}

// --- Installing a double ----------------------------------------------------

TEST(PlatformCurrent, ADoubleIsInstalledAndRemoved) {
  struct Double : PlatformWrapper {
    Double() : PlatformWrapper(Platform::Default()) {}
    DWORD GetLastError() override { return 4242; }
  } fake;
  EXPECT_EQ(CurrentPlatform(), Platform::Default());
  EXPECT_EQ(SetPlatformForTesting(&fake), Platform::Default());
  EXPECT_EQ(CurrentPlatform(), &fake);
  EXPECT_EQ(CurrentPlatform()->GetLastError(), 4242u);
  HANDLE e = CurrentPlatform()->CreateEventA(false, true);  // forwarded
  EXPECT_EQ(CurrentPlatform()->WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  CurrentPlatform()->CloseHandle(e);
  EXPECT_EQ(SetPlatformForTesting(nullptr), &fake);
  EXPECT_EQ(CurrentPlatform(), Platform::Default());
}

}  // namespace
