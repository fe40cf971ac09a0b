// The document object's test bench: the scripted engine, the scripted
// converter behind the test plug-in libKestaro.so, a recording platform,
// and one recording sink on both trace objects (so lines of the parser and
// of the document object come in one order).
#ifndef PDFPARSE_TESTS_PDFOBJECT_FIXTURE_H_
#define PDFPARSE_TESTS_PDFOBJECT_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "outside/framework/Framework.h"
#include "outside/trace/LibraryTraces.h"
#include "pdfobject/CPdfObject.h"
#include "support/RecordingPlatform.h"
#include "support/ScriptedConverter.h"
#include "support/ScriptedEngine.h"

namespace pdfobject_test {

using namespace testing_support;

using Lines = std::vector<std::string>;

inline std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Fmt(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

// The error line of a caught library exception.
inline std::string ErrorLine(const char* label, ASErrorCode code, const std::string& message) {
  return Fmt("%s failed Error code: %ld, Error Message: %s", label, static_cast<long>(code),
             message.c_str());
}

class PdfObjectTest : public ::testing::Test {
 protected:
  static constexpr const char* kPlugins = PDFPARSE_TEST_PLUGINS;

  void SetUp() override {
    previousA_ = outside::g_traceA.SetSink(sink_);
    previousB_ = outside::g_traceB.SetSink(sink_);
    platform_.setEnv("DRAVIK", "/srv/dravik");
    platform_.setEnv("PDFPARSE_PLUGIN_DIR", std::string(kPlugins) + "/scripted");
    script_->setBoxes({{0, 792, 612, 0}});
  }

  void TearDown() override {
    EXPECT_EQ(ACExceptionFrameDepth(), 0u) << "a frame stayed registered";
    EXPECT_EQ(engine_.pagesHeld(), 0) << "a page was not released";
    outside::FailFrameworkAllocationsForTesting(0, 0);
    outside::g_traceA.SetSink(previousA_);
    outside::g_traceB.SetSink(previousB_);
  }

  Lines lines() const { return sink_->lines(); }
  void clear() {
    sink_->clear();
    engine_.resetCounts();
    script_->clearCalls();
  }

  // An object whose library and converter are started; lines and counts
  // cleared.
  std::unique_ptr<CPdfObject> started() {
    auto obj = std::make_unique<CPdfObject>();
    EXPECT_TRUE(obj->init());
    clear();
    return obj;
  }

  // A started object with `doc` open as `path`; lines and counts cleared.
  std::unique_ptr<CPdfObject> opened(const std::string& path, ScriptedDoc doc) {
    engine_.addDocument(path, std::move(doc));
    auto obj = started();
    EXPECT_TRUE(obj->openPdf(path.c_str()));
    clear();
    return obj;
  }

  ScriptedEngine engine_;
  ScopedPdflEngine installedEngine_{&engine_};
  RecordingPlatform platform_;
  ScopedPlatform installedPlatform_{&platform_};
  std::shared_ptr<ConverterScript> script_ = std::make_shared<ConverterScript>();
  ScopedConverterScript installedScript_{script_};
  std::shared_ptr<outside::RecordingSink> sink_ = std::make_shared<outside::RecordingSink>();
  std::shared_ptr<outside::TraceSink> previousA_;
  std::shared_ptr<outside::TraceSink> previousB_;
};

}  // namespace pdfobject_test

#endif  // PDFPARSE_TESTS_PDFOBJECT_FIXTURE_H_
