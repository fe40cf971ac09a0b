// The project's PDF writer: whole documents through libqpdf (pages,
// inherited attributes, Info, encryption, object streams), raw byte strings
// for damage that libqpdf would never write, and a temporary directory. The
// sample files, the fuzz seeds and the tests' documents are written with it.
#ifndef PDFPARSE_SAMPLES_PDFBUILDER_PDFBUILDER_H_
#define PDFPARSE_SAMPLES_PDFBUILDER_PDFBUILDER_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pdfparse::pdfbuilder {

struct DocLayout {
  // Extra entries of each page dictionary as PDF text ("/Rotate 90").
  std::vector<std::string> pages{""};
  // Entries of the root page-tree node, inherited by every page.
  std::string rootAttrs = "/MediaBox [0 0 612 792]";
  int fanout = 0;                                // >= 2: a balanced tree of that many kids per node
  std::map<std::string, std::string> info = {};  // key (no slash) -> string bytes
  std::string infoRaw = "";                      // further Info entries as PDF text
  struct Encryption {
    std::string user, owner;
  };
  std::optional<Encryption> encryption = {};  // AES-256 (R6)
  bool objectStreams = false;                 // objects in object streams, xref stream
  // Content stream of page i, when given and not empty.
  std::vector<std::string> contents = {};
};

DocLayout Pages(int n);
std::string BuildPdf(const DocLayout& doc);

// A hand-assembled file: object i+1 is objects[i], then a correct
// cross-reference table and a trailer with `trailer` entries (and /Size).
struct RawDoc {
  std::vector<std::string> objects;
  std::string trailer = "/Root 1 0 R";
};
std::string Assemble(const RawDoc& doc);

// `pdf` (a file libqpdf reads) with an update appended whose trailer names
// `encrypt` as its /Encrypt: written as a new object when `asObject`,
// else directly in the trailer. Nothing is encrypted: this is how the
// document says what its encryption leaves plain.
std::string WithEncrypt(const std::string& pdf, const std::string& encrypt, bool asObject = true);

// Encryption dictionaries that leave things plain (the keys are arbitrary:
// nothing is decrypted): strings and streams (embedded files only), and
// strings alone; and one of the same form that encrypts strings.
extern const char* const kEncryptEmbeddedOnly;
extern const char* const kEncryptStreamsOnly;
extern const char* const kEncryptStrings;

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
  // Writes `bytes` to `name` (parent folders made); returns the full path.
  std::string write(const std::string& name, const std::string& bytes) const;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace pdfparse::pdfbuilder

#endif  // PDFPARSE_SAMPLES_PDFBUILDER_PDFBUILDER_H_
