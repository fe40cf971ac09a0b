// The structure reader against libqpdf on every document these tests and the
// samples hold, whole and damaged: whether the reader keeps a document or
// hands it to libqpdf part way, all its answers must be libqpdf's.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pdfbuilder/PdfBuilder.h"
#include "pdfbuilder/Seeds.h"
#include "readercheck/ReaderCheck.h"
#include "support/InkPdfs.h"

namespace pdfparse::test {
namespace {

using Documents = std::vector<std::pair<std::string, std::string>>;

Documents Shapes() {
  Documents out;
  for (bool streams : {false, true}) {
    const std::string tag = streams ? " (object streams)" : "";
    pdfparse::pdfbuilder::DocLayout tree = pdfparse::pdfbuilder::Pages(23);
    tree.fanout = 3;
    tree.objectStreams = streams;
    tree.rootAttrs = "/MediaBox [0 0 595.276 841.89] /Rotate 270 /CropBox [5 5 590 830]";
    tree.pages[3] = "/Rotate -90";
    tree.pages[4] = "/MediaBox [10 20 -300 -400] /UserUnit 2.5";
    tree.pages[5] = "/CropBox [100 100 2000 2000]";
    tree.pages[6] = "/Rotate 450.0";
    tree.info = {{"Producer", pdfparse::pdfbuilder::Utf16Be(u"Vrel \u00e9\U0001F600")},
                 {"Title", "a (nested) title\\"}};
    tree.infoRaw = "/Creator /Name#20With#20Spaces";
    out.emplace_back("balanced tree" + tag, pdfparse::pdfbuilder::BuildPdf(tree));
    pdfparse::pdfbuilder::DocLayout flat = pdfparse::pdfbuilder::Pages(40);
    flat.objectStreams = streams;
    out.emplace_back("flat" + tag, pdfparse::pdfbuilder::BuildPdf(flat));
  }
  out.emplace_back("raw, shared page and inherited attributes",
                   pdfparse::pdfbuilder::Assemble(
                       {{"<< /Type /Catalog /Pages 2 0 R >>",
                         "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R] /Count 3 /Rotate 90 /MediaBox 5 0 R >>",
                         "<< /Type /Page /Parent 2 0 R /Resources << /Font << >> >> >>",
                         "<< /Type /Page /Parent 2 0 R /Rotate 6 0 R /MediaBox [0 0 7 0 R 800] >>", "[0 0 300 400]",
                         "-180", "500", "<< /Producer (raw\\r\\nline) >>"},
                        "/Root 1 0 R /Info 8 0 R"}));
  // What the other readers read and so the structure reader reads too:
  // junk after the end, bytes before the header, a key given many times.
  const std::string flat = out[1].second;
  std::string eofLines;
  for (int i = 0; i < 20000; ++i) eofLines += "%%EOF\n";
  out.emplace_back("followed by 20000 %%EOF lines", flat + eofLines);
  // An object begun in that junk is no part of the document (found by fuzzing).
  out.emplace_back("junk after the end that begins an object", flat + eofLines + "3 0 obj\n<< /Type /Pa");
  out.emplace_back("junk before the header", "GARBAGE\n" + flat);
  std::string repeated = "<<";
  for (int i = 0; i < 20000; ++i) repeated += " /Producer (p" + std::to_string(i) + ")";
  out.emplace_back("an Info dictionary that repeats a key",
                   pdfparse::pdfbuilder::Assemble({{"<< /Type /Catalog /Pages 2 0 R >>",
                                                    "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] >>",
                                                    repeated + " >>"},
                                                   "/Root 1 0 R /Info 4 0 R"}));
  return out;
}

Documents Inks() {
  Documents out;
  for (const pdfparse::test::inkpdfs::InkCase& c : pdfparse::test::inkpdfs::InkRuleCases()) {
    std::unique_ptr<QPDF> pdf = pdfparse::test::inkpdfs::NewPdf();
    c.build(*pdf);
    out.emplace_back("inks: " + c.name, pdfparse::test::inkpdfs::Write(*pdf));
  }
  return out;
}

Documents Samples() {
  Documents out;
  const char* build = std::getenv("PDFPARSE_BUILD_DIR");
  if (build == nullptr) return out;
  const std::filesystem::path dir = std::filesystem::path(build) / "samples";
  if (!std::filesystem::is_directory(dir)) return out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".pdf") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    out.emplace_back("sample " + entry.path().filename().string(), bytes.str());
  }
  return out;
}

// Cut short at several places, and with bytes changed in the structure.
Documents Damaged(const Documents& whole) {
  Documents out;
  for (const auto& [name, bytes] : whole) {
    for (size_t part : {2u, 3u, 5u, 7u}) {
      out.emplace_back(name + ", cut at " + std::to_string(part) + "ths",
                       bytes.substr(0, bytes.size() * (part - 1) / part));
    }
    for (const char* from : {"/Kids", "/Parent", "obj", "R ", "/MediaBox", "/Type", "[", " 0 "}) {
      std::string changed = bytes;
      const size_t at = changed.find(from, changed.size() / 3);
      if (at == std::string::npos) continue;
      changed[at + 1] = changed[at + 1] == 'X' ? 'Y' : 'X';
      out.emplace_back(name + ", " + from + " spoilt", changed);
    }
  }
  return out;
}

TEST(ReaderDifferential, TheStructureReaderAnswersAsLibqpdfWhetherItKeepsADocumentOrNot) {
  Documents whole = Shapes();
  for (auto* more : {&pdfparse::pdfbuilder::SeedDocuments, &Inks, &Samples}) {
    Documents add = more();
    whole.insert(whole.end(), add.begin(), add.end());
  }
  Documents all = whole;
  Documents damaged = Damaged(whole);
  all.insert(all.end(), damaged.begin(), damaged.end());

  size_t kept = 0;
  std::vector<std::string> notKept;
  for (size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(all[i].first);
    const pdfparse::readercheck::Comparison result = pdfparse::readercheck::CompareReaders(all[i].second);
    EXPECT_EQ(result.difference, "");
    kept += result.readerKept;
    if (i < whole.size() && !result.readerKept) notKept.push_back(all[i].first);
  }
  // The fast path is the one taken: every valid file is read by the
  // structure reader; the damaged, encrypted and odd ones go to libqpdf.
  std::sort(notKept.begin(), notKept.end());
  // Encryption that leaves what is read plain is read; where it does not,
  // both paths fail alike.
  const std::vector<std::string> expected = {"cut-xref-stream.pdf",
                                             "encrypted-streams-only-objstm.pdf",
                                             "encrypted-strings.pdf",
                                             "encrypted.pdf",
                                             "loop.pdf",
                                             "no-trailer.pdf",
                                             "repeated-kids.pdf",
                                             "sample damaged.pdf",
                                             "sample protected.pdf"};
  EXPECT_EQ(notKept, expected);
  EXPECT_GT(kept, whole.size() - notKept.size());  // damage the reader does not notice (a value) answers alike
}

}  // namespace

}  // namespace pdfparse::test
