// CPdfObject: construction, destruction, and the start and stop of the PDF
// library with its font and resource directories.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "outside/loader/CLoaderLibrary.h"
#include "outside/platform/Platform.h"
#include "pdfobject/CPdfObject.h"
#include "pdfobject/PdfObjectDetail.h"
#include "shared/TextCodec.h"

using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;
using pdfparse::pdfobject::AllocOrNull;
using pdfparse::pdfobject::Flag;
using pdfparse::pdfobject::FreeMem;
using pdfparse::pdfobject::IsWorkLimit;

namespace {

// Size of the buffer the root is read into, and of each directory entry.
constexpr pdfparse::outside::DWORD kRootBufferSize = 260;
constexpr int kDirCount = 3;
// Longest wait for the engine's teardown after it stops.
constexpr ASUns32 kTermWaitMillis = 200;
const char* const kDirSuffixes[kDirCount] = {
    "\\General\\RIP\\Fonts",
    "\\General\\RIP\\Resource\\CMap",
    "\\General\\RIP\\Resource\\CIDFont",
};

// Frees the record with its directory list and entries.
void FreeLibData(PDFLDataRec* data) {
  if (data == nullptr) return;
  if (data->dirList != nullptr) {
    for (ASInt32 i = 0; i < data->dirListLen; ++i) FreeMem(data->dirList[i]);
    FreeMem(data->dirList);
  }
  FreeMem(data);
}

// Appends `cp` as UTF-16; false when `limit` units would be exceeded.
bool PutUnit(ASUTF16Val* out, size_t* used, size_t limit, char32_t cp) {
  char16_t units[2];
  const size_t n = pdfparse::shared::EncodeUtf16(cp, units);
  if (*used + n > limit) return false;
  for (size_t k = 0; k < n; ++k) out[(*used)++] = static_cast<ASUTF16Val>(units[k]);
  return true;
}

}  // namespace

CPdfObject::CPdfObject()
    : m_pdflLibData(nullptr),
      m_fileName(),
      m_pdDoc(nullptr),
      m_errState(0),
      m_converter(nullptr),
      m_loader(nullptr),
      m_authRequested(false),
      m_baseProcMem(0) {
  g_traceA.CreateTraceInstance(kTraceInstance);
}

CPdfObject::~CPdfObject() {
  release();
  // A loader whose module yielded no converter is not unloaded by release;
  // it must not outlive the object.
  delete m_loader;
  m_loader = nullptr;
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::~CPdfObject() End");
  g_traceA.ReleaseInstance(kTraceInstance);
}

bool CPdfObject::init() {
  bool res = loadPdfLibrary() && loadPdfConverter();
  if (!res) m_errState = 1;
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::init() End bRes = %d", Flag(res));
  return res;
}

bool CPdfObject::release() {
  unloadPdfConverter();
  unloadPdfLibrary();
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::release End bRes = %d", 1);
  return true;
}

bool CPdfObject::loadPdfLibrary() {
  if (m_pdflLibData == nullptr) {
    auto* data = static_cast<PDFLDataRec*>(AllocOrNull(sizeof(PDFLDataRec)));
    if (data != nullptr) {
      std::memset(data, 0, sizeof(*data));
      data->size = sizeof(PDFLDataRec);
      data->flags = 1;
      data->reserved1 = 0;
      m_pdflLibData = data;
      // The record is packed: its list pointer is not aligned, so it is
      // filled through an aligned local rather than through its address.
      ASUTF16Val** list = data->dirList;
      data->dirListLen = buildResourceDirs(&list);
      data->dirList = list;

      ASInt32 code = PDFLInit(data);
      if (code == 0) {
        CosSetMaxDocStorage(0x800000);
      } else {
        reportPdflError("CPdfObject::loadPdfLibrary()");
        FreeLibData(m_pdflLibData);
        m_pdflLibData = nullptr;
        const uint32_t bits = static_cast<uint32_t>(code);
        g_traceA.OutputEx(kTraceInstance,
                          "CPdfObject::loadPdfLibrary() Initialization error, please see \"AcroErr\" "
                          "for more information Error System: %d\nError Severity: %d\nError Code: %d",
                          static_cast<int>((bits >> 16) & 0xFF), static_cast<int>(bits >> 28),
                          static_cast<int>(bits & 0xFFFF));
      }
    }
  }
  g_traceA.OutputEx(kTraceInstance, "%s CPdfObject::loadPdfLibrary() m_pdflLibData = %p",
                    m_pdflLibData != nullptr ? "OK" : "--ERROR--", static_cast<void*>(m_pdflLibData));
  return m_pdflLibData != nullptr;
}

int32_t CPdfObject::buildResourceDirs(ASUTF16Val*** list) {
  if (list == nullptr || *list != nullptr) return 0;

  char root[kRootBufferSize];
  std::memset(root, 0, sizeof(root));
  pdfparse::outside::DWORD length =
      pdfparse::outside::CurrentPlatform()->GetEnvironmentVariableA("DRAVIK", root, kRootBufferSize);
  if (length == 0) return 0;
  if (length >= kRootBufferSize) {
    // The value did not fit (the call returned the size it needs): use no
    // directories rather than a cut path.
    g_traceA.OutputEx(kTraceInstance,
                      "--ERROR-- CPdfObject::buildResourceDirs() DRAVIK is too long (%u bytes, at "
                      "most %u), no resource directories",
                      static_cast<unsigned>(length), static_cast<unsigned>(kRootBufferSize - 1));
    return 0;
  }
  root[kRootBufferSize - 1] = '\0';

  auto** entries = static_cast<ASUTF16Val**>(AllocOrNull(kDirCount * sizeof(ASUTF16Val*)));
  if (entries == nullptr) return 0;
  for (int i = 0; i < kDirCount; ++i) entries[i] = nullptr;
  *list = entries;

  for (int i = 0; i < kDirCount; ++i) {
    auto* entry = static_cast<ASUTF16Val*>(AllocOrNull(kPdflDirEntryUnits * sizeof(ASUTF16Val)));
    if (entry == nullptr) continue;
    std::string joined(root);
    joined += kDirSuffixes[i];
    if (!widenString(entry, joined.c_str(), kPdflDirEntryUnits)) {
      FreeMem(entry);
      g_traceA.OutputEx(kTraceInstance, "--ERROR-- CPdfObject::buildResourceDirs() DRAVIK path too long, left out: %s",
                        joined.c_str());
      continue;
    }
    entries[i] = entry;
  }
  return kDirCount;
}

bool CPdfObject::widenString(ASUTF16Val* destination, const char* source, size_t capacity) {
  if (destination == nullptr || capacity == 0) return false;
  if (source == nullptr) {
    destination[0] = 0;
    return true;
  }
  const size_t limit = capacity - 1;  // room for the terminator
  size_t used = 0;
  const std::string_view text(source);
  size_t i = 0;
  while (i < text.size()) {
    // An invalid sequence: its first byte alone is replaced; decoding
    // resumes after it.
    char32_t cp = pdfparse::shared::kReplacementChar;
    const size_t take = std::max<size_t>(pdfparse::shared::Utf8SequenceAt(text, i, &cp), 1);
    if (!PutUnit(destination, &used, limit, cp)) {
      destination[0] = 0;
      return false;
    }
    i += take;
  }
  destination[used] = 0;
  return true;
}

bool CPdfObject::unloadPdfLibrary() {
  if (m_pdflLibData == nullptr) {
    g_traceA.OutputEx(kTraceInstance, "CPdfObject::unloadPdfLibrary() End");
    return false;
  }
  const ASInt32 initCount = PDFLGetInitCount();
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::unloadPdfLibrary() begin m_pdflLibData =%p PDFLInitCount = %d",
                    static_cast<void*>(m_pdflLibData), static_cast<int>(initCount));
  PDFLTerm();
  // The library may still read the directory strings right after it stops:
  // wait until it says its teardown is done, 200 ms at most.
  PDFLWaitForTermination(kTermWaitMillis);
  FreeLibData(m_pdflLibData);
  m_pdflLibData = nullptr;
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::unloadPdfLibrary() End");
  return true;
}

bool CPdfObject::reportPdflError(const char* label) {
  char message[256];
  std::memset(message, 0, sizeof(message));
  ASGetErrorString(ACGetExceptionErrorCode(), message, sizeof(message));
  message[sizeof(message) - 1] = '\0';
  g_traceA.Output("%s failed Error code: %ld, Error Message: %s", label != nullptr ? label : "",
                  static_cast<long>(ACGetExceptionErrorCode()), message);
  m_errState = 3;
  // Past the deadline or the memory limit, no later step can answer either.
  const ASErrorCode code = ACGetExceptionErrorCode();
  if (IsWorkLimit(code)) m_workLimitError = code;
  return false;
}
