// The document object's test bench: the scripted engine, the scripted
// converter behind the test plug-in libKestaro.so, a recording platform, and
// one recording sink on both trace objects (so the parser's lines and the
// document object's come in one order).
#ifndef PDFPARSE_TESTS_PDFOBJECT_FIXTURE_H_
#define PDFPARSE_TESTS_PDFOBJECT_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "outside/pdfl/Pdfl.h"
#include "outside/trace/LibraryTraces.h"
#include "pdfobject/CPdfObject.h"
#include "support/RecordingPlatform.h"
#include "support/ScriptedConverter.h"
#include "support/ScriptedEngine.h"

namespace pdfparse::test {

using namespace test;
using Lines = std::vector<std::string>;
using Box = ConverterScript::Box;

inline std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Fmt(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The line of a caught library exception.
inline std::string ErrorLine(const char* label, ASErrorCode code, const std::string& message) {
  return Fmt("%s failed Error code: %ld, Error Message: %s", label, static_cast<long>(code), message.c_str());
}

class PdfObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousScript_ = InstallConverterScript(script_);
    previousA_ = outside::g_traceA.SetSink(sink_);
    previousB_ = outside::g_traceB.SetSink(sink_);
    platform_.env["DRAVIK"] = "/srv/dravik";
    platform_.env["PDFPARSE_PLUGIN_DIR"] = std::string(PDFPARSE_TEST_PLUGINS) + "/scripted";
    script_->boxes = {{0, 792, 612, 0}};
  }
  void TearDown() override {
    EXPECT_EQ(ACExceptionFrameDepth(), 0u) << "a frame stayed registered";
    EXPECT_EQ(engine_.held(ScriptedEngine::kPage), 0) << "a page was not released";
    InstallConverterScript(previousScript_);
    outside::g_traceA.SetSink(previousA_);
    outside::g_traceB.SetSink(previousB_);
  }

  Lines lines() const { return sink_->lines(); }
  // Forgets the lines, the engine's log and the converter's calls.
  void clear() {
    sink_->clear();
    engine_.reset();
    script_->calls.clear();
  }
  // A started object with `doc` open as `path` (when given); all cleared.
  std::unique_ptr<CPdfObject> opened(const std::string& path = "", ScriptedDoc doc = ScriptedDoc::WithPages(1)) {
    auto obj = std::make_unique<CPdfObject>();
    EXPECT_TRUE(obj->init());
    if (!path.empty()) {
      engine_.docs[path] = std::move(doc);
      EXPECT_TRUE(obj->openPdf(path.c_str()));
    }
    clear();
    return obj;
  }

  ScriptedEngine engine_;
  RecordingPlatform platform_;
  ScopedPlatform installedPlatform_{&platform_};
  std::shared_ptr<ConverterScript> script_ = std::make_shared<ConverterScript>(), previousScript_;
  std::shared_ptr<outside::RecordingSink> sink_ = std::make_shared<outside::RecordingSink>();
  std::shared_ptr<outside::TraceSink> previousA_, previousB_;
};

}  // namespace pdfparse::test

#endif  // PDFPARSE_TESTS_PDFOBJECT_FIXTURE_H_
