#include "document/PluginDocument.h"

#include <cmath>
#include <new>
#include <optional>

#include "document/Document.h"
#include "document/OpenDocuments.h"

namespace pdfparse::document {
namespace {

std::shared_ptr<Document> Parse(const std::string& path, std::unique_ptr<outside::File> file) {
  std::shared_ptr<WorkBudget> budget = OpenDocuments::CurrentBudget();
  if (!budget) budget = std::make_shared<WorkBudget>(file->size(), kDefaultTimeoutMillis);
  std::optional<FileIdentity> identity;
  if (const FileIdentity* id = file->identity()) identity = *id;
  std::shared_ptr<FileBytes> bytes = FileBytes::Open(path, std::move(file), *budget);
  auto doc = std::make_shared<Document>(path, std::move(bytes), std::move(budget), /*repair=*/true, TraceSink{},
                                        identity ? &*identity : nullptr);
  if (doc->open(nullptr) == Document::OpenResult::NeedsPassword &&
      doc->open(shared::kHostPassword) == Document::OpenResult::NeedsPassword) {
    return nullptr;
  }
  return doc;
}

}  // namespace

PluginDocument::PluginDocument(std::shared_ptr<Document> doc, bool attached)
    : doc_(std::move(doc)), attached_(attached) {}

PluginDocument::~PluginDocument() = default;

std::unique_ptr<PluginDocument> PluginDocument::Open(const char* path, outside::FileSys& fileSys) noexcept {
  try {
    if (path == nullptr || *path == '\0') return nullptr;
    const std::string name(path);
    std::unique_ptr<outside::File> file;
    const int err = fileSys.open(name, &file);
    if (err == 0 && !file) return nullptr;
    if (std::shared_ptr<Document> doc = OpenDocuments::Find(err == 0 ? file->identity() : nullptr, name)) {
      return std::unique_ptr<PluginDocument>(new PluginDocument(std::move(doc), true));
    }
    if (err != 0) return nullptr;
    std::shared_ptr<Document> doc = Parse(name, std::move(file));
    if (!doc) return nullptr;
    return std::unique_ptr<PluginDocument>(new PluginDocument(std::move(doc), false));
  } catch (...) {
    return nullptr;
  }
}

bool PluginDocument::cropBoxInPoints(size_t index, double box[4]) noexcept {
  try {
    if (box == nullptr) return false;
    doc_->checkpoint();
    const bool reached = doc_->reachPage(index);
    doc_->checkpoint();
    if (!reached) return false;
    const PageTable& table = doc_->pageTable();
    if (index >= table.size()) return false;
    table.check(index);
    const Box& crop = table.cropBox(index);
    const double unit = table.userUnit(index);
    const double values[4] = {crop.llx * unit, crop.ury * unit, crop.urx * unit, crop.lly * unit};
    for (int i = 0; i < 4; ++i) {
      if (!std::isfinite(values[i])) return false;
      box[i] = values[i];
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace pdfparse::document
