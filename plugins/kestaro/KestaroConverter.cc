// The converter plug-in: measures page boxes of a PDF opened by path, over
// libqpdf and the shared page-tree and box code. Its only export is the
// creation entry CreatePDFConverterNoRip. No exception leaves an entry point
// and nothing is written to stdout or stderr: every failure is a 0 result.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/Constants.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "outside/converter/CPdfConverterIf.h"
#include "outside/pdfl/core/PageBoxes.h"
#include "outside/pdfl/core/PageTree.h"

namespace {

// The host's fixed password, tried when the document does not open without one.
constexpr const char* kHostPassword = "marble";

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Opens `path` read-only if it names a regular file. O_NONBLOCK keeps a FIFO
// or device from blocking the open; the check is made on the opened
// descriptor, so the file read is the file checked.
File OpenRegularFile(const char* path) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return File(f);
}

std::shared_ptr<QPDFLogger> SilentLogger() {
  auto logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

// Finite values only: a box beyond float range is clamped, not converted
// (an out-of-range conversion is undefined).
float ToFloat(double v) {
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(v);
}

class KestaroConverter final : public CPdfConverterIf {
 public:
  KestaroConverter() = default;
  ~KestaroConverter() override {
    try {
      doc_.reset();
    } catch (...) {
    }
  }

  int32_t endJob() override {
    try {
      if (!inJob_) return 0;
      doc_.reset();
      inJob_ = false;
      return 1;
    } catch (...) {
      doc_ = nullptr;
      inJob_ = false;
      return 0;
    }
  }

  int32_t beginJob(int32_t /*flags*/) override {
    if (!initialised_ || inJob_) return 0;
    inJob_ = true;
    return 1;
  }

  int32_t closeDocument(int32_t /*failed*/) override {
    try {
      if (!doc_) return 0;
      doc_.reset();
      return 1;
    } catch (...) {
      return 0;
    }
  }

  int32_t initConverter(const ConverterInitRec* rec, int32_t /*flags*/) override {
    if (inJob_) return 0;
    initialised_ = rec != nullptr && rec->version == 1 && rec->mode == 1 && rec->units == 1 &&
                   rec->pages == 1 && rec->options == 0;
    return initialised_ ? 1 : 0;
  }

  int32_t openDocument(const char* path, const char* /*name*/) override {
    try {
      if (!inJob_ || doc_ || path == nullptr || *path == '\0') return 0;
      auto doc = std::make_unique<Document>();
      doc->file = OpenRegularFile(path);
      if (!doc->file) return 0;
      doc->pdf = Open(path, doc->file.get(), nullptr);
      if (!doc->pdf) {
        if (!needsPassword_) return 0;
        doc->pdf = Open(path, doc->file.get(), kHostPassword);
        if (!doc->pdf) return 0;
      }
      doc->tree = std::make_unique<pdfcore::PageTree>(*doc->pdf);
      doc_ = std::move(doc);
      return 1;
    } catch (...) {
      return 0;
    }
  }

  int32_t selectPage(int32_t index) override {
    try {
      if (!doc_) return 0;
      doc_->page = QPDFObjectHandle();
      if (index < 0) return 0;
      QPDFObjectHandle page = doc_->tree->page(static_cast<size_t>(index));
      doc_->pdf->getWarnings();  // collected warnings would only grow
      if (!page.isDictionary()) return 0;
      doc_->page = page;
      return 1;
    } catch (...) {
      return 0;
    }
  }

  int32_t getPageBox(float box[4]) override {
    try {
      if (!doc_ || box == nullptr || !doc_->page.isInitialized() || doc_->page.isNull()) return 0;
      const pdfcore::Box crop = pdfcore::CropBox(doc_->page);
      const double unit = pdfcore::UserUnit(doc_->page);
      doc_->pdf->getWarnings();
      const double values[4] = {crop.llx * unit, crop.ury * unit, crop.urx * unit, crop.lly * unit};
      for (double v : values) {
        if (std::isnan(v)) return 0;
      }
      for (int i = 0; i < 4; ++i) box[i] = ToFloat(values[i]);
      return 1;
    } catch (...) {
      return 0;
    }
  }

 private:
  // Members in destruction order reversed: the page handle and tree go
  // before the QPDF that owns their objects, the QPDF before its file.
  struct Document {
    File file;
    std::unique_ptr<QPDF> pdf;
    std::unique_ptr<pdfcore::PageTree> tree;
    QPDFObjectHandle page;
  };

  // One attempt to parse the open file; null on failure. Records whether the
  // failure was a password refusal.
  std::unique_ptr<QPDF> Open(const char* path, FILE* file, const char* password) {
    needsPassword_ = false;
    auto pdf = std::make_unique<QPDF>();
    pdf->setLogger(SilentLogger());
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(true);
    try {
      if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
      pdf->processFile(path, file, false, password);
      pdf->getWarnings();
      return pdf;
    } catch (const QPDFExc& e) {
      needsPassword_ = e.getErrorCode() == qpdf_e_password;
    } catch (...) {
    }
    return nullptr;
  }

  bool initialised_ = false;
  bool inJob_ = false;
  bool needsPassword_ = false;
  std::unique_ptr<Document> doc_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) CPdfConverterIf* CreatePDFConverterNoRip(long /*options*/) {
  try {
    return new (std::nothrow) KestaroConverter();
  } catch (...) {
    return nullptr;
  }
}
