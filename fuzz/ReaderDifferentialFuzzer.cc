// The structure reader against libqpdf on mutated inputs: wherever the
// reader keeps a document, every answer must be libqpdf's; a difference
// aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "readercheck/ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const pdfparse::readercheck::Comparison result = pdfparse::readercheck::CompareReaders(bytes, 16);
  if (!result.difference.empty()) {
    std::fprintf(stderr, "reader difference: %s\n", result.difference.c_str());
    std::abort();
  }
  return 0;
}
