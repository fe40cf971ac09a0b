// The library's one worker thread and the hand-off through which callers
// give it one message at a time.
//
// Every post (an inquiry from any parser, or the quit message) takes the
// library-wide post lock for as long as it is in flight, so the one message
// slot and the two auto-reset events never carry two messages at once. Each
// post gets a sequence number; the worker records the number it answered,
// and a poster whose wait is released by an older signal (a start signal
// that came after init gave up waiting, or the answer to a post whose wait
// failed) keeps waiting for its own answer.
//
// init takes the post lock only to start a worker. While one runs it only
// looks at the worker's handles under the handle lock, which no inquiry
// holds, so a parser's init never waits for another parser's inquiry. The
// handles are written only with both locks held (starting or joining a
// worker), so either lock is enough to read them.
//
// The worker keeps one document object for the whole library. It lives in
// the parser the worker served last; when the worker serves another parser
// it is handed over to that one, and when the served parser is destroyed it
// moves to a holding slot here until the next message. These hand-overs take
// their own object lock, not the post lock: a parser that is not asking goes
// without waiting for the inquiry of another parser.
//
// What the worker owns. The message slot (m_msg, m_msgSeq, m_msgAsker) is
// written by a poster holding the post lock before it signals the request
// event, and read by the worker between that signal and its answer; the
// poster keeps the post lock all that time, so the worker reads it on the
// poster's behalf and no other poster can write it. While a message is in
// flight the served parser's document object and the parameters of the
// message (file name, record) are the worker's alone. The handles are set
// before the worker starts and closed only after it is joined.
//
// One idiom per purpose: std::mutex for the locks (post, handle, object),
// std::atomic for what is read without them (answered sequence, ended flag,
// worker process), the platform's auto-reset events for the hand-off itself.
//
// CTreadObject and CPdfParse use each other, and that is inherent in the
// call pattern: a parser creates the worker object and posts to it, and the
// worker's thread routine (CPdfParse::workingTread) runs the asking parser's
// inquiry operations and hands the document object from parser to parser.
// Both belong to this layer; an interface between them would only rename
// the cycle.
//
// The worker belongs to the process that started it. In a child made by
// fork() it does not exist: there, inquiries fail at once and the last
// parser's delete leaves the worker's remains alone.
#ifndef PDFPARSE_PARSER_CTREADOBJECT_H_
#define PDFPARSE_PARSER_CTREADOBJECT_H_

#include <atomic>
#include <cstdint>
#include <mutex>

#include "outside/platform/Platform.h"
#include "parser/ThreadAnnotations.h"
#include "pdfparse/PdfInquiryRec.h"

class CPdfObject;
class CPdfParse;

// The platform's message record; only these three members are used.
struct MSG {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// The platform's first application message number, and its quit message.
constexpr uint32_t WM_USER = 1024;
constexpr uint32_t WM_QUIT = 18;
// An inquiry: wParam the file name, lParam the host's PdfInquiryRec.
constexpr uint32_t MES_INQUIRY = WM_USER + 154;

// Results the worker ends with.
constexpr pdfparse::outside::DWORD kWorkerOk = 0;
constexpr pdfparse::outside::DWORD kWorkerInvalidArg = 0x80070057u;  // E_INVALIDARG
constexpr pdfparse::outside::DWORD kWorkerFail = 0x80004005u;        // E_FAIL

// Time the caller gives the worker to start and to answer the quit message.
constexpr pdfparse::outside::DWORD kWorkerWaitMillis = 5000;

class CTreadObject {
 public:
  // Creates no event and no thread.
  CTreadObject();
  // Stops the worker (quit message, up to 5000 ms), joins it and releases
  // the events. Runs on the thread that destroys the last parser.
  ~CTreadObject();
  CTreadObject(const CTreadObject&) = delete;
  CTreadObject& operator=(const CTreadObject&) = delete;

  // Starts the worker if none runs (or the last one has ended), bound to
  // `parser`, and waits up to 5000 ms for its start signal. True when the
  // thread, its id and both events exist. A running worker is only checked:
  // an inquiry in flight is not waited for. False, with a trace line, in a
  // process other than the worker's (a child made by fork()).
  bool init(CPdfParse* parser);

  enum class PostResult {
    Answered,     // the worker has answered this very message
    TimedOut,     // no answer within the time limit
    WaitFailed,   // the wait for the answer failed
    WorkerEnded,  // the worker has ended: nothing was, or will be, answered
  };

  // Writes the runInquiry Begin line, hands the worker an inquiry from
  // `asker` and waits without limit for its answer, which the worker writes
  // into asker's m_status and `rec`. A worker that has ended is reported at
  // once, with a trace line, instead of being waited for.
  PostResult postInquiry(CPdfParse* asker, const char* fileName, PdfInquiryRec* rec);

  // Called by a parser that goes away while others live: if the worker
  // serves it, its document object moves to the holding slot. Waits for
  // the worker only when a message of this very parser may still be handled
  // (its runInquiry stopped waiting for the answer).
  void forgetParser(CPdfParse* parser);

  // The parser whose destruction destroys this object; the quit message
  // releases the document object on it. Set before deleting this object.
  void setLastParser(CPdfParse* parser);

  // The worker's message loop, run by CPdfParse::workingTread on the
  // worker thread; `bound` is the parser whose init started it. Returns the
  // thread's result (kWorkerOk after the quit message).
  pdfparse::outside::DWORD runWorker(CPdfParse* bound) PDFPARSE_NO_THREAD_SAFETY_ANALYSIS;

  // --- Observations for tests ---------------------------------------------
  bool workerEnded() const { return m_ended.load(std::memory_order_acquire); }
  CPdfParse* servedParser();
  bool holdsDocumentObject();

 private:
  // Set before the worker starts and cleared when it is joined, with the
  // post lock and the handle lock held (the destructor, which runs when no
  // parser is left, needs neither); read with either. Closed only after the
  // worker is joined: the worker reads the events without a lock.
  pdfparse::outside::HANDLE m_doneEvent = nullptr;
  pdfparse::outside::HANDLE m_requestEvent = nullptr;
  pdfparse::outside::HANDLE m_thread = nullptr;
  pdfparse::outside::DWORD m_workerThreadId = 0;

 public:
  // Read-only views of the handles, for tests.
  const pdfparse::outside::HANDLE& m_hDoneEvent = m_doneEvent;
  const pdfparse::outside::HANDLE& m_hRequestEvent = m_requestEvent;
  const pdfparse::outside::HANDLE& m_hThread = m_thread;
  const pdfparse::outside::DWORD& m_threadId = m_workerThreadId;

 private:
  // With the post lock held: waits until the slot is free, writes it (the
  // parameters only for MES_INQUIRY), signals the worker and waits for the
  // answer to this message: without limit when `millis` is INFINITE.
  PostResult postLocked(uint32_t message, uintptr_t wParam, intptr_t lParam, CPdfParse* asker,
                        pdfparse::outside::DWORD millis);
  // Waits until every earlier message is answered, so the slot is free.
  bool drainLocked();
  // With the post lock and the handle lock held: closes the handles of a
  // worker that has ended; the thread is joined.
  void closeWorkerLocked();
  // True in a process other than the one that started the running worker.
  bool inOtherProcess();
  // With the post lock or the handle lock held: the thread, its id and both
  // events exist.
  bool workerExists() const;

  // --- Worker side (the poster of the message in flight holds the post lock)
  // Moves the document object to `asker` and makes it the served parser;
  // returns the served parser (the previous one when `asker` is null).
  CPdfParse* serve(CPdfParse* asker);
  void answer(uint64_t sequence);
  void markEnded(bool wakePoster);
  // After the worker is gone: releases a document object that no worker
  // released, on the last parser (still alive in its destructor).
  void releaseLeftover() PDFPARSE_NO_THREAD_SAFETY_ANALYSIS;

  pdfparse::outside::Platform* m_platform;
  std::mutex m_postLock;
  // Taken after the post lock; guards the handles against init's check of a
  // running worker (see the top of this file).
  std::mutex m_handleLock;
  uint64_t m_seqPosted PDFPARSE_GUARDED_BY(m_postLock) = 0;  // last sequence number posted
  std::atomic<uint64_t> m_seqAnswered{0};                    // last one the worker answered
  // The message slot: see the top of this file.
  MSG m_msg;
  uint64_t m_msgSeq = 0;                                 // sequence number in the slot
  CPdfParse* m_msgAsker = nullptr;                       // parser that posted the slot
  std::atomic<bool> m_ended{false};                      // the worker has ended
  std::atomic<pdfparse::outside::DWORD> m_workerPid{0};  // process that started the worker; 0: none
  // Guards the three below and the hand-over of a parser's document object.
  std::mutex m_objectLock;
  CPdfParse* m_served PDFPARSE_GUARDED_BY(m_objectLock) = nullptr;    // parser that holds the document object
  CPdfObject* m_holding PDFPARSE_GUARDED_BY(m_objectLock) = nullptr;  // the document object while no parser holds it
  CPdfParse* m_lastParser PDFPARSE_GUARDED_BY(m_objectLock) = nullptr;
};

#endif  // PDFPARSE_PARSER_CTREADOBJECT_H_
