#include "readercheck/ReaderCheck.h"

#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "document/Document.h"
#include "document/WorkBudget.h"

namespace pdfparse::readercheck {
namespace {

constexpr uint64_t kTimeoutMillis = 20000;
constexpr uint64_t kMemoryBytes = 512ull << 20;
const char* const kInfoKeys[] = {"/Producer", "/Title", "/Creator"};

struct Answers {
  bool opened = false;
  bool failed = false;   // an error other than a work limit
  bool limited = false;  // a work limit ended the read
  bool kept = false;
  std::string text;  // everything answered, one line each
};

Answers Read(const std::string& bytes, bool structureReader, size_t maxPages) {
  Answers answers;
  document::Document::SetStructureReaderEnabled(structureReader);
  auto buffer = std::make_shared<Buffer>(bytes.size());
  if (!bytes.empty()) std::memcpy(buffer->getBuffer(), bytes.data(), bytes.size());
  document::Limits limits;
  limits.timeoutMillis = kTimeoutMillis;
  limits.memoryBytes = kMemoryBytes;
  auto budget = std::make_shared<document::WorkBudget>(bytes.size(), limits);
  std::ostringstream out;
  try {
    document::Document doc("check.pdf", buffer, budget, /*repair=*/true);
    if (doc.open(nullptr) != document::Document::OpenResult::Opened) {
      out << "needs a password\n";
    } else {
      answers.opened = true;
      for (const char* key : kInfoKeys) out << key << "=" << doc.infoText(key) << "\n";
      const size_t count = doc.pageCount();
      out << "pages=" << count << "\n";
      for (size_t i = 0; i < std::min(count, maxPages); ++i) {
        doc.reachPage(i);
        const document::PageTable& table = doc.pageTable();
        try {
          table.check(i);
        } catch (const std::exception&) {
          out << "page " << i << " broken\n";
          continue;
        }
        const document::Box& m = table.mediaBox(i);
        const document::Box& c = table.cropBox(i);
        out.precision(17);
        out << "page " << i << " media " << m.llx << " " << m.lly << " " << m.urx << " " << m.ury << " crop " << c.llx
            << " " << c.lly << " " << c.urx << " " << c.ury << " unit " << table.userUnit(i) << " rotate "
            << table.rotation(i) << " inks";
        for (const document::Ink& ink : doc.pageInks(i, false))
          out << " [" << ink.name << (ink.process ? "*" : "") << "]";
        out << "\n";
      }
      answers.kept = doc.readByStructureReader();
    }
  } catch (const document::Error& e) {
    if (e.endsInquiry()) {
      answers.limited = true;
    } else {
      answers.failed = true;
    }
  } catch (const std::bad_alloc&) {
    answers.limited = true;
  } catch (const std::exception&) {
    answers.failed = true;
  }
  document::Document::SetStructureReaderEnabled(true);
  answers.text = out.str();
  return answers;
}

std::string FirstDifference(const std::string& a, const std::string& b) {
  std::istringstream x(a), y(b);
  std::string lx, ly;
  while (true) {
    const bool gx = static_cast<bool>(std::getline(x, lx)), gy = static_cast<bool>(std::getline(y, ly));
    if (!gx && !gy) return {};
    if (!gx) lx = "(nothing)";
    if (!gy) ly = "(nothing)";
    if (lx != ly) return "structure reader: " + lx + " | libqpdf: " + ly;
  }
}

}  // namespace

Comparison CompareReaders(const std::string& bytes, size_t maxPages) {
  Comparison result;
  const Answers fast = Read(bytes, true, maxPages);
  result.readerKept = fast.kept;
  // A document the reader leaves part way is answered by libqpdf from then
  // on: its answers are compared too.
  if (fast.limited) return result;
  const Answers plain = Read(bytes, false, maxPages);
  if (plain.limited) return result;
  result.compared = true;
  if (fast.failed != plain.failed) {
    result.difference = fast.failed ? "the structure reader failed where libqpdf answered"
                                    : "libqpdf failed where the structure reader answered";
    return result;
  }
  result.difference = FirstDifference(fast.text, plain.text);
  return result;
}

}  // namespace pdfparse::readercheck
