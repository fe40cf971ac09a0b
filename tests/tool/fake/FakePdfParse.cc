// A stand-in for libpdfparse.so that pdfinquiry's tests load with
// --library. It answers from text files of "name=value" lines instead of
// PDFs, writing only the fields a file names, the way the real library
// leaves fields alone on paths that fail:
//   status=0|1|3        getStatus() after the inquiry (default 0)
//   pages=N rotation=N  level 1 fields
//   info.KEY=TEXT       the entry KEY; "\xNN" in TEXT stands for a byte
//   pagemode=N mediabox=L T R B   level 2 fields
//   subtype=N spot=N    level 3 fields
// A file that cannot be read fails with nothing written. With
// FAKE_PDFPARSE_NULL set, the factory makes no parser. When loaded, and for
// each inquiry, it appends a line to the file named by PDFPARSE_TRACE, as
// the real library's trace does.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "pdfparse/CPdfParseIf.h"

CPdfParseIf::CPdfParseIf() = default;
CPdfParseIf::CPdfParseIf(const CPdfParseIf&) = default;
CPdfParseIf::~CPdfParseIf() = default;
CPdfParseIf& CPdfParseIf::operator=(const CPdfParseIf&) = default;

namespace {

void TraceLine(const std::string& text) {
  const char* file = std::getenv("PDFPARSE_TRACE");
  if (file == nullptr || *file == '\0') return;
  if (std::FILE* f = std::fopen(file, "a")) {
    std::fprintf(f, "fake: %s\n", text.c_str());
    std::fclose(f);
  }
}

__attribute__((constructor)) void OnLoad() { TraceLine("loaded"); }

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

class FakeParser : public CPdfParseIf {
 public:
  bool init() override { return true; }

  bool runInquiry(const char* fileName, PdfInquiryRec* rec) override {
    TraceLine(std::string("inquiry ") + fileName);
    status_ = 1;
    std::ifstream in(fileName);
    if (!in) return false;
    int32_t status = 0;
    std::string line;
    while (std::getline(in, line)) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string name = line.substr(0, eq);
      const std::string value = line.substr(eq + 1);
      std::istringstream v(value);
      if (name == "status") v >> status;
      else if (name == "pages") v >> rec->numPages;
      else if (name == "rotation") v >> rec->rotation;
      else if (name.rfind("info.", 0) == 0 && name.substr(5) == rec->infoKey && !value.empty())
        rec->infoValue = Unescape(value);
      else if (name == "pagemode" && rec->level >= 2) v >> rec->pageMode;
      else if (name == "mediabox" && rec->level >= 2)
        v >> rec->mediaBox[0] >> rec->mediaBox[1] >> rec->mediaBox[2] >> rec->mediaBox[3];
      else if (name == "subtype" && rec->level >= 3) v >> rec->subType;
      else if (name == "spot" && rec->level >= 3) v >> rec->hasSpotInk;
    }
    status_ = status;
    return status == 0;
  }

  int32_t getStatus() override { return status_; }

 private:
  int32_t status_ = 0;
};

}  // namespace

extern "C" PDFPARSE_EXPORT CPdfParseIf* CreateCPdfParse(int32_t) {
  if (std::getenv("FAKE_PDFPARSE_NULL") != nullptr) return nullptr;
  return new FakeParser;
}
