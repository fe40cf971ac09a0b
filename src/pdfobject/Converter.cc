// CPdfObject: the converter object from the plug-in "Kestaro".
#include <cstring>

#include "outside/converter/CPdfConverterIf.h"
#include "outside/framework/Framework.h"
#include "outside/loader/CLoaderLibrary.h"
#include "pdfobject/CPdfObject.h"
#include "pdfobject/PdfObjectDetail.h"

using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;
using pdfparse::pdfobject::Flag;

bool CPdfObject::loadPdfConverter() {
  if (m_converter != nullptr) return true;
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::loadPdfConverter() Begin load ");

  if (m_loader == nullptr) m_loader = pdfparse::outside::FrameworkNewOrNull<CLoaderLibrary>();
  bool res = false;
  if (m_loader != nullptr) {
    bool ready = false;
    if (m_loader->LoadLibraryA("Kestaro") != 0) {
      m_converter = static_cast<CPdfConverterIf*>(m_loader->CreateObject("CreatePDFConverterNoRip", 0));
      res = m_converter != nullptr;
      if (res) {
        ConverterInitRec rec;
        std::memset(&rec, 0, sizeof(rec));  // no uninitialised bytes reach the plug-in
        rec.version = 1;
        rec.mode = 1;
        rec.units = 1;
        rec.pages = 1;
        rec.options = 0;
        res = m_converter->initConverter(&rec, 0) != 0;
        g_traceA.Output("CDravikPdfObject::loadPdfConverter() End init bRes = %d", Flag(res));
        ready = res;
      }
    }
    if (!ready) {
      g_traceA.OutputEx(kTraceInstance, "--ERROR--CPdfObject::loadPdfConverter() load bRes = %d",
                        static_cast<int>(m_loader->GetErrorState()));
    }
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::loadPdfConverter() End load bRes = %d", Flag(res));
  return res;
}

bool CPdfObject::unloadPdfConverter() {
  if (m_converter == nullptr) return true;
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::unloadPdfConverter() Begin unload ");
  // The object's code lives in the module: destroy it before the release.
  delete m_converter;
  m_converter = nullptr;
  bool res = true;
  if (m_loader != nullptr) {
    res = m_loader->ReleaseLibrary() != 0;
    delete m_loader;
    m_loader = nullptr;
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::unloadPdfConverter() End bRes = %d", Flag(res));
  return res;
}
