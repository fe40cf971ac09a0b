// Reads a document twice, with the structure reader and with libqpdf alone,
// and compares every answer an inquiry takes from it: the page count, each
// page's boxes, rotation, user unit and inks, and Info entries. Used by the
// differential test and fuzz target: whether the structure reader keeps a
// document or hands it to libqpdf part way, the answers must be libqpdf's.
#ifndef PDFPARSE_TESTS_SUPPORT_READERCHECK_READERCHECK_H_
#define PDFPARSE_TESTS_SUPPORT_READERCHECK_READERCHECK_H_

#include <cstddef>
#include <string>

namespace pdfparse::readercheck {

struct Comparison {
  bool readerKept = false;  // the structure reader answered every question
  bool compared = false;    // both reads ended within their limits
  std::string difference;   // empty when the answers agree
};

// Pages beyond `maxPages` are counted but not compared one by one.
Comparison CompareReaders(const std::string& bytes, size_t maxPages = 64);

}  // namespace pdfparse::readercheck

#endif  // PDFPARSE_TESTS_SUPPORT_READERCHECK_READERCHECK_H_
