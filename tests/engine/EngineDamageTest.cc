// Damaged and hostile files: repair, page-tree walks that stay bounded,
// and warnings that go to the trace only.
#include <gmock/gmock.h>

#include "engine/EngineFixture.h"
#include "outside/pdfl/core/PageTree.h"
#include "outside/pdfl/qpdf/QpdfDocument.h"

namespace enginetest {
namespace {

using ::testing::HasSubstr;
using pdftest::Assemble;
using pdftest::BuildPdf;
using pdftest::DocSpec;
using pdftest::Pages;
using pdftest::RawDoc;

class DamageTest : public EngineTest {
 protected:
  // Page count and Producer of the file, or the error code.
  struct Answer {
    ASErrorCode error = 0;
    int pages = -1;
    std::string producer;
  };
  Answer ask(const std::string& name, const std::string& bytes, bool repair = true, AuthScript* auth = nullptr) {
    Answer answer;
    std::string path = write(name, bytes);
    answer.error = ErrorOf([&] {
      PDDoc doc = open(path, repair, auth);
      try {
        answer.pages = engine_.PDDocGetNumPages(doc);
        char buffer[128] = {};
        engine_.PDDocGetInfo(doc, "Producer", buffer, sizeof buffer);
        answer.producer = buffer;
      } catch (...) {
        engine_.PDDocClose(doc);
        throw;
      }
      engine_.PDDocClose(doc);
    });
    return answer;
  }
  static std::string Plain(int pages, const std::string& producer) {
    DocSpec spec = Pages(pages);
    spec.info["Producer"] = producer;
    return BuildPdf(spec);
  }
  static std::string Compressed(int pages, const std::string& producer) {
    DocSpec spec = Pages(pages);
    spec.info["Producer"] = producer;
    spec.objectStreams = true;
    spec.fanout = 3;
    return BuildPdf(spec);
  }
  // Where the cross-reference stream object of `bytes` begins.
  static size_t XrefStreamStart(const std::string& bytes) {
    size_t type = bytes.rfind("/Type /XRef");
    return bytes.rfind("\n", bytes.rfind(" obj", type)) + 1;
  }
  // A root node with these kids, pages 3 and 4, and `extra` objects from 5.
  static RawDoc Tree(const std::string& kids, const std::string& count = "2",
                     const std::vector<std::string>& extra = {}) {
    RawDoc raw;
    raw.objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                   "<< /Type /Pages /Kids [" + kids + "] /Count " + count + " /MediaBox [0 0 100 100] >>",
                   "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Page /Parent 2 0 R /Rotate 90 >>"};
    raw.objects.insert(raw.objects.end(), extra.begin(), extra.end());
    return raw;
  }
};

// --- Repair -----------------------------------------------------------------------

TEST_F(DamageTest, DamagedCrossReferenceDataIsRepaired) {
  std::string plain = Plain(5, "plain");
  size_t xref = plain.rfind("xref");
  Answer truncatedXref = ask("truncated-xref.pdf", plain.substr(0, xref + 40));
  EXPECT_EQ(truncatedXref.pages, 5);
  EXPECT_EQ(truncatedXref.producer, "plain");
  std::string badStart = plain.substr(0, plain.rfind("startxref")) + "startxref\n999999\n%%EOF\n";
  EXPECT_EQ(ask("bad-startxref.pdf", badStart).pages, 5);
  EXPECT_EQ(ask("no-header.pdf", std::string(3000, 'G') + plain).pages, 5);
}

TEST_F(DamageTest, AFileWithoutTrailerIsRebuiltFromItsObjects) {
  std::string plain = Plain(5, "no trailer");
  Answer answer = ask("no-trailer.pdf", plain.substr(0, plain.rfind("trailer")));
  EXPECT_EQ(answer.error, 0);
  EXPECT_EQ(answer.pages, 5);
  EXPECT_EQ(answer.producer, "no trailer");  // Info found by its entries
  EXPECT_FALSE(linesWith("CPdfEngine repair:").empty());
  EXPECT_FALSE(linesWith("opened by rebuilding").empty());
  Answer tail = ask("truncated-tail.pdf", plain.substr(0, plain.size() * 2 / 3));
  EXPECT_EQ(tail.pages, 5);
}

TEST_F(DamageTest, BrokenCrossReferenceStreamsAreRebuiltWithObjectStreams) {
  std::string os = Compressed(7, "compressed");
  std::string broken = os;
  size_t data = broken.find("stream", XrefStreamStart(broken)) + 8;
  for (size_t i = data; i < data + 20; ++i) broken[i] = 'Z';
  Answer garbled = ask("broken-xref-stream.pdf", broken);
  EXPECT_EQ(garbled.pages, 7);
  EXPECT_EQ(garbled.producer, "compressed");
  // Cut before the cross-reference stream: the catalog, the page tree and
  // the Info dictionary exist only inside object streams.
  Answer cut = ask("cut.pdf", os.substr(0, XrefStreamStart(os)));
  EXPECT_EQ(cut.error, 0);
  EXPECT_EQ(cut.pages, 7);
  EXPECT_EQ(cut.producer, "compressed");
}

TEST_F(DamageTest, AProtectedDamagedFileOpensWithItsPassword) {
  DocSpec spec = Pages(3);
  spec.info["Producer"] = "sealed";
  spec.encryption = DocSpec::Encryption{"marble", "owner"};
  std::string bytes = BuildPdf(spec);
  AuthScript auth{nullptr, "marble"};
  Answer answer = ask("sealed-truncated.pdf", bytes.substr(0, bytes.rfind("xref")), true, &auth);
  EXPECT_EQ(answer.pages, 3);
  EXPECT_EQ(answer.producer, "sealed");
  EXPECT_EQ(auth.calls, 1);
}

TEST_F(DamageTest, WithoutRepairDamageIsAnError) {
  std::string plain = Plain(2, "x");
  std::string noTrailer = plain.substr(0, plain.rfind("trailer"));
  EXPECT_EQ(ask("strict.pdf", noTrailer, /*repair=*/false).error, pdfl_err::kDamaged);
  EXPECT_TRUE(linesWith("CPdfEngine repair:").empty());
  EXPECT_EQ(ask("strict-ok.pdf", plain, false).pages, 2);
}

TEST_F(DamageTest, HopelessFilesFailWithTheDamagedError) {
  RawDoc noCatalog;
  noCatalog.objects = {"<< /Type /Font >>", "<< /Producer (p) >>"};
  noCatalog.trailer = "/Info 2 0 R";
  std::string message;
  std::string path = write("no-catalog.pdf", Assemble(noCatalog));
  EXPECT_EQ(openError(path, true, nullptr, &message), pdfl_err::kDamaged);
  EXPECT_THAT(message, HasSubstr("PDDocOpenEx"));
  EXPECT_EQ(engine_.openDocuments(), 0u);
}

// --- Page trees -------------------------------------------------------------------

TEST_F(DamageTest, PageTreeLoopsAreCutAndTraced) {
  EXPECT_EQ(ask("loop.pdf", Assemble(Tree("3 0 R 2 0 R 4 0 R", "3"))).pages, 2);
  EXPECT_EQ(linesWith("is its own ancestor; loop cut").size(), 1u);
  // A loop two levels down.
  RawDoc deeper = Tree("3 0 R 5 0 R", "3",
                       {"<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 6 0 R] /Count 2 >>",
                        "<< /Type /Pages /Parent 5 0 R /Kids [2 0 R] /Count 1 >>"});
  EXPECT_EQ(ask("loop2.pdf", Assemble(deeper)).pages, 2);
}

TEST_F(DamageTest, CountIsNeverTrusted) {
  EXPECT_EQ(ask("count-high.pdf", Assemble(Tree("3 0 R 4 0 R", "1000"))).pages, 2);
  EXPECT_EQ(ask("count-zero.pdf", Assemble(Tree("3 0 R 4 0 R", "0"))).pages, 2);
  EXPECT_EQ(ask("count-negative.pdf", Assemble(Tree("3 0 R 4 0 R", "-7"))).pages, 2);
}

TEST_F(DamageTest, APageListedTwiceCountsTwiceButANodeIsWalkedOnce) {
  EXPECT_EQ(ask("page-twice.pdf", Assemble(Tree("3 0 R 4 0 R 3 0 R", "3"))).pages, 3);
  RawDoc nodeTwice = Tree("5 0 R 5 0 R", "4", {"<< /Type /Pages /Parent 2 0 R /Kids [3 0 R 4 0 R] /Count 2 >>"});
  EXPECT_EQ(ask("node-twice.pdf", Assemble(nodeTwice)).pages, 2);
  EXPECT_EQ(linesWith("reached a second time").size(), 1u);
}

TEST_F(DamageTest, KidsThatAreNotPagesAreSkipped) {
  RawDoc raw = Tree("3 0 R (text) null 42 99 0 R 5 0 R << /Type /Font >> [4 0 R] 4 0 R", "2",
                    {"<< /Type /Font /Subtype /Type1 >>"});
  EXPECT_EQ(ask("bad-kids.pdf", Assemble(raw)).pages, 2);
  EXPECT_EQ(linesWith("is not a page or page-tree node").size(), 7u);
  // Without /Type a kid is a node when it has kids, a page otherwise.
  RawDoc untyped = Tree("5 0 R 6 0 R", "3",
                        {"<< /Kids [3 0 R] >>", "<< /Parent 2 0 R /MediaBox [0 0 5 5] >>"});
  EXPECT_EQ(ask("untyped.pdf", Assemble(untyped)).pages, 2);
}

TEST_F(DamageTest, OddTreeRootsAreHandled) {
  RawDoc noPages;
  noPages.objects = {"<< /Type /Catalog >>"};
  Answer none = ask("no-pages.pdf", Assemble(noPages));
  EXPECT_EQ(none.error, 0);
  EXPECT_EQ(none.pages, 0);
  EXPECT_FALSE(linesWith("no page tree").empty());
  RawDoc pageAsRoot;
  pageAsRoot.objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Page /MediaBox [0 0 10 10] >>"};
  EXPECT_EQ(ask("page-root.pdf", Assemble(pageAsRoot)).pages, 1);
  RawDoc noKids;
  noKids.objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Count 5 >>"};
  EXPECT_EQ(ask("no-kids.pdf", Assemble(noKids)).pages, 0);
}

// A chain of `levels` intermediate nodes above one page (Rotate 90 on the
// top node, inherited all the way down).
std::string Chain(int levels) {
  RawDoc raw;
  raw.objects = {"<< /Type /Catalog /Pages 2 0 R >>"};
  for (int i = 0; i < levels; ++i) {
    int me = 2 + i;
    std::string parent = i ? " /Parent " + std::to_string(me - 1) + " 0 R" : " /Rotate 90";
    raw.objects.push_back("<< /Type /Pages /Kids [" + std::to_string(me + 1) + " 0 R] /Count 1" + parent + " >>");
  }
  raw.objects.push_back("<< /Type /Page /Parent " + std::to_string(levels + 1) + " 0 R >>");
  return Assemble(raw);
}

TEST_F(DamageTest, DeepTreesAreWalkedWithoutRecursion) {
  PDDoc doc = open(write("deep.pdf", Chain(1500)));
  EXPECT_EQ(engine_.PDDocGetNumPages(doc), 1);
  PDPage page = engine_.PDDocAcquirePage(doc, 0);
  EXPECT_EQ(engine_.PDPageGetRotate(page), 90);  // inherited through 1,500 levels
  engine_.PDPageRelease(page);
  engine_.PDDocClose(doc);
  EXPECT_TRUE(linesWith("deeper than").empty());
}

TEST_F(DamageTest, TreesBeyondTheDepthBoundAreCut) {
  EXPECT_EQ(ask("too-deep.pdf", Chain(pdfcore::kMaxTreeDepth + 10)).pages, 0);
  EXPECT_EQ(linesWith("deeper than " + std::to_string(pdfcore::kMaxTreeDepth)).size(), 1u);
}

TEST_F(DamageTest, HugeObjectNumbersDoNotHurt) {
  std::string bytes =
      "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
      "2 0 obj << /Type /Pages /Kids [2147483646 0 R 3 0 R 8388607 0 R] /Count 3 >> endobj\n"
      "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >> endobj\n"
      "2147483646 0 obj << /Type /Page /Parent 2 0 R >> endobj\n"
      "trailer << /Root 1 0 R /Size 2147483647 >>\n%%EOF\n";
  Answer answer = ask("huge.pdf", bytes);
  EXPECT_EQ(answer.error, 0);
  EXPECT_GE(answer.pages, 1);
}

// --- Warnings ---------------------------------------------------------------------

TEST_F(DamageTest, WarningsGoToTheTraceNeverToTheConsole) {
  // Pages with a token libqpdf warns about, and objects at wrong offsets.
  std::string kids;
  RawDoc raw = Tree("");
  raw.objects.resize(2);
  for (int i = 0; i < 30; ++i) {
    kids += std::to_string(3 + i) + " 0 R ";
    raw.objects.push_back("<< /Type /Page /Parent 2 0 R /Odd 1e9x" + std::to_string(i) + " >>");
  }
  raw.objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count 30 /MediaBox [0 0 100 100] >>";
  std::string bytes = Assemble(raw);
  size_t table = bytes.find("xref\n0 ");
  bytes[bytes.find(" 00000 n", table) - 1] = '7';  // one offset wrong
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  PDDoc doc = open(write("warn.pdf", bytes));
  EXPECT_EQ(engine_.PDDocGetNumPages(doc), 30);
  engine_.PDDocClose(doc);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(linesWith("CPdfEngine warning:").size(), pdfl_qpdf::kTracedWarnings + 1);
  EXPECT_THAT(linesWith("CPdfEngine warning:").back(), HasSubstr("more warnings for"));
}

}  // namespace
}  // namespace enginetest
