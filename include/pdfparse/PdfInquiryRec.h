// The host's inquiry record. The host allocates it, sets `level` and
// `infoKey` (and may preset the outputs), and passes it to
// CPdfParseIf::runInquiry. The library writes the outputs on its worker
// thread while runInquiry waits; it never copies, keeps or frees the record.
//
// `infoValue` is a std::string: the library assigns it only when the named
// entry exists and is not empty, so a host that reuses one record for many
// files should clear it before each inquiry.
#ifndef PDFPARSE_PDFINQUIRYREC_H_
#define PDFPARSE_PDFINQUIRYREC_H_

#include <cstdint>
#include <string>

// libpdfparse.so is built with the C++11 ABI of std::string, so the record's
// `infoValue` has that layout. A host compiled with the old ABI would link and
// then hand the library a string of another layout: stop it here instead.
#if defined(_GLIBCXX_USE_CXX11_ABI) && _GLIBCXX_USE_CXX11_ABI == 0
#error "pdfparse: PdfInquiryRec holds a std::string of the C++11 ABI, which libpdfparse.so is built with, but this host is compiled with _GLIBCXX_USE_CXX11_ABI=0 (the old std::string ABI); build the host with the C++11 ABI (without -D_GLIBCXX_USE_CXX11_ABI=0)"
#endif

struct PdfInquiryRec {
  uint32_t hostField = 0;            // the host's own; never read or written
  int32_t level = 1;                 // input: 1, 2 or 3
  int32_t numPages = 0;              // levels 1-3
  int32_t rotation = 0;              // levels 1-3: rotation of page 1 (0/90/180/270)
  std::string infoValue;             // levels 1-3: text of the entry `infoKey` (UTF-8)
  const char* infoKey = "Producer";  // input: document-information entry to read
  int32_t pageMode = 0;              // levels 2-3: 3 when every crop box equals its media box, else 1
  float mediaBox[4] = {0, 0, 0, 0};  // levels 2-3: left, top, right, bottom in points;
                                     // written only when the whole level succeeded
  int32_t subType = 0;               // level 3: 1 when the Producer contains "Vrel", else -1
  uint32_t hasSpotInk = 0;           // level 3: 1 when some page of a subtype-1 document uses a spot ink
};

#endif  // PDFPARSE_PDFINQUIRYREC_H_
