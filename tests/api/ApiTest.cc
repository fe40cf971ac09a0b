// The library as a host sees it: what it exports, and a host built on its
// own from the public headers that loads, uses and unloads it with dlopen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

TEST(ExportedSymbols, OnlyTheFactoryAndTheInterfaceClass) {
  std::string out;
  ASSERT_EQ(Shell("nm -D --extern-only --defined-only --format=just-symbols '" + Env("PDFPARSE_LIB") + "'", &out), 0)
      << out;
  const std::set<std::string> standard = {"_init", "_fini", "__bss_start", "_edata", "_end"};
  std::set<std::string> ours;
  std::istringstream lines(out);
  for (std::string name; std::getline(lines, name);)
    if (!standard.count(name) && name.find('@') == std::string::npos) ours.insert(name);
  const std::set<std::string> expected = {
      "CreateCPdfParse",         "_ZN11CPdfParseIfC1Ev",    "_ZN11CPdfParseIfC2Ev",  // default constructor
      "_ZN11CPdfParseIfC1ERKS_", "_ZN11CPdfParseIfC2ERKS_",                          // copy constructor
      "_ZN11CPdfParseIfD0Ev",    "_ZN11CPdfParseIfD1Ev",    "_ZN11CPdfParseIfD2Ev",
      "_ZN11CPdfParseIfaSERKS_",  // copy assignment
      "_ZTV11CPdfParseIf",       "_ZTI11CPdfParseIf",       "_ZTS11CPdfParseIf",
  };
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

TEST(StandaloneHost, CompilesAgainstThePublicHeadersAndRunsInquiries) {
  ASSERT_FALSE(Env("PDFPARSE_LIB").empty());
  pdfbuilder::TempDir dir;
  const std::string host = dir.write("host.cc", kHostSource);
  const std::string pdf = dir.write("three.pdf", pdfbuilder::BuildPdf(pdfbuilder::Pages(3)));
  std::string out;
  ASSERT_EQ(Shell("g++ -std=c++17" + SanitizerFlags() + " -I'" + Env("PDFPARSE_SOURCE_DIR") + "/include' '" + host +
                      "' -o '" + dir.file("host") + "' -ldl",
                  &out),
            0)
      << out;
  out.clear();
  ASSERT_EQ(Shell("PDFPARSE_TRACE= '" + dir.file("host") + "' '" + Env("PDFPARSE_LIB") + "' '" + pdf + "'", &out), 0)
      << out;
  EXPECT_EQ(out, "ok=1 status=0 pages=3\nmissing ok=0 status=1\nok=1 status=0 pages=3\nmissing ok=0 status=1\n");
}

}  // namespace
}  // namespace pdfparse::test
