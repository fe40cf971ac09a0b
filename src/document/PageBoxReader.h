// What a module that measures pages needs of a document, without libqpdf in
// sight: open by path, then each page's effective crop box in points.
//
// Opening attaches to the document the library has open on this thread for
// the same file (see OpenDocuments) and otherwise reads and parses the file
// the way the library does: regular files only, the repair ladder, the
// host's password after none, the inquiry's work budget and deadline when
// one is running on this thread. No call raises.
#ifndef PDFPARSE_DOCUMENT_PAGEBOXREADER_H_
#define PDFPARSE_DOCUMENT_PAGEBOXREADER_H_

#include <cstddef>
#include <memory>

#include "outside/filesys/FileSys.h"

namespace pdfparse::document {

class Document;

class PageBoxReader {
 public:
  // Null when the document cannot be opened. `fileSys` reads the file when
  // the library has no parse of it on this thread.
  static std::unique_ptr<PageBoxReader> Open(const char* path, outside::FileSys& fileSys) noexcept;
  ~PageBoxReader();
  PageBoxReader(const PageBoxReader&) = delete;
  PageBoxReader& operator=(const PageBoxReader&) = delete;

  // Whether the document is the library's own parse.
  bool attached() const noexcept { return attached_; }

  // Page `index`'s (0-based) crop box clipped to its media box, times its
  // /UserUnit, as left, top, right, bottom. False when there is no such
  // page, it cannot be read, or the work budget or deadline is spent.
  bool cropBoxInPoints(size_t index, double box[4]) noexcept;

 private:
  PageBoxReader(std::shared_ptr<Document> doc, bool attached);

  std::shared_ptr<Document> doc_;
  bool attached_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PAGEBOXREADER_H_
