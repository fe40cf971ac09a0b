#include "document/OpenDocuments.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "document/Document.h"

namespace pdfparse::document {
namespace {

struct Entry {
  const Document* raw;
  std::weak_ptr<Document> doc;
  std::thread::id thread;
  std::string path;
};

// A handful of entries at most (one per inquiry in progress): a vector.
struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void OpenDocuments::Add(const std::shared_ptr<Document>& doc, const std::string& path) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.entries.push_back(Entry{doc.get(), doc, std::this_thread::get_id(), path});
}

void OpenDocuments::Remove(const Document* doc) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.entries.erase(std::remove_if(r.entries.begin(), r.entries.end(), [doc](const Entry& e) { return e.raw == doc; }),
                  r.entries.end());
}

std::shared_ptr<Document> OpenDocuments::Find(const FileIdentity* identity, const std::string& path, bool* sameFile) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const std::thread::id self = std::this_thread::get_id();
  std::shared_ptr<Document> byPath;
  // The latest first: a document registered again under the same name wins.
  for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
    if (it->thread != self) continue;
    std::shared_ptr<Document> doc = it->doc.lock();
    if (!doc) continue;
    if (identity != nullptr && doc->identity() != nullptr && *doc->identity() == *identity) {
      if (sameFile) *sameFile = true;
      return doc;
    }
    if (!byPath && it->path == path) byPath = std::move(doc);
  }
  if (sameFile) *sameFile = false;
  return byPath;
}

std::shared_ptr<WorkBudget> OpenDocuments::CurrentBudget() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const std::thread::id self = std::this_thread::get_id();
  for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
    if (it->thread != self) continue;
    if (std::shared_ptr<Document> doc = it->doc.lock()) return doc->sharedBudget();
  }
  return nullptr;
}

size_t OpenDocuments::CountForTesting() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.entries.size();
}

}  // namespace pdfparse::document
