// Which reading answers a document: the structure reader first, libqpdf for
// what it refuses (at the open or part way), and libqpdf alone on request.
#include <gtest/gtest.h>

#include <cstring>

#include "document/Document.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

using document::Document;

struct Opened {
  std::vector<std::string> trace;
  std::unique_ptr<Document> doc;
  Document::OpenResult result;
};

Opened Open(const std::string& bytes) {
  Opened out;
  auto buffer = std::make_shared<Buffer>(bytes.size());
  std::memcpy(buffer->getBuffer(), bytes.data(), bytes.size());
  out.doc = std::make_unique<Document>("doc.pdf", buffer, std::make_shared<document::WorkBudget>(bytes.size(), 60000),
                                       true, [&out](const std::string& line) { out.trace.push_back(line); });
  out.result = out.doc->open(nullptr);
  return out;
}

size_t Lines(const std::vector<std::string>& trace, const std::string& part) {
  size_t n = 0;
  for (const std::string& line : trace) n += line.find(part) != std::string::npos;
  return n;
}

TEST(ReadPath, TheStructureReaderAnswersWhatItReadsAndHandsTheRestToLibqpdf) {
  const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>";
  const std::string good = pdfbuilder::Assemble(
      {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>", page, page, page,
        "<< /Producer (p) >>"},
       "/Root 1 0 R /Info 6 0 R"});
  {
    Opened o = Open(good);
    ASSERT_EQ(o.result, Document::OpenResult::Opened);
    EXPECT_EQ(o.doc->pageCount(), 3u);
    EXPECT_EQ(o.doc->infoText("/Producer"), "p");
    EXPECT_TRUE(o.doc->pageInks(2, false).empty());
    EXPECT_TRUE(o.doc->readByStructureReader());
    EXPECT_TRUE(o.trace.empty());
  }
  {
    // Page 3 names another parent: the reader leaves after page 2, libqpdf
    // finds the pages again and answers.
    std::string odd = good;
    odd.replace(odd.rfind("/Parent 2 0 R"), 13, "/Parent 1 0 R");
    Opened o = Open(odd);
    ASSERT_EQ(o.result, Document::OpenResult::Opened);
    ASSERT_TRUE(o.doc->reachPage(1));
    EXPECT_TRUE(o.doc->readByStructureReader());
    EXPECT_EQ(o.doc->pageCount(), 3u);
    EXPECT_FALSE(o.doc->readByStructureReader());
    EXPECT_EQ(o.doc->pageTable().size(), 3u);
    EXPECT_EQ(o.doc->pageTable().mediaBox(1).ury, 300);
    EXPECT_EQ(
        Lines(o.trace, "CPdfEngine reader: doc.pdf: the /Parent of 5 0 is not the node that lists it; read by libqpdf"),
        1u);
  }
  {
    Document::SetStructureReaderEnabled(false);
    Opened o = Open(good);
    Document::SetStructureReaderEnabled(true);
    EXPECT_EQ(o.doc->pageCount(), 3u);
    EXPECT_FALSE(o.doc->readByStructureReader());
    EXPECT_EQ(Lines(o.trace, "CPdfEngine reader"), 0u);
  }
}

}  // namespace
}  // namespace pdfparse::test
