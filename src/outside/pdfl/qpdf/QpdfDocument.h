// One open document of the libqpdf engine: its bytes, the libqpdf object,
// the page tree, the ink walker, the work budget and its warnings.
//
// Opening tries libqpdf as it is, then (when repair is allowed and libqpdf
// gives up) further strategies: ignoring cross-reference streams, and
// rebuilding the cross-reference data from a scan of the bytes. Each step is
// traced. Worker thread only.
#ifndef PDFPARSE_OUTSIDE_PDFL_QPDF_QPDFDOCUMENT_H_
#define PDFPARSE_OUTSIDE_PDFL_QPDF_QPDFDOCUMENT_H_

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "outside/pdfl/core/InkWalker.h"
#include "outside/pdfl/core/PageTree.h"
#include "outside/pdfl/qpdf/AtomTable.h"
#include "outside/pdfl/qpdf/PageTable.h"
#include "outside/pdfl/qpdf/WorkBudget.h"

namespace pdfl_qpdf {

// Warnings traced per document; the rest are only counted.
inline constexpr size_t kTracedWarnings = 8;

class QpdfDocument {
 public:
  enum class OpenResult { Opened, NeedsPassword };

  // `bytes` is the whole file. `budget` is charged by everything read.
  QpdfDocument(std::string path, std::shared_ptr<Buffer> bytes, std::shared_ptr<WorkBudget> budget,
               bool repair);
  ~QpdfDocument();
  QpdfDocument(const QpdfDocument&) = delete;
  QpdfDocument& operator=(const QpdfDocument&) = delete;

  // Opens with `password` (null: none, which also tries the empty user
  // password). NeedsPassword when the document is encrypted and the password
  // does not open it. Throws on every other failure.
  OpenResult open(const char* password);
  bool isOpen() const { return pdf_ != nullptr; }
  // On an open document: whether `password` opens it too (always for a
  // document that is not encrypted). Throws on failures other than a wrong
  // password.
  bool acceptsPassword(const char* password);
  // The password the document was opened with ("" when none).
  const std::string& password() const { return password_; }

  QPDF& pdf() { return *pdf_; }
  // The page tree; the pages it finds are kept in pageTable(), and libqpdf
  // drops their parsed dictionaries.
  pdfcore::PageTree& pageTree();
  const PageTable& pageTable() const { return pageTable_; }
  pdfcore::InkWalker& inkWalker();
  WorkBudget& budget() { return *budget_; }
  const std::string& path() const { return path_; }
  AtomTable::Holder& atoms() { return atoms_; }

  // Traces the first kTracedWarnings warnings of the document, counts the
  // rest. Also receives libqpdf's warnings (drainWarnings).
  void warn(const std::string& message);
  void drainWarnings();
  size_t warningCount() const { return warnings_; }
  // Raises WorkLimitExceeded when the deadline has passed or the budget is
  // spent; the page and ink walks call it between steps.
  void checkpoint();
  pdfcore::Diagnostics diagnostics();
  pdfcore::Checkpoint checkpointFn();

 private:
  struct Candidate;
  std::unique_ptr<QPDF> attempt(std::shared_ptr<Buffer> bytes, const char* password, bool ignoreXrefStreams,
                                bool recover);
  std::unique_ptr<QPDF> rebuild(const char* password, std::shared_ptr<Buffer>* rebuilt);
  static bool HasPageTree(QPDF& pdf);

  std::string path_;
  std::shared_ptr<Buffer> bytes_;
  std::shared_ptr<WorkBudget> budget_;
  bool repair_;
  std::string password_;
  // Where the last open found the document readable up to its encryption;
  // a retry with a password starts there.
  int strategy_ = 0;

  size_t warnings_ = 0;
  AtomTable::Holder atoms_;
  // Destroyed before pdf_, which they refer to.
  std::shared_ptr<Buffer> rebuiltBytes_;
  std::unique_ptr<QPDF> pdf_;
  PageTable pageTable_;  // holds objects of pdf_
  std::unique_ptr<pdfcore::PageTree> pageTree_;
  std::unique_ptr<pdfcore::InkWalker> inkWalker_;
};

}  // namespace pdfl_qpdf

#endif  // PDFPARSE_OUTSIDE_PDFL_QPDF_QPDFDOCUMENT_H_
