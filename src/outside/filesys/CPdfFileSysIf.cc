// The host's file-system calls over the file system seam.
#include "outside/filesys/CPdfFileSysIf.h"

#include <atomic>

namespace {

std::atomic<bool> g_poolIgnored{false};

}  // namespace

ASFileSys CPdfFileSysIf::Create(EModePdf /*mode*/) {
  // Every mode reads; documents are never written.
  return reinterpret_cast<ASFileSys>(pdfparse::outside::CurrentFileSys());
}

void CPdfFileSysIf::IgnorePool(bool ignore) { g_poolIgnored.store(ignore); }

bool CPdfFileSysIf::PoolIgnored() { return g_poolIgnored.load(); }
