// What the engine's documents came to, by path, kept after they close: a
// program that runs the host's inquiries and the document API in one
// process (pdfinquiry) learns from it why an inquiry failed and whether its
// answer needed repair, without reading the file a second time.
#ifndef PDFPARSE_DOCUMENT_OUTCOMES_H_
#define PDFPARSE_DOCUMENT_OUTCOMES_H_

#include <cstddef>
#include <optional>
#include <string>

#include "document/Error.h"

namespace pdfparse::document {

struct Outcome {
  bool repaired = false;
  size_t warnings = 0;
  std::optional<Error> failure;  // what ended the document's first failed query
};

// Thread-safe; holds the last few paths only.
class Outcomes {
 public:
  static void Record(const std::string& path, Outcome outcome);
  // The outcome recorded for `path`, removed; none when there is none.
  static std::optional<Outcome> Take(const std::string& path);
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_OUTCOMES_H_
