#include "parser/CTreadObject.h"

#include <exception>

#include "outside/trace/LibraryTraces.h"
#include "parser/CPdfParse.h"
#include "pdfobject/CPdfObject.h"

using pdfparse::outside::DWORD;
using pdfparse::outside::g_traceB;
using pdfparse::outside::kTraceInstance;

CTreadObject::CTreadObject() : m_platform(pdfparse::outside::CurrentPlatform()) {
  g_traceB.CreateTraceInstance(kTraceInstance);
}

CTreadObject::~CTreadObject() {
  if (inOtherProcess()) {
    // A child made by fork(): the worker, and whatever it held, live on only
    // in the parent. Nothing here can be joined or safely released.
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::~CTreadObject() worker of process %u left alone",
                      static_cast<unsigned>(m_workerPid.load()));
    g_traceB.ReleaseInstance(kTraceInstance);
    return;
  }
  if (m_thread && m_doneEvent && m_requestEvent) {
    PostResult result;
    {
      std::lock_guard<std::mutex> lock(m_postLock);
      CPdfParse* last;
      {
        std::lock_guard<std::mutex> objects(m_objectLock);
        last = m_lastParser;
      }
      result = postLocked(WM_QUIT, 0, 0, last, kWorkerWaitMillis);
    }
    g_traceB.OutputEx(kTraceInstance, "CTreadObject::~CTreadObject() thread end %s",
                      result == PostResult::Answered ? "OK" : " may be --ERROR--");
    // Joins the worker, however late it is, before anything it could reach
    // is freed and before the library can be unloaded.
    m_platform->CloseHandle(m_thread);
    m_thread = nullptr;
    m_workerThreadId = 0;
    m_workerPid = 0;
  }
  releaseLeftover();
  if (m_doneEvent) {
    m_platform->CloseHandle(m_doneEvent);
    m_doneEvent = nullptr;
  }
  if (m_requestEvent) {
    m_platform->CloseHandle(m_requestEvent);
    m_requestEvent = nullptr;
  }
  g_traceB.OutputEx(kTraceInstance, "CTreadObject::~CTreadObject() End");
  g_traceB.ReleaseInstance(kTraceInstance);
}

bool CTreadObject::inOtherProcess() {
  const DWORD owner = m_workerPid.load();
  return owner != 0 && owner != m_platform->GetCurrentProcessId();
}

bool CTreadObject::init(CPdfParse* parser) {
  // Checked before the post lock, which a thread of the parent may have
  // held when the child was made.
  if (inOtherProcess()) {
    g_traceB.OutputEx(
        kTraceInstance, "--ERROR--CTreadObject::init() worker of process %u does not run in this process (%u)",
        static_cast<unsigned>(m_workerPid.load()), static_cast<unsigned>(m_platform->GetCurrentProcessId()));
    return false;
  }
  {
    // A running worker is only looked at, not waited for.
    std::lock_guard<std::mutex> handles(m_handleLock);
    if (m_thread && !m_ended.load(std::memory_order_acquire)) return workerExists();
  }
  // None runs, or the last one has ended: start one. The post lock is held
  // for an instant at most here (an ended worker has woken its poster).
  std::lock_guard<std::mutex> lock(m_postLock);
  std::lock_guard<std::mutex> handles(m_handleLock);
  // A worker that has ended answers nothing more: join it and start anew.
  if (m_thread && m_ended.load(std::memory_order_acquire)) closeWorkerLocked();
  if (!m_thread) {
    m_requestEvent = m_platform->CreateEventA(false, false);
    m_doneEvent = m_platform->CreateEventA(false, false);
    DWORD threadId = 0;
    m_thread =
        m_platform->CreateThread(&CPdfParse::workingTread, parser, pdfparse::outside::CREATE_SUSPENDED, &threadId);
    bool started = false;
    if (m_thread && m_doneEvent && m_requestEvent) {
      m_workerThreadId = threadId;
      m_workerPid = m_platform->GetCurrentProcessId();
      m_ended.store(false, std::memory_order_release);
      {
        std::lock_guard<std::mutex> objects(m_objectLock);
        if (!m_served && !m_holding) m_served = parser;
      }
      g_traceB.OutputEx(kTraceInstance, "CTreadObject::init() ResumeThread");
      started = m_platform->ResumeThread(m_thread) != 0xFFFFFFFFu;
      if (started &&
          m_platform->WaitForSingleObject(m_doneEvent, kWorkerWaitMillis) != pdfparse::outside::WAIT_OBJECT_0)
        g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::init() TIME_WAITING_INIT_THREAD");
    }
    if (!started) {
      // A thread that was never resumed is released and ends without
      // running its routine.
      if (m_doneEvent) m_platform->CloseHandle(m_doneEvent);
      if (m_requestEvent) m_platform->CloseHandle(m_requestEvent);
      if (m_thread) m_platform->CloseHandle(m_thread);
      m_doneEvent = m_requestEvent = m_thread = nullptr;
      m_workerThreadId = 0;
      m_workerPid = 0;
      return false;
    }
  }
  return workerExists();
}

bool CTreadObject::workerExists() const { return m_thread && m_workerThreadId && m_doneEvent && m_requestEvent; }

CTreadObject::PostResult CTreadObject::postInquiry(CPdfParse* asker, const char* fileName, PdfInquiryRec* rec) {
  std::lock_guard<std::mutex> lock(m_postLock);
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiry() Begin sm_threadId = %d ",
                    static_cast<int>(m_workerThreadId));
  return postLocked(MES_INQUIRY, reinterpret_cast<uintptr_t>(fileName), reinterpret_cast<intptr_t>(rec), asker,
                    pdfparse::outside::INFINITE);
}

CTreadObject::PostResult CTreadObject::postLocked(uint32_t message, uintptr_t wParam, intptr_t lParam, CPdfParse* asker,
                                                  DWORD millis) {
  if (!m_thread || !m_requestEvent || !m_doneEvent) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() no worker, message %u not posted", message);
    return PostResult::WorkerEnded;
  }
  if (!drainLocked()) return PostResult::WaitFailed;
  if (m_ended.load(std::memory_order_acquire)) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() worker has ended, message %u not posted", message);
    return PostResult::WorkerEnded;
  }
  // The slot is free: the worker has answered everything posted before.
  m_msg.message = message;
  if (message == MES_INQUIRY) {
    m_msg.wParam = wParam;
    m_msg.lParam = lParam;
  }
  const uint64_t sequence = m_seqPosted + 1;
  m_msgSeq = sequence;
  m_msgAsker = asker;
  if (!m_platform->SetEvent(m_requestEvent)) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() SetEvent failed, message %u", message);
    return PostResult::WaitFailed;
  }
  m_seqPosted = sequence;
  if (asker) asker->notePosted(sequence);

  const uint64_t deadline = millis == pdfparse::outside::INFINITE ? 0 : m_platform->MonotonicMillis() + millis;
  for (;;) {
    DWORD wait = pdfparse::outside::INFINITE;
    if (millis != pdfparse::outside::INFINITE) {
      uint64_t now = m_platform->MonotonicMillis();
      wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    DWORD result = m_platform->WaitForSingleObject(m_doneEvent, wait);
    if (result == pdfparse::outside::WAIT_TIMEOUT) return PostResult::TimedOut;
    if (result != pdfparse::outside::WAIT_OBJECT_0) return PostResult::WaitFailed;
    if (m_seqAnswered.load(std::memory_order_acquire) >= sequence) return PostResult::Answered;
    if (m_ended.load(std::memory_order_acquire)) {
      g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() worker ended without answering message %u",
                        message);
      return PostResult::WorkerEnded;
    }
    // An older signal (a late start signal, or the answer to a post whose
    // wait failed): ours is still to come.
  }
}

bool CTreadObject::drainLocked() {
  while (m_seqAnswered.load(std::memory_order_acquire) < m_seqPosted && !m_ended.load(std::memory_order_acquire)) {
    if (m_platform->WaitForSingleObject(m_doneEvent, pdfparse::outside::INFINITE) != pdfparse::outside::WAIT_OBJECT_0) {
      g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() earlier message still unanswered");
      return false;
    }
  }
  return true;
}

void CTreadObject::closeWorkerLocked() {
  m_platform->CloseHandle(m_thread);  // joins
  m_platform->CloseHandle(m_doneEvent);
  m_platform->CloseHandle(m_requestEvent);
  m_thread = m_doneEvent = m_requestEvent = nullptr;
  m_workerThreadId = 0;
  m_workerPid = 0;
  // Messages the old worker never answered are void.
  m_seqAnswered.store(m_seqPosted, std::memory_order_release);
  m_ended.store(false, std::memory_order_release);
}

void CTreadObject::forgetParser(CPdfParse* parser) {
  // Messages of other parsers never reach this one; only its own, when its
  // runInquiry stopped waiting, may still be handled and is waited for.
  if (parser->lastPosted() > m_seqAnswered.load(std::memory_order_acquire) && !inOtherProcess()) {
    std::lock_guard<std::mutex> post(m_postLock);
    if (m_thread && m_doneEvent) drainLocked();
  }
  std::lock_guard<std::mutex> lock(m_objectLock);
  if (m_served == parser) {
    CPdfObject* object = parser->takeDocumentObject();
    if (!m_holding) m_holding = object;
    m_served = nullptr;
  }
  if (m_lastParser == parser) m_lastParser = nullptr;
}

void CTreadObject::setLastParser(CPdfParse* parser) {
  std::lock_guard<std::mutex> lock(m_objectLock);
  m_lastParser = parser;
}

CPdfParse* CTreadObject::servedParser() {
  std::lock_guard<std::mutex> lock(m_objectLock);
  return m_served;
}

bool CTreadObject::holdsDocumentObject() {
  std::lock_guard<std::mutex> lock(m_objectLock);
  return m_holding != nullptr || (m_served && m_served->hasDocumentObject());
}

CPdfParse* CTreadObject::serve(CPdfParse* asker) {
  std::lock_guard<std::mutex> lock(m_objectLock);
  if (!asker || asker == m_served) return m_served;
  CPdfObject* object = m_holding;
  m_holding = nullptr;
  if (m_served) {
    CPdfObject* held = m_served->takeDocumentObject();
    if (!object) object = held;
  }
  asker->adoptDocumentObject(object);
  m_served = asker;
  return asker;
}

namespace {

// Runs one step of the worker; nothing may escape the thread. False when it
// raised.
template <class Step>
bool RunGuarded(const char* what, Step step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::workingTread() %s failed: %s", what, e.what());
  } catch (...) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::workingTread() %s failed", what);
  }
  return false;
}

}  // namespace

// Reads the message slot without a lock: the poster holds the post lock for
// the worker until the answer (see CTreadObject.h).
DWORD CTreadObject::runWorker(CPdfParse* bound) {
  if (!bound) {
    g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() E_INVALIDARG");
    markEnded(false);
    return kWorkerInvalidArg;
  }
  // `bound` is not used again: it may be destroyed while the worker runs.
  pdfparse::outside::Platform* const platform = m_platform;
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() started");
  platform->SetEvent(m_doneEvent);

  while (platform->WaitForSingleObject(m_requestEvent, pdfparse::outside::INFINITE) ==
         pdfparse::outside::WAIT_OBJECT_0) {
    const MSG msg = m_msg;
    const uint64_t sequence = m_msgSeq;
    CPdfParse* const asker = m_msgAsker;
    if (msg.message == MES_INQUIRY) {
      g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() MES_INQUIRY");
      CPdfParse* const served = serve(asker);
      if (served && !RunGuarded("runInquiryPdfObj", [&] {
            served->runInquiryPdfObj(reinterpret_cast<const char*>(msg.wParam),
                                     reinterpret_cast<PdfInquiryRec*>(msg.lParam));
          })) {
        served->failInquiry();
      }
      answer(sequence);
    } else if (msg.message == WM_QUIT) {
      CPdfParse* const served = serve(asker);
      if (served) RunGuarded("releasePdfObj", [&] { served->releasePdfObj(); });
      g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() completed");
      answer(sequence);
      return kWorkerOk;
    } else {
      g_traceB.OutputEx(kTraceInstance, "--ERROR--CPdfParse::workingTread() unknown message %u", msg.message);
      answer(sequence);
    }
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::workingTread() E_FAIL");
  markEnded(true);
  return kWorkerFail;
}

void CTreadObject::answer(uint64_t sequence) {
  m_seqAnswered.store(sequence, std::memory_order_release);
  m_platform->SetEvent(m_doneEvent);
}

void CTreadObject::markEnded(bool wakePoster) {
  m_ended.store(true, std::memory_order_release);
  if (wakePoster) m_platform->SetEvent(m_doneEvent);
}

void CTreadObject::releaseLeftover() {
  // Only after the worker has been joined, or when none ever ran.
  CPdfParse* owner = m_lastParser ? m_lastParser : m_served;
  if (owner) {
    serve(owner);
    if (owner->hasDocumentObject()) owner->releasePdfObj();
  } else if (m_holding) {
    delete m_holding;
  }
  m_holding = nullptr;
  m_served = nullptr;
  m_lastParser = nullptr;
}
