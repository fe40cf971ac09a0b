// The exported interface of libpdfparse.so.
//
// A host loads the library (dlopen or link), calls CreateCPdfParse and uses
// the returned parser from any thread. All PDF work runs on one worker thread
// that the library owns; runInquiry hands the inquiry to it and waits.
// No exception ever leaves these calls.
#ifndef PDFPARSE_CPDFPARSEIF_H_
#define PDFPARSE_CPDFPARSEIF_H_

#include <cstdint>

#include "pdfparse/PdfInquiryRec.h"

#define PDFPARSE_EXPORT __attribute__((visibility("default")))

class PDFPARSE_EXPORT CPdfParseIf {
 public:
  CPdfParseIf();
  CPdfParseIf(const CPdfParseIf&);
  virtual ~CPdfParseIf();
  CPdfParseIf& operator=(const CPdfParseIf&);

  // Starts the shared worker if it is not running. True when the worker's
  // thread and events exist. runInquiry calls it itself.
  virtual bool init() = 0;

  // Runs one inquiry on `fileName` at `rec->level`, filling `rec`. Blocks
  // until the worker has answered. True only when getStatus() is then 0.
  // Both pointers must stay valid for the whole call. A null pointer, or a
  // worker that has ended or runs in another process (the parser was made
  // before fork() and is used in the child), fails at once with status 1.
  virtual bool runInquiry(const char* fileName, PdfInquiryRec* rec) = 0;

  // Status of this parser's last inquiry: 0 success, 1 failed, 3 succeeded
  // but the PDF engine reported an error on the way.
  virtual int32_t getStatus() = 0;
};

// Creates a parser; delete it through the virtual destructor. Deleting a
// parser does not wait for other parsers' inquiries; deleting the last one
// stops and joins the worker. The argument is not read. Returns null when no
// parser could be made.
extern "C" PDFPARSE_EXPORT CPdfParseIf* CreateCPdfParse(int32_t unused);

// Signature for hosts that look the factory up with dlsym.
using CreateCPdfParseFn = CPdfParseIf* (*)(int32_t);

#endif  // PDFPARSE_CPDFPARSEIF_H_
