// The structure reader's objects behind the part of libqpdf's object-handle
// interface that the ink walk uses, so that one walk reads either. Objects
// are loaded when first looked into and kept by the ObjectStore for the
// document; direct objects share the object they lie in. What does not
// read exactly raises Refusal, as everywhere in the reader.
#ifndef PDFPARSE_DOCUMENT_READER_OBJECTHANDLE_H_
#define PDFPARSE_DOCUMENT_READER_OBJECTHANDLE_H_

#include <qpdf/QPDFObjGen.hh>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "document/reader/StructureReader.h"

namespace pdfparse::document::reader {

// Loaded objects by number, each once.
class ObjectStore {
 public:
  explicit ObjectStore(StructureReader& reader) : reader_(reader) {}

  struct Loaded {
    std::shared_ptr<const Object> object;
    bool stream = false;
  };
  const Loaded& get(Ref ref);

 private:
  StructureReader& reader_;
  std::unordered_map<uint64_t, Loaded> loaded_;
};

class ObjectHandle {
 public:
  ObjectHandle() = default;  // not initialised
  ObjectHandle(ObjectStore* store, Ref ref) : store_(store), ref_(ref), indirect_(true), initialized_(true) {}
  // `node` lies in `root`.
  ObjectHandle(ObjectStore* store, std::shared_ptr<const Object> root, const Object* node, bool stream = false);
  static ObjectHandle newNull();

  bool isInitialized() const { return initialized_; }
  bool isIndirect() const { return indirect_; }
  QPDFObjGen getObjGen() const {
    return indirect_ ? QPDFObjGen(static_cast<int>(ref_.num), static_cast<int>(ref_.gen)) : QPDFObjGen();
  }

  bool isNull() const;
  bool isDictionary() const;
  bool isArray() const;
  bool isName() const;
  bool isStream() const;
  bool isInteger() const;
  bool isString() const;
  std::string getName() const;  // with the slash
  long long getIntValue() const;
  std::string getUTF8Value() const;
  ObjectHandle getDict() const;
  ObjectHandle getKey(const std::string& key) const;  // key with the slash
  int getArrayNItems() const;
  ObjectHandle getArrayItem(int index) const;
  std::map<std::string, ObjectHandle> ditems() const;
  std::vector<ObjectHandle> aitems() const;

 private:
  // The object itself, loaded when first asked; null for a null handle.
  const Object* node() const;
  ObjectHandle child(const Object& item) const;

  ObjectStore* store_ = nullptr;
  Ref ref_;
  bool indirect_ = false;
  bool initialized_ = false;
  mutable std::shared_ptr<const Object> root_;
  mutable const Object* node_ = nullptr;
  mutable bool stream_ = false;
};

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_OBJECTHANDLE_H_
