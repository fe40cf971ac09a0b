// CLoaderLibrary against real test plug-ins (found, not found, entries that
// yield an object, null, nothing or an exception, release) and, through a
// platform double, its search order and release failures.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Probe.h"
#include "outside/loader/CLoaderLibrary.h"
#include "outside/trace/LibraryTraces.h"
#include "support/RecordingPlatform.h"

namespace {

using testing_support::RecordingPlatform;
using testing_support::ScopedPlatform;

const std::string kPlugins = PDFPARSE_TEST_PLUGINS;

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = outside::g_traceA.SetSink(sink_);
    platform_.setEnv("PDFPARSE_PLUGIN_DIR", kPlugins + "/probe");
  }
  void TearDown() override { outside::g_traceA.SetSink(previousSink_); }

  std::vector<std::string> lines() const { return sink_->lines(); }

  std::shared_ptr<outside::RecordingSink> sink_ = std::make_shared<outside::RecordingSink>();
  std::shared_ptr<outside::TraceSink> previousSink_;
  RecordingPlatform platform_;
  ScopedPlatform installed_{&platform_};
};

TEST_F(LoaderTest, FoundModuleCreatesObjectsAndIsReleased) {
  CLoaderLibrary loader;
  ASSERT_NE(loader.LoadLibraryA("LoaderProbe"), 0);
  EXPECT_EQ(loader.IsLibraryLoaded(), 1);
  EXPECT_EQ(loader.LoadedPath(), kPlugins + "/probe/libLoaderProbe.so");
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNone);

  std::unique_ptr<ProbeObject> probe(static_cast<ProbeObject*>(loader.CreateObject("CreateProbe", 41)));
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->magic, ProbeObject::kMagic);
  EXPECT_EQ(probe->arg, 41);
  EXPECT_TRUE(lines().empty()) << "success writes no line";

  // Loading the same module again keeps it.
  EXPECT_NE(loader.LoadLibraryA("LoaderProbe"), 0);
  EXPECT_EQ(platform_.loadAttempts().size(), 1u);

  EXPECT_EQ(loader.ReleaseLibrary(), 1);
  EXPECT_EQ(loader.IsLibraryLoaded(), 0);
  EXPECT_EQ(platform_.frees(), 1);
  EXPECT_EQ(loader.ReleaseLibrary(), 0);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNotLoaded);
  EXPECT_EQ(platform_.frees(), 1);
}

TEST_F(LoaderTest, EntryFailuresGiveNullACodeAndAReasonLine) {
  CLoaderLibrary loader;
  ASSERT_NE(loader.LoadLibraryA("LoaderProbe"), 0);
  struct Case {
    const char* entry;
    unsigned long state;
    const char* reason;
  } cases[] = {
      {"CreateNothing", CLoaderLibrary::kErrEntryNull, "returned null"},
      {"CreateMissing", CLoaderLibrary::kErrNoEntry, "undefined symbol: CreateMissing"},
      {"CreateThrowing", CLoaderLibrary::kErrEntryNull, "raised an exception"},
  };
  for (const Case& c : cases) {
    sink_->clear();
    EXPECT_EQ(loader.CreateObject(c.entry, 0), nullptr) << c.entry;
    EXPECT_EQ(loader.GetErrorState(), c.state) << c.entry;
    ASSERT_EQ(lines().size(), 1u) << c.entry;
    const std::string line = lines()[0];
    EXPECT_EQ(line.rfind("--ERROR-- CLoaderLibrary::CreateObject() ", 0), 0u) << line;
    EXPECT_NE(line.find(c.entry), std::string::npos) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
  // A success clears the state; the reason of the last failure stays.
  std::unique_ptr<ProbeObject> probe(static_cast<ProbeObject*>(loader.CreateObject("CreateProbe", 1)));
  EXPECT_NE(probe, nullptr);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNone);
  EXPECT_EQ(loader.GetErrReason(), CLoaderLibrary::kErrEntryNull);
}

TEST_F(LoaderTest, ModuleNotFoundAnywhereNamesEveryPlaceTried) {
  platform_.setEnv("PDFPARSE_PLUGIN_DIR", kPlugins + "/empty");
  CLoaderLibrary loader;
  EXPECT_EQ(loader.LoadLibraryA("LoaderProbe"), 0);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNotFound);
  EXPECT_EQ(loader.IsLibraryLoaded(), 0);
  EXPECT_EQ(loader.CreateObject("CreateProbe", 0), nullptr);
  EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNotLoaded);

  ASSERT_EQ(lines().size(), 2u);
  const std::string line = lines()[0];
  EXPECT_EQ(line.rfind("--ERROR-- CLoaderLibrary::LoadLibraryA() libLoaderProbe.so not loaded: ", 0), 0u);
  const std::vector<std::string> tried = platform_.loadAttempts();
  ASSERT_EQ(tried.size(), 3u);
  for (const std::string& path : tried) EXPECT_NE(line.find(path + ": "), std::string::npos) << line;
  EXPECT_NE(lines()[1].find("no module loaded"), std::string::npos);
}

TEST_F(LoaderTest, SearchOrderIsPluginDirThenOwnFolderThenSystemPath) {
  platform_.interceptLoads({});
  platform_.setModulePath("/opt/host/lib/libpdfparse.so");
  platform_.setEnv("PDFPARSE_PLUGIN_DIR", "/plug/");
  {
    CLoaderLibrary loader;
    EXPECT_EQ(loader.LoadLibraryA("Kestaro"), 0);
  }
  EXPECT_EQ(platform_.loadAttempts(),
            (std::vector<std::string>{"/plug/libKestaro.so", "/opt/host/lib/libKestaro.so", "libKestaro.so"}));

  // Without the variable the search starts beside the library and stops at
  // the first module that loads. A value longer than any first buffer works.
  RecordingPlatform second;
  ScopedPlatform installed(&second);
  second.unsetEnv("PDFPARSE_PLUGIN_DIR");
  second.setModulePath("/opt/host/lib/libpdfparse.so");
  second.interceptLoads({"/opt/host/lib/libKestaro.so"});
  CLoaderLibrary loader;
  EXPECT_EQ(loader.LoadLibraryA("Kestaro"), 1);
  EXPECT_EQ(second.loadAttempts(), (std::vector<std::string>{"/opt/host/lib/libKestaro.so"}));

  const std::string longDir = "/" + std::string(5000, 'd');
  second.setEnv("PDFPARSE_PLUGIN_DIR", longDir);
  CLoaderLibrary other;
  EXPECT_EQ(other.LoadLibraryA("Kestaro"), 1);
  EXPECT_EQ(second.loadAttempts().at(1), longDir + "/libKestaro.so");
}

TEST_F(LoaderTest, NamesThatAreNotPlainModuleNamesAreRefusedWithoutALoad) {
  platform_.interceptLoads({});
  CLoaderLibrary loader;
  for (const char* name : {static_cast<const char*>(nullptr), "", "../evil", "a/b"}) {
    EXPECT_EQ(loader.LoadLibraryA(name), 0);
    EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrNotFound);
  }
  EXPECT_EQ(loader.LoadLibraryA(std::string(300, 'x').c_str()), 0);
  EXPECT_TRUE(platform_.loadAttempts().empty());
  EXPECT_EQ(lines().size(), 5u);
}

TEST_F(LoaderTest, FailedReleaseIsReportedAndNotRetried) {
  platform_.interceptLoads({kPlugins + "/probe/libLoaderProbe.so"});
  platform_.failFree("module busy");
  {
    CLoaderLibrary loader;
    ASSERT_EQ(loader.LoadLibraryA("LoaderProbe"), 1);
    EXPECT_EQ(loader.ReleaseLibrary(), 0);
    EXPECT_EQ(loader.GetErrorState(), CLoaderLibrary::kErrReleaseFailed);
    EXPECT_EQ(loader.IsLibraryLoaded(), 0);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_NE(lines()[0].find("--ERROR-- CLoaderLibrary::ReleaseLibrary() "), std::string::npos);
    EXPECT_NE(lines()[0].find("module busy"), std::string::npos);
  }
  EXPECT_EQ(platform_.frees(), 1) << "the destructor does not close it again";

  // A loader destroyed while its module is loaded closes it.
  RecordingPlatform second;
  ScopedPlatform installed(&second);
  second.interceptLoads({kPlugins + "/probe/libLoaderProbe.so"});
  second.setEnv("PDFPARSE_PLUGIN_DIR", kPlugins + "/probe");
  { CLoaderLibrary loader; ASSERT_EQ(loader.LoadLibraryA("LoaderProbe"), 1); }
  EXPECT_EQ(second.frees(), 1);
}

}  // namespace
