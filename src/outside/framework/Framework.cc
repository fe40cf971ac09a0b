#include "outside/framework/Framework.h"

#include <atomic>
#include <mutex>

namespace pdfparse::outside {

namespace {

std::atomic<int> g_allocSkip{0};
std::atomic<int> g_allocFail{0};

// True when the test seam says this allocation fails.
bool AllocationShouldFail() {
  if (g_allocFail.load(std::memory_order_acquire) <= 0) return false;
  int skip = g_allocSkip.load(std::memory_order_acquire);
  while (skip > 0) {
    if (g_allocSkip.compare_exchange_weak(skip, skip - 1)) return false;
  }
  int fail = g_allocFail.load(std::memory_order_acquire);
  while (fail > 0) {
    if (g_allocFail.compare_exchange_weak(fail, fail - 1)) return true;
  }
  return false;
}

// The chain of registered extension libraries. Constant-initialised.
std::mutex g_chainMutex;
CDynLinkLibrary* g_chainHead = nullptr;

std::atomic<const char*> g_registrationFailure{nullptr};

}  // namespace

void* FrameworkAlloc(size_t size) {
  if (AllocationShouldFail()) throw CFrameworkException();
  return ::operator new(size);
}

void FailFrameworkAllocationsForTesting(int skip, int count) {
  g_allocFail.store(0, std::memory_order_release);
  g_allocSkip.store(skip < 0 ? 0 : skip, std::memory_order_release);
  g_allocFail.store(count < 0 ? 0 : count, std::memory_order_release);
}

bool AfxInitExtensionModule(AFX_EXTENSION_MODULE& module, const void* instance) {
  const char* forced = g_registrationFailure.exchange(nullptr);
  if (forced) {
    module.bInitialized = false;
    module.hModule = nullptr;
    module.failure = forced;
    return false;
  }
  if (!instance) {
    module.bInitialized = false;
    module.failure = "no module instance";
    return false;
  }
  module.hModule = instance;
  module.bInitialized = true;
  module.failure = nullptr;
  return true;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& module, bool) {
  module.bInitialized = false;
  module.hModule = nullptr;
  module.failure = nullptr;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& module, bool) : module_(module) {
  std::lock_guard<std::mutex> lock(g_chainMutex);
  next_ = g_chainHead;
  g_chainHead = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
  std::lock_guard<std::mutex> lock(g_chainMutex);
  for (CDynLinkLibrary** link = &g_chainHead; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

size_t ExtensionLibraryCount() {
  std::lock_guard<std::mutex> lock(g_chainMutex);
  size_t n = 0;
  for (CDynLinkLibrary* l = g_chainHead; l; l = l->next_) ++n;
  return n;
}

void FailModuleRegistrationForTesting(const char* reason) { g_registrationFailure.store(reason); }

}  // namespace pdfparse::outside
