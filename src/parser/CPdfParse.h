// The parser behind CPdfParseIf. It does no PDF work on the calling thread:
// each inquiry is handed to the library's one worker (CTreadObject), which
// runs it on the parser's inquiry operations (InquiryLevels.cc). The two
// use each other by design (see CTreadObject.h).
#ifndef PDFPARSE_PARSER_CPDFPARSE_H_
#define PDFPARSE_PARSER_CPDFPARSE_H_

#include <atomic>
#include <cstdint>

#include "outside/framework/Framework.h"
#include "outside/platform/Platform.h"
#include "pdfparse/CPdfParseIf.h"

class CPdfObject;
class CTreadObject;

class CPdfParse : public CPdfParseIf {
 public:
  CPdfParse();
  ~CPdfParse() override;
  CPdfParse(const CPdfParse&) = delete;
  CPdfParse& operator=(const CPdfParse&) = delete;

  bool init() override;
  bool runInquiry(const char* fileName, PdfInquiryRec* rec) override;
  int32_t getStatus() override;

  // Worker thread procedure; `arg` is the parser whose init started it.
  // Runs the library's worker (CTreadObject::runWorker).
  static pdfparse::outside::DWORD workingTread(void* arg);

  // --- Run only on the worker thread (InquiryLevels.cc) ---------------------
  bool runInquiryPdfObj(const char* fileName, PdfInquiryRec* rec);
  bool runInquiryLevel1(PdfInquiryRec* rec);
  bool runInquiryLevel2(PdfInquiryRec* rec);
  bool runInquiryLevel3(PdfInquiryRec* rec);
  bool initPdfObj();
  bool releasePdfObj();
  // The inquiry failed outside the levels (it raised): m_status 1.
  void failInquiry() { m_status = 1; }

  // --- The worker's hand-over of the document object (CTreadObject) --------
  // Called with the worker's object lock held.
  bool hasDocumentObject() const { return m_pdfObj != nullptr; }
  // Gives up the document object; null when it holds none.
  CPdfObject* takeDocumentObject();
  // Takes `object` unless it already holds one.
  void adoptDocumentObject(CPdfObject* object);
  // Sequence number of this parser's last message to the worker.
  void notePosted(uint64_t sequence) { m_postedSeq.store(sequence, std::memory_order_release); }
  uint64_t lastPosted() const { return m_postedSeq.load(std::memory_order_acquire); }

  // For tests and the worker's hand-over.
  static CTreadObject* threadObject();
  static int32_t instanceCount();

 private:
  // The worker's alone while it serves this parser; moved only under the
  // worker's object lock (CTreadObject::serve, forgetParser).
  CPdfObject* m_pdfObj;
  // Written by the worker, read by runInquiry after the answer and by
  // getStatus at any time: atomic so neither read can tear.
  std::atomic<int32_t> m_status;
  // Sequence number of this parser's last message to the worker.
  std::atomic<uint64_t> m_postedSeq{0};
  // Serialises this parser's runInquiry calls.
  pdfparse::outside::CRITICAL_SECTION* m_pCritSect;

  // Both guarded by the lifetime lock (CPdfParse.cc).
  static CTreadObject* sm_threadObj;
  static int32_t sm_instanceCount;
};

// The library's record with the host framework, registered when the shared
// library is loaded. A failed registration makes CreateCPdfParse return null.
extern pdfparse::outside::AFX_EXTENSION_MODULE g_pdfParseModule;

#endif  // PDFPARSE_PARSER_CPDFPARSE_H_
