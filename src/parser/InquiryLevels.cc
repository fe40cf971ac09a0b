// The inquiry itself, run on the worker thread: make sure the document
// object exists, open the file, run the level, close, and set m_status.
#include "outside/framework/Framework.h"
#include "outside/trace/LibraryTraces.h"
#include "parser/CPdfParse.h"
#include "pdfobject/CPdfObject.h"

using pdfparse::outside::g_traceB;
using pdfparse::outside::kTraceInstance;

namespace {
int Flag(bool value) { return value ? 1 : 0; }
}  // namespace

bool CPdfParse::runInquiryPdfObj(const char* fileName, PdfInquiryRec* rec) {
  bool res = false;
  // A missing record is refused like a missing file name: nothing is opened.
  if (initPdfObj() && fileName != nullptr && rec != nullptr && m_pdfObj->openPdf(fileName)) {
    switch (rec->level) {
      case 1:
        res = runInquiryLevel1(rec);
        break;
      case 2:
        res = runInquiryLevel2(rec);
        break;
      case 3:
        res = runInquiryLevel3(rec);
        break;
      default:
        g_traceB.OutputEx(kTraceInstance, "--ERROR-- CPdfParse::runInquiryPdfObj() default level = %d ",
                          static_cast<int>(rec->level));
        break;
    }
    // A step that ran out of time or memory may have carried on with what it had.
    if (m_pdfObj->workLimitError() != 0) res = false;
    m_pdfObj->closePdf();
    if (res) m_status = m_pdfObj->errState();
  }
  if (!res) m_status = 1;
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiryPdfObj() End res = %d", Flag(res));
  return res;
}

// Every query runs even after one has failed: the results are combined
// without short-circuiting.
bool CPdfParse::runInquiryLevel1(PdfInquiryRec* rec) {
  bool r = m_pdfObj != nullptr && rec != nullptr;
  if (r) {
    r = m_pdfObj->getNumPages(&rec->numPages);
    r &= m_pdfObj->getPageRotation(1, &rec->rotation);
    r &= m_pdfObj->getDocInfo(rec->infoKey, &rec->infoValue);
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiryLevel1() End res = %d", Flag(r));
  return r;
}

bool CPdfParse::runInquiryLevel2(PdfInquiryRec* rec) {
  bool r = runInquiryLevel1(rec);
  if (m_pdfObj != nullptr && rec != nullptr) {
    float box[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    r &= m_pdfObj->getPageMode(&rec->pageMode);
    r &= m_pdfObj->getPageMediaBox(box);
    if (r) {
      for (int k = 0; k < 4; ++k) rec->mediaBox[k] = box[k];
    }
  } else {
    r = false;
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiryLevel2() End res = %d", Flag(r));
  return r;
}

bool CPdfParse::runInquiryLevel3(PdfInquiryRec* rec) {
  bool r = runInquiryLevel2(rec);
  if (m_pdfObj != nullptr && rec != nullptr) {
    int32_t subType = 0;
    uint32_t hasSpotInk = 0;
    r &= m_pdfObj->getSubType(&subType, &hasSpotInk);
    if (r) {
      rec->subType = subType;
      rec->hasSpotInk = hasSpotInk;
    }
  } else {
    r = false;
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::runInquiryLevel3() End res = %d", Flag(r));
  return r;
}

bool CPdfParse::initPdfObj() {
  if (m_pdfObj == nullptr) {
    m_pdfObj = pdfparse::outside::FrameworkNewOrNull<CPdfObject>();
    if (m_pdfObj != nullptr && !m_pdfObj->init()) {
      delete m_pdfObj;
      m_pdfObj = nullptr;
    }
  }
  const bool res = m_pdfObj != nullptr;
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::initPdfObj() End res = %d", Flag(res));
  return res;
}

bool CPdfParse::releasePdfObj() {
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::releasePdfObj() Begin");
  if (m_pdfObj != nullptr) {
    delete m_pdfObj;
    m_pdfObj = nullptr;
  }
  g_traceB.OutputEx(kTraceInstance, "CPdfParse::releasePdfObj() end");
  return true;
}
