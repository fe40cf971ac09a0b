#include "document/Document.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>

#include <atomic>
#include <cstring>
#include <exception>
#include <optional>
#include <set>

#include "document/Encryption.h"
#include "document/Repair.h"
#include "document/SilentLogger.h"
#include "shared/TextCodec.h"

namespace pdfparse::document {
namespace {

constexpr size_t kMaxTracedMessage = 400;

enum Strategy { kPlain = 0, kIgnoreXrefStreams = 1, kRebuild = 2, kStrategies = 3 };

const char* StrategyName(int s) {
  switch (s) {
    case kIgnoreXrefStreams:
      return "ignoring cross-reference streams";
    case kRebuild:
      return "rebuilding cross-reference data from the objects in the file";
    default:
      return "reading as it is";
  }
}

// One line of at most kMaxTracedMessage bytes.
std::string OneLine(const std::string& text) {
  std::string line = text.substr(0, kMaxTracedMessage);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  if (text.size() > kMaxTracedMessage) line += "...";
  return line;
}

bool Contains(const FileBytes& bytes, const char* needle) {
  return bytes.view().find(needle) != std::string_view::npos;
}

// Whether some object could be a page-tree node: "/Pages" in plain text,
// or where a name may be written with # escapes or hidden in an object stream.
bool MayHoldPageTree(const FileBytes& bytes) {
  return Contains(bytes, "Pages") || Contains(bytes, "#") || Contains(bytes, "ObjStm");
}

bool HasHeader(const FileBytes& bytes) {
  return bytes.view().substr(0, 1024 + 5).find("%PDF-") != std::string_view::npos;
}

// Milliseconds between releases of the mapped pages read so far: a walk
// over a large file keeps what it reads in that time resident, not the file.
constexpr uint64_t kReleaseMillis = 20;

std::atomic<bool> structureReaderEnabled{true};

// Junk after the end of the document longer than this is cut off for
// libqpdf, which looks for startxref only near the end of the data.
constexpr size_t kTrailingJunkKept = 512;

// How much of `bytes` libqpdf reads: up to the end of the %%EOF line after
// the last startxref, where more follows. The other readers ignore what
// follows; libqpdf would rebuild the whole file from a scan.
size_t WithoutTrailingJunk(std::string_view all, WorkBudget& budget) {
  const size_t at = all.rfind("startxref");
  budget.chargeRead(at == std::string_view::npos ? all.size() : all.size() - at);
  if (at == std::string_view::npos) return all.size();
  const size_t eof = all.find("%%EOF", at);
  if (eof == std::string_view::npos) return all.size();
  size_t end = eof + 5;
  while (end < all.size() && (all[end] == '\r' || all[end] == '\n')) ++end;
  if (all.size() - end <= kTrailingJunkKept) return all.size();
  return end;
}

// A value the structure reader read, as libqpdf's object; references
// become libqpdf's objects of the same number. Nesting is bounded by the
// reader's parser.
QPDFObjectHandle ToQpdf(QPDF& pdf, const reader::Object& value) {
  using Type = reader::Object::Type;
  switch (value.type()) {
    case Type::Null:
      return QPDFObjectHandle::newNull();
    case Type::Boolean:
      return QPDFObjectHandle::newBool(value.boolean());
    case Type::Integer:
      return QPDFObjectHandle::newInteger(value.integer());
    case Type::Real:
      return QPDFObjectHandle::newReal(value.text());
    case Type::Name:
      return QPDFObjectHandle::newName("/" + value.text());
    case Type::String:
      return QPDFObjectHandle::newString(value.text());
    case Type::Reference:
      return pdf.getObjectByID(static_cast<int>(value.ref().num), static_cast<int>(value.ref().gen));
    case Type::Array: {
      std::vector<QPDFObjectHandle> items;
      items.reserve(value.items().size());
      for (const reader::Object& item : value.items()) items.push_back(ToQpdf(pdf, item));
      return QPDFObjectHandle::newArray(items);
    }
    case Type::Dictionary: {
      std::map<std::string, QPDFObjectHandle> entries;
      for (const auto& [key, item] : value.entries()) entries.emplace("/" + key, ToQpdf(pdf, item));
      return QPDFObjectHandle::newDictionary(entries);
    }
  }
  return QPDFObjectHandle::newNull();
}

// The Info dictionary's text for `key` (with the slash) in UTF-8; empty when
// absent or not text. Over libqpdf's objects or the structure reader's;
// `need` raises where an object it reads is not in the file.
template <class H, class Need>
std::string InfoText(H trailer, const std::string& key, Need&& need) {
  static const std::string kInfoKey = "/Info";
  if (key.empty() || key[0] != '/') return {};
  H info = KeyIfPresent(trailer, kInfoKey);
  if (info.isInitialized()) need(info, "the Info dictionary");
  if (!info.isDictionary()) return {};
  H value = info.getKey(key);
  need(value, "the Info entry's value");
  if (value.isString()) return shared::DecodeTextString(value.getStringValue());
  if (value.isName()) return shared::DecodeNameText(value.getName());
  return {};
}

// The key libqpdf is given where no password is checked (32 bytes, hex).
constexpr const char* kUnusedKey = "0000000000000000000000000000000000000000000000000000000000000000";

// Whether `pdf`, read without a key, answers as it would with one: its
// encryption leaves strings plain, and stream data too where any object
// lies in an object stream.
bool ReadsWithoutKey(QPDF& pdf) {
  switch (EncryptionOf(pdf.getTrailer().getKey("/Encrypt"))) {
    case Encryption::kEmbeddedOnly:
      return true;
    case Encryption::kStreamsOnly:
      for (const auto& [og, entry] : pdf.getXRefTable()) {
        if (entry.getType() == 2) return false;
      }
      return true;
    default:
      return false;
  }
}

// The number after the last startxref of `data`; none when there is none.
std::optional<uint64_t> LastStartxref(std::string_view data) {
  const size_t at = data.rfind("startxref");
  if (at == std::string_view::npos) return std::nullopt;
  size_t p = at + 9;
  while (p < data.size() && std::strchr(" \t\r\n\f", data[p]) != nullptr && data[p] != '\0') ++p;
  uint64_t value = 0;
  size_t digits = 0;
  for (; p < data.size() && data[p] >= '0' && data[p] <= '9' && digits < 12; ++p, ++digits) {
    value = value * 10 + static_cast<uint64_t>(data[p] - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

// Where `failed` (a reading that gave up) has a trailer whose /Encrypt is
// neither a dictionary nor null: `tail` followed by a cross-reference
// section whose trailer is the same without /Encrypt, its /Prev the
// section read before. Null otherwise.
std::shared_ptr<const std::string> TailWithoutEncrypt(QPDF& failed, std::string_view head,
                                                      const std::shared_ptr<const std::string>& tail) {
  QPDFObjectHandle trailer = failed.getTrailer();
  if (!trailer.isDictionary()) return nullptr;
  QPDFObjectHandle encrypt = trailer.getKey("/Encrypt");
  if (encrypt.isNull() || encrypt.isDictionary()) return nullptr;
  const std::string_view before = tail ? std::string_view(*tail) : head;
  const std::optional<uint64_t> prev = LastStartxref(before);
  if (!prev) return nullptr;
  // libqpdf counts offsets from the header.
  const size_t header = head.substr(0, 1024 + 5).find("%PDF-");
  const size_t at = head.size() + (tail ? tail->size() : 0) + 1 - (header == std::string_view::npos ? 0 : header);
  std::string text = tail ? *tail : std::string();
  text += "\nxref\n0 1\n0000000000 65535 f \ntrailer\n<<";
  // Taken as written: the failed reading resolves no object again.
  std::map<std::string, QPDFObjectHandle> entries = trailer.getDictAsMap();
  for (const char* key : {"/Size", "/Root", "/Info", "/ID"}) {
    if (auto it = entries.find(key); it != entries.end()) text += std::string(" ") + key + " " + it->second.unparse();
  }
  text += " /Prev " + std::to_string(*prev) + " >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
  return std::make_shared<const std::string>(std::move(text));
}

std::string WhatOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

}  // namespace

Document::Document(std::string path, std::shared_ptr<Buffer> bytes, std::shared_ptr<WorkBudget> budget, bool repair,
                   TraceSink trace, const FileIdentity* identity)
    : Document(std::move(path), std::make_shared<FileBytes>(std::move(bytes)), std::move(budget), repair,
               std::move(trace), identity) {}

Document::Document(std::string path, std::shared_ptr<FileBytes> bytes, std::shared_ptr<WorkBudget> budget, bool repair,
                   TraceSink trace, const FileIdentity* identity)
    : path_(std::move(path)),
      bytes_(std::move(bytes)),
      budget_(std::move(budget)),
      repair_(repair),
      trace_(std::move(trace)) {
  if (identity != nullptr) {
    identity_ = *identity;
    hasIdentity_ = true;
  }
}

std::string LibqpdfVersion() { return QPDF::QPDFVersion(); }

void Document::trace(const std::string& line) {
  if (trace_) trace_(OneLine(line));
}

Document::~Document() {
  readerInkWalker_.reset();
  objectStore_.reset();
  strictWalk_.reset();
  reader_.reset();
  inkWalker_.reset();
  repairingWalk_.reset();
  pdf_.reset();
}

void Document::traceUnshownWarnings() {
  drainWarnings();
  if (warnings_ > kTracedWarnings) {
    trace("CPdfEngine warning: " + std::to_string(warnings_ - kTracedWarnings) + " more warnings for " + path_ +
          " not shown");
  }
}

void Document::warn(const std::string& message) {
  if (++warnings_ > kTracedWarnings) return;
  trace("CPdfEngine warning: " + message);
  firstWarnings_.push_back(OneLine(message));
}

bool Document::repaired() const { return strategy_ != kPlain || warnings_ > 0; }

void Document::drainWarnings() {
  // The logger has passed them on (CountingLogger).
  if (pdf_) pdf_->getWarnings();
}

void Document::checkpoint() {
  budget_->checkDeadline();
  if (bytes_->damaged()) verifyInput();
  if (budget_->lastClock() - releasedAt_ >= kReleaseMillis) {
    bytes_->release();
    releasedAt_ = budget_->lastClock();
  }
}

void Document::verifyInput() {
  // Asking the file system whether the file changed costs a system call:
  // asked again only once more of the file was read.
  const uint64_t reads = budget_->bytesRead() + budget_->seeks() + (reader_ ? reader_->objectsRead() : 0);
  if (reads == readsVerified_ && !bytes_->damaged()) return;
  bytes_->verify(path_);
  readsVerified_ = reads;
}

Diagnostics Document::diagnostics() {
  return [this](const std::string& message) { warn(message); };
}

Checkpoint Document::checkpointFn() {
  return [this]() { checkpoint(); };
}

void Document::SetStructureReaderEnabled(bool enabled) { structureReaderEnabled = enabled; }

bool Document::StructureReaderEnabled() { return structureReaderEnabled; }

QPDF& Document::opened() {
  // A move to libqpdf that failed leaves neither reading.
  if (!pdf_) throw Error(ErrorCode::kDamaged, path_ + ": the document could not be read");
  return *pdf_;
}

void Document::fallBack(const std::string& why) {
  trace("CPdfEngine reader: " + path_ + ": " + why + "; read by libqpdf");
  const size_t found = pageTable_.size();
  readerInkWalker_.reset();
  objectStore_.reset();
  strictWalk_.reset();
  reader_.reset();
  pageTable_.clear();
  if (!pdf_ && openWithQpdf(nullptr) == OpenResult::NeedsPassword) {
    throw Error(ErrorCode::kPassword, path_ + ": the document needs a password");
  }
  if (found > 0) repairingWalk().reach(found - 1);
}

template <class OnReader, class OnLibqpdf>
auto Document::withReader(OnReader&& onReader, OnLibqpdf&& onLibqpdf) -> decltype(onLibqpdf()) {
  return verified([&] {
    if (reader_) {
      try {
        return onReader();
      } catch (const reader::Refusal& refusal) {
        if (bytes_->damaged()) verifyInput();
        fallBack(refusal.what());
      }
    }
    return onLibqpdf();
  });
}

template <class Read>
auto Document::verified(Read&& read) -> decltype(read()) {
  try {
    auto answer = read();
    verifyInput();
    return answer;
  } catch (...) {
    try {
      verifyInput();  // a failure that a changing file caused says so
      throw;
    } catch (...) {
      if (!failure_) failure_ = ErrorOfCurrentException();
      throw;
    }
  }
}

size_t Document::pageCount() {
  return withReader([&] { return strictWalk_->count(); }, [&] { return repairingWalk().count(); });
}

bool Document::reachPage(size_t index) {
  return withReader([&] { return strictWalk_->reach(index); }, [&] { return repairingWalk().reach(index); });
}

std::string Document::infoText(const std::string& key) {
  return withReader(
      [&] {
        return InfoText(reader::ValueHandle(reader_.get(), &reader_->trailer()), key,
                        [](reader::ValueHandle&, const char*) {});  // the reader refuses what is not there
      },
      [&] {
        QPDF& pdf = opened();
        if (infoUnknown_) {
          throw Error(ErrorCode::kDamaged, path_ +
                                               ": the trailer was not found, so whether the document has an Info "
                                               "dictionary, and which, is unknown");
        }
        return InfoText(pdf.getTrailer(), key,
                        [&](QPDFObjectHandle& h, const char* what) { objectCheck().require(h, what); });
      });
}

ReaderInkWalker::PageParts Document::readerInkParts(size_t index) {
  if (!objectStore_) objectStore_ = std::make_unique<reader::ObjectStore>(*reader_);
  reader::ObjectStore* store = objectStore_.get();
  ReaderInkWalker::PageParts parts;
  const uint32_t number = pageTable_.pageObject(index);
  if (pageTable_.hasExtras(index)) {
    const reader::ObjectHandle page(store, reader::Ref{number, reader_->generationOf(number)});
    parts.group = page.getKey("/Group");
    parts.annots = page.getKey("/Annots");
  }
  const reader::ResourcesAt at = pageTable_.resourcesAt(index);
  if (at.num == 0) return parts;
  if (at.direct) {
    parts.resources = reader::ObjectHandle(store, reader::Ref{at.num, at.gen}).getKey("/Resources");
    return parts;
  }
  parts.resources = reader::ObjectHandle(store, reader::Ref{at.num, at.gen});
  // libqpdf passes over a /Resources that refers to null to the parent's.
  if (parts.resources.isNull()) throw reader::Refusal("/Resources refers to null");
  return parts;
}

std::vector<Ink> Document::pageInks(size_t index, bool includeOPI) {
  return withReader(
      [&] {
        if (!readerInkWalker_) readerInkWalker_ = std::make_unique<ReaderInkWalker>(diagnostics(), checkpointFn());
        return readerInkWalker_->pageInks(readerInkParts(index), includeOPI);
      },
      [&] { return inkWalker().pageInks(pageTable_.inkParts(index), includeOPI); });
}

RepairingPageWalk& Document::repairingWalk() {
  if (reader_) fallBack("libqpdf's page tree is asked for");
  if (!repairingWalk_) {
    ObjectCheck* check = &objectCheck();
    repairingWalk_ = std::make_unique<RepairingPageWalk>(
        opened(), diagnostics(), checkpointFn(),
        [this, check](size_t index, size_t sameAs, QPDFObjectHandle& page) {
          pageTable_.add(index, sameAs, page, check);
        },
        check);
  }
  return *repairingWalk_;
}

InkWalker& Document::inkWalker() {
  if (!inkWalker_) {
    inkWalker_ = std::make_unique<InkWalker>(diagnostics(), checkpointFn());
    inkWalker_->setObjectCheck(&objectCheck());
  }
  return *inkWalker_;
}

ObjectCheck& Document::objectCheck() {
  if (!objectCheck_) {
    // libqpdf counts offsets from the header; the cut is looked for in what
    // libqpdf read of the file's own bytes (without the junk after the end
    // unless it rebuilt from a scan of everything), not in repair's data.
    std::string_view bytes = bytes_->view();
    if (!rebuiltTail_) bytes = bytes.substr(0, WithoutTrailingJunk(bytes, *budget_));
    const size_t header = bytes.substr(0, 1024 + 5).find("%PDF-");
    if (header != std::string_view::npos) bytes.remove_prefix(header);
    objectCheck_ = std::make_unique<ObjectCheck>(bytes, checkpointFn());
    if (rebuiltTail_) objectCheck_->addedByRepair(addedByRepair_);
  }
  return *objectCheck_;
}

std::unique_ptr<QPDF> Document::attempt(std::shared_ptr<const std::string> tail, const char* password, bool ignoreXrefStreams,
                                        bool recover, bool withoutTrailingJunk) {
  std::string_view head = bytes_->view();
  if (withoutTrailingJunk) head = head.substr(0, WithoutTrailingJunk(head, *budget_));
  std::unique_ptr<QPDF> failed;
  try {
    return readOnce(head, tail, password, ignoreXrefStreams, recover, /*withoutKey=*/false, &failed);
  } catch (const QPDFExc& e) {
    if (e.getErrorCode() == qpdf_e_password) {
      // Encryption that leaves everything read plain needs no key, so no
      // password need open it: read as it is, as the other readers do.
      std::unique_ptr<QPDF> pdf;
      try {
        pdf = readOnce(head, tail, nullptr, ignoreXrefStreams, recover, /*withoutKey=*/true, nullptr);
      } catch (const QPDFExc&) {
      }
      if (!pdf) throw;
      trace("CPdfEngine reader: " + path_ + ": encrypted, but nothing read needs decryption; read without a password");
      return pdf;
    }
    // A trailer's /Encrypt that is not a dictionary encrypts nothing: read
    // again with a trailer without it, appended after the file.
    std::shared_ptr<const std::string> withoutEncrypt = failed ? TailWithoutEncrypt(*failed, head, tail) : nullptr;
    if (!withoutEncrypt) throw;
    trace("CPdfEngine reader: " + path_ + ": the trailer's /Encrypt is not a dictionary; read as not encrypted");
    return readOnce(head, withoutEncrypt, password, ignoreXrefStreams, recover, /*withoutKey=*/false, nullptr);
  }
}

std::unique_ptr<QPDF> Document::readOnce(std::string_view head, std::shared_ptr<const std::string> tail,
                                         const char* password, bool ignoreXrefStreams, bool recover, bool withoutKey,
                                         std::unique_ptr<QPDF>* failed) {
  auto pdf = std::make_unique<QPDF>();
  // Warnings are written to the logger as they arise, so that a repair
  // that warns without end runs out of budget.
  QPDF* raw = pdf.get();
  pdf->setLogger(CountingLogger(
      budget_, [this](const std::string& message) { warn(message); }, [raw] { raw->getWarnings(); }));
  pdf->setSuppressWarnings(false);
  pdf->setAttemptRecovery(recover);
  pdf->setIgnoreXRefStreams(ignoreXrefStreams);
  // Given a key, libqpdf checks no password; the key is never used, since
  // nothing it would decrypt is read (ReadsWithoutKey).
  pdf->setPasswordIsHexKey(withoutKey);
  const std::string_view tailBytes = tail ? std::string_view(*tail) : std::string_view();
  auto owner = std::make_shared<std::pair<std::shared_ptr<FileBytes>, std::shared_ptr<const std::string>>>(bytes_,
                                                                                                          std::move(tail));
  auto input = std::make_shared<BudgetedInput>(path_, head, tailBytes, std::move(owner), budget_);
  auto drain = [&]() {
    pdf->getWarnings();  // passed on by the logger
  };
  try {
    pdf->processInputSource(input, withoutKey ? kUnusedKey : password);
    if (withoutKey && !ReadsWithoutKey(*pdf)) {
      drain();
      return nullptr;
    }
    decodeObjectStreams(*pdf);
  } catch (...) {
    drain();
    if (failed) *failed = std::move(pdf);
    throw;
  }
  drain();
  return pdf;
}

std::unique_ptr<QPDF> Document::rebuild(const char* password, std::shared_ptr<const std::string>* rebuilt,
                                        bool* infoUnknown) {
  const unsigned char* data = bytes_->data();
  size_t size = bytes_->size();
  ObjectScan scan = ScanObjects(data, size, checkpointFn());
  if (scan.objects.empty()) {
    throw Error(ErrorCode::kDamaged, path_ + ": no objects found while rebuilding");
  }
  std::map<int, std::pair<int, int>> compressed;
  RebuiltTrailer trailer = ChooseTrailer(data, size, scan, compressed);
  auto build = [&](const RebuiltTrailer& t) {
    // Nine bytes an object and the trailer's entries.
    budget_->chargeMemory(9 * (scan.objects.size() + compressed.size()) + 4096, "rebuilt cross-reference data");
    int number = 0;
    auto tail = std::make_shared<const std::string>(XrefStreamAfter(size, scan, compressed, t, &number));
    addedByRepair_ = QPDFObjGen(number, 0);
    return tail;
  };
  if (!scan.objectStreams.empty()) {
    // First a copy that knows only the uncompressed objects, to read the
    // object streams' headers; libqpdf wants some /Root meanwhile.
    RebuiltTrailer first = trailer;
    if (first.root.empty()) {
      first.root =
          std::to_string(scan.objectStreams.front().num) + " " + std::to_string(scan.objectStreams.front().gen) + " R";
    }
    std::unique_ptr<QPDF> reader = attempt(build(first), password, false, true);
    compressed = FindCompressedObjects(*reader, scan, checkpointFn());
    reader->getWarnings();  // passed on by the logger
    trailer = ChooseTrailer(data, size, scan, compressed);
  }
  // Without a usable /Root, any object stands in until a catalog is found
  // among the objects libqpdf can then read.
  RebuiltTrailer written = trailer;
  if (written.root.empty()) {
    const auto& any = *scan.objects.begin();
    written.root = std::to_string(any.first) + " " + std::to_string(any.second.gen) + " R";
  }
  *rebuilt = build(written);
  std::unique_ptr<QPDF> pdf = attempt(*rebuilt, password, false, true);
  QPDFObjectHandle root = pdf->getTrailer().getKey("/Root");
  if (trailer.root.empty() || !root.isDictionary() || !root.getKey("/Pages").isDictionary()) {
    QPDFObjectHandle catalog = FindCatalog(*pdf, scan, compressed, checkpointFn());
    pdf->getWarnings();
    if (catalog.isNull()) {
      throw Error(ErrorCode::kDamaged, path_ + ": no document catalog found while rebuilding");
    }
    pdf->getTrailer().replaceKey("/Root", catalog);
    written.root = catalog.getObjGen().unparse(' ') + " R";
  }
  bool infoFound = !trailer.info.empty();
  if (!infoFound && !compressed.empty()) {
    QPDFObjectHandle info = FindInfo(*pdf, compressed, checkpointFn());
    if (info.isDictionary()) pdf->getTrailer().replaceKey("/Info", info);
    infoFound = info.isDictionary();
  }
  // Without a trailer, an Info dictionary found in the bytes stands only
  // where its strings need no decryption that the lost trailer would tell
  // of: no sign of encryption is left, and they read as text.
  *infoUnknown = !trailer.fromTrailer && (!infoFound || scan.mayBeEncrypted ||
                                          !ReadsAsPlainText(pdf->getTrailer().getKey("/Info")));
  pdf->getWarnings();
  trace("CPdfEngine repair: " + path_ + ": " + std::to_string(scan.objects.size()) + " objects and " +
        std::to_string(compressed.size()) + " compressed objects found, catalog " + written.root);
  return pdf;
}

namespace {

// Keeps a stream's decoded bytes, charging them to the budget as they come:
// a small stream that inflates to gigabytes stops at the memory limit.
class ChargedBuffer : public Pipeline {
 public:
  explicit ChargedBuffer(WorkBudget& budget) : Pipeline("decoded object stream", nullptr), budget_(budget) {}
  void write(unsigned char const* data, size_t len) override {
    budget_.checkDeadline();  // inflating a large stream is long work of its own
    budget_.chargeMemory(len, "a decoded object stream");
    bytes_.append(reinterpret_cast<const char*>(data), len);
  }
  void finish() override {}
  std::string take() { return std::move(bytes_); }

 private:
  WorkBudget& budget_;
  std::string bytes_;
};

}  // namespace

void Document::decodeObjectStreams(QPDF& pdf) {
  if (!Contains(*bytes_, "ObjStm")) return;
  std::set<int> streams;
  for (const auto& [og, entry] : pdf.getXRefTable()) {
    if (entry.getType() == 2) streams.insert(entry.getObjStreamNumber());
  }
  for (int number : streams) {
    checkpoint();
    QPDFObjectHandle stream = pdf.getObjectByID(number, 0);
    if (!stream.isStream()) continue;  // libqpdf reports it when an object is looked up
    ChargedBuffer decoded(*budget_);
    if (!stream.pipeStreamData(&decoded, 0, qpdf_dl_specialized)) continue;  // left to libqpdf
    stream.replaceStreamData(decoded.take(), QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
  }
}

bool Document::HasPageTree(QPDF& pdf) {
  QPDFObjectHandle root = pdf.getRoot();  // raises when there is none
  return root.isDictionary() && root.getKey("/Pages").isDictionary();
}

bool Document::acceptsPassword(const char* password) {
  if (password == nullptr) password = "";
  if (reader_) return true;  // the reader reads no encrypted document
  if (!opened().isEncrypted() || password_ == password) return true;
  try {
    attempt(rebuiltTail_, password, strategy_ == kIgnoreXrefStreams, repair_, /*withoutTrailingJunk=*/!rebuiltTail_);
    return true;
  } catch (const QPDFExc& e) {
    if (e.getErrorCode() == qpdf_e_password) return false;
    throw;
  }
}

Document::OpenResult Document::open(const char* password) {
  return verified([&] { return openVerified(password); });
}

Document::OpenResult Document::openVerified(const char* password) {
  if (bytes_->size() == 0) throw Error(ErrorCode::kNotPdf, path_ + ": empty file");
  if (password == nullptr && !isOpen() && structureReaderEnabled) {
    try {
      reader_ = std::make_unique<reader::StructureReader>(bytes_->view(), *budget_);
      strictWalk_ = std::make_unique<reader::StrictPageWalk>(
          *reader_,
          [this](size_t index, size_t sameAs, const reader::MeasuredPage& page) {
            pageTable_.addMeasured(index, sameAs, page);
          },
          checkpointFn());
      // The catalog and the way to the first page are read now, so that a
      // file without them fails its open as it does when libqpdf reads it.
      strictWalk_->reach(0);
      return OpenResult::Opened;
    } catch (const reader::Refusal& refusal) {
      strictWalk_.reset();
      reader_.reset();
      pageTable_.clear();
      trace("CPdfEngine reader: " + path_ + ": " + refusal.what() + "; read by libqpdf");
    }
  }
  return openWithQpdf(password);
}

Document::OpenResult Document::openWithQpdf(const char* password) {
  std::exception_ptr firstError;
  // A catalog without a page tree: the last resort.
  std::unique_ptr<QPDF> withoutPages;
  std::shared_ptr<const std::string> withoutPagesTail;
  int withoutPagesStrategy = kPlain;
  bool withoutPagesInfoUnknown = false;
  auto adopt = [&](std::unique_ptr<QPDF> pdf, std::shared_ptr<const std::string> rebuilt, int s, bool infoUnknown) {
    pdf_ = std::move(pdf);
    rebuiltTail_ = std::move(rebuilt);
    infoUnknown_ = infoUnknown;
    strategy_ = s;
    password_ = password ? password : "";
  };
  for (int s = strategy_; s < kStrategies; ++s) {
    if (s > kPlain && !repair_) break;
    if (s == kIgnoreXrefStreams && !Contains(*bytes_, "XRef")) continue;
    if (s == kRebuild && !MayHoldPageTree(*bytes_)) {
      // Rebuilding finds a catalog by its /Pages: without one anywhere in the
      // file (plain or in an object stream) it would scan every object for
      // nothing.
      trace("CPdfEngine repair: " + path_ + ": the file names no /Pages anywhere; not rebuilding");
      continue;
    }
    if (s > kPlain) trace("CPdfEngine repair: " + path_ + ": trying " + StrategyName(s));
    try {
      std::shared_ptr<const std::string> rebuilt;
      bool infoUnknown = false;
      std::unique_ptr<QPDF> pdf =
          (s == kRebuild) ? rebuild(password, &rebuilt, &infoUnknown)
                          : attempt(nullptr, password, s == kIgnoreXrefStreams, repair_, /*withoutTrailingJunk=*/true);
      checkpoint();  // a limit met inside libqpdf, which may have gone on
      if (HasPageTree(*pdf)) {
        if (s > kPlain) trace("CPdfEngine repair: " + path_ + ": opened by " + StrategyName(s));
        adopt(std::move(pdf), std::move(rebuilt), s, infoUnknown);
        return OpenResult::Opened;
      }
      if (!withoutPages) {
        withoutPages = std::move(pdf);
        withoutPagesTail = std::move(rebuilt);
        withoutPagesStrategy = s;
        withoutPagesInfoUnknown = infoUnknown;
      }
      if (!firstError) {
        firstError =
            std::make_exception_ptr(Error(ErrorCode::kDamaged, path_ + ": the document catalog has no page tree"));
      }
    } catch (const QPDFExc& e) {
      if (e.getErrorCode() == qpdf_e_password) {
        strategy_ = s;  // a retry with a password starts here
        return OpenResult::NeedsPassword;
      }
      if (!firstError) firstError = std::current_exception();
      if (s > kPlain) trace("CPdfEngine repair: " + path_ + ": " + StrategyName(s) + " failed: " + e.what());
    } catch (const Error& e) {
      // A strategy that finds the file damaged leaves it to the next one;
      // anything else (a limit, no PDF at all, the file unreadable) ends the open.
      if (e.code() != ErrorCode::kDamaged) throw;
      if (!firstError) firstError = std::current_exception();
      if (s > kPlain) trace("CPdfEngine repair: " + path_ + ": " + StrategyName(s) + " failed: " + e.what());
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      if (!firstError) firstError = std::current_exception();
      if (s > kPlain) trace("CPdfEngine repair: " + path_ + ": " + StrategyName(s) + " failed: " + e.what());
    }
  }
  if (withoutPages) {
    warn(path_ + ": the document catalog has no page tree; no pages");
    adopt(std::move(withoutPages), std::move(withoutPagesTail), withoutPagesStrategy, withoutPagesInfoUnknown);
    return OpenResult::Opened;
  }
  if (!HasHeader(*bytes_)) {
    throw Error(ErrorCode::kNotPdf, path_ + ": not a PDF file (no %PDF- header): " +
                                        (firstError ? WhatOf(firstError) : std::string("unreadable")));
  }
  if (firstError) std::rethrow_exception(firstError);
  throw Error(ErrorCode::kDamaged, path_ + ": unreadable");
}

}  // namespace pdfparse::document
