// The structure reader: reads the cross-reference data of a PDF file and
// its objects, in place in the file's bytes, for the few things an inquiry
// asks (the page tree, page dictionaries, the Info dictionary, resources).
// It never writes, never repairs and never guesses: whatever it does not
// read exactly (encryption, an offset that does not land on "N G obj", a
// generation that does not match, an unsupported filter, damaged syntax,
// a loop in /Prev) raises Refusal, and the document is read by libqpdf.
//
// Covers cross-reference tables and streams, /Prev chains, hybrid files
// (/XRefStm) and object streams. An object stream is decoded on first use
// and kept while the kept ones are small; its bytes are charged to the
// work budget once. Memory grows with what is read: a /Size, /N or /Count
// that claims more than the file holds allocates nothing.
#ifndef PDFPARSE_DOCUMENT_READER_STRUCTUREREADER_H_
#define PDFPARSE_DOCUMENT_READER_STRUCTUREREADER_H_

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "document/reader/Syntax.h"

namespace pdfparse::document {
class WorkBudget;
}

namespace pdfparse::document::reader {

class StructureReader {
 public:
  // Reads the cross-reference data of `bytes` (which must outlive the
  // reader) from its %PDF- header on. Raises Refusal, or the budget's
  // exceptions.
  StructureReader(std::string_view bytes, WorkBudget& budget);
  ~StructureReader();
  StructureReader(const StructureReader&) = delete;
  StructureReader& operator=(const StructureReader&) = delete;

  // The newest trailer dictionary.
  const Object& trailer() const { return trailer_; }
  // The object `ref` names. Raises Refusal when it is missing, free or
  // cannot be read exactly.
  Object load(Ref ref);
  // The object `ref` names, which may be a stream: then `*isStream` is set
  // and its dictionary returned (its data is not read).
  Object loadObjectOrStream(Ref ref, bool* isStream);
  // Object `num` at the generation the cross-reference data lists.
  Object loadNumbered(uint32_t num);
  // The generation the cross-reference data lists for object `num` (0 for
  // one in an object stream).
  uint32_t generationOf(uint32_t num) const;
  // `value` itself, or the object it refers to.
  Object resolve(const Object& value);
  // One more than the highest object number in use.
  uint32_t objectLimit() const { return static_cast<uint32_t>(entries_.size()); }
  // Object streams decoded so far (each counted once).
  size_t objectStreamsDecoded() const { return decodedStreams_.size(); }
  // Objects read from the file's bytes so far (not from a decoded stream).
  uint64_t objectsRead() const { return objectsRead_; }

 private:
  enum class Kind : uint8_t { Unknown, Free, Plain, Compressed };
  struct Entry {
    uint32_t where = 0;  // byte offset (files are under 4 GiB), or the object stream's number
    uint32_t gen = 0;    // generation, or the place in the object stream
    Kind kind = Kind::Unknown;
  };
  // The object numbers a section lists: first number and count.
  using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;
  struct ObjectStream {
    std::string data;
    size_t first = 0;
    std::vector<std::pair<uint32_t, uint32_t>> index;  // number, offset from first
  };

  void readSections(uint64_t startxref);
  // Read a section into entries_, where older sections have not listed a
  // number already. A hybrid file's stream may not list what its table does.
  void readTable(size_t offset, Ranges* listed, Object* trailer);
  Object readXrefStream(size_t offset, const Ranges* table);
  // Makes room for numbers below `end`, within what the file could hold.
  void makeRoom(uint64_t start, uint64_t count);
  void put(uint32_t num, const Entry& entry) {
    if (entries_[num].kind == Kind::Unknown) entries_[num] = entry;  // newer sections came first
  }
  Object loadPlain(Ref ref, const Entry& entry, std::string_view* streamData, bool* isStream = nullptr);
  const ObjectStream& objectStream(uint32_t number);
  uint64_t streamLength(const Object& dict);

  std::string_view bytes_;
  WorkBudget& budget_;
  Object trailer_;
  std::vector<Entry> entries_;
  std::vector<std::pair<Ref, size_t>> xrefStreams_;  // each cross-reference stream's number and offset
  std::unordered_map<uint32_t, std::list<ObjectStream>::iterator> streams_;
  std::list<ObjectStream> kept_;  // most recent first
  size_t keptBytes_ = 0;
  std::unordered_set<uint32_t> decodedStreams_;
  uint64_t objectsRead_ = 0;
  std::unordered_set<uint32_t> opening_;  // object streams being opened (a /Length inside its own stream)
};

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_STRUCTUREREADER_H_
