#include "document/FileBytes.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "document/Error.h"
#include "document/WorkBudget.h"

namespace pdfparse::document {
namespace {

constexpr size_t kReadChunk = 1 << 20;

}  // namespace

std::shared_ptr<Buffer> ReadWhole(const std::string& path, outside::File& file, WorkBudget& budget) {
  const uint64_t size = file.size();
  if (size > kMaxFileBytes) {
    throw Error(ErrorCode::kFileTooLarge, path + " has " + std::to_string(size) + " bytes, more than " +
                                              std::to_string(kMaxFileBytes) + " allowed");
  }
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

}  // namespace pdfparse::document
