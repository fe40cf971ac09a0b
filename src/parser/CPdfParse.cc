#include "parser/CPdfParse.h"

#include <exception>
#include <mutex>

#include "outside/trace/LibraryTraces.h"
#include "parser/CTreadObject.h"

using outside::CurrentPlatform;
using outside::DWORD;
using outside::g_traceB;
using outside::kTraceInstance;

CTreadObject* CPdfParse::sm_threadObj = nullptr;
volatile outside::LONG CPdfParse::sm_instanceCount = 0;

namespace {

// Guards the creation of the worker object by the first parser and its
// teardown by the last, which may run on different host threads.
std::mutex g_lifetimeLock;

}  // namespace

CPdfParse::CPdfParse() : m_pdfObj(nullptr), m_status(0), m_pCritSect(nullptr) {
  g_traceB.CreateTraceInstance(kTraceInstance);
  g_traceB.StartTrace("CPdfParse Start ", '=', 60);
  try {
    m_pCritSect = outside::FrameworkNew<outside::CRITICAL_SECTION>();
    CurrentPlatform()->InitializeCriticalSection(m_pCritSect);
  } catch (...) {
    // The factory frees this parser; nothing of it may stay registered.
    ::operator delete(m_pCritSect);
    m_pCritSect = nullptr;
    g_traceB.ReleaseInstance(kTraceInstance);
    throw;
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::CPdfPars() was Init CRITICAL_SECTION");

  std::lock_guard<std::mutex> lock(g_lifetimeLock);
  if (!sm_threadObj) sm_threadObj = outside::FrameworkNewOrNull<CTreadObject>();
  CurrentPlatform()->InterlockedIncrement(&sm_instanceCount);
}

CPdfParse::~CPdfParse() {
  if (m_pCritSect) {
    CurrentPlatform()->DeleteCriticalSection(m_pCritSect);
    ::operator delete(m_pCritSect);
    m_pCritSect = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_lifetimeLock);
    if (CurrentPlatform()->InterlockedDecrement(&sm_instanceCount) == 0 && sm_threadObj) {
      sm_threadObj->setLastParser(this);
      delete sm_threadObj;
      sm_threadObj = nullptr;
    } else if (sm_threadObj) {
      sm_threadObj->forgetParser(this);
    }
  }
  g_traceB.ReleaseInstance(kTraceInstance);
}

bool CPdfParse::init() {
  CTreadObject* threadObj = threadObject();
  if (!threadObj) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::init() sm_threadObj = NULL");
    return false;
  }
  return threadObj->init(this);
}

bool CPdfParse::runInquiry(const char* fileName, PdfInquiryRec* rec) {
  bool res = false;
  if (!m_pCritSect) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR-- CPdfParse::runInquiry() CRITICAL_SECTION = NULL");
    m_status = 1;
    return false;
  }
  CurrentPlatform()->EnterCriticalSection(m_pCritSect);
  // Every way out but the worker's answer is a failure of this inquiry,
  // whatever the previous one left in m_status.
  bool answered = false;
  if (init() && fileName) {
    if (!rec) {
      // The worker would read the level through it.
      g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::runInquiry() rec = NULL");
    } else {
      switch (threadObject()->postInquiry(this, fileName, rec)) {
        case CTreadObject::PostResult::Answered:
          answered = true;
          res = m_status.load() == 0;
          break;
        case CTreadObject::PostResult::WorkerEnded:
          break;  // already traced
        case CTreadObject::PostResult::TimedOut:
        case CTreadObject::PostResult::WaitFailed:
          g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::runInquiry() WaitForSingleObject ");
          break;
      }
    }
  } else if (!fileName) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::runInquiry() fileName = NULL");
  }
  if (!answered) m_status = 1;
  CurrentPlatform()->LeaveCriticalSection(m_pCritSect);
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiry() End res = %d m_status = %d", res ? 1 : 0,
                    static_cast<int>(m_status.load()));
  return res;
}

int32_t CPdfParse::getStatus() { return m_status.load(); }

CTreadObject* CPdfParse::threadObject() {
  std::lock_guard<std::mutex> lock(g_lifetimeLock);
  return sm_threadObj;
}

int32_t CPdfParse::instanceCount() { return __atomic_load_n(&sm_instanceCount, __ATOMIC_SEQ_CST); }

namespace {

// Runs one step of the worker; nothing may escape the thread. A failure
// counts as a failed inquiry of `parser`.
template <class Step>
void RunGuarded(CPdfParse* parser, const char* what, std::atomic<int32_t>* status, Step step) {
  try {
    step();
    return;
  } catch (const std::exception& e) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::workingTread() %s failed: %s", what,
                      e.what());
  } catch (...) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::workingTread() %s failed", what);
  }
  if (parser && status) status->store(1);
}

}  // namespace

DWORD CPdfParse::workingTread(void* arg) {
  CPdfParse* const bound = static_cast<CPdfParse*>(arg);
  // Set before the thread was created and reset only after it is joined.
  CTreadObject* const obj = sm_threadObj;
  if (!bound || !obj) {
    g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() E_INVALIDARG");
    if (obj) obj->markEnded(false);
    return kWorkerInvalidArg;
  }
  // `bound` is not used again: it may be destroyed while the worker runs.
  outside::Platform* const platform = obj->m_platform;
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() started");
  platform->SetEvent(obj->m_hDoneEvent);

  while (platform->WaitForSingleObject(obj->m_hRequestEvent, outside::INFINITE) == outside::WAIT_OBJECT_0) {
    // The poster holds the post lock until this message is answered.
    const MSG msg = obj->m_msg;
    const uint64_t sequence = obj->m_msgSeq;
    CPdfParse* const asker = obj->m_msgAsker;
    if (msg.message == MES_INQUIRY) {
      g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() MES_INQUIRY");
      CPdfParse* const served = obj->serve(asker);
      if (served) {
        RunGuarded(served, "runInquiryPdfObj", &served->m_status, [&] {
          served->runInquiryPdfObj(reinterpret_cast<const char*>(msg.wParam),
                                   reinterpret_cast<PdfInquiryRec*>(msg.lParam));
        });
      }
      obj->answer(sequence);
    } else if (msg.message == WM_QUIT) {
      CPdfParse* const served = obj->serve(asker);
      if (served) RunGuarded(served, "releasePdfObj", nullptr, [&] { served->releasePdfObj(); });
      g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() completed");
      obj->answer(sequence);
      return kWorkerOk;
    } else {
      g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::workingTread() unknown message %u",
                        msg.message);
      obj->answer(sequence);
    }
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() E_FAIL");
  obj->markEnded(true);
  return kWorkerFail;
}
