// The library's one exported function.
#include <exception>

#include "outside/framework/Framework.h"
#include "outside/trace/LibraryTraces.h"
#include "parser/CPdfParse.h"

pdfparse::outside::AFX_EXTENSION_MODULE g_pdfParseModule;

extern "C" PDFPARSE_EXPORT CPdfParseIf* CreateCPdfParse(int32_t) {
  if (g_pdfParseModule.failure) {
    pdfparse::outside::g_traceB.OutputEx(pdfparse::outside::kTraceInstance,
                                         "--ERROR--CreateCPdfParse() library not registered with the framework: %s",
                                         g_pdfParseModule.failure);
    return nullptr;
  }
  try {
    return pdfparse::outside::FrameworkNew<CPdfParse>();
  } catch (const pdfparse::outside::CFrameworkException&) {
    return nullptr;  // memory exhausted: no parser, nothing traced
  } catch (const std::exception& e) {
    // Nothing may cross the exported interface.
    pdfparse::outside::g_traceB.OutputEx(pdfparse::outside::kTraceInstance, "--ERROR--CreateCPdfParse() %s", e.what());
  } catch (...) {
    pdfparse::outside::g_traceB.OutputEx(pdfparse::outside::kTraceInstance,
                                         "--ERROR--CreateCPdfParse() unknown exception");
  }
  return nullptr;
}
