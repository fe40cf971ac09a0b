#include "DocumentApi.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "shared/Environment.h"

namespace pdfparse::inquirytool {

namespace {

constexpr char kEngineFile[] = "libpdfparse_document.so.1";

template <class F>
bool Resolve(void* handle, const char* name, F* out) {
  *out = reinterpret_cast<F>(dlsym(handle, name));
  return *out != nullptr;
}

}  // namespace

DocumentOptions DocumentOptionsFromEnvironment() {
  auto text = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  };
  DocumentOptions options;
  options.password = text("PDFPARSE_PASSWORD");
  options.timeLimitMs = shared::PositiveOr(text("PDFPARSE_TIMEOUT_MS"), 0);
  const uint64_t mib = shared::PositiveOr(text("PDFPARSE_MEMORY_LIMIT_MB"), 0);
  options.memoryLimitBytes = mib > (UINT64_MAX >> 20) ? UINT64_MAX : mib << 20;
  return options;
}

struct DocumentApi::Calls {
  decltype(&pdfparse_error_name) errorName;
  decltype(&pdfparse_open) open;
  decltype(&pdfparse_close) close;
  decltype(&pdfparse_error_message) errorMessage;
  decltype(&pdfparse_repaired) repaired;
  decltype(&pdfparse_warning_count) warningCount;
  decltype(&pdfparse_page_count) pageCount;
  decltype(&pdfparse_page_info) pageInfo;
  decltype(&pdfparse_page_inks) pageInks;
  decltype(&pdfparse_document_inks) documentInks;
  decltype(&pdfparse_take_outcome) takeOutcome = nullptr;  // an engine without it: read again
};

DocumentApi::DocumentApi(void* handle, std::unique_ptr<Calls> calls) : handle_(handle), calls_(std::move(calls)) {}

DocumentApi::~DocumentApi() { dlclose(handle_); }

std::unique_ptr<DocumentApi> DocumentApi::Find(const std::string& libraryPath) {
  // The library's own engine is loaded with it; a copy beside it (installed:
  // LIBDIR/pdfparse/, build tree: lib/document/) otherwise.
  void* handle = dlopen(kEngineFile, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::canonical(libraryPath, ec).parent_path();
  for (const char* sub : {"pdfparse", "document"}) {
    if (handle != nullptr || ec) break;
    handle = dlopen((folder / sub / kEngineFile).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) return nullptr;
  auto calls = std::make_unique<Calls>();
  if (!Resolve(handle, "pdfparse_error_name", &calls->errorName) || !Resolve(handle, "pdfparse_open", &calls->open) ||
      !Resolve(handle, "pdfparse_close", &calls->close) ||
      !Resolve(handle, "pdfparse_error_message", &calls->errorMessage) ||
      !Resolve(handle, "pdfparse_repaired", &calls->repaired) ||
      !Resolve(handle, "pdfparse_warning_count", &calls->warningCount) ||
      !Resolve(handle, "pdfparse_page_count", &calls->pageCount) ||
      !Resolve(handle, "pdfparse_page_info", &calls->pageInfo) ||
      !Resolve(handle, "pdfparse_page_inks", &calls->pageInks) ||
      !Resolve(handle, "pdfparse_document_inks", &calls->documentInks)) {
    dlclose(handle);
    return nullptr;
  }
  Resolve(handle, "pdfparse_take_outcome", &calls->takeOutcome);
  return std::unique_ptr<DocumentApi>(new DocumentApi(handle, std::move(calls)));
}

DocumentReport DocumentApi::read(const std::string& path, const DocumentOptions& options, bool inks,
                                 bool pages) const {
  const Calls& c = *calls_;
  DocumentReport report;
  pdfparse_document* doc = nullptr;
  auto fail = [&](int code) {
    report.failure = Failure{c.errorName(code), doc != nullptr ? c.errorMessage(doc) : "no memory"};
  };
  auto inkList = [](const pdfparse_ink* list, size_t count) {
    std::vector<InkName> out;
    for (size_t i = 0; i < count; ++i) out.push_back(InkName{list[i].name, list[i].process != 0});
    return out;
  };
  const int opened = c.open(path.c_str(), options.password.empty() ? nullptr : options.password.c_str(),
                            options.timeLimitMs, options.memoryLimitBytes, &doc);
  size_t count = 0;
  int code = opened != PDFPARSE_OK ? opened : c.pageCount(doc, &count);
  if (code == PDFPARSE_OK && count == 0) {
    report.failure = Failure{"no-pages", "the document has no pages"};
  }
  for (size_t i = 0; code == PDFPARSE_OK && i < count; ++i) {
    pdfparse_page page;
    code = c.pageInfo(doc, i, &page);
    if (code != PDFPARSE_OK || !pages) continue;
    PageRow row{i, {page.media_box, page.crop_box, page.bleed_box, page.trim_box, page.art_box},
                page.rotation, page.user_unit, {}};
    const pdfparse_ink* list = nullptr;
    size_t n = 0;
    code = c.pageInks(doc, i, &list, &n);
    if (code == PDFPARSE_OK) row.inks = inkList(list, n);
    report.pages.push_back(std::move(row));
  }
  if (code == PDFPARSE_OK && inks) {
    const pdfparse_ink* list = nullptr;
    size_t n = 0;
    code = c.documentInks(doc, &list, &n);
    if (code == PDFPARSE_OK) report.inks = inkList(list, n);
  }
  if (code != PDFPARSE_OK) fail(code);
  if (doc != nullptr) {
    report.repaired = c.repaired(doc) != 0;
    report.warnings = c.warningCount(doc);
  }
  c.close(doc);
  return report;
}

std::optional<DocumentReport> DocumentApi::outcome(const std::string& path) const {
  pdfparse_outcome kept{};
  if (calls_->takeOutcome == nullptr || calls_->takeOutcome(path.c_str(), &kept) != PDFPARSE_OK) return std::nullopt;
  DocumentReport report;
  if (kept.error != PDFPARSE_OK) report.failure = Failure{calls_->errorName(kept.error), kept.message};
  report.repaired = kept.repaired != 0;
  report.warnings = kept.warnings;
  return report;
}

}  // namespace pdfparse::inquirytool
