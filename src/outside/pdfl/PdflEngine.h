// The engine behind the PDF library calls (Pdfl.h). The real one reads PDF
// files through libqpdf (DocumentEngine); tests install scripted doubles. Every
// call may raise PdflException and nothing else. All calls are made on the
// worker thread, except the atom calls, which any thread may make.
#ifndef PDFPARSE_OUTSIDE_PDFL_PDFLENGINE_H_
#define PDFPARSE_OUTSIDE_PDFL_PDFLENGINE_H_

#include "outside/pdfl/PdflTypes.h"

namespace pdfparse::pdfl {

class PdflEngine {
 public:
  virtual ~PdflEngine();

  // Library lifetime. PDFLInit returns 0 or an error code; it does not raise.
  virtual ASInt32 PDFLInit(PDFLDataRec* data) = 0;
  virtual ASInt32 PDFLGetInitCount() = 0;
  virtual void PDFLTerm() = 0;
  // Waits until the work the last PDFLTerm left running (tearing down the
  // documents closed last) has finished, at most `maxMillis`. True when it
  // has; the engine reads nothing of the initialisation record by then.
  virtual ASBool PDFLWaitForTermination(ASUns32 maxMillis) = 0;
  virtual void CosSetMaxDocStorage(ASInt32 bytes) = 0;
  // Gives freed memory back to the system; returns the bytes the resident
  // set dropped by (0 when none). `bytes` is a hint.
  virtual ASUns32 ASPurgeMemory(ASUns32 bytes) = 0;

  // Interned strings. Any thread.
  virtual ASAtom ASAtomFromString(const char* text) = 0;
  virtual const char* ASAtomGetString(ASAtom atom) = 0;

  // Path names on a file system (CPdfFileSysIf::Create gives the file system).
  virtual ASPathName ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                             const void* mustBeZero) = 0;
  virtual void ASFileSysReleasePathName(ASFileSys fileSys, ASPathName path) = 0;

  // Documents. PDDocOpenEx calls `authProc(doc, clientData)` when the
  // document needs a password that it does not have; a false answer fails the
  // open. `doRepair` allows recovery of damaged files.
  virtual PDDoc PDDocOpenEx(ASPathName path, ASFileSys fileSys, PDAuthProc authProc, void* clientData,
                            ASBool doRepair) = 0;
  // Tries `authData` (a NUL-terminated password) and returns the permissions
  // granted (pdPermOpen set when it opens the document; 0 when wrong).
  virtual ASInt32 PDDocAuthorize(PDDoc doc, ASInt32 permsWanted, void* authData) = 0;
  virtual void PDDocClose(PDDoc doc) = 0;
  virtual ASInt32 PDDocGetNumPages(PDDoc doc) = 0;
  // Size query with a null buffer; otherwise copies at most bufSize - 1
  // bytes and a terminating zero. Returns the value's length in bytes (UTF-8).
  virtual ASInt32 PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize) = 0;

  // Pages (0-based index). Every acquired page is released once.
  virtual PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index) = 0;
  virtual void PDPageRelease(PDPage page) = 0;
  virtual ASInt16 PDPageGetRotate(PDPage page) = 0;
  virtual void PDPageGetMediaBox(PDPage page, ASFixedRect* box) = 0;
  virtual void PDPageGetCropBox(PDPage page, ASFixedRect* box) = 0;
  // The size of the page's user space unit in points: its /UserUnit, 1
  // when it has none. Boxes are in user space units.
  virtual double PDPageGetUserUnit(PDPage page) = 0;
  // Reports the page's inks to `proc` until it returns false. `colorModel`
  // ASAtomNull selects CMYK: Cyan, Magenta, Yellow, Black first.
  virtual void PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData, ASBool includeOPI,
                                ASAtom colorModel) = 0;
};

// Forwards every call to `target`; derive from it to override single calls.
class PdflEngineWrapper : public PdflEngine {
 public:
  explicit PdflEngineWrapper(PdflEngine* target) : target_(target) {}
  PdflEngine* target() const { return target_; }

  ASInt32 PDFLInit(PDFLDataRec* d) override { return target_->PDFLInit(d); }
  ASInt32 PDFLGetInitCount() override { return target_->PDFLGetInitCount(); }
  void PDFLTerm() override { target_->PDFLTerm(); }
  ASBool PDFLWaitForTermination(ASUns32 m) override { return target_->PDFLWaitForTermination(m); }
  void CosSetMaxDocStorage(ASInt32 b) override { target_->CosSetMaxDocStorage(b); }
  ASUns32 ASPurgeMemory(ASUns32 b) override { return target_->ASPurgeMemory(b); }
  ASAtom ASAtomFromString(const char* t) override { return target_->ASAtomFromString(t); }
  const char* ASAtomGetString(ASAtom a) override { return target_->ASAtomGetString(a); }
  ASPathName ASFileSysCreatePathName(ASFileSys fs, ASAtom type, const void* pathSpec, const void* zero) override {
    return target_->ASFileSysCreatePathName(fs, type, pathSpec, zero);
  }
  void ASFileSysReleasePathName(ASFileSys fs, ASPathName p) override { target_->ASFileSysReleasePathName(fs, p); }
  PDDoc PDDocOpenEx(ASPathName p, ASFileSys fs, PDAuthProc auth, void* data, ASBool repair) override {
    return target_->PDDocOpenEx(p, fs, auth, data, repair);
  }
  ASInt32 PDDocAuthorize(PDDoc d, ASInt32 perms, void* data) override {
    return target_->PDDocAuthorize(d, perms, data);
  }
  void PDDocClose(PDDoc d) override { target_->PDDocClose(d); }
  ASInt32 PDDocGetNumPages(PDDoc d) override { return target_->PDDocGetNumPages(d); }
  ASInt32 PDDocGetInfo(PDDoc d, const char* k, char* b, ASInt32 n) override {
    return target_->PDDocGetInfo(d, k, b, n);
  }
  PDPage PDDocAcquirePage(PDDoc d, ASInt32 i) override { return target_->PDDocAcquirePage(d, i); }
  void PDPageRelease(PDPage p) override { target_->PDPageRelease(p); }
  ASInt16 PDPageGetRotate(PDPage p) override { return target_->PDPageGetRotate(p); }
  void PDPageGetMediaBox(PDPage p, ASFixedRect* b) override { target_->PDPageGetMediaBox(p, b); }
  void PDPageGetCropBox(PDPage p, ASFixedRect* b) override { target_->PDPageGetCropBox(p, b); }
  double PDPageGetUserUnit(PDPage p) override { return target_->PDPageGetUserUnit(p); }
  void PDPageEnumInksEx(PDPage p, PDPageEnumInksCallback proc, void* data, ASBool opi, ASAtom model) override {
    target_->PDPageEnumInksEx(p, proc, data, opi, model);
  }

 private:
  PdflEngine* target_;
};

// The libqpdf engine; lives for the whole process.
PdflEngine* DefaultPdflEngine();
// The engine the calls go to: DefaultPdflEngine() unless a test has
// installed another one. Install only while no worker runs.
PdflEngine* CurrentPdflEngine();
// Installs `engine` (null restores the default). Returns the previous one.
PdflEngine* SetPdflEngineForTesting(PdflEngine* engine);

}  // namespace pdfparse::pdfl

#endif  // PDFPARSE_OUTSIDE_PDFL_PDFLENGINE_H_
