// A started libqpdf engine of the test's own, a temporary directory and a
// recording trace sink on trace A. Documents still open at the end must be
// closed by the engine's stop.
#ifndef PDFPARSE_TESTS_SUPPORT_ENGINEFIXTURE_H_
#define PDFPARSE_TESTS_SUPPORT_ENGINEFIXTURE_H_

#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/pdfl/DocumentEngine.h"
#include "outside/trace/LibraryTraces.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {

using ::testing::HasSubstr;
using namespace pdfbuilder;
namespace err = pdfl::err;

// The code of the PdflException that `body` raised (0 when none).
template <class Body>
ASErrorCode ErrorOf(Body&& body, std::string* message = nullptr) {
  try {
    body();
  } catch (const pdfl::PdflException& e) {
    if (message) *message = e.message();
    return e.code();
  }
  return 0;
}

class EngineTest : public ::testing::Test {
 protected:
  struct Auth {  // what the authorisation callback saw
    pdfl::DocumentEngine* engine;
    std::string password;
    int calls = 0, perms = -1;
  };
  void SetUp() override {
    previousSink_ = outside::g_traceA.SetSink(sink_);
    PDFLDataRec record{};
    record.size = sizeof record;
    ASSERT_EQ(engine_.PDFLInit(&record), 0);
  }
  void TearDown() override {
    engine_.PDFLTerm();  // closes what a test left open
    EXPECT_EQ(engine_.openDocuments() + engine_.acquiredPages(), 0u);
    outside::g_traceA.SetSink(previousSink_);
  }
  // Opens `path`; with a password the authorisation callback tries it.
  PDDoc open(const std::string& path, const char* password = nullptr) {
    ASFileSys fs = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
    ASPathName name = engine_.ASFileSysCreatePathName(fs, engine_.ASAtomFromString("Cstring"), path.c_str(), nullptr);
    auth_ = {&engine_, password ? password : ""};
    auto callback = [](PDDoc doc, void* data) -> ASBool {
      auto* auth = static_cast<Auth*>(data);
      ++auth->calls;
      auth->perms = auth->engine->PDDocAuthorize(doc, pdPermOpen, auth->password.data());
      return (auth->perms & pdPermOpen) ? 1 : 0;
    };
    std::shared_ptr<void> release(nullptr, [&](void*) { engine_.ASFileSysReleasePathName(fs, name); });
    return engine_.PDDocOpenEx(name, fs, password ? +callback : nullptr, &auth_, 1);  // the host always repairs
  }
  ASErrorCode openError(const std::string& path, const char* password = nullptr, std::string* message = nullptr) {
    return ErrorOf([&] { engine_.PDDocClose(open(path, password)); }, message);
  }
  std::string write(const std::string& name, const std::string& bytes) { return dir_.write(name, bytes); }
  size_t traced(const std::string& part) const {
    auto lines = sink_->lines();
    return std::count_if(lines.begin(), lines.end(), [&](auto& line) { return line.find(part) != std::string::npos; });
  }
  std::string info(PDDoc doc, const char* key) {
    std::string buffer(static_cast<size_t>(engine_.PDDocGetInfo(doc, key, nullptr, 0)) + 1, '\0');
    ASInt32 copied = engine_.PDDocGetInfo(doc, key, buffer.data(), static_cast<ASInt32>(buffer.size()));
    return buffer.substr(0, static_cast<size_t>(copied));
  }
  std::vector<double> box(PDDoc doc, int index, bool crop) {
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    ASFixedRect r{};
    crop ? engine_.PDPageGetCropBox(page, &r) : engine_.PDPageGetMediaBox(page, &r);
    engine_.PDPageRelease(page);
    return {r.left / 65536.0, r.top / 65536.0, r.right / 65536.0, r.bottom / 65536.0};
  }
  struct Inks {  // (name, process) pairs until `stopAfter` were seen, and their atoms
    pdfl::DocumentEngine* engine;
    size_t stopAfter;
    std::vector<std::pair<std::string, int>> inks{};
    std::vector<ASAtom> atoms{};
  };
  Inks inks(PDDoc doc, int index, size_t stopAfter = 99) {
    Inks seen{&engine_, stopAfter};
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    engine_.PDPageEnumInksEx(
        page,
        [](PDPageInk ink, void* data) -> ASBool {
          auto* seen = static_cast<Inks*>(data);
          EXPECT_EQ(ink->size, sizeof(PDPageInkRec));
          EXPECT_EQ(ink->whetherToPrint, 1);
          seen->inks.emplace_back(seen->engine->ASAtomGetString(ink->colorantName), ink->isProcessColor);
          seen->atoms.push_back(ink->colorantName);
          return seen->inks.size() < seen->stopAfter;
        },
        &seen, 0, ASAtomNull);
    engine_.PDPageRelease(page);
    return seen;
  }
  int rotation(PDDoc doc, int index) {
    PDPage page = engine_.PDDocAcquirePage(doc, index);
    int r = engine_.PDPageGetRotate(page);
    engine_.PDPageRelease(page);
    return r;
  }

  pdfl::DocumentEngine engine_;
  TempDir dir_;
  std::shared_ptr<outside::RecordingSink> sink_ = std::make_shared<outside::RecordingSink>();
  Auth auth_{&engine_, ""};

 private:
  std::shared_ptr<outside::TraceSink> previousSink_;
};

}  // namespace pdfparse::test

#endif  // PDFPARSE_TESTS_SUPPORT_ENGINEFIXTURE_H_
