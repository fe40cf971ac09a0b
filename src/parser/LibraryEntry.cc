// Load and unload of libpdfparse.so itself: the library registers with the
// host framework when it is loaded and leaves it when it is unloaded. A
// shared object cannot fail its own load, so a failed registration is kept
// in the module record and CreateCPdfParse refuses to make parsers.
//
// Nothing here traces: these run outside the order in which the library's
// trace objects are constructed and destroyed.
#include "outside/framework/Framework.h"
#include "parser/CPdfParse.h"

namespace {

pdfparse::outside::CDynLinkLibrary* g_dynLinkLibrary = nullptr;

__attribute__((constructor)) void PdfParseAttach() {
  if (!pdfparse::outside::AfxInitExtensionModule(g_pdfParseModule, &g_pdfParseModule)) return;
  g_dynLinkLibrary = pdfparse::outside::FrameworkNewOrNull<pdfparse::outside::CDynLinkLibrary>(g_pdfParseModule, false);
}

__attribute__((destructor)) void PdfParseDetach() {
  delete g_dynLinkLibrary;
  g_dynLinkLibrary = nullptr;
  pdfparse::outside::AfxTermExtensionModule(g_pdfParseModule, false);
}

}  // namespace
