// libFuzzer target: a level-1 inquiry through the libqpdf engine on
// arbitrary bytes: open (with repair, answering a password request with the
// host's password), count the pages, read the first page's rotation and the
// Producer entry, close.
//
// Any exception other than the library's own, and any document or page the
// engine still holds afterwards, is a finding.
#include "fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pdfparse::fuzz::RunOne(data, size, [](pdfparse::fuzz::Harness& h, PDDoc doc) {
    try {
      if (h.engine.PDDocGetNumPages(doc) > 0) {
        PDPage page = h.engine.PDDocAcquirePage(doc, 0);
        try {
          h.engine.PDPageGetRotate(page);
        } catch (const pdfparse::pdfl::PdflException&) {
        }
        h.engine.PDPageRelease(page);
      }
    } catch (const pdfparse::pdfl::PdflException&) {
    }
    pdfparse::fuzz::Producer(h, doc);
  });
}
