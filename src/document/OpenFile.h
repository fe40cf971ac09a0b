// Opening a file for a document: the one place where a path becomes the
// bytes a Document reads and the budget that bounds it, for the PDF library
// calls and the document API alike.
#ifndef PDFPARSE_DOCUMENT_OPENFILE_H_
#define PDFPARSE_DOCUMENT_OPENFILE_H_

#include <memory>
#include <optional>
#include <string>

#include "document/FileBytes.h"
#include "document/WorkBudget.h"

namespace pdfparse::document {

struct FileRead {
  std::shared_ptr<FileBytes> bytes;
  std::shared_ptr<WorkBudget> budget;  // of `limits`, charged with the bytes
  std::optional<FileIdentity> identity;
};

// Opens `path` through `fileSys` for reading. Raises Error: the open's
// errno as its code (ErrorCodeForErrno), or what FileBytes::Open raises.
FileRead ReadFile(outside::FileSys& fileSys, const std::string& path, const Limits& limits);

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_OPENFILE_H_
