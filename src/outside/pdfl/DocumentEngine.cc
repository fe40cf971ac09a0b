#include "outside/pdfl/DocumentEngine.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>

#include "document/Document.h"
#include "document/Error.h"
#include "document/OpenDocuments.h"
#include "document/OpenFile.h"
#include "document/Outcomes.h"
#include "document/PageModel.h"
#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/pdfl/ProtectedBlock.h"
#include "outside/platform/Platform.h"
#include "outside/trace/LibraryTraces.h"
#include "shared/Constants.h"
#include "shared/Environment.h"
#include "shared/TextCodec.h"

namespace pdfparse::pdfl {

using document::Document;
using document::PageTable;

namespace {

constexpr size_t kMaxMessage = 400;
constexpr size_t kMaxPathBytes = 64 * 1024;
constexpr size_t kMaxPasswordBytes = 4096;
constexpr ASInt32 kMaxInfoLength = INT32_MAX - 16;  // callers add a little to it

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  if (text.size() > kMaxMessage) text = text.substr(0, kMaxMessage) + "...";
  return text;
}

std::string Message(const char* call, const std::string& cause) { return OneLine(std::string(call) + ": " + cause); }

// The engine's errors as the library's codes: one table.
ASErrorCode CodeOf(document::ErrorCode code) {
  using document::ErrorCode;
  switch (code) {
    case ErrorCode::kInternal:
      return pdfl::err::kInternal;
    case ErrorCode::kNoMemory:
    case ErrorCode::kMemoryLimit:
      return pdfl::err::kNoMemory;
    case ErrorCode::kTimeout:
      return pdfl::err::kTimeout;
    case ErrorCode::kFileNotFound:
      return pdfl::err::kFileNotFound;
    case ErrorCode::kFilePermission:
      return pdfl::err::kFilePermission;
    case ErrorCode::kNotRegularFile:
      return pdfl::err::kNotRegularFile;
    case ErrorCode::kFileRead:
      return pdfl::err::kFileRead;
    case ErrorCode::kFileTooLarge:
      return pdfl::err::kFileTooLarge;
    case ErrorCode::kNotPdf:
      return pdfl::err::kNotPdf;
    case ErrorCode::kDamaged:
      return pdfl::err::kDamaged;
    case ErrorCode::kPassword:
      return pdfl::err::kPassword;
    case ErrorCode::kUnsupported:
      return pdfl::err::kUnsupported;
  }
  return pdfl::err::kInternal;
}

// Drains the document's libqpdf warnings into the trace when a call ends.
class DrainWarnings {
 public:
  explicit DrainWarnings(Document& doc) : doc_(doc) {}
  ~DrainWarnings() {
    try {
      doc_.drainWarnings();
    } catch (...) {
      // Tracing a warning must not turn a result into a failure.
    }
  }
  DrainWarnings(const DrainWarnings&) = delete;
  DrainWarnings& operator=(const DrainWarnings&) = delete;

 private:
  Document& doc_;
};

// The file's bytes through the host's file system, with the budget of the
// inquiry it starts.
std::shared_ptr<document::FileBytes> OpenFileBytes(outside::FileSys& fileSys, const std::string& path,
                                      std::shared_ptr<document::WorkBudget>* budget,
                                      std::optional<document::FileIdentity>* identity) {
  document::Limits limits;
  limits.timeoutMillis = InquiryTimeoutMillis();
  limits.memoryBytes = InquiryMemoryLimitBytes();
  limits.clock = [] { return outside::CurrentPlatform()->MonotonicMillis(); };
  limits.resident = [] {
    outside::PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return outside::CurrentPlatform()->GetProcessMemoryInfo(&counters, sizeof counters)
               ? static_cast<uint64_t>(counters.PrivateUsage)
               : uint64_t{0};
  };
  document::FileRead read = document::ReadFile(fileSys, path, limits);
  *budget = std::move(read.budget);
  *identity = read.identity;
  return std::move(read.bytes);
}

}  // namespace

namespace {

// A positive whole number from the environment variable `name`; `fallback`
// when it is unset or anything else.
uint64_t PositiveFromEnvironment(const char* name, uint64_t fallback) {
  char text[32] = {};
  outside::DWORD n = outside::CurrentPlatform()->GetEnvironmentVariableA(name, text, sizeof text);
  if (n == 0 || n >= sizeof text) return fallback;
  return shared::PositiveOr(text, fallback);
}

}  // namespace

bool StructureReaderWanted() {
  char text[16] = {};
  outside::DWORD n = outside::CurrentPlatform()->GetEnvironmentVariableA("PDFPARSE_READER", text, sizeof text);
  return !(n > 0 && n < sizeof text && std::string(text) == "qpdf");
}

uint64_t InquiryTimeoutMillis() { return PositiveFromEnvironment("PDFPARSE_TIMEOUT_MS", kDefaultTimeoutMillis); }

uint64_t InquiryMemoryLimitBytes() {
  const uint64_t mib = PositiveFromEnvironment("PDFPARSE_MEMORY_LIMIT_MB", kDefaultMemoryLimitBytes >> 20);
  return mib > (UINT64_MAX >> 20) ? UINT64_MAX : mib << 20;
}

[[noreturn]] void RaiseAsPdflException(const char* call) {
  try {
    throw;
  } catch (const pdfl::PdflException&) {
    throw;
  } catch (...) {
    const document::Error error = document::ErrorOfCurrentException();
    throw pdfl::PdflException(CodeOf(error.code()), Message(call, error.detail()));
  }
}

namespace {

// One entry point's frame: runs `body` and lets whatever it raises leave as
// the library's exception, naming `call` (see RaiseAsPdflException).
template <typename Body>
auto Guarded(const char* call, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    RaiseAsPdflException(call);
  }
}

}  // namespace

ASFixed ToFixed(double points) {
  if (std::isnan(points)) return 0;
  double scaled = std::round(points * 65536.0);
  if (scaled >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (scaled <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<ASFixed>(scaled);
}

struct DocumentEngine::Path {
  outside::FileSys* fileSys = nullptr;
  std::string path;
};

struct DocumentEngine::Doc {
  std::shared_ptr<Document> doc;  // shared with modules that attach to it
  AtomTable::Holder atoms;        // colorant atoms, released at the close
  bool pending = false;           // waiting for authorisation inside PDDocOpenEx
  std::map<ASInt32, Page*> pages;
};

struct DocumentEngine::Page {
  Doc* doc = nullptr;
  ASInt32 index = 0;  // into the document's page table
  int refs = 0;
};

void TraceToLibraryTrace(const std::string& line) {
  outside::g_traceA.OutputEx(outside::kTraceInstance, "%s", OneLine(line).c_str());
}

DocumentEngine::DocumentEngine(document::TraceSink trace) : trace_(std::move(trace)) {}

DocumentEngine::~DocumentEngine() {
  try {
    closeAll();
  } catch (...) {
  }
}

void DocumentEngine::requireStarted(const char* call) const {
  if (initCount_ <= 0)
    throw pdfl::PdflException(pdfl::err::kNotInitialized, Message(call, "the library is not started"));
}

DocumentEngine::Doc& DocumentEngine::docOf(PDDoc handle, bool allowPending) {
  auto it = docs_.find(reinterpret_cast<Doc*>(handle));
  if (handle == nullptr || it == docs_.end() || (it->second->pending && !allowPending)) {
    throw pdfl::PdflException(pdfl::err::kBadParameter, "not an open document");
  }
  return *it->second;
}

DocumentEngine::Page& DocumentEngine::pageOf(PDPage handle) {
  auto it = pages_.find(reinterpret_cast<Page*>(handle));
  if (handle == nullptr || it == pages_.end())
    throw pdfl::PdflException(pdfl::err::kBadParameter, "not an acquired page");
  return *it->second;
}

void DocumentEngine::closeDoc(Doc* doc) {
  for (auto& [index, page] : doc->pages) pages_.erase(page);
  doc->pages.clear();
  if (doc->doc) {
    document::OpenDocuments::Remove(doc->doc.get());
    document::Outcomes::Record(doc->doc->path(),
                               document::Outcome{doc->doc->repaired(), doc->doc->warningCount(), doc->doc->failure()});
    doc->doc->traceUnshownWarnings();
    atoms_.release(doc->atoms);
    disposer_.dispose(std::move(doc->doc));
  }
  docs_.erase(doc);
}

void DocumentEngine::closeAll() {
  while (!docs_.empty()) {
    Doc* doc = docs_.begin()->first;
    trace_("CPdfEngine: " + doc->doc->path() + " was still open when the library stopped; closed");
    closeDoc(doc);
  }
  pages_.clear();
  paths_.clear();
}

// --- Library lifetime ---------------------------------------------------------

ASInt32 DocumentEngine::PDFLInit(PDFLDataRec* data) {
  auto fail = [](ASErrorCode code, const std::string& why) {
    pdfl::detail::SetCurrentException(pdfl::PdflException(code, "PDFLInit: " + why));
    return code;
  };
  try {
    if (data == nullptr) return fail(pdfl::err::kInitBadRecord, "no initialisation record");
    if (data->size != sizeof(PDFLDataRec)) {
      return fail(pdfl::err::kInitBadRecord, "the initialisation record has size " + std::to_string(data->size) +
                                                 ", not " + std::to_string(sizeof(PDFLDataRec)));
    }
    if (data->dirListLen < 0 || data->dirListLen > 3) {
      return fail(pdfl::err::kInitBadRecord,
                  "the directory count " + std::to_string(data->dirListLen) + " is not between 0 and 3");
    }
    if (data->dirListLen > 0 && data->dirList == nullptr) {
      return fail(pdfl::err::kInitBadRecord, "a directory count without a directory list");
    }
    std::vector<std::string> dirs;
    for (ASInt32 i = 0; i < data->dirListLen; ++i) {
      const ASUTF16Val* entry = data->dirList[i];
      if (entry == nullptr) continue;  // an entry that could not be allocated
      size_t n = 0;
      while (n < static_cast<size_t>(kPdflDirEntryUnits) && entry[n] != 0) ++n;
      if (n == static_cast<size_t>(kPdflDirEntryUnits)) {
        return fail(pdfl::err::kInitBadRecord, "directory entry " + std::to_string(i) + " is not terminated within " +
                                                   std::to_string(kPdflDirEntryUnits) + " units");
      }
      const std::u16string units(entry, entry + n);
      dirs.push_back(shared::Utf16ToUtf8(units.data(), units.size()));
    }
    if (initCount_ == 0) {
      // Each document reports through a silent logger of its own; libqpdf's
      // process-wide logger is the host's and stays as it is.
      dirs_ = std::move(dirs);
      trace_("CPdfEngine: started over libqpdf " + document::LibqpdfVersion() + " with " +
             std::to_string(dirs_.size()) + " resource directories");
    }
    ++initCount_;
    return 0;
  } catch (const std::bad_alloc&) {
    return fail(pdfl::err::kNoMemory, "out of memory");
  } catch (...) {
    return fail(pdfl::err::kInternal, "unexpected failure");
  }
}

ASInt32 DocumentEngine::PDFLGetInitCount() { return initCount_; }

void DocumentEngine::PDFLTerm() {
  Guarded("PDFLTerm", [&] {
    if (initCount_ <= 0) return;
    // The last documents' teardown may still run on the disposer; the
    // engine's destructor (at the latest) waits for it.
    if (--initCount_ == 0) closeAll();
  });
}

ASBool DocumentEngine::PDFLWaitForTermination(ASUns32 maxMillis) {
  return Guarded("PDFLWaitForTermination", [&]() -> ASBool { return disposer_.waitIdle(maxMillis) ? 1 : 0; });
}

void DocumentEngine::CosSetMaxDocStorage(ASInt32 bytes) {
  // The engine keeps nothing across documents; what a document holds goes
  // at its close. The limit is recorded for callers that ask.
  maxDocStorage_ = bytes < 0 ? 0 : bytes;
}

ASUns32 DocumentEngine::ASPurgeMemory(ASUns32 /*bytes*/) {
  return Guarded("ASPurgeMemory", [&]() -> ASUns32 {
    outside::Platform* platform = outside::CurrentPlatform();
    outside::PROCESS_MEMORY_COUNTERS before;
    outside::PROCESS_MEMORY_COUNTERS after;
    bool measured = platform->GetProcessMemoryInfo(&before, 40);
    platform->TrimHeap();
    measured = platform->GetProcessMemoryInfo(&after, 40) && measured;
    if (!measured || after.WorkingSetSize >= before.WorkingSetSize) return 0;
    size_t dropped = before.WorkingSetSize - after.WorkingSetSize;
    return dropped > UINT32_MAX ? UINT32_MAX : static_cast<ASUns32>(dropped);
  });
}

// --- Atoms ----------------------------------------------------------------------

ASAtom DocumentEngine::ASAtomFromString(const char* text) {
  return Guarded("ASAtomFromString", [&] {
    if (text == nullptr) throw pdfl::PdflException(pdfl::err::kBadParameter, "ASAtomFromString: no text");
    return atoms_.intern(text);
  });
}

const char* DocumentEngine::ASAtomGetString(ASAtom atom) {
  return Guarded("ASAtomGetString", [&] { return atoms_.text(atom); });
}

// --- Path names -----------------------------------------------------------------

ASPathName DocumentEngine::ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                                   const void* /*mustBeZero*/) {
  return Guarded("ASFileSysCreatePathName", [&] {
    requireStarted("ASFileSysCreatePathName");
    if (std::strcmp(atoms_.text(pathSpecType), "Cstring") != 0) {
      throw pdfl::PdflException(pdfl::err::kBadParameter, std::string("ASFileSysCreatePathName: path type \"") +
                                                              atoms_.text(pathSpecType) + "\" is not supported");
    }
    if (pathSpec == nullptr) throw pdfl::PdflException(pdfl::err::kBadParameter, "ASFileSysCreatePathName: no path");
    const char* text = static_cast<const char*>(pathSpec);
    size_t length = strnlen(text, kMaxPathBytes + 1);
    if (length > kMaxPathBytes) {
      throw pdfl::PdflException(pdfl::err::kBadParameter, "ASFileSysCreatePathName: the path is too long");
    }
    auto path = std::make_unique<Path>();
    path->fileSys = outside::FileSysFromHandle(fileSys ? fileSys : CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead));
    path->path.assign(text, length);
    Path* raw = path.get();
    paths_.emplace(raw, std::move(path));
    return reinterpret_cast<ASPathName>(raw);
  });
}

void DocumentEngine::ASFileSysReleasePathName(ASFileSys /*fileSys*/, ASPathName path) {
  Guarded("ASFileSysReleasePathName", [&] {
    if (path == nullptr) return;
    if (paths_.erase(reinterpret_cast<Path*>(path)) == 0) {
      throw pdfl::PdflException(pdfl::err::kBadParameter, "ASFileSysReleasePathName: not a path name of this library");
    }
  });
}

// --- Documents ------------------------------------------------------------------

PDDoc DocumentEngine::PDDocOpenEx(ASPathName pathName, ASFileSys fileSys, PDAuthProc authProc, void* clientData,
                                  ASBool doRepair) {
  return Guarded("PDDocOpenEx", [&] {
    Doc* raw = nullptr;
    std::string opening;  // the path, once known
    try {
      requireStarted("PDDocOpenEx");
      auto pathIt = paths_.find(reinterpret_cast<Path*>(pathName));
      if (pathName == nullptr || pathIt == paths_.end()) {
        throw pdfl::PdflException(pdfl::err::kBadParameter, "PDDocOpenEx: not a path name of this library");
      }
      // A copy: the callback below may release the path name.
      const std::string path = pathIt->second->path;
      opening = path;
      outside::FileSys* fs = fileSys ? outside::FileSysFromHandle(fileSys) : pathIt->second->fileSys;
      std::shared_ptr<document::WorkBudget> budget;
      std::optional<document::FileIdentity> identity;
      std::shared_ptr<document::FileBytes> bytes = OpenFileBytes(*fs, path, &budget, &identity);

      Document::SetStructureReaderEnabled(StructureReaderWanted());
      auto doc = std::make_unique<Doc>();
      doc->doc =
          std::make_shared<Document>(path, bytes, budget, doRepair != 0, trace_, identity ? &*identity : nullptr);
      raw = doc.get();
      docs_.emplace(raw, std::move(doc));
      if (raw->doc->open(nullptr) == Document::OpenResult::NeedsPassword) {
        trace_("CPdfEngine: " + raw->doc->path() + " needs a password; asking for authorisation");
        raw->pending = true;
        bool granted = authProc != nullptr && authProc(reinterpret_cast<PDDoc>(raw), clientData) != 0;
        if (docs_.count(raw) == 0) {  // the callback closed it
          raw = nullptr;
          throw document::Error(document::ErrorCode::kPassword, path + ": closed during authorisation");
        }
        if (!granted || !raw->doc->isOpen()) {
          throw document::Error(document::ErrorCode::kPassword,
                                path + (authProc ? ": encrypted; the password was not accepted"
                                                 : ": encrypted and no authorisation callback was given"));
        }
        raw->pending = false;
      }
      raw->doc->drainWarnings();
      document::OpenDocuments::Add(raw->doc, path);
      return reinterpret_cast<PDDoc>(raw);
    } catch (...) {
      if (!opening.empty()) {
        document::Outcome outcome;
        outcome.failure = document::ErrorOfCurrentException();
        if (raw != nullptr && docs_.count(raw)) {
          outcome.repaired = raw->doc->repaired();
          outcome.warnings = raw->doc->warningCount();
        }
        document::Outcomes::Record(opening, outcome);
      }
      if (raw == nullptr || !docs_.count(raw)) throw;
      // A document that did not open is closed again. Its teardown (on the
      // disposer's thread) may free what the document raised, so what leaves
      // is the library's own exception or a copy.
      auto close = [&] {
        try {
          closeDoc(raw);
        } catch (...) {
          docs_.erase(raw);
        }
      };
      try {
        throw;
      } catch (const pdfl::PdflException&) {
        close();
        throw;
      } catch (...) {
        const document::Error error = document::ErrorOfCurrentException();
        close();
        throw error;
      }
    }
  });
}

ASInt32 DocumentEngine::PDDocAuthorize(PDDoc handle, ASInt32 /*permsWanted*/, void* authData) {
  return Guarded("PDDocAuthorize", [&] {
    Doc& doc = docOf(handle, /*allowPending=*/true);
    DrainWarnings drain(*doc.doc);
    const char* text = static_cast<const char*>(authData);
    std::string password = text ? std::string(text, strnlen(text, kMaxPasswordBytes)) : std::string();
    if (doc.doc->isOpen()) {
      return doc.doc->acceptsPassword(password.c_str()) ? pdPermOpen : 0;
    }
    return doc.doc->open(password.c_str()) == Document::OpenResult::Opened ? pdPermOpen : 0;
  });
}

void DocumentEngine::PDDocClose(PDDoc handle) {
  Guarded("PDDocClose", [&] {
    Doc& doc = docOf(handle, /*allowPending=*/true);
    closeDoc(&doc);
  });
}

ASInt32 DocumentEngine::PDDocGetNumPages(PDDoc handle) {
  return Guarded("PDDocGetNumPages", [&] {
    Doc& doc = docOf(handle);
    DrainWarnings drain(*doc.doc);
    doc.doc->checkpoint();
    size_t count = doc.doc->pageCount();
    doc.doc->checkpoint();  // a limit met where a damaged part was skipped still ends the call
    return count > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<ASInt32>(count);
  });
}

ASInt32 DocumentEngine::PDDocGetInfo(PDDoc handle, const char* key, char* buffer, ASInt32 bufSize) {
  return Guarded("PDDocGetInfo", [&] {
    Doc& doc = docOf(handle);
    DrainWarnings drain(*doc.doc);
    if (key == nullptr) throw pdfl::PdflException(pdfl::err::kBadParameter, "PDDocGetInfo: no key");
    if (buffer != nullptr && bufSize > 0) buffer[0] = '\0';
    doc.doc->checkpoint();
    std::string text = doc.doc->infoText(key[0] == '/' ? std::string(key) : "/" + std::string(key));
    doc.doc->checkpoint();
    ASInt32 length =
        text.size() > static_cast<size_t>(kMaxInfoLength) ? kMaxInfoLength : static_cast<ASInt32>(text.size());
    if (buffer == nullptr || bufSize <= 0) return length;
    ASInt32 copied = std::min(length, bufSize - 1);
    std::memcpy(buffer, text.data(), static_cast<size_t>(copied));
    buffer[copied] = '\0';
    return copied;
  });
}

// --- Pages ----------------------------------------------------------------------

PDPage DocumentEngine::PDDocAcquirePage(PDDoc handle, ASInt32 index) {
  return Guarded("PDDocAcquirePage", [&] {
    Doc& doc = docOf(handle);
    DrainWarnings drain(*doc.doc);
    if (index < 0) {
      throw pdfl::PdflException(pdfl::err::kBadPage,
                                "PDDocAcquirePage: page index " + std::to_string(index) + " is negative");
    }
    auto known = doc.pages.find(index);
    if (known != doc.pages.end()) {
      ++known->second->refs;
      return reinterpret_cast<PDPage>(known->second);
    }
    doc.doc->checkpoint();
    const bool reached = doc.doc->reachPage(static_cast<size_t>(index));
    doc.doc->checkpoint();
    if (!reached) {
      throw pdfl::PdflException(pdfl::err::kBadPage,
                                "PDDocAcquirePage: page index " + std::to_string(index) + " is beyond the last page");
    }
    auto page = std::make_unique<Page>();
    page->doc = &doc;
    page->index = index;
    page->refs = 1;
    Page* raw = page.get();
    pages_.emplace(raw, std::move(page));
    doc.pages.emplace(index, raw);
    return reinterpret_cast<PDPage>(raw);
  });
}

void DocumentEngine::PDPageRelease(PDPage handle) {
  Guarded("PDPageRelease", [&] {
    if (handle == nullptr) return;
    Page& page = pageOf(handle);
    if (--page.refs > 0) return;
    page.doc->pages.erase(page.index);
    pages_.erase(&page);
  });
}

template <class Read>
auto DocumentEngine::onRecordedPage(PDPage handle, Read&& read) {
  Page& page = pageOf(handle);
  Document& doc = *page.doc->doc;
  DrainWarnings drain(doc);
  doc.checkpoint();
  const PageTable& table = doc.pageTable();
  const size_t index = static_cast<size_t>(page.index);
  table.check(index);
  return read(doc, table, index);
}

ASInt16 DocumentEngine::PDPageGetRotate(PDPage handle) {
  return Guarded("PDPageGetRotate", [&] {
    return onRecordedPage(handle, [](Document& doc, const PageTable& table, size_t index) {
      if (const PageTable::Notes* notes = table.notes(index); notes && !notes->rotation.empty()) {
        doc.warn(notes->rotation);
      }
      return static_cast<ASInt16>(table.rotation(index));
    });
  });
}

void DocumentEngine::PDPageGetMediaBox(PDPage handle, ASFixedRect* box) {
  Guarded("PDPageGetMediaBox", [&] { readPageBox(handle, box, /*crop=*/false); });
}

void DocumentEngine::PDPageGetCropBox(PDPage handle, ASFixedRect* box) {
  Guarded("PDPageGetCropBox", [&] { readPageBox(handle, box, /*crop=*/true); });
}

// The page's box as the walk recorded it, with the warnings it left.
void DocumentEngine::readPageBox(PDPage handle, ASFixedRect* box, bool crop) {
  pageOf(handle);
  if (box == nullptr) throw pdfl::PdflException(pdfl::err::kBadParameter, "page box: no rectangle");
  onRecordedPage(handle, [&](Document& doc, const PageTable& table, size_t index) {
    if (const PageTable::Notes* notes = table.notes(index)) {
      const std::string& warning = crop ? notes->crop : notes->media;
      if (!warning.empty()) doc.warn(warning);
    }
    const document::Box& found = crop ? table.cropBox(index) : table.mediaBox(index);
    *box = ASFixedRect{ToFixed(found.llx), ToFixed(found.ury), ToFixed(found.urx), ToFixed(found.lly)};
  });
}

double DocumentEngine::PDPageGetUserUnit(PDPage handle) {
  return Guarded("PDPageGetUserUnit", [&] {
    return onRecordedPage(handle,
                          [](Document&, const PageTable& table, size_t index) { return table.userUnit(index); });
  });
}

void DocumentEngine::PDPageEnumInksEx(PDPage handle, PDPageEnumInksCallback proc, void* clientData, ASBool includeOPI,
                                      ASAtom colorModel) {
  Guarded("PDPageEnumInksEx", [&] {
    Page& page = pageOf(handle);
    if (proc == nullptr) throw pdfl::PdflException(pdfl::err::kBadParameter, "PDPageEnumInksEx: no callback");
    if (colorModel != ASAtomNull) {
      std::string model = atoms_.text(colorModel);
      if (model != "DeviceCMYK" && model != "CMYK") {
        throw pdfl::PdflException(pdfl::err::kUnsupported,
                                  "PDPageEnumInksEx: colour model \"" + model + "\" is not supported; only CMYK");
      }
    }
    Document& doc = *page.doc->doc;
    DrainWarnings drain(doc);
    doc.checkpoint();
    auto report = [&](ASAtom name, bool process) {
      PDPageInkRec ink{};
      ink.size = sizeof(PDPageInkRec);
      ink.colorantName = name;
      ink.isProcessColor = process ? 1 : 0;
      ink.whetherToPrint = 1;
      return proc(&ink, clientData) != 0;
    };
    if (processInks_[0] == ASAtomNull) {
      for (size_t i = 0; i < 4; ++i) processInks_[i] = atoms_.intern(shared::kProcessInks[i]);
    }
    for (ASAtom atom : processInks_) {
      if (!report(atom, true)) return;
    }
    const size_t index = static_cast<size_t>(page.index);
    // A page that could not be read has inks that cannot be told.
    doc.pageTable().check(index);
    const std::vector<document::Ink> found = doc.pageInks(index, includeOPI != 0);
    doc.checkpoint();
    for (const document::Ink& ink : found) {
      if (!report(atoms_.internFor(ink.name, page.doc->atoms), ink.process)) return;
    }
  });
}

}  // namespace pdfparse::pdfl

pdfparse::pdfl::PdflEngine* pdfparse::pdfl::DefaultPdflEngine() {
  // Destroyed when the library is unloaded, so a host that unloads it leaks nothing.
  static pdfparse::pdfl::DocumentEngine engine;
  return &engine;
}
