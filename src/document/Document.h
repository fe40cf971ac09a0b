// One open document of the libqpdf engine: its bytes, the libqpdf object,
// the page tree, the ink walker, the work budget and its warnings.
//
// Opening tries libqpdf as it is, then (when repair is allowed and libqpdf
// gives up) further strategies: ignoring cross-reference streams, and
// rebuilding the cross-reference data from a scan of the bytes. Each step is
// traced. Worker thread only.
#ifndef PDFPARSE_DOCUMENT_DOCUMENT_H_
#define PDFPARSE_DOCUMENT_DOCUMENT_H_

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/FileBytes.h"
#include "document/InkWalker.h"
#include "document/ObjectCheck.h"
#include "document/PageTable.h"
#include "document/RepairingPageWalk.h"
#include "document/WorkBudget.h"
#include "document/reader/StrictPageWalk.h"
#include "document/reader/StructureReader.h"
#include "shared/Constants.h"

namespace pdfparse::document {

// Warnings traced per document; the rest are only counted.
inline constexpr size_t kTracedWarnings = 8;

// Where a document's trace lines (repair steps, warnings) go; may be empty.
using TraceSink = std::function<void(const std::string& line)>;

// The version of libqpdf the engine reads with.
std::string LibqpdfVersion();

class Document {
 public:
  enum class OpenResult { Opened, NeedsPassword };

  // `bytes` is the whole file, `identity` the file it was read from.
  // `budget` is charged by everything read.
  Document(std::string path, std::shared_ptr<FileBytes> bytes, std::shared_ptr<WorkBudget> budget, bool repair,
           TraceSink trace = {}, const FileIdentity* identity = nullptr);
  // A document in memory.
  Document(std::string path, std::shared_ptr<Buffer> bytes, std::shared_ptr<WorkBudget> budget, bool repair,
           TraceSink trace = {}, const FileIdentity* identity = nullptr);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Whether documents try the structure reader before libqpdf (the
  // default). Process-wide; for tests and measurements.
  static void SetStructureReaderEnabled(bool enabled);
  static bool StructureReaderEnabled();

  // Opens with `password` (null: none, which also tries the empty user
  // password). Without a password the structure reader is tried first; a
  // file it refuses (one trace line says why) is read by libqpdf. NeedsPassword when the document is encrypted and the
  // password does not open it. Throws on every other failure.
  OpenResult open(const char* password);
  bool isOpen() const { return pdf_ != nullptr || reader_ != nullptr; }
  // Whether the structure reader answers for this document (so far).
  bool readByStructureReader() const { return reader_ != nullptr; }

  // The document's questions, answered by whichever path reads it. Where
  // the structure reader meets something it does not read exactly, the
  // document moves to libqpdf (one trace line) and the question is
  // answered there; pages found so far are found again.
  size_t pageCount();
  // Walks on until page `index` is found; false when there is none.
  bool reachPage(size_t index);
  // The Info dictionary's text for `key` (without the slash) in UTF-8;
  // empty when absent or not text.
  std::string infoText(const std::string& key);
  // The inks of page `index` (found already) beyond the process inks.
  std::vector<Ink> pageInks(size_t index, bool includeOPI);
  // On an open document: whether `password` opens it too (always for a
  // document that is not encrypted). Throws on failures other than a wrong
  // password.
  bool acceptsPassword(const char* password);
  // The password the document was opened with ("" when none).
  const std::string& password() const { return password_; }

  // The repairing page walk over libqpdf; the pages it finds are kept in
  // pageTable(), and libqpdf drops their parsed dictionaries. The document
  // is read by libqpdf from then on.
  RepairingPageWalk& repairingWalk();
  const PageTable& pageTable() const { return pageTable_; }
  InkWalker& inkWalker();
  WorkBudget& budget() { return *budget_; }
  std::shared_ptr<WorkBudget> sharedBudget() const { return budget_; }
  const std::string& path() const { return path_; }
  // Null when the bytes did not come from a file that could be identified.
  const FileIdentity* identity() const { return hasIdentity_ ? &identity_ : nullptr; }

  // Traces the first kTracedWarnings warnings of the document, counts the
  // rest. Also receives libqpdf's warnings (drainWarnings).
  void warn(const std::string& message);
  void drainWarnings();
  // At the close: says how many warnings were counted but not traced.
  void traceUnshownWarnings();
  size_t warningCount() const { return warnings_; }
  // The first kTracedWarnings warnings, each one line.
  const std::vector<std::string>& firstWarnings() const { return firstWarnings_; }
  // Whether the answers needed repair: a repair strategy opened the
  // document, or something damaged was warned about and replaced or skipped.
  bool repaired() const;
  // What ended the first query that failed; none while every query answered.
  const std::optional<Error>& failure() const { return failure_; }
  // Raises Error (kTimeout, kMemoryLimit) when the deadline has passed or the budget is
  // spent; the page and ink walks call it between steps.
  void checkpoint();
  Diagnostics diagnostics();
  Checkpoint checkpointFn();

 private:
  struct Candidate;
  OpenResult openWithQpdf(const char* password);
  // libqpdf's reading; raises when there is none.
  QPDF& opened();
  // Leaves the structure reader for libqpdf; `why` is traced.
  void fallBack(const std::string& why);
  // `onReader()` while the structure reader reads the document; where it
  // refuses, the document moves to libqpdf and `onLibqpdf()` answers.
  template <class OnReader, class OnLibqpdf>
  auto withReader(OnReader&& onReader, OnLibqpdf&& onLibqpdf) -> decltype(onLibqpdf());
  // `read()`'s answer or failure, where the file held still while it was
  // read; otherwise the failure that says the file changed.
  template <class Read>
  auto verified(Read&& read) -> decltype(read());
  OpenResult openVerified(const char* password);
  ReaderInkWalker::PageParts readerInkParts(size_t index);
  // libqpdf reads the file followed by `tail` (repair's cross-reference
  // data; null for none).
  // `withoutTrailingJunk`: the file up to the end of its last %%EOF line.
  // Encryption that leaves everything read plain, and a trailer's /Encrypt
  // that is not a dictionary, need no password.
  std::unique_ptr<QPDF> attempt(std::shared_ptr<const std::string> tail, const char* password, bool ignoreXrefStreams,
                                bool recover, bool withoutTrailingJunk = false);
  // One reading of `head` and `tail`. `withoutKey`: no password is checked;
  // null when the encryption leaves something read encrypted. `*failed`
  // (when given) keeps a reading that raised.
  std::unique_ptr<QPDF> readOnce(std::string_view head, std::shared_ptr<const std::string> tail, const char* password,
                                 bool ignoreXrefStreams, bool recover, bool withoutKey, std::unique_ptr<QPDF>* failed);
  // `*infoUnknown`: the trailer was not found, nor an Info dictionary that
  // can be read without it.
  std::unique_ptr<QPDF> rebuild(const char* password, std::shared_ptr<const std::string>* rebuilt, bool* infoUnknown);
  // What the libqpdf reading's answers check their objects against.
  ObjectCheck& objectCheck();
  static bool HasPageTree(QPDF& pdf);
  // Decodes the object streams of `pdf` (read from `bytes`) within the
  // memory budget, before libqpdf unpacks any of them on its own.
  void decodeObjectStreams(QPDF& pdf);
  // Raises Error when the file was cut short or changed while read.
  void verifyInput();

  std::string path_;
  std::shared_ptr<FileBytes> bytes_;
  std::shared_ptr<WorkBudget> budget_;
  bool repair_;
  TraceSink trace_;
  FileIdentity identity_;
  bool hasIdentity_ = false;
  std::string password_;
  // Where the last open found the document readable up to its encryption;
  // a retry with a password starts there.
  int strategy_ = 0;

  void trace(const std::string& line);

  size_t warnings_ = 0;
  uint64_t releasedAt_ = 0;  // when the mapped pages were last dropped
  // What was read of the file when it was last found unchanged.
  uint64_t readsVerified_ = UINT64_MAX;
  std::vector<std::string> firstWarnings_;
  std::optional<Error> failure_;
  // Whether the Info dictionary libqpdf reads is unknown (see rebuild()).
  bool infoUnknown_ = false;
  // The cross-reference stream a rebuild appended (a number no object of
  // the file has).
  QPDFObjGen addedByRepair_;
  // Destroyed before pdf_, which they refer to.
  std::shared_ptr<const std::string> rebuiltTail_;
  std::unique_ptr<QPDF> pdf_;
  PageTable pageTable_;  // holds objects of pdf_
  std::unique_ptr<RepairingPageWalk> repairingWalk_;
  std::unique_ptr<InkWalker> inkWalker_;
  std::unique_ptr<ObjectCheck> objectCheck_;  // refers to bytes_; used by the three above
  // Refer to bytes_.
  std::unique_ptr<reader::StructureReader> reader_;
  std::unique_ptr<reader::StrictPageWalk> strictWalk_;
  std::unique_ptr<reader::ObjectStore> objectStore_;
  std::unique_ptr<ReaderInkWalker> readerInkWalker_;
};

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_DOCUMENT_H_
