// CPdfObject: opening a document (with the authorisation callback) and
// closing it, giving back the memory grown since the first open.
#include <cstdint>
#include <limits>

#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/platform/Platform.h"
#include "pdfobject/CPdfObject.h"
#include "pdfobject/PdfObjectDetail.h"
#include "shared/Constants.h"

using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;
using pdfparse::pdfl::PdflProtected;
using pdfparse::pdfobject::Flag;

namespace {
// Longer passwords in PDFPARSE_PASSWORD are not offered.
constexpr size_t kMaxPasswordBytes = 1024;
}  // namespace

bool CPdfObject::openPdf(const char* fileName) {
  bool res = false;
  if (m_pdflLibData != nullptr) {
    m_fileName = fileName != nullptr ? fileName : "";
    if (!m_fileName.empty()) {
      res = true;
      if (m_pdDoc != nullptr) res = closePdf();
      m_workLimitError = 0;
      if (res) {
        ASFileSys fileSys = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
        CPdfFileSysIf::IgnorePool(true);

        ASPathName path = nullptr;
        const bool completed = PdflProtected([&] {
          ASAtom pathType = ASAtomFromString("Cstring");
          path = ASFileSysCreatePathName(fileSys, pathType, m_fileName.c_str(), nullptr);
          m_pdDoc = PDDocOpenEx(path, fileSys, &CPdfObject::authProc, this, 1);
          ASPathName created = path;
          path = nullptr;  // released once, also if the release raises
          ASFileSysReleasePathName(fileSys, created);
        });
        if (!completed) {
          if (path != nullptr) {
            // Its own block: a second raise here must not escape.
            PdflProtected([&] { ASFileSysReleasePathName(fileSys, path); });
          }
          res = reportPdflError("CDravikPdfObject::openPdf()");
          if (m_pdDoc != nullptr) {
            // Opened before the raise: close it, or the engine keeps it.
            PDDoc opened = m_pdDoc;
            PdflProtected([&] { PDDocClose(opened); });
          }
          m_pdDoc = nullptr;
        }

        if (m_pdDoc == nullptr) {
          res = false;
          if (m_authRequested) m_errState = 2;
        } else {
          m_authRequested = false;
          m_errState = 0;
          if (m_baseProcMem == 0) m_baseProcMem = getProcMemSize();
        }
      }
    }
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::openPdf() res = %d fileName %s", Flag(res), m_fileName.c_str());
  return res;
}

ASBool CPdfObject::authProc(PDDoc doc, void* clientData) {
  auto* self = static_cast<CPdfObject*>(clientData);
  if (self == nullptr) return 0;
  self->m_authRequested = true;

  // PDFPARSE_PASSWORD, read at each inquiry, is offered before the host's own.
  char given[kMaxPasswordBytes + 1] = {};
  const pdfparse::outside::DWORD n =
      pdfparse::outside::CurrentPlatform()->GetEnvironmentVariableA("PDFPARSE_PASSWORD", given, sizeof given);
  const bool hasGiven = n > 0 && n < sizeof given;
  ASInt32 perms = 0;
  if (!PdflProtected([&] {
        if (hasGiven) perms = PDDocAuthorize(doc, pdPermOpen, given);
        if ((perms & 1) == 0) {
          perms = PDDocAuthorize(doc, pdPermOpen, const_cast<char*>(pdfparse::shared::kHostPassword));
        }
      })) {
    self->reportPdflError("CPdfObject::authProc()");
    return 0;
  }
  g_traceA.OutputEx(kTraceInstance, "CPDFConverter::authProc() PDF password protected. perms = %d ",
                    static_cast<int>(perms));
  return (perms & 1) != 0 ? 1 : 0;
}

bool CPdfObject::closePdf() {
  bool res = true;
  ASUns32 freeMem = 0;
  // Unsigned on purpose: a working set below the base wraps around.
  const uint32_t procMem = getProcMemSize() - m_baseProcMem;
  if (m_pdDoc != nullptr) {
    PDDoc doc = m_pdDoc;
    if (!PdflProtected([&] {
          PDDocClose(doc);
          if (procMem != 0) freeMem = ASPurgeMemory(procMem);
        })) {
      res = reportPdflError("CPdfObject::closePdf()");
    }
    m_pdDoc = nullptr;
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::closePdf() res = %d procMem = %d freeMem = %ul", Flag(res),
                    static_cast<int>(static_cast<int32_t>(procMem)), static_cast<unsigned>(freeMem));
  return res;
}

uint32_t CPdfObject::getProcMemSize() {
  // The call is made with a record size of 40; give it that much room.
  struct {
    pdfparse::outside::PROCESS_MEMORY_COUNTERS counters;
    unsigned char room[40];
  } record{};
  record.counters.cb = 40;
  pdfparse::outside::Platform* platform = pdfparse::outside::CurrentPlatform();
  if (!platform->GetProcessMemoryInfo(&record.counters, 40)) {
    g_traceA.Output("CPdfObject::getProcMemSize() Error = %d", static_cast<int>(platform->GetLastError()));
    return 0;
  }
  // A working set beyond 4 GiB does not fit the 32-bit figure: saturate
  // rather than wrap.
  const size_t size = record.counters.WorkingSetSize;
  return size > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(size);
}
