// pdfinquiry over the real libpdfparse.so on the bundled samples, and the
// installed tree: a host built with pkg-config and with find_package.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ToolProcess.h"

namespace tooltest {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using json = nlohmann::json;

std::string Sample(const std::string& name) { return std::string(PDFINQUIRY_SAMPLE_DIR) + "/" + name; }

Launch RealTool(std::vector<std::string> args) {
  Launch l;
  l.argv = {ToolPath()};
  l.argv.insert(l.argv.end(), args.begin(), args.end());
  l.env["PDFPARSE_LIBRARY"] = std::nullopt;  // the library beside the program
  l.env["PDFPARSE_TRACE"] = std::nullopt;
  return l;
}

std::map<std::string, json> ByName(const std::string& out) {
  std::map<std::string, json> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    json j = json::parse(line);
    rows[fs::path(j["file"].get<std::string>()).filename().string()] = j;
  }
  return rows;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ToolLibraryTest, AnswersEverySampleAtLevelThree) {
  const std::vector<std::string> names = {"letter.pdf",    "a4-cropped.pdf", "rotated.pdf",
                                          "vrel-spot.pdf", "protected.pdf",  "damaged.pdf"};
  std::vector<std::string> args = {"--json"};
  for (const auto& n : names) args.push_back(Sample(n));
  Outcome o = RunToEnd(RealTool(args));
  EXPECT_EQ(o.exitCode, 0) << o.out << o.err;
  auto rows = ByName(o.out);
  ASSERT_EQ(rows.size(), names.size()) << o.out;
  for (const auto& n : names) EXPECT_EQ(rows[n]["status"], 0) << n << ": " << rows[n];

  EXPECT_EQ(rows["letter.pdf"]["numPages"], 3);
  EXPECT_EQ(rows["letter.pdf"]["infoValue"], "pdfparse sample writer");
  EXPECT_EQ(rows["letter.pdf"]["pageMode"], 3);
  EXPECT_EQ(rows["letter.pdf"]["widthPt"], 612);
  EXPECT_EQ(rows["letter.pdf"]["heightPt"], 792);
  EXPECT_EQ(rows["letter.pdf"]["subType"], -1);
  EXPECT_EQ(rows["letter.pdf"]["hasSpotInk"], 0);

  EXPECT_EQ(rows["a4-cropped.pdf"]["pageMode"], 1);
  EXPECT_NEAR(rows["a4-cropped.pdf"]["widthMm"].get<double>(), 210.0, 0.1);
  EXPECT_NEAR(rows["a4-cropped.pdf"]["heightMm"].get<double>(), 297.0, 0.1);

  // Inherited rotation; no producer, and the letter's does not carry over.
  EXPECT_EQ(rows["rotated.pdf"]["rotation"], 90);
  EXPECT_TRUE(rows["rotated.pdf"]["infoValue"].is_null());

  EXPECT_EQ(rows["vrel-spot.pdf"]["subType"], 1);
  EXPECT_EQ(rows["vrel-spot.pdf"]["hasSpotInk"], 1);
  EXPECT_EQ(rows["protected.pdf"]["numPages"], 2);
  EXPECT_EQ(rows["damaged.pdf"]["numPages"], 2);
}

TEST(ToolLibraryTest, NotAPdfFailsItsRowOnly) {
  TempDir dir;
  const std::string junk = dir.write("junk.pdf", "this is not a PDF\n");
  Outcome o = RunToEnd(RealTool({"--json", junk, Sample("letter.pdf")}));
  EXPECT_EQ(o.exitCode, 1);
  auto rows = ByName(o.out);
  ASSERT_EQ(rows.size(), 2u) << o.out << o.err;
  EXPECT_EQ(rows["junk.pdf"]["status"], 1);
  EXPECT_TRUE(rows["junk.pdf"]["numPages"].is_null());
  EXPECT_EQ(rows["letter.pdf"]["status"], 0);
}

TEST(ToolLibraryTest, TraceOptionWritesTheLibrarysTrace) {
  TempDir dir;
  const std::string trace = dir.file("trace.log");
  Outcome o = RunToEnd(RealTool({"--trace", trace, "--level", "1", Sample("letter.pdf")}));
  EXPECT_NE(o.exitCode, 2) << o.err;
  EXPECT_THAT(ReadAll(trace), HasSubstr("CPdfParse::runInquiryPdfObj() End res = "));
}

// What a host written against the installed tree looks like.
const char kHostSource[] = R"(#include <pdfparse/CPdfParseIf.h>
#include <cstdio>
#include <memory>
int main(int argc, char** argv) {
  std::unique_ptr<CPdfParseIf> parser(CreateCPdfParse(0));
  if (!parser) return 3;
  PdfInquiryRec rec;
  rec.level = 1;
  const bool ok = argc > 1 && parser->runInquiry(argv[1], &rec);
  std::printf("ok=%d pages=%d producer=%s\n", ok, rec.numPages, rec.infoValue.c_str());
  return ok ? 0 : 1;
}
)";

// One install into a staging folder (DESTDIR), then every use of it.
class InstallTest : public ::testing::Test {
 protected:
  std::string Root() const { return staging_.path() + "/usr/local"; }
  // The installed library folder, found through the pkg-config file.
  std::string LibDir() const {
    for (const char* dir : {"lib", "lib64", "lib/x86_64-linux-gnu"}) {
      if (fs::exists(Root() + "/" + dir + "/pkgconfig/pdfparse.pc")) return Root() + "/" + dir;
    }
    return Root() + "/lib";
  }

  void LaysOutLibraryPluginHeadersToolAndPackageFiles();
  void InstalledToolFindsItsLibraryAndPlugin();
  void HostBuildsWithPkgConfig();
  void HostBuildsWithFindPackage();

  TempDir staging_;
};

TEST_F(InstallTest, InstalledTreeServesHosts) {
  Launch install;
  install.argv = {PDFINQUIRY_CMAKE, "--install", std::getenv("PDFPARSE_BUILD_DIR"), "--prefix", "/usr/local"};
  install.env["DESTDIR"] = staging_.path();
  Outcome installed = RunToEnd(install);
  ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
  {
    SCOPED_TRACE("layout");
    LaysOutLibraryPluginHeadersToolAndPackageFiles();
  }
  {
    SCOPED_TRACE("installed pdfinquiry");
    InstalledToolFindsItsLibraryAndPlugin();
  }
  {
    SCOPED_TRACE("host built with pkg-config");
    HostBuildsWithPkgConfig();
  }
  {
    SCOPED_TRACE("host built with find_package");
    HostBuildsWithFindPackage();
  }
}

void InstallTest::LaysOutLibraryPluginHeadersToolAndPackageFiles() {
  const std::string lib = LibDir();
  for (const std::string& f : {lib + "/libpdfparse.so", lib + "/libKestaro.so", lib + "/pkgconfig/pdfparse.pc",
                               lib + "/cmake/pdfparse/pdfparseConfig.cmake",
                               Root() + "/include/pdfparse/CPdfParseIf.h",
                               Root() + "/include/pdfparse/PdfInquiryRec.h", Root() + "/bin/pdfinquiry"}) {
    EXPECT_TRUE(fs::exists(f)) << f;
  }
  // Nothing installed points back into the build tree.
  for (const std::string& f : {lib + "/libpdfparse.so", lib + "/libKestaro.so", Root() + "/bin/pdfinquiry"}) {
    Outcome d = RunToEnd({{"/usr/bin/readelf", "-d", f}, {}, "", false});
    EXPECT_EQ(d.exitCode, 0);
    EXPECT_THAT(d.out, ::testing::Not(HasSubstr(std::getenv("PDFPARSE_BUILD_DIR")))) << f;
  }
}

void InstallTest::InstalledToolFindsItsLibraryAndPlugin() {
  Launch l;
  l.argv = {Root() + "/bin/pdfinquiry", "--json", Sample("letter.pdf")};
  l.env["PDFPARSE_LIBRARY"] = std::nullopt;
  l.env["PDFPARSE_PLUGIN_DIR"] = std::nullopt;
  Outcome o = RunToEnd(l);
  EXPECT_EQ(o.exitCode, 0) << o.out << o.err;
  EXPECT_THAT(o.out, HasSubstr("\"numPages\":3"));
  EXPECT_THAT(o.out, HasSubstr("\"widthPt\":612"));  // measured by the installed plug-in
}

void InstallTest::HostBuildsWithPkgConfig() {
  TempDir work;
  const std::string source = work.write("host.cc", kHostSource);
  Launch flags;
  flags.argv = {"/usr/bin/pkg-config", "--cflags", "--libs", "pdfparse"};
  flags.env["PKG_CONFIG_PATH"] = LibDir() + "/pkgconfig";
  Outcome f = RunToEnd(flags);
  ASSERT_EQ(f.exitCode, 0) << f.err;
  EXPECT_THAT(f.out, HasSubstr("-lpdfparse"));

  // The flags as one shell would split them.
  Launch compile;
  compile.argv = {PDFINQUIRY_CXX, "-std=c++17", "-o", work.file("host"), source};
  std::istringstream words(f.out);
  for (std::string w; words >> w;) compile.argv.push_back(w);
  std::istringstream sanitize(PDFINQUIRY_SANITIZE_FLAGS);
  for (std::string w; sanitize >> w;) compile.argv.push_back(w);
  Outcome c = RunToEnd(compile);
  ASSERT_EQ(c.exitCode, 0) << c.err;

  Launch run;
  run.argv = {work.file("host"), Sample("letter.pdf")};
  run.env["LD_LIBRARY_PATH"] = LibDir();
  run.env["PDFPARSE_PLUGIN_DIR"] = std::nullopt;
  Outcome r = RunToEnd(run);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("ok=1 pages=3 producer=pdfparse sample writer"));
}

void InstallTest::HostBuildsWithFindPackage() {
  TempDir work;
  work.write("src/host.cc", kHostSource);
  work.write("src/CMakeLists.txt",
             "cmake_minimum_required(VERSION 3.22)\nproject(host CXX)\n"
             "find_package(pdfparse 1 REQUIRED)\nadd_executable(host host.cc)\n"
             "target_link_libraries(host PRIVATE pdfparse::pdfparse)\n");
  Launch configure;
  configure.argv = {PDFINQUIRY_CMAKE, "-S", work.file("src"), "-B", work.file("build"),
                    "-DCMAKE_PREFIX_PATH=" + Root(), "-DCMAKE_CXX_COMPILER=" + std::string(PDFINQUIRY_CXX),
                    "-DCMAKE_CXX_FLAGS=" + std::string(PDFINQUIRY_SANITIZE_FLAGS)};
  Outcome c = RunToEnd(configure);
  ASSERT_EQ(c.exitCode, 0) << c.out << c.err;
  Outcome b = RunToEnd({{PDFINQUIRY_CMAKE, "--build", work.file("build")}, {}, "", false});
  ASSERT_EQ(b.exitCode, 0) << b.out << b.err;
  // The imported target carries the library's location into the build's
  // run path, so no LD_LIBRARY_PATH is needed.
  Launch run;
  run.argv = {work.file("build/host"), Sample("letter.pdf")};
  run.env["PDFPARSE_PLUGIN_DIR"] = std::nullopt;
  Outcome r = RunToEnd(run);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("pages=3"));
}

}  // namespace
}  // namespace tooltest
