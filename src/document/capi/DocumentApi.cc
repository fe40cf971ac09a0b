// The document API (include/pdfparse/document.h) over document::Document.
// Every entry point runs its body in Call(), which turns whatever it raises
// into the engine's error code and keeps the message in the handle.
#include "pdfparse/document.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "document/Document.h"
#include "document/Error.h"
#include "document/OpenFile.h"
#include "document/Outcomes.h"
#include "outside/filesys/FileSys.h"
#include "shared/Constants.h"

using pdfparse::document::Error;
using pdfparse::document::ErrorCode;

// The API's codes are the engine's: one list, checked here.
#define PDFPARSE_SAME_CODE(api, engine) static_assert((api) == static_cast<int>(ErrorCode::engine))
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_INTERNAL, kInternal);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_NO_MEMORY, kNoMemory);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_TIMEOUT, kTimeout);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_MEMORY_LIMIT, kMemoryLimit);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_FILE_NOT_FOUND, kFileNotFound);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_FILE_PERMISSION, kFilePermission);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_NOT_REGULAR_FILE, kNotRegularFile);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_FILE_READ, kFileRead);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_FILE_TOO_LARGE, kFileTooLarge);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_NOT_PDF, kNotPdf);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_DAMAGED, kDamaged);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_PASSWORD, kPassword);
PDFPARSE_SAME_CODE(PDFPARSE_ERROR_UNSUPPORTED, kUnsupported);
#undef PDFPARSE_SAME_CODE

namespace {

namespace doc = pdfparse::document;

// The caller's mistake, not the file's.
struct ArgumentError {
  std::string message;
};

struct InkList {
  std::vector<std::string> names;
  std::vector<pdfparse_ink> entries;

  void set(const std::vector<doc::Ink>& inks) {
    names.clear();
    entries.clear();
    names.reserve(inks.size());
    for (const doc::Ink& ink : inks) names.push_back(ink.name);
    for (size_t i = 0; i < inks.size(); ++i) entries.push_back(pdfparse_ink{names[i].c_str(), inks[i].process ? 1 : 0});
  }
};

pdfparse_box BoxOf(const doc::Box& b) { return pdfparse_box{b.llx, b.lly, b.urx, b.ury}; }

}  // namespace

struct pdfparse_document {
  std::unique_ptr<doc::Document> doc;
  int failed = PDFPARSE_OK;  // the open's error: every call gives it again
  std::string message;
  std::unordered_set<size_t> notesGiven;  // pages whose defaults were warned about
  InkList inks;

  // Runs `body` with the time limit counted anew; its failure as a code.
  template <class Body>
  int call(Body&& body) noexcept {
    if (failed != PDFPARSE_OK) return failed;
    try {
      if (doc) doc->budget().restartDeadline();
      body();
      if (doc) doc->drainWarnings();
      return PDFPARSE_OK;
    } catch (const ArgumentError& e) {
      return fail(PDFPARSE_ERROR_ARGUMENT, e.message);
    } catch (...) {
      try {
        const Error error = doc::ErrorOfCurrentException();
        return fail(static_cast<int>(error.code()), error.detail());
      } catch (...) {
        return fail(PDFPARSE_ERROR_NO_MEMORY, {});
      }
    }
  }

  int fail(int code, const std::string& why) noexcept {
    try {
      message = why.empty() ? doc::ErrorCodeName(static_cast<ErrorCode>(code)) : why;
    } catch (...) {
      message.clear();
    }
    return code;
  }

  // The page, found; raises what reading it raised.
  void reach(size_t index) {
    doc->checkpoint();
    const bool found = doc->reachPage(index);
    doc->checkpoint();
    if (!found) {
      throw ArgumentError{"page index " + std::to_string(index) + " is beyond the last page (" +
                          std::to_string(doc->pageCount()) + " pages)"};
    }
  }
};

namespace {

void Open(pdfparse_document& handle, const char* path, const char* password, uint64_t timeLimitMs,
          uint64_t memoryLimitBytes) {
  if (path == nullptr) throw ArgumentError{"no path"};
  doc::Limits limits;
  limits.timeoutMillis = timeLimitMs != 0 ? timeLimitMs : doc::kDefaultTimeoutMillis;
  limits.memoryBytes = memoryLimitBytes != 0 ? memoryLimitBytes : doc::kDefaultMemoryLimitBytes;
  doc::FileRead read = doc::ReadFile(*pdfparse::outside::CurrentFileSys(), path, limits);
  handle.doc = std::make_unique<doc::Document>(path, std::move(read.bytes), std::move(read.budget), /*repair=*/true,
                                               doc::TraceSink{}, read.identity ? &*read.identity : nullptr);
  if (handle.doc->open(nullptr) == doc::Document::OpenResult::Opened) return;
  for (const char* candidate : {password, pdfparse::shared::kHostPassword}) {
    if (candidate != nullptr && handle.doc->open(candidate) == doc::Document::OpenResult::Opened) return;
  }
  throw Error(ErrorCode::kPassword, std::string(path) + ": encrypted, and " +
                                        (password ? "the password given does not open it" : "no password was given"));
}

std::vector<doc::Ink> PageInks(pdfparse_document& handle, size_t index) {
  handle.reach(index);
  try {
    handle.doc->pageTable().check(index);
  } catch (const Error& e) {
    if (e.endsInquiry()) throw;
    // As the ink inquiry does: a damaged page's inks are skipped.
    handle.doc->warn(std::string("inks: page resources: ") + e.what() + "; skipped");
  }
  std::vector<doc::Ink> inks = handle.doc->pageInks(index, /*includeOPI=*/false);
  handle.doc->checkpoint();
  return inks;
}

}  // namespace

extern "C" {

const char* pdfparse_error_name(int code) {
  if (code == PDFPARSE_OK) return "ok";
  if (code == PDFPARSE_ERROR_ARGUMENT) return "argument";
  if (code < PDFPARSE_ERROR_INTERNAL || code > PDFPARSE_ERROR_UNSUPPORTED) return "unknown";
  return doc::ErrorCodeKey(static_cast<ErrorCode>(code));
}

const char* pdfparse_version(void) { return PDFPARSE_VERSION; }

int pdfparse_open(const char* path, const char* password, uint64_t time_limit_ms, uint64_t memory_limit_bytes,
                  pdfparse_document** document) {
  if (document == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  *document = new (std::nothrow) pdfparse_document;
  if (*document == nullptr) return PDFPARSE_ERROR_NO_MEMORY;
  pdfparse_document& handle = **document;
  handle.failed = handle.call([&] { Open(handle, path, password, time_limit_ms, memory_limit_bytes); });
  return handle.failed;
}

void pdfparse_close(pdfparse_document* document) { delete document; }

const char* pdfparse_error_message(const pdfparse_document* document) {
  return document == nullptr ? "no document" : document->message.c_str();
}

int pdfparse_repaired(const pdfparse_document* document) {
  return document != nullptr && document->doc && document->doc->repaired() ? 1 : 0;
}

size_t pdfparse_warning_count(const pdfparse_document* document) {
  return document != nullptr && document->doc ? document->doc->warningCount() : 0;
}

const char* pdfparse_warning(const pdfparse_document* document, size_t index) {
  if (document == nullptr || !document->doc) return nullptr;
  const std::vector<std::string>& kept = document->doc->firstWarnings();
  return index < kept.size() ? kept[index].c_str() : nullptr;
}

int pdfparse_page_count(pdfparse_document* document, size_t* count) {
  if (document == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  return document->call([&] {
    if (count == nullptr) throw ArgumentError{"no place for the count"};
    *count = document->doc->pageCount();
    document->doc->checkpoint();
  });
}

int pdfparse_page_info(pdfparse_document* document, size_t index, pdfparse_page* page) {
  if (document == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  return document->call([&] {
    if (page == nullptr) throw ArgumentError{"no place for the page"};
    document->reach(index);
    const doc::PageTable& table = document->doc->pageTable();
    table.check(index);
    const doc::PageTable::Notes* notes = table.notes(index);
    if (notes != nullptr && document->notesGiven.insert(index).second) {
      for (const std::string* note : {&notes->media, &notes->crop, &notes->printBoxes, &notes->rotation}) {
        if (!note->empty()) document->doc->warn(*note);
      }
    }
    const doc::PageGeometry& g = table.pageGeometry(index);
    *page = pdfparse_page{BoxOf(g.media), BoxOf(g.crop), BoxOf(g.bleed), BoxOf(g.trim), BoxOf(g.art),
                          g.rotation,     g.userUnit};
  });
}

int pdfparse_info(pdfparse_document* document, const char* key, char* buffer, size_t size, size_t* length) {
  if (document == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  return document->call([&] {
    if (key == nullptr || length == nullptr) throw ArgumentError{"no key or no place for the length"};
    if (buffer == nullptr && size != 0) throw ArgumentError{"no buffer"};
    if (size != 0) buffer[0] = '\0';
    const std::string text = document->doc->infoText(key[0] == '/' ? std::string(key) : "/" + std::string(key));
    document->doc->checkpoint();
    *length = text.size();
    if (size == 0) return;
    const size_t copied = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  });
}

int pdfparse_page_inks(pdfparse_document* document, size_t index, const pdfparse_ink** inks, size_t* count) {
  if (document == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  return document->call([&] {
    if (inks == nullptr || count == nullptr) throw ArgumentError{"no place for the inks"};
    document->inks.set(PageInks(*document, index));
    *inks = document->inks.entries.data();
    *count = document->inks.entries.size();
  });
}

int pdfparse_document_inks(pdfparse_document* document, const pdfparse_ink** inks, size_t* count) {
  if (document == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  return document->call([&] {
    if (inks == nullptr || count == nullptr) throw ArgumentError{"no place for the inks"};
    std::vector<doc::Ink> all;
    std::unordered_map<std::string, size_t> seen;
    const size_t pages = document->doc->pageCount();
    for (size_t i = 0; i < pages; ++i) {
      for (doc::Ink& ink : PageInks(*document, i)) {
        auto [it, added] = seen.try_emplace(ink.name, all.size());
        if (added) {
          all.push_back(std::move(ink));
        } else if (!ink.process) {
          all[it->second].process = false;
        }
      }
    }
    document->inks.set(all);
    *inks = document->inks.entries.data();
    *count = document->inks.entries.size();
  });
}

}  // extern "C"

int pdfparse_take_outcome(const char* path, pdfparse_outcome* outcome) {
  if (path == nullptr || outcome == nullptr) return PDFPARSE_ERROR_ARGUMENT;
  try {
    std::optional<doc::Outcome> kept = doc::Outcomes::Take(path);
    if (!kept) return PDFPARSE_ERROR_ARGUMENT;
    outcome->error = kept->failure ? static_cast<int>(kept->failure->code()) : PDFPARSE_OK;
    outcome->repaired = kept->repaired ? 1 : 0;
    outcome->warnings = kept->warnings;
    const std::string message = kept->failure ? kept->failure->what() : "";
    const size_t n = std::min(message.size(), sizeof outcome->message - 1);
    std::memcpy(outcome->message, message.data(), n);
    outcome->message[n] = '\0';
    return PDFPARSE_OK;
  } catch (...) {
    return PDFPARSE_ERROR_NO_MEMORY;
  }
}
