// The real file system: regular files, read with pread.
#include <atomic>
#include <cerrno>

#include "outside/filesys/CPdfFileSysIf.h"

namespace pdfparse::outside {
namespace {

class PosixFile : public File {
 public:
  explicit PosixFile(std::unique_ptr<document::RegularFile> file) : file_(std::move(file)) {}

  uint64_t size() const override { return file_->size(); }
  int64_t readAt(uint64_t offset, void* buffer, size_t n) override { return file_->readAt(offset, buffer, n); }
  const document::FileIdentity* identity() const override { return &file_->identity(); }

 private:
  std::unique_ptr<document::RegularFile> file_;
};

class PosixFileSys : public FileSys {
 public:
  int open(const std::string& path, std::unique_ptr<File>* out) override {
    if (out == nullptr) return EINVAL;
    out->reset();
    std::unique_ptr<document::RegularFile> file;
    if (int err = document::RegularFile::Open(path, &file)) return err;
    *out = std::make_unique<PosixFile>(std::move(file));
    return 0;
  }
};

std::atomic<FileSys*> g_current{nullptr};
std::atomic<bool> g_poolIgnored{false};

}  // namespace

FileSys* DefaultFileSys() {
  // Destroyed when the library is unloaded, so a host that unloads it leaks nothing.
  static PosixFileSys fileSys;
  return &fileSys;
}

FileSys* SetFileSysForTesting(FileSys* fileSys) {
  FileSys* previous = g_current.exchange(fileSys);
  return previous != nullptr ? previous : DefaultFileSys();
}

}  // namespace pdfparse::outside

ASFileSys CPdfFileSysIf::Create(EModePdf /*mode*/) {
  // Every mode reads; documents are never written.
  pdfparse::outside::FileSys* fileSys = pdfparse::outside::g_current.load();
  if (fileSys == nullptr) fileSys = pdfparse::outside::DefaultFileSys();
  return reinterpret_cast<ASFileSys>(fileSys);
}

void CPdfFileSysIf::IgnorePool(bool ignore) { pdfparse::outside::g_poolIgnored.store(ignore); }

bool CPdfFileSysIf::PoolIgnored() { return pdfparse::outside::g_poolIgnored.load(); }
