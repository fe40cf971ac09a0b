// The PDF library over libqpdf.
//
// Documents are read whole into memory through the host's file system
// (CPdfFileSysIf) and handed to libqpdf from there; every read and seek is
// charged to a per-document budget, and an inquiry deadline runs from the
// open (PDFPARSE_TIMEOUT_MS, 30 s by default). Pages are found by our own
// bounded page-tree walk, never /Count. Every failure, whatever raised it,
// leaves an entry point as PdflException (see RaiseAsPdflException).
// libqpdf's warnings go to trace A, never to stdout or stderr.
//
// Handles (documents, pages, path names) are checked: a handle that the
// engine did not hand out, or that is already released, raises
// kBadParameter. All calls but the atom calls belong to one thread at a
// time (the worker).
#ifndef PDFPARSE_OUTSIDE_PDFL_DOCUMENTENGINE_H_
#define PDFPARSE_OUTSIDE_PDFL_DOCUMENTENGINE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/Disposer.h"
#include "document/Document.h"
#include "document/FileBytes.h"
#include "document/WorkBudget.h"
#include "outside/pdfl/AtomTable.h"
#include "outside/pdfl/PdflEngine.h"
#include "outside/pdfl/PdflErrors.h"

namespace pdfparse::document {
class Document;
}  // namespace pdfparse::document

namespace pdfparse::pdfl {

// Files larger than this are refused with kFileTooLarge: the engine keeps a
// document in memory while it is open.
using document::kDefaultMemoryLimitBytes;
using document::kDefaultTimeoutMillis;
using document::kMaxFileBytes;

// Deadline of an inquiry from PDFPARSE_TIMEOUT_MS (milliseconds, > 0), read
// through the current platform; kDefaultTimeoutMillis when unset or not a
// number.
uint64_t InquiryTimeoutMillis();
// Whether documents are read by the structure reader first (the default);
// PDFPARSE_READER=qpdf reads them with libqpdf alone.
bool StructureReaderWanted();
// Memory one inquiry may take, from PDFPARSE_MEMORY_LIMIT_MB (MiB, > 0);
// 1 GiB when unset or not a number.
uint64_t InquiryMemoryLimitBytes();

// The one place where exceptions become the library's: call inside a catch
// block. PdflException passes unchanged; libqpdf's QPDFExc by its error
// code; our time and work limits give kTimeout; std::bad_alloc kNoMemory;
// other standard exceptions kDamaged (libqpdf raises them for what it reads)
// or kInternal. `call` names the entry point in the message.
[[noreturn]] void RaiseAsPdflException(const char* call);

// Converts points to 16.16 fixed, rounded to nearest and clamped to the
// fixed range.
ASFixed ToFixed(double points);

// Writes a line to the library's trace (trace A): the real engine's sink.
void TraceToLibraryTrace(const std::string& line);

class DocumentEngine : public pdfl::PdflEngine {
 public:
  // The engine's trace lines (start, documents left open, authorisation,
  // and each document's repair steps and warnings) go to `trace`.
  explicit DocumentEngine(document::TraceSink trace = TraceToLibraryTrace);
  ~DocumentEngine() override;

  ASInt32 PDFLInit(PDFLDataRec* data) override;
  ASInt32 PDFLGetInitCount() override;
  void PDFLTerm() override;
  ASBool PDFLWaitForTermination(ASUns32 maxMillis) override;
  void CosSetMaxDocStorage(ASInt32 bytes) override;
  ASUns32 ASPurgeMemory(ASUns32 bytes) override;

  ASAtom ASAtomFromString(const char* text) override;
  const char* ASAtomGetString(ASAtom atom) override;

  ASPathName ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                     const void* mustBeZero) override;
  void ASFileSysReleasePathName(ASFileSys fileSys, ASPathName path) override;

  PDDoc PDDocOpenEx(ASPathName path, ASFileSys fileSys, PDAuthProc authProc, void* clientData,
                    ASBool doRepair) override;
  ASInt32 PDDocAuthorize(PDDoc doc, ASInt32 permsWanted, void* authData) override;
  void PDDocClose(PDDoc doc) override;
  ASInt32 PDDocGetNumPages(PDDoc doc) override;
  // With a buffer, returns the bytes copied (without the terminator).
  ASInt32 PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize) override;

  PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index) override;
  void PDPageRelease(PDPage page) override;
  ASInt16 PDPageGetRotate(PDPage page) override;
  void PDPageGetMediaBox(PDPage page, ASFixedRect* box) override;
  void PDPageGetCropBox(PDPage page, ASFixedRect* box) override;
  double PDPageGetUserUnit(PDPage page) override;
  void PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData, ASBool includeOPI,
                        ASAtom colorModel) override;

  // For tests and diagnostics.
  const std::vector<std::string>& resourceDirectories() const { return dirs_; }
  ASInt32 maxDocStorage() const { return maxDocStorage_; }
  size_t openDocuments() const { return docs_.size(); }
  size_t acquiredPages() const { return pages_.size(); }
  size_t atomCount() const { return atoms_.size(); }

 private:
  struct Path;
  struct Doc;
  struct Page;

  void requireStarted(const char* call) const;
  Doc& docOf(PDDoc doc, bool allowPending = false);
  Page& pageOf(PDPage page);
  void readPageBox(PDPage page, ASFixedRect* box, bool crop);
  // What a query of a recorded page does first (find it, drain warnings when
  // the call ends, check the deadline, raise what reading the page raised),
  // then `read(doc, table, index)`.
  template <class Read>
  auto onRecordedPage(PDPage handle, Read&& read);
  void closeDoc(Doc* doc);
  void closeAll();

  document::TraceSink trace_;
  int initCount_ = 0;
  std::vector<std::string> dirs_;
  ASInt32 maxDocStorage_ = 0;
  AtomTable atoms_;
  std::unordered_map<Path*, std::unique_ptr<Path>> paths_;
  std::unordered_map<Doc*, std::unique_ptr<Doc>> docs_;
  std::unordered_map<Page*, std::unique_ptr<Page>> pages_;
  // Cyan, Magenta, Yellow, Black: lasting atoms, made at the first use.
  ASAtom processInks_[4] = {ASAtomNull, ASAtomNull, ASAtomNull, ASAtomNull};
  // Closed documents are torn down here, off the worker. Declared last: it
  // is destroyed first, joining its thread once the engine has closed all.
  document::Disposer disposer_;
};

}  // namespace pdfparse::pdfl

#endif  // PDFPARSE_OUTSIDE_PDFL_DOCUMENTENGINE_H_
