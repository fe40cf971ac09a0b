// What the fuzz targets share: the engine, started once, reading the fuzzer's
// bytes from memory under the name "fuzz.pdf", and opening them the way the
// library does (repair on, the host's password when one is asked for).
#ifndef PDFPARSE_FUZZ_FUZZHARNESS_H_
#define PDFPARSE_FUZZ_FUZZHARNESS_H_

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/pdfl/DocumentEngine.h"
#include "outside/trace/LibraryTraces.h"
#include "shared/Constants.h"

namespace pdfparse::fuzz {

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
  pdfl::DocumentEngine engine;
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

inline ASBool Authorize(PDDoc doc, void* clientData) {
  auto* engine = static_cast<pdfl::DocumentEngine*>(clientData);
  try {
    return (engine->PDDocAuthorize(doc, pdPermOpen, const_cast<char*>(shared::kHostPassword)) & pdPermOpen) ? 1 : 0;
  } catch (const pdfl::PdflException&) {
    return 0;
  }
}

// The document, or null when the engine refused it.
inline PDDoc OpenFuzzDocument(Harness& h) {
  ASFileSys fs = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
  ASPathName path = h.engine.ASFileSysCreatePathName(fs, h.cstring, "fuzz.pdf", nullptr);
  PDDoc doc = nullptr;
  try {
    doc = h.engine.PDDocOpenEx(path, fs, Authorize, &h.engine, 1);
  } catch (const pdfl::PdflException&) {
  }
  h.engine.ASFileSysReleasePathName(fs, path);
  return doc;
}

// Reads the Producer entry, checking that nothing is written past the size
// given; empty when there is none or it cannot be read.
inline std::string Producer(Harness& h, PDDoc doc) {
  try {
    ASInt32 length = h.engine.PDDocGetInfo(doc, "Producer", nullptr, 0);
    if (length <= 0) return std::string();
    std::string buffer(static_cast<size_t>(length) + 2, '\0');
    ASInt32 copied = h.engine.PDDocGetInfo(doc, "Producer", buffer.data(), length + 1);
    if (buffer[static_cast<size_t>(length) + 1] != '\0') std::abort();  // wrote past the size given
    return buffer.substr(0, static_cast<size_t>(copied));
  } catch (const pdfl::PdflException&) {
    return std::string();
  }
}

// Runs one input: `inquire` on the open document, then the close. Anything
// the engine still holds afterwards is a finding.
template <class Inquire>
int RunOne(const uint8_t* data, size_t size, Inquire&& inquire) {
  static Harness* harness = new Harness();
  harness->fileSys.data = data;
  harness->fileSys.size = size;
  if (PDDoc doc = OpenFuzzDocument(*harness)) {
    inquire(*harness, doc);
    harness->engine.PDDocClose(doc);
  }
  if (harness->engine.openDocuments() != 0 || harness->engine.acquiredPages() != 0) std::abort();
  return 0;
}

}  // namespace pdfparse::fuzz

#endif  // PDFPARSE_FUZZ_FUZZHARNESS_H_
