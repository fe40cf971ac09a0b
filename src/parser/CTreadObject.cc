#include "parser/CTreadObject.h"

#include <exception>

#include "outside/trace/LibraryTraces.h"
#include "parser/CPdfParse.h"
#include "pdfobject/CPdfObject.h"

using outside::DWORD;
using outside::g_traceB;
using outside::kTraceInstance;

CTreadObject::CTreadObject()
    : m_hDoneEvent(nullptr),
      m_hRequestEvent(nullptr),
      m_hThread(nullptr),
      m_threadId(0),
      m_platform(outside::CurrentPlatform()) {
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
  if (m_hThread && m_hDoneEvent && m_hRequestEvent) {
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
    m_platform->CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_threadId = 0;
    m_workerPid = 0;
  }
  releaseLeftover();
  if (m_hDoneEvent) {
    m_platform->CloseHandle(m_hDoneEvent);
    m_hDoneEvent = nullptr;
  }
  if (m_hRequestEvent) {
    m_platform->CloseHandle(m_hRequestEvent);
    m_hRequestEvent = nullptr;
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
    g_traceB.OutputEx(kTraceInstance,
                      "--ERROR--CTreadObject::init() worker of process %u does not run in this process (%u)",
                      static_cast<unsigned>(m_workerPid.load()),
                      static_cast<unsigned>(m_platform->GetCurrentProcessId()));
    return false;
  }
  std::lock_guard<std::mutex> lock(m_postLock);
  // A worker that has ended answers nothing more: join it and start anew.
  if (m_hThread && m_ended.load(std::memory_order_acquire)) closeWorkerLocked();
  if (!m_hThread) {
    m_hRequestEvent = m_platform->CreateEventA(false, false);
    m_hDoneEvent = m_platform->CreateEventA(false, false);
    DWORD threadId = 0;
    m_hThread = m_platform->CreateThread(&CPdfParse::workingTread, parser,
                                         outside::CREATE_SUSPENDED, &threadId);
    bool started = false;
    if (m_hThread && m_hDoneEvent && m_hRequestEvent) {
      m_threadId = threadId;
      m_workerPid = m_platform->GetCurrentProcessId();
      m_ended.store(false, std::memory_order_release);
      {
        std::lock_guard<std::mutex> objects(m_objectLock);
        if (!m_served && !m_holding) m_served = parser;
      }
      g_traceB.OutputEx(kTraceInstance, "CTreadObject::init() ResumeThread");
      started = m_platform->ResumeThread(m_hThread) != 0xFFFFFFFFu;
      if (started &&
          m_platform->WaitForSingleObject(m_hDoneEvent, kWorkerWaitMillis) != outside::WAIT_OBJECT_0)
        g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::init() TIME_WAITING_INIT_THREAD");
    }
    if (!started) {
      // A thread that was never resumed is released and ends without
      // running its routine.
      if (m_hDoneEvent) m_platform->CloseHandle(m_hDoneEvent);
      if (m_hRequestEvent) m_platform->CloseHandle(m_hRequestEvent);
      if (m_hThread) m_platform->CloseHandle(m_hThread);
      m_hDoneEvent = m_hRequestEvent = m_hThread = nullptr;
      m_threadId = 0;
      m_workerPid = 0;
      return false;
    }
  }
  return m_hThread && m_threadId && m_hDoneEvent && m_hRequestEvent;
}

CTreadObject::PostResult CTreadObject::postInquiry(CPdfParse* asker, const char* fileName,
                                                   PdfInquiryRec* rec) {
  std::lock_guard<std::mutex> lock(m_postLock);
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiry() Begin sm_threadId = %d ",
                    static_cast<int>(m_threadId));
  return postLocked(MES_INQUIRY, reinterpret_cast<uintptr_t>(fileName),
                    reinterpret_cast<intptr_t>(rec), asker, outside::INFINITE);
}

CTreadObject::PostResult CTreadObject::postLocked(uint32_t message, uintptr_t wParam, intptr_t lParam,
                                                  CPdfParse* asker, DWORD millis) {
  if (!m_hThread || !m_hRequestEvent || !m_hDoneEvent) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() no worker, message %u not posted",
                      message);
    return PostResult::WorkerEnded;
  }
  if (!drainLocked()) return PostResult::WaitFailed;
  if (m_ended.load(std::memory_order_acquire)) {
    g_traceB.OutputEx(kTraceInstance,
                      "--ERROR--CTreadObject::post() worker has ended, message %u not posted", message);
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
  if (!m_platform->SetEvent(m_hRequestEvent)) {
    g_traceB.OutputEx(kTraceInstance, "--ERROR--CTreadObject::post() SetEvent failed, message %u",
                      message);
    return PostResult::WaitFailed;
  }
  m_seqPosted = sequence;
  if (asker) asker->m_postedSeq.store(sequence, std::memory_order_release);

  const uint64_t deadline = millis == outside::INFINITE ? 0 : m_platform->MonotonicMillis() + millis;
  for (;;) {
    DWORD wait = outside::INFINITE;
    if (millis != outside::INFINITE) {
      uint64_t now = m_platform->MonotonicMillis();
      wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    DWORD result = m_platform->WaitForSingleObject(m_hDoneEvent, wait);
    if (result == outside::WAIT_TIMEOUT) return PostResult::TimedOut;
    if (result != outside::WAIT_OBJECT_0) return PostResult::WaitFailed;
    if (m_seqAnswered.load(std::memory_order_acquire) >= sequence) return PostResult::Answered;
    if (m_ended.load(std::memory_order_acquire)) {
      g_traceB.OutputEx(kTraceInstance,
                        "--ERROR--CTreadObject::post() worker ended without answering message %u",
                        message);
      return PostResult::WorkerEnded;
    }
    // An older signal (a late start signal, or the answer to a post whose
    // wait failed): ours is still to come.
  }
}

bool CTreadObject::drainLocked() {
  while (m_seqAnswered.load(std::memory_order_acquire) < m_seqPosted &&
         !m_ended.load(std::memory_order_acquire)) {
    if (m_platform->WaitForSingleObject(m_hDoneEvent, outside::INFINITE) != outside::WAIT_OBJECT_0) {
      g_traceB.OutputEx(kTraceInstance,
                        "--ERROR--CTreadObject::post() earlier message still unanswered");
      return false;
    }
  }
  return true;
}

void CTreadObject::closeWorkerLocked() {
  m_platform->CloseHandle(m_hThread);  // joins
  m_platform->CloseHandle(m_hDoneEvent);
  m_platform->CloseHandle(m_hRequestEvent);
  m_hThread = m_hDoneEvent = m_hRequestEvent = nullptr;
  m_threadId = 0;
  m_workerPid = 0;
  // Messages the old worker never answered are void.
  m_seqAnswered.store(m_seqPosted, std::memory_order_release);
  m_ended.store(false, std::memory_order_release);
}

void CTreadObject::forgetParser(CPdfParse* parser) {
  // Messages of other parsers never reach this one; only its own, when its
  // runInquiry stopped waiting, may still be handled and is waited for.
  if (parser->m_postedSeq.load(std::memory_order_acquire) > m_seqAnswered.load(std::memory_order_acquire) &&
      !inOtherProcess()) {
    std::lock_guard<std::mutex> post(m_postLock);
    if (m_hThread && m_hDoneEvent) drainLocked();
  }
  std::lock_guard<std::mutex> lock(m_objectLock);
  if (m_served == parser) {
    if (!m_holding) m_holding = parser->m_pdfObj;
    parser->m_pdfObj = nullptr;
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
  return m_holding != nullptr || (m_served && m_served->m_pdfObj);
}

CPdfParse* CTreadObject::serve(CPdfParse* asker) {
  std::lock_guard<std::mutex> lock(m_objectLock);
  if (!asker || asker == m_served) return m_served;
  CPdfObject* object = m_holding;
  m_holding = nullptr;
  if (m_served) {
    if (!object) object = m_served->m_pdfObj;
    m_served->m_pdfObj = nullptr;
  }
  if (!asker->m_pdfObj) asker->m_pdfObj = object;
  m_served = asker;
  return asker;
}

void CTreadObject::answer(uint64_t sequence) {
  m_seqAnswered.store(sequence, std::memory_order_release);
  m_platform->SetEvent(m_hDoneEvent);
}

void CTreadObject::markEnded(bool wakePoster) {
  m_ended.store(true, std::memory_order_release);
  if (wakePoster) m_platform->SetEvent(m_hDoneEvent);
}

void CTreadObject::releaseLeftover() {
  // Only after the worker has been joined, or when none ever ran.
  CPdfParse* owner = m_lastParser ? m_lastParser : m_served;
  if (owner) {
    serve(owner);
    if (owner->m_pdfObj) owner->releasePdfObj();
  } else if (m_holding) {
    delete m_holding;
  }
  m_holding = nullptr;
  m_served = nullptr;
  m_lastParser = nullptr;
}
