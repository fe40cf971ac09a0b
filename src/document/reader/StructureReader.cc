#include "document/reader/StructureReader.h"

#include <algorithm>

#include "document/Encryption.h"
#include "document/WorkBudget.h"
#include "document/reader/ObjectHandle.h"
#include "document/reader/StreamData.h"

namespace pdfparse::document::reader {
namespace {

constexpr size_t kMaxSections = 1024;
constexpr size_t kHeaderWindow = 1024;
// Decoded object streams kept for later objects; beyond this the least
// recently used are dropped (and decoded again if asked for).
constexpr size_t kKeptStreamBytes = 32u << 20;
// Object streams whose /Length lies in another object stream, one inside
// the other.
constexpr size_t kMaxStreamChain = 4;
constexpr size_t kEntryBytes = 20;

std::string Name(Ref ref) { return std::to_string(ref.num) + " " + std::to_string(ref.gen); }

int64_t Integer(const Object* value, const char* what) {
  if (value == nullptr || value->type() != Object::Type::Integer || value->integer() < 0) {
    throw Refusal(std::string(what) + " is not a non-negative integer");
  }
  return value->integer();
}

bool Digits(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
  }
  return true;
}

// The value of `n` decimal digits (checked by Digits).
uint64_t DigitsValue(const char* p, size_t n) {
  uint64_t value = 0;
  for (size_t i = 0; i < n; ++i) value = value * 10 + static_cast<uint64_t>(p[i] - '0');
  return value;
}

uint64_t Field(const unsigned char* p, int64_t width) {
  uint64_t value = 0;
  for (int64_t i = 0; i < width; ++i) value = (value << 8) | p[i];
  return value;
}

}  // namespace

StructureReader::StructureReader(std::string_view bytes, WorkBudget& budget) : bytes_(bytes), budget_(budget) {
  // Bytes before the header are no part of the document: offsets count
  // from the header, as libqpdf and the other readers count them.
  const size_t header = bytes_.substr(0, kHeaderWindow + 5).find("%PDF-");
  if (header == std::string_view::npos) throw Refusal("no %PDF- header in the first 1024 bytes");
  bytes_.remove_prefix(header);
  // The last startxref, however much junk follows it; looking is reading.
  const size_t at = bytes_.rfind("startxref");
  budget_.chargeRead(at == std::string_view::npos ? bytes_.size() : bytes_.size() - at);
  if (at == std::string_view::npos) throw Refusal("no startxref in the file");
  Parser parser(bytes_, at + 9, &budget_);
  readSections(parser.unsignedInteger());
  if (!trailer_.isDictionary()) throw Refusal("no trailer dictionary");
  if (Integer(trailer_.get("Size"), "the trailer's /Size") < static_cast<int64_t>(entries_.size())) {
    throw Refusal("objects numbered beyond the trailer's /Size");
  }
  // Encryption that leaves strings plain leaves everything read here plain,
  // but for object streams where stream data is encrypted.
  switch (EncryptionOf(ValueHandle(this, &trailer_).getKey("/Encrypt"))) {
    case Encryption::kNone:
    case Encryption::kEmbeddedOnly:
      break;
    case Encryption::kStreamsOnly:
      for (const Entry& entry : entries_) {
        if (entry.kind == Kind::Compressed) throw Refusal("the document's object streams are encrypted");
      }
      break;
    case Encryption::kEncrypted:
      throw Refusal("the document is encrypted");
  }
  // libqpdf keeps a cross-reference stream as the object it is numbered:
  // where the table names another object by that number, the two differ.
  for (const auto& [ref, offset] : xrefStreams_) {
    if (ref.num >= entries_.size()) continue;
    const Entry& entry = entries_[ref.num];
    if ((entry.kind == Kind::Plain && (entry.where != offset || entry.gen != ref.gen)) ||
        entry.kind == Kind::Compressed) {
      throw Refusal("cross-reference stream " + Name(ref) + " shares its number with another object");
    }
  }
  entries_.shrink_to_fit();
  budget_.chargeMemory(entries_.size() * sizeof(Entry), "cross-reference data");
}

StructureReader::~StructureReader() = default;

void StructureReader::readSections(uint64_t offset) {
  std::unordered_set<uint64_t> seen;
  bool newest = true;
  while (true) {
    if (seen.size() >= kMaxSections) throw Refusal("too many cross-reference sections");
    if (!seen.insert(offset).second) throw Refusal("loop in the /Prev chain");
    if (offset >= bytes_.size()) throw Refusal("cross-reference offset beyond the end of the file");
    budget_.checkDeadline();
    Object trailer;
    Parser probe(bytes_, offset, &budget_);
    if (probe.keyword("xref")) {
      Ranges table;
      readTable(offset, &table, &trailer);
      if (const Object* hybrid = trailer.get("XRefStm"); hybrid && !hybrid->isNull()) {
        readXrefStream(static_cast<size_t>(Integer(hybrid, "/XRefStm")), &table);
      }
    } else {
      trailer = readXrefStream(offset, nullptr);
    }
    const Object* prev = trailer.get("Prev");
    if (newest) trailer_ = std::move(trailer);
    newest = false;
    if (prev == nullptr || prev->isNull()) return;
    offset = static_cast<uint64_t>(Integer(prev, "/Prev"));
  }
}

void StructureReader::makeRoom(uint64_t start, uint64_t count) {
  if (count == 0) return;
  const uint64_t end = start + count;
  // Numbers far beyond what the file could hold would only cost memory.
  if (end - 1 > bytes_.size() / 4 + 16) {
    throw Refusal("object number " + std::to_string(end - 1) + " beyond the file's size");
  }
  if (end > entries_.size()) entries_.resize(end);
}

void StructureReader::readTable(size_t offset, Ranges* listed, Object* trailer) {
  Parser parser(bytes_, offset, &budget_);
  parser.keyword("xref");
  while (!parser.keyword("trailer")) {
    const uint64_t start = parser.unsignedInteger();
    const uint64_t count = parser.unsignedInteger();
    parser.skipSpace();
    size_t pos = parser.pos();
    if (count > (bytes_.size() - pos) / kEntryBytes) throw Refusal("cross-reference subsection beyond the file");
    if (start + count > INT32_MAX) throw Refusal("object number out of range");
    makeRoom(start, count);
    listed->emplace_back(start, count);
    for (uint64_t i = 0; i < count; ++i, pos += kEntryBytes) {
      const char* e = bytes_.data() + pos;
      const bool eol = (e[18] == ' ' && (e[19] == '\r' || e[19] == '\n')) || (e[18] == '\r' && e[19] == '\n');
      if (!Digits(e, 10) || e[10] != ' ' || !Digits(e + 11, 5) || e[16] != ' ' || (e[17] != 'n' && e[17] != 'f') ||
          !eol) {
        throw Refusal("malformed cross-reference entry at byte " + std::to_string(pos));
      }
      Entry entry;
      const uint64_t where = DigitsValue(e, 10);
      entry.where = static_cast<uint32_t>(std::min<uint64_t>(where, UINT32_MAX));  // loading it refuses
      entry.gen = static_cast<uint32_t>(DigitsValue(e + 11, 5));
      entry.kind = e[17] == 'n' ? Kind::Plain : Kind::Free;
      const uint32_t num = static_cast<uint32_t>(start + i);
      if (entry.kind == Kind::Plain && (num == 0 || entry.gen > 65535)) throw Refusal("object 0 listed as in use");
      put(num, entry);
    }
    parser = Parser(bytes_, pos, &budget_);
  }
  *trailer = parser.value();
  if (!trailer->isDictionary()) throw Refusal("trailer is not a dictionary");
}

Object StructureReader::readXrefStream(size_t offset, const Ranges* table) {
  if (offset >= bytes_.size()) throw Refusal("cross-reference stream offset beyond the end of the file");
  Parser parser(bytes_, offset, &budget_);
  xrefStreams_.emplace_back(parser.objectHeader(), offset);
  Object dict = parser.value();
  if (!dict.isDictionary() || !dict.get("Type") || !dict.get("Type")->isName("XRef")) {
    throw Refusal("no cross-reference table or stream at the startxref offset");
  }
  const std::string_view raw =
      StreamBytes(parser, bytes_, static_cast<uint64_t>(Integer(dict.get("Length"), "/Length")));
  const std::string data = DecodeStream(dict, raw, budget_, "a cross-reference stream");
  const Object* w = dict.get("W");
  if (w == nullptr || !w->isArray() || w->items().size() != 3) throw Refusal("malformed /W");
  int64_t widths[3];
  for (int i = 0; i < 3; ++i) {
    widths[i] = Integer(&w->items()[i], "a /W width");
    if (widths[i] > 8) throw Refusal("/W width beyond 8 bytes");
  }
  const size_t row = static_cast<size_t>(widths[0] + widths[1] + widths[2]);
  if (row == 0) throw Refusal("/W of zero width");
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  const int64_t size = Integer(dict.get("Size"), "/Size");
  if (const Object* index = dict.get("Index"); index && !index->isNull()) {
    if (!index->isArray() || index->items().size() % 2 != 0) throw Refusal("malformed /Index");
    for (size_t i = 0; i < index->items().size(); i += 2) {
      ranges.emplace_back(Integer(&index->items()[i], "/Index"), Integer(&index->items()[i + 1], "/Index"));
    }
  } else {
    ranges.emplace_back(0, static_cast<uint64_t>(size));
  }
  uint64_t rows = 0;
  for (const auto& [start, count] : ranges) {
    if (count > data.size() / row || start + count > INT32_MAX) throw Refusal("/Index beyond the stream's data");
    rows += count;
  }
  if (rows * row != data.size()) throw Refusal("cross-reference stream data does not match /W and /Index");
  for (const auto& [start, count] : ranges) makeRoom(start, count);
  auto inTable = [table](uint64_t num) {
    if (table == nullptr) return false;
    for (const auto& [start, count] : *table) {
      if (num >= start && num - start < count) return true;
    }
    return false;
  };
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
  for (const auto& [start, count] : ranges) {
    for (uint64_t i = 0; i < count; ++i, p += row) {
      const uint64_t type = widths[0] == 0 ? 1 : Field(p, widths[0]);
      const uint64_t second = Field(p + widths[0], widths[1]);
      const uint64_t third = Field(p + widths[0] + widths[1], widths[2]);
      Entry entry;
      const uint32_t num = static_cast<uint32_t>(start + i);
      switch (type) {
        case 0:
          entry.kind = Kind::Free;
          break;
        case 1:
          entry.kind = Kind::Plain;
          entry.where = static_cast<uint32_t>(std::min<uint64_t>(second, UINT32_MAX));  // loading it refuses
          if (third > 65535 || num == 0) throw Refusal("cross-reference stream entry out of range");
          entry.gen = static_cast<uint32_t>(third);
          break;
        case 2:
          entry.kind = Kind::Compressed;
          if (second == 0 || second > INT32_MAX || third > INT32_MAX || num == 0) {
            throw Refusal("cross-reference stream entry out of range");
          }
          entry.where = static_cast<uint32_t>(second);
          entry.gen = static_cast<uint32_t>(third);
          break;
        default:
          throw Refusal("cross-reference stream entry of unknown type " + std::to_string(type));
      }
      if (inTable(num)) throw Refusal("object " + std::to_string(num) + " listed by both parts of a hybrid file");
      put(num, entry);
    }
  }
  return dict;
}

Object StructureReader::loadObjectOrStream(Ref ref, bool* isStream) {
  *isStream = false;
  if (ref.num < entries_.size() && entries_[ref.num].kind == Kind::Plain && entries_[ref.num].gen == ref.gen) {
    return loadPlain(ref, entries_[ref.num], nullptr, isStream);
  }
  return load(ref);
}

Object StructureReader::load(Ref ref) {
  if (ref.num >= entries_.size()) throw Refusal("object " + Name(ref) + " is not in the file");
  const Entry entry = entries_[ref.num];
  switch (entry.kind) {
    case Kind::Plain:
      if (entry.gen != ref.gen) throw Refusal("object " + Name(ref) + " has another generation");
      return loadPlain(ref, entry, nullptr);
    case Kind::Compressed: {
      if (ref.gen != 0) throw Refusal("object " + Name(ref) + " has another generation");
      const ObjectStream& stream = objectStream(static_cast<uint32_t>(entry.where));
      if (entry.gen >= stream.index.size() || stream.index[entry.gen].first != ref.num) {
        throw Refusal("object " + Name(ref) + " is not where its object stream's index says");
      }
      Parser parser(stream.data, stream.first + stream.index[entry.gen].second, &budget_);
      return parser.value();
    }
    default:
      throw Refusal("object " + Name(ref) + " is free or not in the file");
  }
}

uint32_t StructureReader::generationOf(uint32_t num) const {
  return num < entries_.size() && entries_[num].kind == Kind::Plain ? entries_[num].gen : 0;
}

Object StructureReader::loadNumbered(uint32_t num) { return load(Ref{num, generationOf(num)}); }

Object StructureReader::resolve(const Object& value) { return value.isReference() ? load(value.ref()) : value; }

Object StructureReader::loadPlain(Ref ref, const Entry& entry, std::string_view* streamData, bool* isStream) {
  ++objectsRead_;
  if (entry.where >= bytes_.size()) throw Refusal("offset of object " + Name(ref) + " beyond the end of the file");
  Parser parser(bytes_, static_cast<size_t>(entry.where), &budget_);
  if (parser.objectHeader() != ref) throw Refusal("the offset of object " + Name(ref) + " lands on another object");
  Object value = parser.value();
  if (parser.keyword("endobj")) {
    if (streamData != nullptr) throw Refusal("object " + Name(ref) + " is not a stream");
    return value;
  }
  if (isStream != nullptr && value.isDictionary()) {
    if (!parser.keyword("stream")) throw Refusal("object " + Name(ref) + " lacks endobj");
    *isStream = true;
    return value;
  }
  if (streamData == nullptr || !value.isDictionary()) {
    throw Refusal("object " + Name(ref) + " is a stream or lacks endobj");
  }
  *streamData = StreamBytes(parser, bytes_, streamLength(value));
  return value;
}

uint64_t StructureReader::streamLength(const Object& dict) {
  const Object* length = dict.get("Length");
  if (length != nullptr && length->isReference()) {
    const Object value = load(length->ref());
    return static_cast<uint64_t>(Integer(&value, "/Length"));
  }
  return static_cast<uint64_t>(Integer(length, "/Length"));
}

const StructureReader::ObjectStream& StructureReader::objectStream(uint32_t number) {
  if (auto found = streams_.find(number); found != streams_.end()) {
    kept_.splice(kept_.begin(), kept_, found->second);
    return *found->second;
  }
  if (opening_.count(number) || opening_.size() >= kMaxStreamChain) {
    throw Refusal("object stream " + std::to_string(number) + " needs itself to be read");
  }
  if (number >= entries_.size() || entries_[number].kind != Kind::Plain || entries_[number].gen != 0) {
    throw Refusal("object stream " + std::to_string(number) + " is not in the file");
  }
  opening_.insert(number);
  struct Done {
    std::unordered_set<uint32_t>& set;
    uint32_t number;
    ~Done() { set.erase(number); }
  } done{opening_, number};

  std::string_view raw;
  const Object dict = loadPlain(Ref{number, 0}, entries_[number], &raw);
  if (!dict.get("Type") || !dict.get("Type")->isName("ObjStm")) {
    throw Refusal("object " + std::to_string(number) + " is not an object stream");
  }
  const int64_t count = Integer(dict.get("N"), "/N");
  const int64_t first = Integer(dict.get("First"), "/First");
  ObjectStream stream;
  stream.data = DecodeStream(dict, raw, budget_, "an object stream");
  if (static_cast<uint64_t>(first) > stream.data.size()) throw Refusal("object stream /First beyond its data");
  stream.first = static_cast<size_t>(first);
  if (count > first / 2) throw Refusal("object stream /N larger than its index");
  Parser header(std::string_view(stream.data).substr(0, stream.first), 0, &budget_);
  for (int64_t i = 0; i < count; ++i) {
    const uint64_t num = header.unsignedInteger();
    const uint64_t offset = header.unsignedInteger();
    if (num == 0 || num > INT32_MAX || offset >= stream.data.size() - stream.first) {
      throw Refusal("object stream index out of range");
    }
    stream.index.emplace_back(static_cast<uint32_t>(num), static_cast<uint32_t>(offset));
  }
  decodedStreams_.insert(number);
  keptBytes_ += stream.data.size();
  kept_.push_front(std::move(stream));
  streams_[number] = kept_.begin();
  while (keptBytes_ > kKeptStreamBytes && kept_.size() > 1) {
    auto last = std::prev(kept_.end());
    keptBytes_ -= last->data.size();
    for (auto it = streams_.begin(); it != streams_.end(); ++it) {
      if (it->second == last) {
        streams_.erase(it);
        break;
      }
    }
    kept_.erase(last);
  }
  return kept_.front();
}

}  // namespace pdfparse::document::reader
