#include "document/OpenFile.h"

#include <cstring>

#include "document/Error.h"

namespace pdfparse::document {

FileRead ReadFile(outside::FileSys& fileSys, const std::string& path, const Limits& limits) {
  std::unique_ptr<outside::File> file;
  const int err = fileSys.open(path, &file);
  if (err != 0) throw Error(ErrorCodeForErrno(err), "cannot open " + path + ": " + std::strerror(err));
  if (!file) throw Error(ErrorCode::kInternal, "cannot open " + path + ": the file system gave no file");
  FileRead read;
  if (const FileIdentity* id = file->identity()) read.identity = *id;
  read.budget = std::make_shared<WorkBudget>(file->size(), limits);
  read.bytes = FileBytes::Open(path, std::move(file), *read.budget);
  return read;
}

}  // namespace pdfparse::document
