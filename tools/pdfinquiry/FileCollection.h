// Turns the paths a user names into the files to ask about.
#ifndef PDFINQUIRY_FILECOLLECTION_H_
#define PDFINQUIRY_FILECOLLECTION_H_

#include <istream>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pdfparse::inquirytool {

// One file to ask about. A non-empty `error` means the file cannot be asked
// about at all; it still gets its own (failed) row.
struct Candidate {
  std::string path;
  std::string error;
};

// True for names ending in ".pdf" in any case.
bool HasPdfExtension(const std::string& name);

class FileCollector {
 public:
  explicit FileCollector(bool recursive) : recursive_(recursive) {}

  // Appends what `path` stands for: itself for anything but a directory; for
  // a directory with `recursive`, every *.pdf below it in sorted order (each
  // directory walked once, so symbolic-link loops end); without `recursive`,
  // a failed candidate.
  void expand(const std::string& path, std::vector<Candidate>* out);

 private:
  void walk(const std::string& dir, int depth, std::vector<Candidate>* out);

  bool recursive_;
  std::set<std::string> visited_;  // canonical paths of walked directories
};

// Deep enough for real trees; stops pathological ones.
inline constexpr int kMaxWalkDepth = 256;

// Reads the next path from a list with one path per line (a trailing "\r" is
// dropped, empty lines skipped). Nothing once the stream ends. A line with a
// NUL byte comes back as a candidate with an error: the library takes
// NUL-terminated names and would ask about another file.
std::optional<Candidate> NextListedPath(std::istream& in);

// Checks that `path` names a readable regular file (not a directory, FIFO
// or device that could block or mislead the library). Empty when fine, else
// the reason.
std::string CheckReadable(const std::string& path);

}  // namespace pdfparse::inquirytool

#endif  // PDFINQUIRY_FILECOLLECTION_H_
