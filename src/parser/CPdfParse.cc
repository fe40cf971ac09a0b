#include "parser/CPdfParse.h"

#include <mutex>

#include "outside/trace/LibraryTraces.h"
#include "parser/CTreadObject.h"

using pdfparse::outside::CurrentPlatform;
using pdfparse::outside::DWORD;
using pdfparse::outside::g_traceB;
using pdfparse::outside::kTraceInstance;

CTreadObject* CPdfParse::sm_threadObj = nullptr;
int32_t CPdfParse::sm_instanceCount = 0;

namespace {

// Guards the creation of the worker object by the first parser and its
// teardown by the last, which may run on different host threads.
std::mutex g_lifetimeLock;

}  // namespace

CPdfParse::CPdfParse() : m_pdfObj(nullptr), m_status(0), m_pCritSect(nullptr) {
  g_traceB.CreateTraceInstance(kTraceInstance);
  g_traceB.StartTrace("CPdfParse Start ", '=', 60);
  try {
    m_pCritSect = pdfparse::outside::FrameworkNew<pdfparse::outside::CRITICAL_SECTION>();
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
  if (!sm_threadObj) sm_threadObj = pdfparse::outside::FrameworkNewOrNull<CTreadObject>();
  ++sm_instanceCount;
}

CPdfParse::~CPdfParse() {
  if (m_pCritSect) {
    CurrentPlatform()->DeleteCriticalSection(m_pCritSect);
    ::operator delete(m_pCritSect);
    m_pCritSect = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_lifetimeLock);
    if (--sm_instanceCount == 0 && sm_threadObj) {
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

int32_t CPdfParse::instanceCount() {
  std::lock_guard<std::mutex> lock(g_lifetimeLock);
  return sm_instanceCount;
}

CPdfObject* CPdfParse::takeDocumentObject() {
  CPdfObject* object = m_pdfObj;
  m_pdfObj = nullptr;
  return object;
}

void CPdfParse::adoptDocumentObject(CPdfObject* object) {
  if (!m_pdfObj) m_pdfObj = object;
}

DWORD CPdfParse::workingTread(void* arg) {
  // Set before the thread was created and reset only after it is joined.
  CTreadObject* const obj = sm_threadObj;
  if (!obj) {
    g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() E_INVALIDARG");
    return kWorkerInvalidArg;
  }
  return obj->runWorker(static_cast<CPdfParse*>(arg));
}
