// CPdfObject: page count, page rotation and document-information entries.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "pdfobject/CPdfObject.h"
#include "pdfobject/PdfObjectDetail.h"

using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;
using pdfparse::pdfl::PdflProtected;
using pdfparse::pdfobject::AllocOrNull;
using pdfparse::pdfobject::Flag;
using pdfparse::pdfobject::MemDeleter;
using pdfparse::pdfobject::PageHolder;

bool CPdfObject::getNumPages(int32_t* numPages) {
  bool res = m_pdflLibData != nullptr && m_pdDoc != nullptr && numPages != nullptr;
  if (res && !PdflProtected([&] { *numPages = PDDocGetNumPages(m_pdDoc); })) {
    res = reportPdflError("CPdfObject::getNumPages()");
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::getNumPages() res = %d numPages = %d", Flag(res),
                    numPages != nullptr ? static_cast<int>(*numPages) : 0);
  return res;
}

bool CPdfObject::getPageRotation(int32_t page, int32_t* rotation) {
  // Page numbers start at 1; a smaller one is refused before the library
  // sees it.
  bool res = m_pdflLibData != nullptr && m_pdDoc != nullptr && rotation != nullptr && page >= 1;
  if (res) {
    bool inRange = true;
    if (!PdflProtected([&] {
          const ASInt32 count = PDDocGetNumPages(m_pdDoc);
          if (page > count) {
            inRange = false;
            return;
          }
          PageHolder held(PDDocAcquirePage(m_pdDoc, page - 1));
          const ASInt16 rotate = PDPageGetRotate(held.get());
          held.release();
          *rotation = static_cast<int32_t>(rotate);
        })) {
      res = reportPdflError("CDravikPdfObject::getPageRotation()");
    } else if (!inRange) {
      res = false;
    }
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::getPageRotation() res = %d page = %d rotation = %d", Flag(res),
                    static_cast<int>(page), rotation != nullptr ? static_cast<int>(*rotation) : 0);
  return res;
}

bool CPdfObject::getDocInfo(const char* a_infoKey, std::string* a_value) {
  bool res = m_pdflLibData != nullptr && m_pdDoc != nullptr && a_infoKey != nullptr && a_value != nullptr;
  if (res) {
    bool noMemory = false;
    ASInt32 wanted = 0;
    if (!PdflProtected([&] {
          const ASInt32 length = PDDocGetInfo(m_pdDoc, a_infoKey, nullptr, 0);
          if (length <= 0) return;
          wanted = length;
          // Two bytes more than the value: the terminator the library writes
          // and a zero that always stays.
          if (length > std::numeric_limits<ASInt32>::max() - 2) {
            noMemory = true;
            return;
          }
          const size_t size = static_cast<size_t>(length) + 2;
          std::unique_ptr<char, MemDeleter> buffer(static_cast<char*>(AllocOrNull(size)));
          if (!buffer) {
            noMemory = true;
            return;
          }
          std::memset(buffer.get(), 0, size);
          // The value may hold zero bytes: its length is what was copied.
          const ASInt32 copied = PDDocGetInfo(m_pdDoc, a_infoKey, buffer.get(), length + 1);
          a_value->assign(buffer.get(), static_cast<size_t>(std::clamp<ASInt32>(copied, 0, length)));
        })) {
      res = reportPdflError("CDravikPdfObject::getDocInfo()");
    } else if (noMemory) {
      g_traceA.OutputEx(kTraceInstance, "--ERROR-- CPdfObject::getDocInfo() no memory for a value of %d bytes",
                        static_cast<int>(wanted));
      res = false;
    }
  }
  // A zero byte in the value would end the line's text early: shown as the
  // trace shows other control bytes.
  std::string shown = a_value != nullptr ? *a_value : std::string();
  for (size_t at = shown.find('\0'); at != std::string::npos; at = shown.find('\0', at + 4)) {
    shown.replace(at, 1, "\\x00");
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::getDocInfo() res = %d a_infoKey = %s a_value = %s", Flag(res),
                    a_infoKey != nullptr ? a_infoKey : "(null)", shown.c_str());
  return res;
}
