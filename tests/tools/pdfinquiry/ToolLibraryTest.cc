// The installed tree: the installed pdfinquiry over the real library and
// plug-in, and a host built with pkg-config and with find_package.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ToolProcess.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string Sample(const std::string& name) { return std::string(PDFINQUIRY_SAMPLE_DIR) + "/" + name; }

// What a host written against the installed tree looks like.
const char kHostSource[] = R"(#include <pdfparse/CPdfParseIf.h>
#include <cstdio>
int main(int, char** argv) {
  CPdfParseIf* parser = CreateCPdfParse(0);
  PdfInquiryRec rec;
  bool ok = parser && parser->runInquiry(argv[1], &rec);
  std::printf("ok=%d pages=%d producer=%s\n", ok, rec.numPages, rec.infoValue.c_str());
  delete parser;
  return !ok;
})";

Outcome Expect0(const Launch& launch) {
  Outcome o = RunToEnd(launch);
  EXPECT_EQ(o.exitCode, 0) << launch.argv[0] << "\n" << o.out << o.err;
  return o;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One install into a staging folder (DESTDIR), then every use of it.
TEST(InstallTest, InstalledTreeServesHosts) {
  pdfbuilder::TempDir staging, work;
  const std::string build = std::getenv("PDFPARSE_BUILD_DIR"), root = staging.path() + "/usr/local";
  ASSERT_EQ(Expect0({{PDFINQUIRY_CMAKE, "--install", build, "--prefix", "/usr/local"}, {{"DESTDIR", staging.path()}}})
                .exitCode,
            0);
  std::string lib = root + "/lib";
  for (const char* dir : {"lib64", "lib/x86_64-linux-gnu"})
    if (fs::exists(root + "/" + dir + "/pkgconfig/pdfparse.pc")) lib = root + "/" + dir;
  // The public library with its namelink, and the private folder.
  const std::string priv = lib + "/pdfparse";
  for (const std::string& f :
       {lib + "/libpdfparse.so", lib + "/libpdfparse.so.1", priv + "/libpdfparse_core.so", priv + "/libKestaro.so",
        priv + "/libpdfparse_document.so.1", lib + "/pkgconfig/pdfparse.pc",
        lib + "/cmake/pdfparse/pdfparseConfig.cmake", root + "/include/pdfparse/CPdfParseIf.h",
        root + "/include/pdfparse/PdfInquiryRec.h", root + "/bin/pdfinquiry", root + "/share/man/man1/pdfinquiry.1.gz",
        root + "/share/bash-completion/completions/pdfinquiry"}) {
    EXPECT_TRUE(fs::exists(f)) << f;
  }
  // Nothing private in the public folder, no namelink for the engine, and
  // the packages' own documents only in the packages.
  for (const std::string& f : {lib + "/libKestaro.so", lib + "/libpdfparse_document.so.1", lib + "/libpdfparse_core.so",
                               priv + "/libpdfparse_document.so", root + "/share/doc"})
    EXPECT_FALSE(fs::exists(f)) << f;
  for (const std::string& f : {lib + "/libpdfparse.so.1", priv + "/libpdfparse_core.so", priv + "/libKestaro.so",
                               priv + "/libpdfparse_document.so.1", root + "/bin/pdfinquiry"}) {
    const std::string dynamic = Expect0({{"/usr/bin/readelf", "-d", f}}).out;
    EXPECT_FALSE(Contains(dynamic, build)) << f;  // no build paths
    EXPECT_FALSE(Contains(dynamic, "(RPATH)")) << f;
    // A run path only where a private library needs the engine beside it.
    const bool needsEngine = Contains(dynamic, "Shared library: [libpdfparse_document.so.1]");
    EXPECT_EQ(Contains(dynamic, "(RUNPATH)"), needsEngine) << f << "\n" << dynamic;
    if (needsEngine) {
      EXPECT_TRUE(Contains(dynamic, "Library runpath: [$ORIGIN]")) << f << "\n" << dynamic;
    }
  }
  // The CMake package exports the public library alone.
  std::ifstream targets(lib + "/cmake/pdfparse/pdfparseTargets.cmake");
  const std::string exported((std::istreambuf_iterator<char>(targets)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(Contains(exported, "pdfparse::pdfparse"));
  EXPECT_FALSE(Contains(exported, "pdfparse_")) << exported;

  const Env noPluginDir = {{"PDFPARSE_LIBRARY", std::nullopt}, {"PDFPARSE_PLUGIN_DIR", std::nullopt}};
  Outcome tool =
      Expect0({{root + "/bin/pdfinquiry", "--json", Sample("letter.pdf"), Sample("vrel-spot.pdf")}, noPluginDir});
  EXPECT_THAT(tool.out, HasSubstr("\"numPages\":3"));
  EXPECT_THAT(tool.out, HasSubstr("\"widthPt\":612.0"));               // measured by the installed plug-in
  EXPECT_THAT(tool.out, HasSubstr("\"subType\":1,\"hasSpotInk\":1"));  // level 3 by default

  // pkg-config names the prefix installed to, normalised; a staged tree is
  // used by redefining the prefix.
  const std::string source = work.write("src/host.cc", kHostSource);
  const Env pcPath = {{"PKG_CONFIG_PATH", lib + "/pkgconfig"}};
  EXPECT_EQ(Expect0({{"/usr/bin/pkg-config", "--variable=prefix", "pdfparse"}, pcPath}).out, "/usr/local\n");
  const std::string installed = Expect0({{"/usr/bin/pkg-config", "--cflags", "--libs", "pdfparse"}, pcPath}).out;
  EXPECT_FALSE(Contains(installed, "..")) << installed;
  EXPECT_TRUE(Contains(installed, "-lpdfparse")) << installed;
  Outcome flags =
      Expect0({{"/usr/bin/pkg-config", "--define-variable=prefix=" + root, "--cflags", "--libs", "pdfparse"}, pcPath});
  EXPECT_FALSE(Contains(flags.out, "..")) << flags.out;
  EXPECT_TRUE(Contains(flags.out, "-I" + root + "/include")) << flags.out;
  Launch compile{{PDFINQUIRY_CXX, "-std=c++17", "-o", work.file("host"), source}};
  std::istringstream words(flags.out + " " + PDFINQUIRY_SANITIZE_FLAGS);  // split as a shell would
  for (std::string w; words >> w;) compile.argv.push_back(w);
  ASSERT_EQ(Expect0(compile).exitCode, 0);
  auto env = noPluginDir;
  env["LD_LIBRARY_PATH"] = lib;  // a staged folder is not on the system's library path
  EXPECT_THAT(Expect0({{work.file("host"), Sample("letter.pdf")}, env}).out,
              HasSubstr("ok=1 pages=3 producer=pdfparse sample writer"));

  work.write("src/CMakeLists.txt",
             "cmake_minimum_required(VERSION 3.22)\nproject(host CXX)\n"
             "find_package(pdfparse 1 REQUIRED)\nadd_executable(host host.cc)\n"
             "target_link_libraries(host PRIVATE pdfparse::pdfparse)\n");
  ASSERT_EQ(Expect0({{PDFINQUIRY_CMAKE, "-S", work.file("src"), "-B", work.file("build"), "-DCMAKE_PREFIX_PATH=" + root,
                      "-DCMAKE_CXX_COMPILER=" + std::string(PDFINQUIRY_CXX),
                      "-DCMAKE_CXX_FLAGS=" + std::string(PDFINQUIRY_SANITIZE_FLAGS)}})
                .exitCode,
            0);
  ASSERT_EQ(Expect0({{PDFINQUIRY_CMAKE, "--build", work.file("build")}}).exitCode, 0);
  // The imported target puts the library's folder in the run path: no LD_LIBRARY_PATH.
  EXPECT_THAT(Expect0({{work.file("build/host"), Sample("letter.pdf")}, noPluginDir}).out, HasSubstr("pages=3"));
}

}  // namespace
}  // namespace pdfparse::test
