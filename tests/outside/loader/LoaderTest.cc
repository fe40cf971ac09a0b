// CLoaderLibrary against a real test plug-in (entries that yield an object,
// null, nothing or an exception) and, through a platform double, its search
// order, refused names and release failures.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Probe.h"
#include "outside/loader/CLoaderLibrary.h"
#include "outside/trace/LibraryTraces.h"
#include "support/RecordingPlatform.h"

namespace pdfparse::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kPlugins = PDFPARSE_TEST_PLUGINS;

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = outside::g_traceA.SetSink(sink_);
    platform_.env["PDFPARSE_PLUGIN_DIR"] = kPlugins + "/probe";
  }
  void TearDown() override { outside::g_traceA.SetSink(previous_); }
  // Lines since the last call.
  Lines take() {
    Lines lines = sink_->lines();
    sink_->clear();
    return lines;
  }

  std::shared_ptr<outside::RecordingSink> sink_ = std::make_shared<outside::RecordingSink>();
  std::shared_ptr<outside::TraceSink> previous_;
  RecordingPlatform platform_;
  ScopedPlatform installed_{&platform_};
};

TEST_F(LoaderTest, EntriesYieldObjectsOrFailWithACodeAndAReasonLine) {
  CLoaderLibrary loader;
  ASSERT_EQ(loader.LoadLibraryA("LoaderProbe"), 1);
  EXPECT_EQ(loader.LoadedPath(), kPlugins + "/probe/libLoaderProbe.so");
  std::unique_ptr<ProbeObject> probe(static_cast<ProbeObject*>(loader.CreateObject("CreateProbe", 41)));
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(std::make_pair(probe->magic, probe->arg), std::make_pair(ProbeObject::kMagic, 41L));
  EXPECT_EQ(loader.LoadLibraryA("LoaderProbe"), 1) << "the same module again is kept";
  EXPECT_EQ(platform_.loadAttempts.size(), 1u);
  EXPECT_TRUE(take().empty()) << "success writes no line";

  const std::string in = " in " + loader.LoadedPath() + ": ";
  const struct {
    const char* entry;
    unsigned long state;
    std::string line;
  } cases[] = {
      {"CreateNothing", CLoaderLibrary::kErrEntryNull, "CreateNothing" + in + "the entry returned null"},
      {"CreateMissing", CLoaderLibrary::kErrNoEntry, "CreateMissing missing" + in},
      {"CreateThrowing", CLoaderLibrary::kErrEntryNull, "CreateThrowing" + in + "the entry raised an exception"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(loader.CreateObject(c.entry, 0), nullptr) << c.entry;
    EXPECT_EQ(loader.GetErrorState(), c.state) << c.entry;
    const Lines lines = take();
    EXPECT_TRUE(lines.size() == 1 && lines[0].rfind("--ERROR-- CLoaderLibrary::CreateObject() " + c.line, 0) == 0)
        << testing::PrintToString(lines);
  }
  // A success clears the state; the reason of the last failure stays.
  probe.reset(static_cast<ProbeObject*>(loader.CreateObject("CreateProbe", 1)));
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNone);
  EXPECT_EQ(loader.GetErrReason(), CLoaderLibrary::kErrEntryNull);

  // A failed release is reported once; the module counts as gone.
  platform_.freeFailure = "module busy";
  EXPECT_EQ(loader.ReleaseLibrary(), 0);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrReleaseFailed);
  EXPECT_EQ(loader.ReleaseLibrary(), 0);
  EXPECT_EQ(loader.CreateObject("CreateProbe", 0), nullptr);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNotLoaded);
  EXPECT_EQ(platform_.frees, 1);
  EXPECT_EQ(take(), (Lines{"--ERROR-- CLoaderLibrary::ReleaseLibrary() " + loader.LoadedPath() + ": module busy",
                           "--ERROR-- CLoaderLibrary::ReleaseLibrary() no module loaded",
                           "--ERROR-- CLoaderLibrary::CreateObject() CreateProbe: no module loaded"}));
}

TEST_F(LoaderTest, SearchOrderIsPluginDirThenOwnFolderThenSystemPath) {
  platform_.loadable.emplace();
  platform_.modulePath = "/opt/host/lib/libpdfparse.so";
  platform_.env["PDFPARSE_PLUGIN_DIR"] = "/plug/";
  CLoaderLibrary loader;
  EXPECT_EQ(loader.LoadLibraryA("Kestaro"), 0);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNotFound);
  const Lines tried = {"/plug/libKestaro.so", "/opt/host/lib/libKestaro.so", "libKestaro.so"};
  EXPECT_EQ(platform_.loadAttempts, tried);
  EXPECT_EQ(take(), Lines{"--ERROR-- CLoaderLibrary::LoadLibraryA() libKestaro.so not loaded: " + tried[0] + ": " +
                          tried[0] + ": scripted load failure; " + tried[1] + ": " + tried[1] +
                          ": scripted load failure; " + tried[2] + ": " + tried[2] + ": scripted load failure"});

  // Without the variable the search starts beside the library and stops at
  // the first module that loads; a value longer than any first buffer works.
  platform_.loadable = Lines{tried[1], "/" + std::string(5000, 'd') + "/libKestaro.so"};
  platform_.loadAttempts.clear();
  platform_.env["PDFPARSE_PLUGIN_DIR"] = std::nullopt;
  EXPECT_EQ(loader.LoadLibraryA("Kestaro"), 1);
  platform_.env["PDFPARSE_PLUGIN_DIR"] = "/" + std::string(5000, 'd');
  CLoaderLibrary other;
  EXPECT_EQ(other.LoadLibraryA("Kestaro"), 1);
  EXPECT_EQ(platform_.loadAttempts, (Lines{tried[1], platform_.loadable->back()}));

  // Names that are not plain module names are refused without a load.
  for (const std::string& name : Lines{"", "../evil", "a/b", std::string(300, 'x')}) {
    EXPECT_EQ(other.LoadLibraryA(name.c_str()), 0);
    EXPECT_EQ(other.GetErrorState(), CLoaderLibrary::kErrNotFound);
  }
  EXPECT_EQ(other.LoadLibraryA(nullptr), 0);
  EXPECT_EQ(platform_.loadAttempts.size(), 2u);
  EXPECT_EQ(take(), Lines(5, "--ERROR-- CLoaderLibrary::LoadLibraryA() invalid module name"));
}

}  // namespace
}  // namespace pdfparse::test
