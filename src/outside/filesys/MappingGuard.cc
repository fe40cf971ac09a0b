#include "outside/filesys/MappingGuard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace pdfparse::outside {
namespace {

// Ranges guarded at once: one per open document, a few per thread.
constexpr int kSlots = 64;

struct Slot {
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> size{0};
  std::atomic<bool> damaged{false};
};

Slot g_slots[kSlots];
std::mutex g_mutex;  // guards the fields below and the taking of slots
int g_guards = 0;
struct sigaction g_previous;

// Async-signal-safe: atomics, sysconf, mmap, signal and raise only.
void OnSigbus(int sig, siginfo_t* info, void* context) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& slot : g_slots) {
    const uintptr_t start = slot.start.load(std::memory_order_acquire);
    const size_t size = slot.size.load(std::memory_order_acquire);
    if (start == 0 || address < start || address - start >= size) continue;
    const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t page = address & ~(pageSize - 1);
    const uintptr_t end = (start + size + pageSize - 1) & ~(pageSize - 1);
    void* zeros = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
    if (zeros != MAP_FAILED) {
      slot.damaged.store(true, std::memory_order_release);
      return;  // the read is made again, and finds zeros
    }
    break;
  }
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(sig, info, context);
    return;
  }
  if (g_previous.sa_handler == SIG_IGN) return;
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != nullptr) {
    g_previous.sa_handler(sig);
    return;
  }
  // The default action, as if no handler had been there: a fault happens
  // again on return; a SIGBUS sent by another process is raised again.
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

MappingGuard::MappingGuard(const void* data, size_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int free = -1;
  for (int i = 0; i < kSlots; ++i) {
    if (g_slots[i].start.load(std::memory_order_relaxed) == 0) {
      free = i;
      break;
    }
  }
  if (free < 0 || data == nullptr || size == 0) return;
  if (g_guards == 0) {
    struct sigaction action {};
    action.sa_sigaction = OnSigbus;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, &g_previous) != 0) return;
  }
  ++g_guards;
  slot_ = free;
  Slot& slot = g_slots[slot_];
  slot.damaged.store(false, std::memory_order_relaxed);
  slot.size.store(size, std::memory_order_release);
  slot.start.store(reinterpret_cast<uintptr_t>(data), std::memory_order_release);
}

MappingGuard::~MappingGuard() {
  if (slot_ < 0) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_slots[slot_].start.store(0, std::memory_order_release);
  g_slots[slot_].size.store(0, std::memory_order_release);
  if (--g_guards == 0) {
    // Put the previous handler back only where ours still is installed:
    // one installed after ours may be chaining to it.
    struct sigaction current {};
    if (sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
        current.sa_sigaction == OnSigbus) {
      sigaction(SIGBUS, &g_previous, nullptr);
    }
  }
}

bool MappingGuard::damaged() const {
  return slot_ >= 0 && g_slots[slot_].damaged.load(std::memory_order_acquire);
}

}  // namespace pdfparse::outside
