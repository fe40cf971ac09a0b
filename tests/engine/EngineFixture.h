// A started libqpdf engine of the test's own, a temporary directory and a
// recording trace sink on trace A.
#ifndef PDFPARSE_TESTS_ENGINE_ENGINEFIXTURE_H_
#define PDFPARSE_TESTS_ENGINE_ENGINEFIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outside/filesys/CPdfFileSysIf.h"
#include "outside/pdfl/qpdf/QpdfEngine.h"
#include "outside/trace/LibraryTraces.h"
#include "support/PdfBuilder.h"

namespace enginetest {

struct AuthScript {
  pdfl_qpdf::QpdfEngine* engine = nullptr;
  std::string password;
  bool answer = true;  // false: refuse without trying
  int calls = 0;
  ASInt32 perms = -1;
};

// The authorisation callback: tries the scripted password, grants what
// PDDocAuthorize grants.
ASBool ScriptedAuth(PDDoc doc, void* clientData);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens `path` through the current file system; raises as the engine does.
  PDDoc open(const std::string& path, bool repair = true, AuthScript* auth = nullptr);
  // The error code an open raises; 0 when it opened (then it is closed).
  ASErrorCode openError(const std::string& path, bool repair = true, AuthScript* auth = nullptr,
                        std::string* message = nullptr);
  // Page count of the file; raises as the engine does.
  int pageCount(const std::string& path, bool repair = true);
  // Writes `bytes` into the temporary directory.
  std::string write(const std::string& name, const std::string& bytes) { return dir_.write(name, bytes); }

  std::vector<std::string> traceLines() const { return sink_->lines(); }
  // Trace lines that contain `part`.
  std::vector<std::string> linesWith(const std::string& part) const;

  pdfl_qpdf::QpdfEngine engine_;
  pdftest::TempDir dir_;
  std::shared_ptr<outside::RecordingSink> sink_ = std::make_shared<outside::RecordingSink>();

 private:
  std::shared_ptr<outside::TraceSink> previousSink_;
};

// Runs `body` and returns the code of the PdflException it raised (0 when
// none).
template <class Body>
ASErrorCode ErrorOf(Body&& body, std::string* message = nullptr) {
  try {
    body();
  } catch (const PdflException& e) {
    if (message) *message = e.message();
    return e.code();
  }
  return 0;
}

}  // namespace enginetest

#endif  // PDFPARSE_TESTS_ENGINE_ENGINEFIXTURE_H_
