// A document as the converter plug-in sees it, without libqpdf in sight:
// opened by path, then each page's effective crop box in points.
//
// Opening attaches to the document the library has open on this thread for
// the same file (see OpenDocuments) and otherwise reads and parses the file
// the way the library does: regular files only, the repair ladder, the
// host's password after none, the inquiry's work budget and deadline when
// one is running on this thread. No call raises.
#ifndef PDFPARSE_DOCUMENT_PLUGINDOCUMENT_H_
#define PDFPARSE_DOCUMENT_PLUGINDOCUMENT_H_

#include <cstddef>
#include <memory>

#include "outside/filesys/FileSys.h"

namespace pdfparse::document {

class Document;

class PluginDocument {
 public:
  // Null when the document cannot be opened. `fileSys` reads the file when
  // the library has no parse of it on this thread.
  static std::unique_ptr<PluginDocument> Open(const char* path, outside::FileSys& fileSys) noexcept;
  ~PluginDocument();
  PluginDocument(const PluginDocument&) = delete;
  PluginDocument& operator=(const PluginDocument&) = delete;

  // Whether the document is the library's own parse.
  bool attached() const noexcept { return attached_; }

  // Page `index`'s (0-based) crop box clipped to its media box, times its
  // /UserUnit, as left, top, right, bottom. False when there is no such
  // page, it cannot be read, or the work budget or deadline is spent.
  bool cropBoxInPoints(size_t index, double box[4]) noexcept;

 private:
  PluginDocument(std::shared_ptr<Document> doc, bool attached);

  std::shared_ptr<Document> doc_;
  bool attached_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PLUGINDOCUMENT_H_
