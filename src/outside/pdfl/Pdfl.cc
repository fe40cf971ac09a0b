// The PDF library calls: each forwards to the engine in force.
#include "outside/pdfl/Pdfl.h"

#include <atomic>

#include "outside/pdfl/PdflEngine.h"

namespace pdfparse::pdfl {

PdflEngine::~PdflEngine() = default;

namespace {
// Null: the libqpdf engine.
std::atomic<PdflEngine*> g_installed{nullptr};
}  // namespace

PdflEngine* CurrentPdflEngine() {
  PdflEngine* engine = g_installed.load(std::memory_order_acquire);
  return engine != nullptr ? engine : DefaultPdflEngine();
}

PdflEngine* SetPdflEngineForTesting(PdflEngine* engine) {
  PdflEngine* previous = g_installed.exchange(engine, std::memory_order_acq_rel);
  return previous != nullptr ? previous : DefaultPdflEngine();
}

}  // namespace pdfparse::pdfl

using pdfparse::pdfl::CurrentPdflEngine;

ASInt32 PDFLInit(PDFLDataRec* data) { return CurrentPdflEngine()->PDFLInit(data); }
ASInt32 PDFLGetInitCount() { return CurrentPdflEngine()->PDFLGetInitCount(); }
void PDFLTerm() { CurrentPdflEngine()->PDFLTerm(); }
ASBool PDFLWaitForTermination(ASUns32 maxMillis) { return CurrentPdflEngine()->PDFLWaitForTermination(maxMillis); }
void CosSetMaxDocStorage(ASInt32 bytes) { CurrentPdflEngine()->CosSetMaxDocStorage(bytes); }
ASUns32 ASPurgeMemory(ASUns32 bytes) { return CurrentPdflEngine()->ASPurgeMemory(bytes); }

ASAtom ASAtomFromString(const char* text) { return CurrentPdflEngine()->ASAtomFromString(text); }
const char* ASAtomGetString(ASAtom atom) { return CurrentPdflEngine()->ASAtomGetString(atom); }

ASPathName ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                   const void* mustBeZero) {
  return CurrentPdflEngine()->ASFileSysCreatePathName(fileSys, pathSpecType, pathSpec, mustBeZero);
}
void ASFileSysReleasePathName(ASFileSys fileSys, ASPathName path) {
  CurrentPdflEngine()->ASFileSysReleasePathName(fileSys, path);
}

PDDoc PDDocOpenEx(ASPathName path, ASFileSys fileSys, PDAuthProc authProc, void* clientData, ASBool doRepair) {
  return CurrentPdflEngine()->PDDocOpenEx(path, fileSys, authProc, clientData, doRepair);
}
ASInt32 PDDocAuthorize(PDDoc doc, ASInt32 permsWanted, void* authData) {
  return CurrentPdflEngine()->PDDocAuthorize(doc, permsWanted, authData);
}
void PDDocClose(PDDoc doc) { CurrentPdflEngine()->PDDocClose(doc); }
ASInt32 PDDocGetNumPages(PDDoc doc) { return CurrentPdflEngine()->PDDocGetNumPages(doc); }
ASInt32 PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize) {
  return CurrentPdflEngine()->PDDocGetInfo(doc, key, buffer, bufSize);
}

PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index) { return CurrentPdflEngine()->PDDocAcquirePage(doc, index); }
void PDPageRelease(PDPage page) { CurrentPdflEngine()->PDPageRelease(page); }
ASInt16 PDPageGetRotate(PDPage page) { return CurrentPdflEngine()->PDPageGetRotate(page); }
void PDPageGetMediaBox(PDPage page, ASFixedRect* box) { CurrentPdflEngine()->PDPageGetMediaBox(page, box); }
void PDPageGetCropBox(PDPage page, ASFixedRect* box) { CurrentPdflEngine()->PDPageGetCropBox(page, box); }

double PDPageGetUserUnit(PDPage page) { return CurrentPdflEngine()->PDPageGetUserUnit(page); }
void PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData, ASBool includeOPI,
                      ASAtom colorModel) {
  CurrentPdflEngine()->PDPageEnumInksEx(page, proc, clientData, includeOPI, colorModel);
}
