// The engine's document API (pdfparse/document.h) as pdfinquiry uses it:
// found at run time, beside the library it loaded, to say why an inquiry
// failed, whether its answer needed repair, and to list pages and inks.
// The level inquiries themselves go through CPdfParseIf alone.
#ifndef PDFINQUIRY_DOCUMENTAPI_H_
#define PDFINQUIRY_DOCUMENTAPI_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pdfparse/document.h"

namespace pdfparse::inquirytool {

// Why a file failed: a code word ("damaged", "password", ... as the
// engine's; "no-pages", "library" or "unknown" as pdfinquiry's own) and a
// message.
struct Failure {
  std::string code;
  std::string message;
};

struct InkName {
  std::string name;
  bool process = false;
};

struct PageRow {
  size_t index = 0;  // 0-based
  std::array<pdfparse_box, 5> boxes{};  // media, crop, bleed, trim, art
  int rotation = 0;
  double userUnit = 1;
  std::vector<InkName> inks;
};

// What a file's document says, for one use of it.
struct DocumentReport {
  std::optional<Failure> failure;  // the document could not be read
  bool repaired = false;
  size_t warnings = 0;
  std::optional<std::vector<InkName>> inks;  // the document's, when asked
  std::vector<PageRow> pages;                // when asked
};

// Limits and password for each document, as the library's inquiries have them.
struct DocumentOptions {
  std::string password;  // empty: none
  uint64_t timeLimitMs = 0;
  uint64_t memoryLimitBytes = 0;
};

// The password (PDFPARSE_PASSWORD) and limits (PDFPARSE_TIMEOUT_MS,
// PDFPARSE_MEMORY_LIMIT_MB) of the library's inquiries, read as it reads them.
DocumentOptions DocumentOptionsFromEnvironment();

class DocumentApi {
 public:
  // The engine that `libraryPath` (loaded already) uses, else one beside it.
  // Null when none is found.
  static std::unique_ptr<DocumentApi> Find(const std::string& libraryPath);
  ~DocumentApi();
  DocumentApi(const DocumentApi&) = delete;
  DocumentApi& operator=(const DocumentApi&) = delete;

  // Opens `path` and reads its page tree and each page's attributes, so
  // that what needed repair shows; `inks` adds the document's inks, `pages`
  // a row per page (with its inks).
  DocumentReport read(const std::string& path, const DocumentOptions& options, bool inks, bool pages) const;
  // What the engine's own reading of `path` came to in the inquiry just run
  // through the library (repair, warnings, the failure); none when the
  // engine kept nothing for it.
  std::optional<DocumentReport> outcome(const std::string& path) const;

 private:
  struct Calls;
  explicit DocumentApi(void* handle, std::unique_ptr<Calls> calls);
  void* handle_;
  std::unique_ptr<Calls> calls_;
};

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_DOCUMENTAPI_H_
