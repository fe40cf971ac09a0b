// Damaged and hostile files: repair, page-tree walks that stay bounded, and
// warnings that go to the trace only, never to the console.
#include "document/Document.h"
#include "support/EngineFixture.h"

namespace pdfparse::test {
namespace {

// A root node with these kids, pages 3 and 4 (page 4 /Rotate 90), and
// `extra` objects from 5.
std::string Raw(std::vector<std::string> objects, const std::string& trailer = "/Root 1 0 R") {
  return Assemble(RawDoc{std::move(objects), trailer});
}

std::string Tree(const std::string& kids, const std::string& count = "2", std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), {"<< /Type /Catalog /Pages 2 0 R >>",
                               "<< /Type /Pages /Kids [" + kids + "] /Count " + count + " /MediaBox [0 0 100 100] >>",
                               "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Page /Parent 2 0 R /Rotate 90 >>"});
  return Raw(extra);
}

// `levels` nodes above one page; Rotate 90 on the top one, inherited down.
std::string Chain(int levels) {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>"};
  for (int me = 2; me < levels + 2; ++me) {
    std::string parent = me > 2 ? " /Parent " + std::to_string(me - 1) + " 0 R" : " /Rotate 90";
    objects.push_back("<< /Type /Pages /Kids [" + std::to_string(me + 1) + " 0 R] /Count 1" + parent + " >>");
  }
  objects.push_back("<< /Type /Page /Parent " + std::to_string(levels + 1) + " 0 R >>");
  return Raw(objects);
}

std::string Built(int pages, bool objectStreams, bool sealed = false) {
  DocLayout doc{std::vector<std::string>(pages), "/MediaBox [0 0 612 792]", objectStreams ? 3 : 0, {{"Producer", "p"}}};
  doc.objectStreams = objectStreams;
  if (sealed) doc.encryption = DocLayout::Encryption{"marble", "owner"};
  return BuildPdf(doc);
}

// Pages with a token libqpdf warns about, and one object at a wrong offset.
std::string Noisy() {
  std::string kids;
  for (int i = 5; i < 35; ++i) kids += std::to_string(i) + " 0 R ";
  std::string bytes = Tree(kids, "30", std::vector<std::string>(30, "<< /Type /Page /Parent 2 0 R /Odd 1e9x >>"));
  bytes[bytes.find(" 00000 n", bytes.find("xref\n0 ")) - 1] = '7';
  return bytes;
}

struct Damage {
  std::string name, bytes;
  int pages;  // -1: the open or the page count fails with kDamaged
  std::string producer = "";
  int rotation = 0;  // of the first page
  std::string trace = "";
  size_t traced = 0;      // lines with `trace`
  std::string fails = "";  // what the failed page count or Info read says
};

TEST_F(EngineTest, DamagedFilesAreRepairedAndHostileTreesStayBounded) {
  const std::string plain = Built(5, false), os = Built(7, true), sealed = Built(3, false, true);
  const size_t xref = plain.rfind("xref"), xrefStream = os.rfind("\n", os.rfind(" obj", os.rfind("/Type /XRef"))) + 1;
  std::string garbled = os;
  garbled.replace(garbled.find("stream", xrefStream) + 8, 20, std::string(20, 'Z'));
  const Damage cases[] = {
      {"truncated xref", plain.substr(0, xref + 40), 5, "p"},
      {"junk before the header", std::string(3000, 'G') + plain, 5, "p"},
      {"no trailer", plain.substr(0, plain.rfind("trailer")), 5, "p", 0, "opened by rebuilding", 1},
      {"broken xref stream", garbled, 7, "p"},
      {"cut before the xref stream", os.substr(0, xrefStream), 7, "p"},  // all objects in object streams
      {"protected and truncated", sealed.substr(0, sealed.rfind("xref")), 3, "p"},
      {"no catalog", Raw({"<< /Type /Font >>", "<< /Producer (p) >>"}, "/Info 2 0 R"), -1},
      {"a root that is no catalog: rebuilt, with the trailer's /Info (typed, so no scan finds it)",
       Raw({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] >>", "<< /Type /Font >>",
            "<< /Type /Info /Producer (typed) >>"},
           "/Root 4 0 R /Info 5 0 R"),
       1, "typed", 0, "opened by rebuilding", 1},
      {"objects and no trailer, no /Pages anywhere: nothing to rebuild",
       "%PDF-1.4\n1 0 obj\n<< /Type /Font >>\nendobj\n2 0 obj\n(x)\nendobj\n", -1, "", 0,
       "names no /Pages anywhere; not rebuilding", 1},
      {"loop two levels down",
       Tree("3 0 R 5 0 R", "3", {"<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 6 0 R] >>", "<< /Kids [2 0 R] >>"}), 2, "",
       0, "is its own ancestor; loop cut", 1},
      {"count too high", Tree("4 0 R 3 0 R", "1000"), 2, "", 90},
      {"page listed twice", Tree("3 0 R 4 0 R 3 0 R", "3"), 3},
      {"node listed twice", Tree("5 0 R 5 0 R", "4", {"<< /Type /Pages /Kids [3 0 R 4 0 R] >>"}), 2, "", 0,
       "reached a second time", 1},
      {"kids that are no pages",
       Tree("3 0 R (text) null 42 5 0 R << /Type /Font >> [4 0 R] 4 0 R", "2", {"<< /Type /Font /Subtype /Type1 >>"}),
       2, "", 0, "is not a page or page-tree node", 6},
      {"a kid that is not in the file: the count cannot be told", Tree("3 0 R 99 0 R 4 0 R", "3"), -1, "", 0, "", 0,
       "page-tree kid 99 0 R is not in the file"},
      {"an Info dictionary that is not in the file: the entry cannot be told",
       Raw({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /MediaBox [0 0 9 9] >>",
            "<< /Type /Page /Parent 2 0 R >>"},
           "/Root 1 0 R /Info 9 0 R"),
       1, "", 0, "", 0, "the Info dictionary 9 0 R is not in the file"},
      {"untyped kids", Tree("5 0 R 6 0 R", "3", {"<< /Kids [3 0 R] >>", "<< /Parent 2 0 R /MediaBox [0 0 5 5] >>"}), 2},
      {"no page tree", Raw({"<< /Type /Catalog >>"}), 0, "", 0, "no page tree", 1},
      {"a page as the root", Raw({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Page /Rotate 180 >>"}), 1, "", 180},
      {"parent loop above the root",
       Raw({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Rotate 270 /Parent 4 0 R >>",
            "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Pages /Parent 2 0 R >>"}),
       1, "", 270},
      {"deep tree, walked without recursion", Chain(5000), 1, "", 90, "deeper than", 0},
      {"kids that are one page, not an array",
       Raw({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids 3 0 R /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /Rotate 90 >>"}),
       1, "", 90, "is one object, not an array; read as a list of one", 1},
      {"rotate out of range spoils its page",  // libqpdf cannot read the object: its own values are lost
       Tree("5 0 R 4 0 R", "2", {"<< /Type /Page /Parent 2 0 R /Rotate 99999999999999999999990 >>"}), -1, "", 0, "",
       0, "page-tree kid 5 0 R is not in the file or cannot be read"},
      {"info that is page 1",
       Raw({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /Rotate 180 /Producer (on the page) >>"},
           "/Root 1 0 R /Info 3 0 R"),
       1, "on the page", 180},
      {"huge object numbers",
       "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
       "2 0 obj << /Type /Pages /Kids [2147483646 0 R 3 0 R 8388607 0 R] /Count 3 >> endobj\n"
       "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >> endobj\n"
       "2147483646 0 obj << /Type /Page /Parent 2 0 R >> endobj\ntrailer << /Root 1 0 R /Size 2147483647 >>\n%%EOF\n",
       -1, "", 0, "", 0, "page-tree kid 8388607 0 R is not in the file"},
      {"many warnings", Noisy(), 30, "", 0, "CPdfEngine warning:", document::kTracedWarnings + 1},
  };
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    sink_->clear();
    std::string path = write("damaged.pdf", c.bytes), message, producer, infoMessage;
    int pages = -1, rotate = 0;
    PDDoc doc = nullptr;
    ASErrorCode error = ErrorOf([&] { doc = open(path, "marble"); }, &message);
    if (doc != nullptr) {
      error = ErrorOf([&] { pages = engine_.PDDocGetNumPages(doc); }, &message);
      ErrorOf([&] { producer = info(doc, "Producer"); }, &infoMessage);
      if (pages > 0) rotate = rotation(doc, 0);
      engine_.PDDocClose(doc);
    }
    EXPECT_EQ(error, pages < 0 ? err::kDamaged : 0) << message;
    if (!c.fails.empty()) {
      EXPECT_NE((message + infoMessage).find(c.fails), std::string::npos) << message << infoMessage;
    }
    EXPECT_EQ(pages, c.pages);
    EXPECT_EQ(producer, c.producer);
    EXPECT_EQ(rotate, c.rotation);
    EXPECT_EQ(c.trace.empty() ? 0 : traced(c.trace), c.traced);
    EXPECT_EQ(engine_.openDocuments(), 0u) << "a document was left open";
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(engine_.openDocuments(), 0u);
  EXPECT_EQ(traced("more warnings for"), 1u);
}

}  // namespace
}  // namespace pdfparse::test
