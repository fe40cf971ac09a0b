// The library as a host sees it: what it exports, and a host built on its
// own from the public headers that loads, uses and unloads it with dlopen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Runs `command` through the shell; its exit status, with the output in `output`.
int Shell(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every exported symbol carries the version PDFPARSE_1 (the node itself is
// listed as a symbol of its own), so that a later library can keep them
// apart from symbols of an incompatible version.
TEST(ExportedSymbols, OnlyTheFactoryAndTheInterfaceClassUnderVersionPdfparse1) {
  std::string out;
  ASSERT_EQ(Shell("nm -D --extern-only --defined-only --format=just-symbols '" + Env("PDFPARSE_LIB") + "'", &out), 0)
      << out;
  const std::set<std::string> standard = {"_init", "_fini", "__bss_start", "_edata", "_end"};
  std::set<std::string> ours;
  std::istringstream lines(out);
  for (std::string name; std::getline(lines, name);)
    if (!standard.count(name)) ours.insert(name);
  std::set<std::string> expected = {"PDFPARSE_1"};
  for (const char* name : {
           "CreateCPdfParse",
           "_ZN11CPdfParseIfC1Ev",
           "_ZN11CPdfParseIfC2Ev",  // default constructor
           "_ZN11CPdfParseIfC1ERKS_",
           "_ZN11CPdfParseIfC2ERKS_",  // copy constructor
           "_ZN11CPdfParseIfD0Ev",
           "_ZN11CPdfParseIfD1Ev",
           "_ZN11CPdfParseIfD2Ev",
           "_ZN11CPdfParseIfaSERKS_",  // copy assignment
           "_ZTV11CPdfParseIf",
           "_ZTI11CPdfParseIf",
           "_ZTS11CPdfParseIf",
       })
    expected.insert(std::string(name) + "@@PDFPARSE_1");
  EXPECT_EQ(ours, expected) << out;
}

// A host built on its own: only the public headers and libdl. It loads and
// unloads the library twice.
const char* const kHostSource = R"(
#include <dlfcn.h>
#include <cstdio>
#include "pdfparse/CPdfParseIf.h"

int main(int argc, char** argv) {
  for (int round = 0; round < 2; ++round) {
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) { std::printf("dlopen: %s\n", dlerror()); return 3; }
    auto create = reinterpret_cast<CreateCPdfParseFn>(dlsym(lib, "CreateCPdfParse"));
    CPdfParseIf* parser = create ? create(12345) : nullptr;
    if (!parser || !parser->init()) return 4;
    PdfInquiryRec rec;
    bool ok = parser->runInquiry(argv[2], &rec);
    std::printf("ok=%d status=%d pages=%d\n", ok, parser->getStatus(), rec.numPages);
    ok = parser->runInquiry("/nonexistent/none.pdf", &rec);
    std::printf("missing ok=%d status=%d\n", ok, parser->getStatus());
    delete parser;
    if (dlclose(lib) != 0) return 5;
  }
  return 0;
}
)";

std::string SanitizerFlags() {
// A sanitized library needs the sanitizer's run time in the host too. Not
// the undefined-behaviour checks: their vptr check wants the interface's
// type information at link time, which a dlopen host does not link.
#if defined(__SANITIZE_ADDRESS__)
  return " -fsanitize=address";
#elif defined(__SANITIZE_THREAD__)
  return " -fsanitize=thread";
#else
  return "";
#endif
}

// Compiles kHostSource in `dir` into dir/host; empty on success, else the
// compiler's output.
std::string BuildHost(const pdfbuilder::TempDir& dir) {
  const std::string host = dir.write("host.cc", kHostSource);
  std::string out;
  if (Shell("g++ -std=c++17" + SanitizerFlags() + " -I'" + Env("PDFPARSE_SOURCE_DIR") + "/include' '" + host +
                "' -o '" + dir.file("host") + "' -ldl",
            &out) != 0)
    return out.empty() ? "the compiler failed" : out;
  return "";
}

TEST(StandaloneHost, CompilesAgainstThePublicHeadersAndRunsInquiries) {
  ASSERT_FALSE(Env("PDFPARSE_LIB").empty());
  pdfbuilder::TempDir dir;
  ASSERT_EQ(BuildHost(dir), "");
  const std::string pdf = dir.write("three.pdf", pdfbuilder::BuildPdf(pdfbuilder::Pages(3)));
  std::string out;
  ASSERT_EQ(Shell("PDFPARSE_TRACE= '" + dir.file("host") + "' '" + Env("PDFPARSE_LIB") + "' '" + pdf + "'", &out), 0)
      << out;
  EXPECT_EQ(out, "ok=1 status=0 pages=3\nmissing ok=0 status=1\nok=1 status=0 pages=3\nmissing ok=0 status=1\n");
}

// The public library holds only the exported face: no run path, nothing of
// the project linked. Its private part (and with it the engine and the
// plug-in) is found in pdfparse/ beside the file as it was loaded, or beside
// the file a link to it leads to; without it no parser is made and stderr
// says why.
TEST(PublicLibrary, HasNoRunPathAndFindsItsPrivatePartBesideIt) {
  std::string out;
  ASSERT_EQ(Shell("readelf -d '" + Env("PDFPARSE_LIB") + "'", &out), 0) << out;
  EXPECT_EQ(out.find("RPATH"), std::string::npos) << out;
  EXPECT_EQ(out.find("RUNPATH"), std::string::npos) << out;
  EXPECT_EQ(out.find("pdfparse_"), std::string::npos) << out;  // neither the private part nor the engine
  EXPECT_NE(out.find("Library soname: [libpdfparse.so.1]"), std::string::npos) << out;

  pdfbuilder::TempDir dir;
  ASSERT_EQ(BuildHost(dir), "");
  const std::string pdf = dir.write("three.pdf", pdfbuilder::BuildPdf(pdfbuilder::Pages(3)));
  const std::filesystem::path library = std::filesystem::canonical(Env("PDFPARSE_LIB"));
  std::filesystem::create_directories(dir.file("alone"));
  std::filesystem::copy_file(library, dir.file("alone/libpdfparse.so.1"));
  std::filesystem::create_directories(dir.file("linked"));
  std::filesystem::create_symlink(library, dir.file("linked/libpdfparse.so.1"));

  out.clear();
  EXPECT_EQ(
      Shell("PDFPARSE_TRACE= '" + dir.file("host") + "' '" + dir.file("alone/libpdfparse.so.1") + "' '" + pdf + "'",
            &out),
      4);
  EXPECT_NE(out.find("libpdfparse: cannot load its private part: " + dir.file("alone/pdfparse/libpdfparse_core.so")),
            std::string::npos)
      << out;
  out.clear();
  EXPECT_EQ(
      Shell("PDFPARSE_TRACE= '" + dir.file("host") + "' '" + dir.file("linked/libpdfparse.so.1") + "' '" + pdf + "'",
            &out),
      0)
      << out;
  EXPECT_EQ(out, "ok=1 status=0 pages=3\nmissing ok=0 status=1\nok=1 status=0 pages=3\nmissing ok=0 status=1\n");
}

// PdfInquiryRec holds a std::string of the C++11 ABI: a host compiled with the
// old ABI stops at the public header with the reason, instead of linking and
// then failing every inquiry. The same host compiles with the C++11 ABI.
TEST(PublicHeaders, AnOldStringAbiHostFailsToCompileWithTheReason) {
  pdfbuilder::TempDir dir;
  const std::string host =
      dir.write("host.cc",
                "#include \"pdfparse/CPdfParseIf.h\"\n"
                "int main() { PdfInquiryRec rec; return static_cast<int>(rec.infoValue.size()); }\n");
  const std::string compile =
      "g++ -std=c++17 -fsyntax-only -I'" + Env("PDFPARSE_SOURCE_DIR") + "/include' '" + host + "'";
  std::string out;
  EXPECT_EQ(Shell(compile + " -D_GLIBCXX_USE_CXX11_ABI=1", &out), 0) << out;
  out.clear();
  EXPECT_NE(Shell(compile + " -D_GLIBCXX_USE_CXX11_ABI=0", &out), 0);
  EXPECT_NE(out.find("PdfInquiryRec holds a std::string of the C++11 ABI"), std::string::npos) << out;
  EXPECT_NE(out.find("_GLIBCXX_USE_CXX11_ABI=0"), std::string::npos) << out;
}

}  // namespace
}  // namespace pdfparse::test
