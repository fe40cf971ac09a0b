// libFuzzer target: a level-1 inquiry through the libqpdf engine on
// arbitrary bytes. The bytes are served by a file system that holds them in
// memory; the engine opens them (with repair, answering a password request
// with the host's password), counts the pages, reads the first page's
// rotation and the Producer entry, and closes.
//
// Any exception other than the library's own, and any document or page the
// engine still holds afterwards, is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/pdfl/qpdf/QpdfEngine.h"
#include "outside/trace/LibraryTraces.h"

namespace {

class MemoryFileSys : public outside::FileSys {
 public:
  const uint8_t* data = nullptr;
  size_t size = 0;

  int open(const std::string&, std::unique_ptr<outside::File>* out) override {
    *out = std::make_unique<MemoryFile>(data, size);
    return 0;
  }

 private:
  class MemoryFile : public outside::File {
   public:
    MemoryFile(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t size() const override { return size_; }
    int64_t readAt(uint64_t offset, void* buffer, size_t n) override {
      if (offset >= size_) return 0;
      size_t take = std::min<uint64_t>(n, size_ - offset);
      std::memcpy(buffer, data_ + offset, take);
      return static_cast<int64_t>(take);
    }

   private:
    const uint8_t* data_;
    size_t size_;
  };
};

struct Harness {
  pdfl_qpdf::QpdfEngine engine;
  MemoryFileSys fileSys;
  ASAtom cstring = ASAtomNull;

  Harness() {
    // Deadlines short enough that a stuck input shows up as a slow unit,
    // long enough never to cut a normal one.
    setenv("PDFPARSE_TIMEOUT_MS", "5000", 0);
    outside::g_traceA.SetSink(nullptr);
    outside::SetFileSysForTesting(&fileSys);
    PDFLDataRec record{};
    record.size = sizeof record;
    record.flags = 1;
    if (engine.PDFLInit(&record) != 0) std::abort();
    cstring = engine.ASAtomFromString("Cstring");
  }
};

ASBool Authorize(PDDoc doc, void* clientData) {
  auto* engine = static_cast<pdfl_qpdf::QpdfEngine*>(clientData);
  try {
    return (engine->PDDocAuthorize(doc, pdPermOpen, const_cast<char*>("marble")) & pdPermOpen) ? 1 : 0;
  } catch (const PdflException&) {
    return 0;
  }
}

void Inquire(Harness& h) {
  ASFileSys fs = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
  ASPathName path = h.engine.ASFileSysCreatePathName(fs, h.cstring, "fuzz.pdf", nullptr);
  PDDoc doc = nullptr;
  try {
    doc = h.engine.PDDocOpenEx(path, fs, Authorize, &h.engine, 1);
  } catch (const PdflException&) {
  }
  h.engine.ASFileSysReleasePathName(fs, path);
  if (doc == nullptr) return;
  try {
    ASInt32 pages = h.engine.PDDocGetNumPages(doc);
    if (pages > 0) {
      PDPage page = h.engine.PDDocAcquirePage(doc, 0);
      try {
        h.engine.PDPageGetRotate(page);
      } catch (const PdflException&) {
      }
      h.engine.PDPageRelease(page);
    }
  } catch (const PdflException&) {
  }
  try {
    ASInt32 length = h.engine.PDDocGetInfo(doc, "Producer", nullptr, 0);
    if (length > 0) {
      std::string buffer(static_cast<size_t>(length) + 2, '\0');
      h.engine.PDDocGetInfo(doc, "Producer", buffer.data(), length + 1);
      if (buffer[static_cast<size_t>(length) + 1] != '\0') std::abort();  // wrote past the size given
    }
  } catch (const PdflException&) {
  }
  h.engine.PDDocClose(doc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();
  harness->fileSys.data = data;
  harness->fileSys.size = size;
  Inquire(*harness);
  if (harness->engine.openDocuments() != 0 || harness->engine.acquiredPages() != 0) std::abort();
  return 0;
}
