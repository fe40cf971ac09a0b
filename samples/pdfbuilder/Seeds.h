// A small set of documents of different shapes, valid and damaged: the
// fuzzers' seeds, and files the differential test reads both ways.
#ifndef PDFPARSE_SAMPLES_PDFBUILDER_SEEDS_H_
#define PDFPARSE_SAMPLES_PDFBUILDER_SEEDS_H_

#include <string>
#include <utility>
#include <vector>

namespace pdfparse::pdfbuilder {

// Name and bytes of each document.
std::vector<std::pair<std::string, std::string>> SeedDocuments();

}  // namespace pdfparse::pdfbuilder

#endif  // PDFPARSE_SAMPLES_PDFBUILDER_SEEDS_H_
