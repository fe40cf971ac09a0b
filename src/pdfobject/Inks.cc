// CPdfObject: the document subtype from its producer, and the spot-ink scan.
#include <string>

#include "pdfobject/CPdfObject.h"
#include "pdfobject/PdfObjectDetail.h"

using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;
using pdfparse::pdfl::PdflException;
using pdfparse::pdfl::PdflProtected;
using pdfparse::pdfobject::Flag;
using pdfparse::pdfobject::PageHolder;

ASBool enumInksProc(PDPageInk ink, void* clientData) {
  if (ink == nullptr) return 1;
  ASAtomGetString(ink->colorantName);
  if (clientData != nullptr) *static_cast<int32_t*>(clientData) = ink->isProcessColor == 0 ? 1 : 0;
  // A spot ink halts the enumeration: one is enough to answer.
  return ink->isProcessColor;
}

bool CPdfObject::getSubType(int32_t* subType, uint32_t* hasSpotInk) {
  bool res = m_pdflLibData != nullptr && m_pdDoc != nullptr && subType != nullptr && hasSpotInk != nullptr;
  if (res && !PdflProtected([&] {
        std::string producer;
        *subType = -1;
        *hasSpotInk = 0;
        // Its own block catches a raise; the producer then stays empty,
        // unless a work limit is why: then there is no answer to give.
        if (!getDocInfo("Producer", &producer) && m_workLimitError != 0) {
          throw PdflException(m_workLimitError, "a work limit was reached while the producer was read");
        }
        if (producer.find("Vrel") == std::string::npos) return;

        const ASInt32 count = PDDocGetNumPages(m_pdDoc);
        *subType = 1;
        int32_t pageFlag = 0;
        for (ASInt32 i = 0; i < count; ++i) {
          PageHolder held(PDDocAcquirePage(m_pdDoc, i));
          PDPageEnumInksEx(held.get(), enumInksProc, &pageFlag, 0, ASAtomNull);
          held.release();
          *hasSpotInk = static_cast<uint32_t>(pageFlag);
          if (pageFlag != 0) break;
        }
      })) {
    res = reportPdflError("CPdfObject::getSubType()");
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::getSubType() res = %d subType = %d isPelmont = %d", Flag(res),
                    subType != nullptr ? static_cast<int>(*subType) : 0,
                    hasSpotInk != nullptr ? static_cast<int>(*hasSpotInk) : 0);
  return res;
}
