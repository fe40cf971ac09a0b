// The one object through which the library touches PDF documents. It owns
// the started PDF library, the converter loaded from the plug-in, and
// between openPdf and closePdf one open document. Runs only on the worker.
#ifndef PDFPARSE_PDFOBJECT_CPDFOBJECT_H_
#define PDFPARSE_PDFOBJECT_CPDFOBJECT_H_

#include <cstdint>
#include <string>

#include "outside/pdfl/PdflTypes.h"

class CLoaderLibrary;
class CPdfConverterIf;

class CPdfObject {
 public:
  CPdfObject();
  virtual ~CPdfObject();
  CPdfObject(const CPdfObject&) = delete;
  CPdfObject& operator=(const CPdfObject&) = delete;

  // Library lifetime (PdfLibrary.cc).
  bool init();
  bool release();
  bool loadPdfLibrary();
  bool unloadPdfLibrary();
  int32_t buildResourceDirs(ASUTF16Val*** list);
  // Decodes the UTF-8 `source` into at most `capacity` UTF-16 units, the
  // terminator included (invalid bytes become U+FFFD). False, with an empty
  // destination, when it does not fit; nothing is written past `capacity`.
  static bool widenString(ASUTF16Val* destination, const char* source, size_t capacity);
  bool reportPdflError(const char* label);

  // Converter (Converter.cc).
  bool loadPdfConverter();
  bool unloadPdfConverter();

  // Open and close (Document.cc).
  bool openPdf(const char* fileName);
  bool closePdf();
  uint32_t getProcMemSize();
  static ASBool authProc(PDDoc doc, void* clientData);

  // Queries (Queries.cc, Geometry.cc, Inks.cc).
  bool getNumPages(int32_t* numPages);
  bool getPageRotation(int32_t page, int32_t* rotation);
  bool getDocInfo(const char* a_infoKey, std::string* a_value);
  bool checkDifferentCrop(int32_t* cropMode);
  bool getPageMode(int32_t* pageMode);
  bool getPageMediaBox(float box[4]);
  bool getSubType(int32_t* subType, uint32_t* hasSpotInk);

  int32_t errState() const { return m_errState; }
  // The error (time-out or out of memory) with which the open document's
  // deadline, work budget or memory limit ran out; 0 while none did. Its
  // inquiry has no answers, whatever a step made of the failure.
  ASErrorCode workLimitError() const { return m_workLimitError; }

  // For tests.
  PDFLDataRec* libData() const { return m_pdflLibData; }
  PDDoc document() const { return m_pdDoc; }
  CPdfConverterIf* converter() const { return m_converter; }
  bool authRequested() const { return m_authRequested; }
  uint32_t baseProcMem() const { return m_baseProcMem; }
  const std::string& fileName() const { return m_fileName; }

 private:
  PDFLDataRec* m_pdflLibData;
  std::string m_fileName;
  PDDoc m_pdDoc;
  int32_t m_errState;
  CPdfConverterIf* m_converter;
  CLoaderLibrary* m_loader;
  bool m_authRequested;
  ASErrorCode m_workLimitError = 0;
  uint32_t m_baseProcMem;
};

// Ink callback of getSubType.
ASBool enumInksProc(PDPageInk ink, void* clientData);

#endif  // PDFPARSE_PDFOBJECT_CPDFOBJECT_H_
