// The installed tree: the installed pdfinquiry over the real library and
// plug-in, and a host built with pkg-config and with find_package.
#include <gmock/gmock.h>

#include <filesystem>
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
  for (const std::string& f : {lib + "/libpdfparse.so", lib + "/libKestaro.so", lib + "/pkgconfig/pdfparse.pc",
                               lib + "/cmake/pdfparse/pdfparseConfig.cmake", root + "/include/pdfparse/CPdfParseIf.h",
                               root + "/include/pdfparse/PdfInquiryRec.h", root + "/bin/pdfinquiry"}) {
    EXPECT_TRUE(fs::exists(f)) << f;
  }
  for (const std::string& f : {lib + "/libpdfparse.so", lib + "/libKestaro.so", root + "/bin/pdfinquiry"})
    EXPECT_THAT(Expect0({{"/usr/bin/readelf", "-d", f}}).out, ::testing::Not(HasSubstr(build))) << f;  // no build paths

  const Env noPluginDir = {{"PDFPARSE_LIBRARY", std::nullopt}, {"PDFPARSE_PLUGIN_DIR", std::nullopt}};
  Outcome tool =
      Expect0({{root + "/bin/pdfinquiry", "--json", Sample("letter.pdf"), Sample("vrel-spot.pdf")}, noPluginDir});
  EXPECT_THAT(tool.out, HasSubstr("\"numPages\":3"));
  EXPECT_THAT(tool.out, HasSubstr("\"widthPt\":612.0"));               // measured by the installed plug-in
  EXPECT_THAT(tool.out, HasSubstr("\"subType\":1,\"hasSpotInk\":1"));  // level 3 by default

  const std::string source = work.write("src/host.cc", kHostSource);
  Outcome flags =
      Expect0({{"/usr/bin/pkg-config", "--cflags", "--libs", "pdfparse"}, {{"PKG_CONFIG_PATH", lib + "/pkgconfig"}}});
  Launch compile{{PDFINQUIRY_CXX, "-std=c++17", "-o", work.file("host"), source}};
  std::istringstream words(flags.out + " " + PDFINQUIRY_SANITIZE_FLAGS);  // split as a shell would
  for (std::string w; words >> w;) compile.argv.push_back(w);
  ASSERT_EQ(Expect0(compile).exitCode, 0);
  auto env = noPluginDir;
  env["LD_LIBRARY_PATH"] = lib;
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
