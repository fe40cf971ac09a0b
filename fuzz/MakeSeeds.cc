// Writes the fuzzers' small seed corpus into the directory given: a few
// valid documents of different shapes and a few damaged ones.
#include <cstdio>
#include <fstream>
#include <string>

#include "pdfbuilder/Seeds.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  for (const auto& [name, bytes] : pdfparse::pdfbuilder::SeedDocuments()) {
    std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  return 0;
}
