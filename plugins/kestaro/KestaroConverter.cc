// The converter plug-in: measures page boxes of a PDF opened by path,
// through the document engine (PluginDocument), which reads the library's own
// parse of the file when the library has it open. Its only export is the
// creation entry CreatePDFConverterNoRip. No exception leaves an entry point
// and nothing is written to stdout or stderr: every failure is a 0 result.
#include <cfloat>
#include <cstdint>
#include <memory>
#include <new>

#include "document/PluginDocument.h"
#include "outside/converter/CPdfConverterIf.h"

namespace {

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
    initialised_ = rec != nullptr && rec->version == 1 && rec->mode == 1 && rec->units == 1 && rec->pages == 1 &&
                   rec->options == 0;
    return initialised_ ? 1 : 0;
  }

  int32_t openDocument(const char* path, const char* /*name*/) override {
    if (!inJob_ || doc_ || path == nullptr || *path == '\0') return 0;
    doc_ = pdfparse::document::PluginDocument::Open(path, *pdfparse::outside::DefaultFileSys());
    selected_ = kNone;
    return doc_ ? 1 : 0;
  }

  int32_t selectPage(int32_t index) override {
    if (!doc_) return 0;
    selected_ = kNone;
    double box[4];
    if (index < 0 || !doc_->cropBoxInPoints(static_cast<size_t>(index), box)) return 0;
    for (int i = 0; i < 4; ++i) selectedBox_[i] = ToFloat(box[i]);
    selected_ = static_cast<size_t>(index);
    return 1;
  }

  int32_t getPageBox(float box[4]) override {
    if (!doc_ || box == nullptr || selected_ == kNone) return 0;
    for (int i = 0; i < 4; ++i) box[i] = selectedBox_[i];
    return 1;
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;

  bool initialised_ = false;
  bool inJob_ = false;
  std::unique_ptr<pdfparse::document::PluginDocument> doc_;
  size_t selected_ = kNone;
  float selectedBox_[4] = {0, 0, 0, 0};  // of the selected page: left, top, right, bottom
};

}  // namespace

extern "C" __attribute__((visibility("default"))) CPdfConverterIf* CreatePDFConverterNoRip(long /*options*/) {
  try {
    return new (std::nothrow) KestaroConverter();
  } catch (...) {
    return nullptr;
  }
}
