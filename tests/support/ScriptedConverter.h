// A CPdfConverterIf double, driven by a ConverterScript the test keeps:
// boxes per page, calls that fail on demand, and the record of every call
// (kept after the converter is destroyed).
//
// The document object creates its converter through the plug-in loader: the
// test plug-in's CreatePDFConverterNoRip forwards to
// PdfParseTestCreateConverter (exported by the test binaries that need it),
// which builds a converter on the script installed with
// InstallConverterScript. For tests that call the converter on one thread.
#ifndef PDFPARSE_TESTS_SUPPORT_SCRIPTEDCONVERTER_H_
#define PDFPARSE_TESTS_SUPPORT_SCRIPTEDCONVERTER_H_

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outside/converter/CPdfConverterIf.h"

namespace pdfparse::test {

struct ConverterScript {
  using Box = std::array<float, 4>;   // left, top, right, bottom
  std::vector<Box> boxes;             // per 0-based page; selectPage beyond them fails
  std::map<std::string, int> failAt;  // operation -> the call (1-based) that yields 0; 0: every call
  bool createNull = false;            // the creation entry yields no object
  int created = 0, destroyed = 0;
  // "initConverter(1,1,1,1,0;0)", "beginJob(0)", "openDocument(<path>,Dummy)",
  // "selectPage(2)", "getPageBox", "closeDocument(1)", "endJob".
  std::vector<std::string> calls;
  int count(const std::string& operation) const;
};

// Installs the script the creation hook uses (null: none); returns the
// previous one.
std::shared_ptr<ConverterScript> InstallConverterScript(std::shared_ptr<ConverterScript> script);

}  // namespace pdfparse::test

// A converter on the installed script, or null when none is installed or the
// script says so.
extern "C" __attribute__((visibility("default"))) CPdfConverterIf* PdfParseTestCreateConverter(long arg);

#endif  // PDFPARSE_TESTS_SUPPORT_SCRIPTEDCONVERTER_H_
