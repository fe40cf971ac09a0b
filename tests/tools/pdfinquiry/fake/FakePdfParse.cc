// A stand-in for libpdfparse.so that pdfinquiry's tests load with --library.
// It answers from text files of "name=value" lines instead of PDFs, writing
// only the fields a file names, the way the real library leaves fields
// alone on paths that fail: status=0|1|3 (getStatus() afterwards), result=0|1
// (what runInquiry returns, when it is to differ from status == 0), pages,
// rotation, info.KEY (TEXT with "\xNN" for a byte), pagemode and mediabox
// (level 2), subtype and spot (level 3). An unreadable file fails with
// nothing written. With FAKE_PDFPARSE_NULL set the factory makes no parser.
// Loading and each inquiry append a line to the file PDFPARSE_TRACE names.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "pdfparse/CPdfParseIf.h"

CPdfParseIf::CPdfParseIf() = default;
CPdfParseIf::CPdfParseIf(const CPdfParseIf&) = default;
CPdfParseIf::~CPdfParseIf() = default;
CPdfParseIf& CPdfParseIf::operator=(const CPdfParseIf&) = default;

namespace {

void TraceLine(const std::string& text) {
  const char* file = std::getenv("PDFPARSE_TRACE");
  if (file && *file) std::ofstream(file, std::ios::app) << "fake: " << text << "\n";
}

__attribute__((constructor)) void OnLoad() { TraceLine("loaded"); }

class FakeParser : public CPdfParseIf {
 public:
  bool init() override { return true; }
  int32_t getStatus() override { return status_; }
  bool runInquiry(const char* fileName, PdfInquiryRec* rec) override {
    TraceLine(std::string("inquiry ") + fileName);
    std::ifstream in(fileName);
    status_ = in ? 0 : 1;
    int result = -1;
    for (std::string line; std::getline(in, line);) {
      std::string name = line.substr(0, line.find('=')), value = line.substr(std::min(line.size(), name.size() + 1));
      std::istringstream v(value);
      const int level = name == "pagemode" || name == "mediabox" ? 2 : name == "subtype" || name == "spot" ? 3 : 1;
      if (level > rec->level) continue;
      if (name == "status") v >> status_;
      if (name == "result") v >> result;
      if (name == "pages") v >> rec->numPages;
      if (name == "rotation") v >> rec->rotation;
      if (name == "pagemode") v >> rec->pageMode;
      if (name == "mediabox") v >> rec->mediaBox[0] >> rec->mediaBox[1] >> rec->mediaBox[2] >> rec->mediaBox[3];
      if (name == "subtype") v >> rec->subType;
      if (name == "spot") v >> rec->hasSpotInk;
      if (name == "info." + std::string(rec->infoKey) && !value.empty()) rec->infoValue.clear();
      for (size_t i = 0; name == "info." + std::string(rec->infoKey) && i < value.size(); ++i) {
        bool escape = value.compare(i, 2, "\\x") == 0 && i + 3 < value.size();  // "\xNN" is a byte
        rec->infoValue += escape ? static_cast<char>(std::stoi(value.substr(i + 2, 2), nullptr, 16)) : value[i];
        i += escape ? 3 : 0;
      }
    }
    return result < 0 ? status_ == 0 : result == 1;
  }

 private:
  int32_t status_ = 0;
};

}  // namespace

extern "C" PDFPARSE_EXPORT CPdfParseIf* CreateCPdfParse(int32_t) {
  return std::getenv("FAKE_PDFPARSE_NULL") ? nullptr : new FakeParser;
}
