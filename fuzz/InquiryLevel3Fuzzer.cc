// libFuzzer target: a level-3 inquiry on arbitrary bytes, through the libqpdf
// engine and the real converter plug-in together, the calls in the order the
// document object makes them: pages, rotation and Producer; every page's
// crop and media box; the converter measuring the pages of the document the
// engine has open; the inks of the pages.
//
// Findings: an exception other than the library's own, anything the engine
// still holds afterwards, a converter that does not read the engine's parse,
// or a converter that measures a page the engine cannot read.
#include <cmath>
#include <memory>

#include "fuzz/FuzzHarness.h"
#include "outside/converter/CPdfConverterIf.h"

extern "C" CPdfConverterIf* CreatePDFConverterNoRip(long options);

namespace {

// Checked so that a converter that fails to attach (and parses on its own)
// shows up as a difference rather than passing unnoticed.
void Measure(pdfparse::fuzz::Harness& h, PDDoc doc, CPdfConverterIf& converter, ASInt32 pages) {
  ConverterInitRec rec{1, 1, 1, 0, 1, 0};
  if (converter.initConverter(&rec, 0) == 0 || converter.beginJob(0) == 0) std::abort();
  if (converter.openDocument("fuzz.pdf", "Dummy") == 0) {
    converter.endJob();
    return;
  }
  for (ASInt32 i = 0; i < pages && i < 64; ++i) {
    float box[4];
    const bool measured = converter.selectPage(i) != 0 && converter.getPageBox(box) != 0;
    bool readable = true;
    try {
      PDPage page = h.engine.PDDocAcquirePage(doc, i);
      ASFixedRect crop{};
      h.engine.PDPageGetCropBox(page, &crop);
      h.engine.PDPageRelease(page);
    } catch (const pdfparse::pdfl::PdflException&) {
      readable = false;
    }
    if (measured && !readable) std::abort();
    if (measured) {
      for (float v : box) {
        if (std::isnan(v)) std::abort();
      }
    }
  }
  converter.closeDocument(0);
  converter.endJob();
}

ASBool StopAtSpot(PDPageInk ink, void* clientData) {
  if (ink->isProcessColor == 0) *static_cast<bool*>(clientData) = true;
  return ink->isProcessColor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<CPdfConverterIf> converter(CreatePDFConverterNoRip(0));
  return pdfparse::fuzz::RunOne(data, size, [](pdfparse::fuzz::Harness& h, PDDoc doc) {
    ASInt32 pages = 0;
    try {
      pages = h.engine.PDDocGetNumPages(doc);
    } catch (const pdfparse::pdfl::PdflException&) {
      return;
    }
    pdfparse::fuzz::Producer(h, doc);
    Measure(h, doc, *converter, pages);
    bool spot = false;
    for (ASInt32 i = 0; i < pages && i < 64 && !spot; ++i) {
      try {
        PDPage page = h.engine.PDDocAcquirePage(doc, i);
        try {
          h.engine.PDPageGetRotate(page);
          h.engine.PDPageEnumInksEx(page, StopAtSpot, &spot, 0, ASAtomNull);
        } catch (const pdfparse::pdfl::PdflException&) {
        }
        h.engine.PDPageRelease(page);
      } catch (const pdfparse::pdfl::PdflException&) {
      }
    }
  });
}
