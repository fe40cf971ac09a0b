// The library's two trace objects. Both are defined here, A before B, so
// that A is constructed first and destroyed last.
#include "outside/trace/LibraryTraces.h"

namespace pdfparse::outside {

CDravikTrace g_traceA;
CDravikTrace g_traceB;

}  // namespace pdfparse::outside
