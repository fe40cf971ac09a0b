// A document's bytes: the whole file read through the file system seam into
// one buffer, with the deadline checked between chunks.
#ifndef PDFPARSE_DOCUMENT_FILEBYTES_H_
#define PDFPARSE_DOCUMENT_FILEBYTES_H_

#include <memory>
#include <string>

#include "outside/filesys/FileSys.h"
#include "shared/Constants.h"

class Buffer;

namespace pdfparse::document {

class WorkBudget;

// Documents larger than this are refused (shared/Constants.h).
using shared::kMaxFileBytes;

using outside::FileIdentity;

// Reads all of `file` (named `path` in messages) into one buffer, charged
// to `budget`. Raises Error: kFileTooLarge, kFileRead (a failed or short
// read), or the budget's limits.
std::shared_ptr<Buffer> ReadWhole(const std::string& path, outside::File& file, WorkBudget& budget);

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_FILEBYTES_H_
