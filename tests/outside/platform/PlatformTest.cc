// The real platform against real threads, the real environment, /proc and
// the dynamic loader.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "outside/platform/Platform.h"

namespace pdfparse::test {
namespace {

using namespace outside;

Platform* P() { return Platform::Default(); }

TEST(Platform, EventsKeepOnePendingSignalAndRefuseBadHandles) {
  HANDLE e = P()->CreateEventA(false, false);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(P()->SetEvent(e));
  ASSERT_TRUE(P()->SetEvent(e));  // lost: one is already pending
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  HANDLE initial = P()->CreateEventA(false, true), manual = P()->CreateEventA(true, false);
  EXPECT_EQ(P()->WaitForSingleObject(initial, 0), WAIT_OBJECT_0);
  EXPECT_EQ(P()->WaitForSingleObject(initial, 0), WAIT_TIMEOUT);
  P()->SetEvent(manual);
  EXPECT_EQ(P()->WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(P()->WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(P()->CloseHandle(initial) && P()->CloseHandle(manual) && P()->CloseHandle(e));

  int notAHandle = 0;
  EXPECT_EQ(P()->WaitForSingleObject(&notAHandle, 0), WAIT_FAILED);
  EXPECT_FALSE(P()->SetEvent(&notAHandle) || P()->SetEvent(nullptr) || P()->CloseHandle(nullptr));
  EXPECT_EQ(P()->WaitForSingleObject(e, 0), WAIT_FAILED);  // closed
  EXPECT_FALSE(P()->SetEvent(e) || P()->CloseHandle(e));
}

struct Probe {
  std::atomic<int> runs{0};
  std::atomic<DWORD> seenId{0};
  HANDLE gate = nullptr;  // when set, the routine waits on it first
};

DWORD ProbeRoutine(void* arg) {
  auto* p = static_cast<Probe*>(arg);
  if (p->gate) Platform::Default()->WaitForSingleObject(p->gate, INFINITE);
  p->seenId = Platform::Default()->GetCurrentThreadId();
  ++p->runs;
  return 7;
}

TEST(Platform, ThreadsRunAfterResumeAndAreJoinedByCloseHandle) {
  Probe suspended, neverResumed, gated;
  DWORD id = 0, gatedId = 0;
  HANDLE t = P()->CreateThread(ProbeRoutine, &suspended, CREATE_SUSPENDED, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(P()->WaitForSingleObject(t, 0), WAIT_TIMEOUT);
  EXPECT_EQ(suspended.runs.load(), 0);
  EXPECT_EQ(P()->ResumeThread(t), 1u);
  EXPECT_EQ(P()->WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(suspended.seenId.load(), id);
  EXPECT_EQ(P()->ResumeThread(t), 0u);
  EXPECT_TRUE(P()->CloseHandle(t));

  HANDLE never = P()->CreateThread(ProbeRoutine, &neverResumed, CREATE_SUSPENDED, nullptr);
  EXPECT_TRUE(P()->CloseHandle(never));  // ends it without running it
  EXPECT_EQ(neverResumed.runs.load(), 0);

  gated.gate = P()->CreateEventA(false, false);
  HANDLE running = P()->CreateThread(ProbeRoutine, &gated, 0, &gatedId);
  EXPECT_NE(gatedId, 0u);
  EXPECT_NE(gatedId, P()->GetCurrentThreadId());
  EXPECT_EQ(P()->WaitForSingleObject(running, 0), WAIT_TIMEOUT);
  P()->SetEvent(gated.gate);
  EXPECT_TRUE(P()->CloseHandle(running));
  EXPECT_EQ(gated.runs.load(), 1) << "finished before CloseHandle returned";
  EXPECT_EQ(gated.seenId.load(), gatedId);
  P()->CloseHandle(gated.gate);

  // An exception in the routine ends only that thread.
  HANDLE throwing = P()->CreateThread([](void*) -> DWORD { throw std::runtime_error("escapes"); }, nullptr, 0, nullptr);
  EXPECT_EQ(P()->WaitForSingleObject(throwing, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(P()->CloseHandle(throwing));
}

TEST(Platform, EnvironmentBufferContract) {
  ASSERT_EQ(setenv("PDFPARSE_PLATFORM_TEST", "hello", 1), 0);
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, 6), 5u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(buffer[6], 'x');
  // No room for the terminator: nothing written, the size needed returned.
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, 5), 6u);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
  ASSERT_EQ(setenv("PDFPARSE_PLATFORM_TEST", "", 1), 0);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, sizeof buffer), 0u);
  ASSERT_EQ(unsetenv("PDFPARSE_PLATFORM_TEST"), 0);
  EXPECT_EQ(P()->GetEnvironmentVariableA("PDFPARSE_PLATFORM_TEST", buffer, sizeof buffer), 0u);
  EXPECT_EQ(P()->GetLastError(), static_cast<DWORD>(ENOENT));
}

// The process's own memory is told apart from the pages of files it maps,
// for a record of the struct's size.
TEST(Platform, MemoryCountersTellTheProcessOwnMemoryFromMappedFiles) {
  PROCESS_MEMORY_COUNTERS counters{};
  ASSERT_TRUE(P()->GetProcessMemoryInfo(&counters, sizeof counters));
  EXPECT_GT(counters.PrivateUsage, 0u);
  EXPECT_GT(counters.WorkingSetSize, counters.PrivateUsage);  // the program's own code is mapped
  EXPECT_FALSE(P()->GetProcessMemoryInfo(&counters, sizeof counters - 1));
}

}  // namespace
}  // namespace pdfparse::test
