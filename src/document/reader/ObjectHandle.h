// The structure reader's objects behind the part of libqpdf's object-handle
// interface that the ink walk and the page model use, so that one walk
// reads either. What does not read exactly raises Refusal, as everywhere in
// the reader.
//
// ObjectHandle (the ink walk): objects are loaded when first looked into and
// kept by the ObjectStore for the document; direct objects share the object
// they lie in.
//
// ValueHandle (the page walk, the Info dictionary): nothing is kept beyond
// the handles. A reference is loaded when first looked into, by that handle
// and the copies made of it afterwards, and lives as long as they do; direct
// objects share the object they lie in. A page walk reads each page once,
// so a store would only hold every page dictionary of the document.
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

class ValueHandle {
 public:
  ValueHandle() = default;  // not initialised
  // Object `ref` of `reader`, loaded when first looked into.
  ValueHandle(StructureReader* reader, Ref ref) : reader_(reader), ref_(ref), indirect_(true), initialized_(true) {}
  // `value`, which the caller keeps (the trailer).
  ValueHandle(StructureReader* reader, const Object* value) : reader_(reader), node_(value), initialized_(true) {}
  static ValueHandle newNull();

  bool isInitialized() const { return initialized_; }
  bool isIndirect() const { return indirect_; }
  QPDFObjGen getObjGen() const {
    return indirect_ ? QPDFObjGen(static_cast<int>(ref_.num), static_cast<int>(ref_.gen)) : QPDFObjGen();
  }

  // An object that is itself only a reference reads as null.
  bool isNull() const { return initialized_ && node()->isNull(); }
  bool isDictionary() const { return initialized_ && node()->isDictionary(); }
  bool isArray() const { return initialized_ && node()->isArray(); }
  bool isName() const { return is(Object::Type::Name); }
  bool isNameAndEquals(const std::string& name) const;  // name with the slash
  bool isNumber() const { return initialized_ && node()->isNumber(); }
  bool isInteger() const { return is(Object::Type::Integer); }
  bool isReal() const { return is(Object::Type::Real); }
  bool isString() const { return is(Object::Type::String); }
  long long getIntValue() const { return isInteger() ? node()->integer() : 0; }
  double getNumericValue() const { return isNumber() ? node()->number() : 0; }
  std::string getName() const { return isName() ? "/" + node()->text() : std::string(); }
  std::string getStringValue() const { return isString() ? node()->text() : std::string(); }
  // Keys with the slash. getKey gives null for an absent key, KeyIfPresent
  // a handle that is not initialised.
  bool hasKey(const std::string& key) const { return lookUp(key) != nullptr; }
  ValueHandle getKey(const std::string& key) const;
  int getArrayNItems() const { return isArray() ? static_cast<int>(node()->items().size()) : 0; }
  ValueHandle getArrayItem(int index) const;
  // Scalars as written (a real as its text); containers in brief.
  std::string unparse() const;

  friend ValueHandle KeyIfPresent(const ValueHandle& dict, const std::string& key);

 private:
  // The value itself, loaded when first asked; never null once initialised.
  const Object* node() const {
    if (node_ == nullptr) load();
    return node_;
  }
  void load() const;
  bool is(Object::Type type) const { return initialized_ && node()->type() == type; }
  const Object* lookUp(const std::string& key) const;
  ValueHandle child(const Object& item) const;

  StructureReader* reader_ = nullptr;
  mutable std::shared_ptr<const Object> owner_;  // what the value lies in, when loaded by a handle
  mutable const Object* node_ = nullptr;
  Ref ref_;
  bool indirect_ = false;
  bool initialized_ = false;
};

ValueHandle KeyIfPresent(const ValueHandle& dict, const std::string& key);

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_OBJECTHANDLE_H_
