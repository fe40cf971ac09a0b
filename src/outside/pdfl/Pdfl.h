// The PDF library calls, with the names the document object uses. Each one
// forwards to the current engine (PdflEngine.h) and may raise PdflException,
// which only a protected block (ProtectedBlock.h) catches.
#ifndef PDFPARSE_OUTSIDE_PDFL_PDFL_H_
#define PDFPARSE_OUTSIDE_PDFL_PDFL_H_

#include "outside/pdfl/PdflErrors.h"
#include "outside/pdfl/PdflTypes.h"
#include "outside/pdfl/ProtectedBlock.h"

ASInt32 PDFLInit(PDFLDataRec* data);
ASInt32 PDFLGetInitCount();
void PDFLTerm();
ASBool PDFLWaitForTermination(ASUns32 maxMillis);
void CosSetMaxDocStorage(ASInt32 bytes);
ASUns32 ASPurgeMemory(ASUns32 bytes);

ASAtom ASAtomFromString(const char* text);
const char* ASAtomGetString(ASAtom atom);

ASPathName ASFileSysCreatePathName(ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec,
                                   const void* mustBeZero);
void ASFileSysReleasePathName(ASFileSys fileSys, ASPathName path);

PDDoc PDDocOpenEx(ASPathName path, ASFileSys fileSys, PDAuthProc authProc, void* clientData, ASBool doRepair);
ASInt32 PDDocAuthorize(PDDoc doc, ASInt32 permsWanted, void* authData);
void PDDocClose(PDDoc doc);
ASInt32 PDDocGetNumPages(PDDoc doc);
ASInt32 PDDocGetInfo(PDDoc doc, const char* key, char* buffer, ASInt32 bufSize);

PDPage PDDocAcquirePage(PDDoc doc, ASInt32 index);
void PDPageRelease(PDPage page);
ASInt16 PDPageGetRotate(PDPage page);
void PDPageGetMediaBox(PDPage page, ASFixedRect* box);
void PDPageGetCropBox(PDPage page, ASFixedRect* box);
// The size of the page's user space unit in points (/UserUnit; 1 by default).
double PDPageGetUserUnit(PDPage page);
void PDPageEnumInksEx(PDPage page, PDPageEnumInksCallback proc, void* clientData, ASBool includeOPI, ASAtom colorModel);

#endif  // PDFPARSE_OUTSIDE_PDFL_PDFL_H_
