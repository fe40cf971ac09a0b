// The converter plug-in: measures page boxes of a PDF opened by path, over
// libqpdf and the shared page-tree and box code. Its only export is the
// creation entry CreatePDFConverterNoRip. No exception leaves an entry point
// and nothing is written to stdout or stderr: every failure is a 0 result.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Constants.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "outside/converter/CPdfConverterIf.h"
#include "outside/pdfl/core/SilentLogger.h"
#include "outside/pdfl/core/PageBoxes.h"
#include "outside/pdfl/core/PageTree.h"

namespace {

// The host's fixed password, tried when the document does not open without one.
constexpr const char* kHostPassword = "marble";

// Documents larger than this are refused: the whole file is kept in memory
// while it is open.
constexpr uint64_t kMaxFileBytes = 2ull << 30;

// The whole of `path` when it names a regular file; null otherwise or when
// it cannot be read in full. O_NONBLOCK keeps a FIFO or device from blocking
// the open; the check is made on the opened descriptor, so the file read is
// the file checked. Reading it at once and parsing from memory is several
// times faster than libqpdf's stdio input, which seeks for every object.
std::shared_ptr<Buffer> ReadRegularFile(const char* path) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
    return nullptr;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  auto bytes = std::make_shared<Buffer>(size);
  unsigned char* data = bytes->getBuffer();
  size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return nullptr;  // an error, or the file shrank meanwhile
    done += static_cast<size_t>(got);
  }
  return bytes;
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
      doc->bytes = ReadRegularFile(path);
      if (!doc->bytes) return 0;
      doc->pdf = Open(path, doc->bytes, nullptr);
      if (!doc->pdf) {
        if (!needsPassword_) return 0;
        doc->pdf = Open(path, doc->bytes, kHostPassword);
        if (!doc->pdf) return 0;
      }
      Document* d = doc.get();
      // Each page's box is measured as the walk finds it; libqpdf then drops
      // the page dictionary, so memory stays small for many pages.
      doc->tree = std::make_unique<pdfcore::PageTree>(
          *doc->pdf, pdfcore::Diagnostics{}, pdfcore::Checkpoint{},
          [d](size_t index, size_t sameAs, QPDFObjectHandle& page) { d->measure(index, sameAs, page); });
      doc_ = std::move(doc);
      return 1;
    } catch (...) {
      return 0;
    }
  }

  int32_t selectPage(int32_t index) override {
    try {
      if (!doc_) return 0;
      doc_->selected = kNone;
      if (index < 0) return 0;
      const bool found = doc_->tree->reach(static_cast<size_t>(index));
      doc_->pdf->getWarnings();  // collected warnings would only grow
      if (!found || static_cast<size_t>(index) >= doc_->boxes.size()) return 0;
      doc_->selected = static_cast<size_t>(index);
      return 1;
    } catch (...) {
      return 0;
    }
  }

  int32_t getPageBox(float box[4]) override {
    try {
      if (!doc_ || box == nullptr || doc_->selected == kNone) return 0;
      const Measured& measured = doc_->boxes[doc_->selected];
      if (!measured.ok) return 0;
      for (int i = 0; i < 4; ++i) box[i] = measured.box[i];
      return 1;
    } catch (...) {
      return 0;
    }
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;

  // A page's box in points (left, top, right, bottom), or none.
  struct Measured {
    float box[4] = {0, 0, 0, 0};
    bool ok = false;
  };

  // Members in destruction order reversed: the tree goes before the QPDF
  // that owns its objects, the QPDF before the bytes its input reads.
  struct Document {
    std::shared_ptr<Buffer> bytes;
    std::unique_ptr<QPDF> pdf;
    pdfcore::Inheritance inheritance;
    std::unique_ptr<pdfcore::PageTree> tree;
    std::vector<Measured> boxes;  // by page index, as the walk finds them
    size_t selected = kNone;

    // The effective crop box in user-unit-scaled points.
    void measure(size_t index, size_t sameAs, QPDFObjectHandle& page) {
      if (sameAs != index) {
        Measured copy = boxes.at(sameAs);
        boxes.push_back(copy);
        return;
      }
      Measured m;
      try {
        pdfcore::InheritedAttributes inherited = inheritance.of(page);
        const pdfcore::Box media = pdfcore::MediaBoxFrom(page, inherited.mediaBox);
        const pdfcore::Box crop = pdfcore::CropBoxFrom(page, media, inherited.cropBox);
        const double unit = pdfcore::UserUnit(page);
        const double values[4] = {crop.llx * unit, crop.ury * unit, crop.urx * unit, crop.lly * unit};
        m.ok = true;
        for (int i = 0; i < 4; ++i) {
          if (std::isnan(values[i])) m.ok = false;
          m.box[i] = ToFloat(values[i]);
        }
      } catch (...) {
        m.ok = false;  // this page cannot be measured; the others can
      }
      boxes.push_back(m);
    }
  };

  // One attempt to parse the open file; null on failure. Records whether the
  // failure was a password refusal.
  std::unique_ptr<QPDF> Open(const char* path, const std::shared_ptr<Buffer>& bytes, const char* password) {
    needsPassword_ = false;
    auto pdf = std::make_unique<QPDF>();
    pdf->setLogger(pdfcore::SilentLogger());
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(true);
    try {
      pdf->processInputSource(std::make_shared<BufferInputSource>(path, bytes.get(), false), password);
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
