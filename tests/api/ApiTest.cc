// The library as a host sees it: what it exports, that its public headers
// compile on their own, and loading, using and unloading it with dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pdfparse/CPdfParseIf.h"
#include "support/PdfBuilder.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Runs `command` through the shell; returns its exit status and output.
int Shell(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExportedSymbols, OnlyTheFactoryAndTheInterfaceClass) {
  const std::string lib = Env("PDFPARSE_LIB");
  ASSERT_FALSE(lib.empty());
  std::string out;
  ASSERT_EQ(Shell("nm -D --defined-only '" + lib + "'", &out), 0) << out;

  const std::set<std::string> standard = {"_init", "_fini", "__bss_start", "_edata", "_end"};
  std::set<std::string> ours;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    if (standard.count(name) || name.find('@') != std::string::npos) continue;
    // Lower-case types are local bindings that the linker left in the
    // table; no host can bind to them (weak and unique ones are global).
    if (type.size() == 1 && std::islower(static_cast<unsigned char>(type[0])) &&
        std::string("vwui").find(type[0]) == std::string::npos)
      continue;
    ours.insert(name);
  }
  const std::set<std::string> expected = {
      "CreateCPdfParse",
      "_ZN11CPdfParseIfC1Ev",      "_ZN11CPdfParseIfC2Ev",     // default constructor
      "_ZN11CPdfParseIfC1ERKS_",   "_ZN11CPdfParseIfC2ERKS_",  // copy constructor
      "_ZN11CPdfParseIfD0Ev",      "_ZN11CPdfParseIfD1Ev",     "_ZN11CPdfParseIfD2Ev",
      "_ZN11CPdfParseIfaSERKS_",                               // copy assignment
      "_ZTV11CPdfParseIf",         "_ZTI11CPdfParseIf",        "_ZTS11CPdfParseIf",
  };
  EXPECT_EQ(ours, expected) << out;
}

// A host built on its own: only the public headers and libdl.
const char* const kHostSource = R"(
#include <dlfcn.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include "pdfparse/CPdfParseIf.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) { std::printf("dlopen: %s\n", dlerror()); return 3; }
  auto create = reinterpret_cast<CreateCPdfParseFn>(dlsym(lib, "CreateCPdfParse"));
  if (!create) return 4;
  CPdfParseIf* parser = create(0);
  if (!parser || !parser->init()) return 5;
  PdfInquiryRec rec;
  rec.level = 1;
  bool ok = parser->runInquiry(argv[2], &rec);
  std::printf("ok=%d status=%d pages=%d\n", ok ? 1 : 0, parser->getStatus(), rec.numPages);
  PdfInquiryRec missing;
  bool bad = parser->runInquiry("/nonexistent/none.pdf", &missing);
  std::printf("missing ok=%d status=%d\n", bad ? 1 : 0, parser->getStatus());
  delete parser;
  return dlclose(lib) == 0 ? 0 : 6;
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

TEST(StandaloneHost, CompilesAgainstThePublicHeadersAndRunsAnInquiry) {
  const std::string lib = Env("PDFPARSE_LIB");
  const std::string source = Env("PDFPARSE_SOURCE_DIR");
  ASSERT_FALSE(lib.empty());
  ASSERT_FALSE(source.empty());
  pdftest::TempDir dir;
  std::string host = dir.write("host.cc", kHostSource);
  std::string pdf = dir.write("three.pdf", pdftest::BuildPdf(pdftest::Pages(3)));

  std::string out;
  ASSERT_EQ(Shell("g++ -std=c++17" + SanitizerFlags() + " -I'" + source + "/include' '" + host + "' -o '" +
                    dir.file("host") + "' -ldl",
                &out),
            0)
      << out;
  out.clear();
  ASSERT_EQ(Shell("'" + dir.file("host") + "' '" + lib + "' '" + pdf + "'", &out), 0) << out;
  EXPECT_NE(out.find("ok=1 status=0 pages=3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("missing ok=0 status=1\n"), std::string::npos) << out;
}

TEST(LoadAndUnload, ParsersWorkAcrossRepeatedLoadsAndUnloads) {
  const std::string lib = Env("PDFPARSE_LIB");
  pdftest::TempDir dir;
  std::string pdf = dir.write("two.pdf", pdftest::BuildPdf(pdftest::Pages(2)));
  for (int round = 0; round < 2; ++round) {
    void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto create = reinterpret_cast<CreateCPdfParseFn>(dlsym(handle, "CreateCPdfParse"));
    ASSERT_NE(create, nullptr);
    CPdfParseIf* a = create(0);
    CPdfParseIf* b = create(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    // Two host threads, one parser each, at the same time.
    bool okA = false, okB = false;
    PdfInquiryRec recA, recB;
    recA.level = recB.level = 1;
    std::thread ta([&] { okA = a->runInquiry(pdf.c_str(), &recA); });
    std::thread tb([&] { okB = b->runInquiry("/nonexistent/x.pdf", &recB); });
    ta.join();
    tb.join();
    EXPECT_TRUE(okA);
    EXPECT_EQ(recA.numPages, 2);
    EXPECT_FALSE(okB);
    EXPECT_EQ(a->getStatus(), 0);
    EXPECT_EQ(b->getStatus(), 1);
    delete a;  // the worker moves on to b
    PdfInquiryRec again;
    EXPECT_TRUE(b->runInquiry(pdf.c_str(), &again));
    delete b;  // stops and joins the worker before the library goes
    EXPECT_EQ(dlclose(handle), 0);
  }
}

TEST(LoadAndUnload, NoExceptionLeavesTheInterfaceOnBadInput) {
  void* handle = dlopen(Env("PDFPARSE_LIB").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto create = reinterpret_cast<CreateCPdfParseFn>(dlsym(handle, "CreateCPdfParse"));
  CPdfParseIf* p = create(12345);
  ASSERT_NE(p, nullptr);
  pdftest::TempDir dir;
  std::string junk = dir.write("junk.pdf", "not a pdf at all");
  PdfInquiryRec rec;
  for (int level : {0, 1, 2, 3, 4, -1}) {
    rec.level = level;
    EXPECT_NO_THROW(EXPECT_FALSE(p->runInquiry(junk.c_str(), &rec)));
  }
  EXPECT_NO_THROW(EXPECT_FALSE(p->runInquiry(junk.c_str(), nullptr)));
  EXPECT_NO_THROW(EXPECT_FALSE(p->runInquiry(nullptr, &rec)));
  delete p;
  EXPECT_EQ(dlclose(handle), 0);
}

}  // namespace
