#include "document/FileBytes.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "document/Error.h"
#include "document/WorkBudget.h"
#include "outside/filesys/MappingGuard.h"

namespace pdfparse::document {
namespace {

constexpr size_t kReadChunk = 1 << 20;

std::shared_ptr<Buffer> ReadWhole(const std::string& path, outside::File& file, uint64_t size, WorkBudget& budget) {
  budget.chargeMemory(size, "the file's bytes");
  auto bytes = std::make_shared<Buffer>(static_cast<size_t>(size));
  unsigned char* data = bytes->getBuffer();
  uint64_t offset = 0;
  while (offset < size) {
    budget.checkDeadline();
    size_t want = static_cast<size_t>(std::min<uint64_t>(size - offset, kReadChunk));
    int64_t got = file.readAt(offset, data + offset, want);
    if (got < 0) {
      const int err = static_cast<int>(-got);
      throw Error(ErrorCode::kFileRead,
                  "cannot read " + path + " at offset " + std::to_string(offset) + ": " + std::strerror(err));
    }
    if (got == 0) {
      throw Error(ErrorCode::kFileRead, "cannot read " + path + ": it ended after " + std::to_string(offset) + " of " +
                                            std::to_string(size) + " bytes");
    }
    if (static_cast<uint64_t>(got) > want) {
      throw Error(ErrorCode::kFileRead, "cannot read " + path + ": the file system returned more than asked");
    }
    offset += static_cast<uint64_t>(got);
  }
  return bytes;
}

}  // namespace

std::shared_ptr<FileBytes> FileBytes::Open(const std::string& path, std::unique_ptr<outside::File> file,
                                           WorkBudget& budget) {
  const uint64_t size = file->size();
  if (size > kMaxFileBytes) {
    throw Error(ErrorCode::kFileTooLarge, path + " has " + std::to_string(size) + " bytes, more than " +
                                              std::to_string(kMaxFileBytes) + " allowed");
  }
  std::shared_ptr<FileBytes> bytes(new FileBytes());
  if (std::unique_ptr<outside::Mapping> mapping = file->map(); mapping && mapping->size() == size) {
    auto guard = std::make_unique<outside::MappingGuard>(mapping->data(), mapping->size());
    if (guard->active()) {
      bytes->data_ = mapping->data();
      bytes->size_ = mapping->size();
      bytes->guard_ = std::move(guard);
      bytes->mapping_ = std::move(mapping);
    }
  }
  if (!bytes->mapping_) {
    bytes->copy_ = ReadWhole(path, *file, size, budget);
    bytes->data_ = bytes->copy_->getBuffer();
    bytes->size_ = bytes->copy_->getSize();
  }
  bytes->file_ = std::move(file);
  bytes->verify(path);
  return bytes;
}

FileBytes::FileBytes(std::shared_ptr<Buffer> bytes) : copy_(std::move(bytes)) {
  data_ = copy_->getBuffer();
  size_ = copy_->getSize();
}

FileBytes::~FileBytes() = default;

bool FileBytes::damaged() const { return guard_ && guard_->damaged(); }

void FileBytes::verify(const std::string& path) const {
  if (damaged()) {
    throw Error(ErrorCode::kFileRead, "cannot read " + path + ": the file was cut short while it was read");
  }
  if (file_ && !file_->unchanged()) {
    throw Error(ErrorCode::kFileRead, "cannot read " + path + ": the file changed while it was read");
  }
}

void FileBytes::release() {
  if (mapping_) mapping_->release();
}

}  // namespace pdfparse::document
