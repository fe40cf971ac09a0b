// Test PDFs, made in the tests: whole documents through libqpdf (pages,
// inherited attributes, Info, encryption, object streams), and raw byte
// strings for damage that libqpdf would never write. Plus a temporary
// directory to put them in.
#ifndef PDFPARSE_TESTS_SUPPORT_PDFBUILDER_H_
#define PDFPARSE_TESTS_SUPPORT_PDFBUILDER_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pdftest {

struct DocSpec {
  // One entry per page: extra entries of the page dictionary as PDF text,
  // e.g. "/Rotate 90 /MediaBox [0 0 200 300]". Pages get no MediaBox of
  // their own unless given here or through rootAttrs.
  std::vector<std::string> pages{""};
  // Entries of the root page-tree node (inherited by every page), e.g.
  // "/MediaBox [0 0 612 792] /Rotate 90".
  std::string rootAttrs = "/MediaBox [0 0 612 792]";
  // 0: every page a kid of the root. n >= 2: a balanced tree of n kids per
  // node.
  int fanout = 0;
  // Info entries: key (no slash) -> raw bytes of a string value.
  std::map<std::string, std::string> info;
  // Further Info entries as PDF text ("/Trapped /True").
  std::string infoRaw;
  struct Encryption {
    std::string user;
    std::string owner;
  };
  std::optional<Encryption> encryption;  // AES-256 (R6)
  bool objectStreams = false;            // objects in object streams, xref stream
};

// A document of `n` pages with the default spec otherwise.
DocSpec Pages(int n);
// The document's bytes, written by QPDFWriter.
std::string BuildPdf(const DocSpec& spec);

// A hand-assembled file: object i+1 is objects[i] (its body between
// "obj" and "endobj"). With `xref`, a correct cross-reference table and a
// trailer with `trailer` entries (and /Size) follow.
struct RawDoc {
  std::vector<std::string> objects;
  std::string trailer = "/Root 1 0 R";
  bool xref = true;
  std::string header = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
};
std::string Assemble(const RawDoc& doc);
// Byte offset of "N 0 obj" in bytes made by Assemble (npos when missing).
size_t ObjectOffset(const std::string& bytes, int num);

// Text in UTF-16BE with the byte-order mark, as PDF text strings hold it.
std::string Utf16Be(const std::u16string& text);

// A fresh directory under $TMPDIR, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `bytes` to `name` in the directory; returns the full path.
  std::string write(const std::string& name, const std::string& bytes) const;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace pdftest

#endif  // PDFPARSE_TESTS_SUPPORT_PDFBUILDER_H_
