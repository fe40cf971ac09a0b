// The library's two trace objects, constructed when the library is loaded
// (A first, then B) and destroyed when it is unloaded (B first).
//   A: the document object and the PDF engine.
//   B: the parser, its worker thread and the inquiry levels.
#ifndef PDFPARSE_OUTSIDE_TRACE_LIBRARYTRACES_H_
#define PDFPARSE_OUTSIDE_TRACE_LIBRARYTRACES_H_

#include "outside/trace/CDravikTrace.h"

namespace pdfparse::outside {

extern CDravikTrace g_traceA;
extern CDravikTrace g_traceB;

// The instance name every line of the library is written under.
inline constexpr const char kTraceInstance[] = "Rip\\PdfParseServer";

}  // namespace pdfparse::outside

#endif  // PDFPARSE_OUTSIDE_TRACE_LIBRARYTRACES_H_
