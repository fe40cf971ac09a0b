#include "document/reader/ObjectHandle.h"

#include <qpdf/QPDFObjectHandle.hh>

namespace pdfparse::document::reader {

const ObjectStore::Loaded& ObjectStore::get(Ref ref) {
  const uint64_t key = (static_cast<uint64_t>(ref.num) << 32) | ref.gen;
  if (auto found = loaded_.find(key); found != loaded_.end()) return found->second;
  Loaded loaded;
  Object object = reader_.loadObjectOrStream(ref, &loaded.stream);
  if (object.isReference()) throw Refusal("an object that is only a reference");
  loaded.object = std::make_shared<const Object>(std::move(object));
  return loaded_.emplace(key, std::move(loaded)).first->second;
}

ObjectHandle::ObjectHandle(ObjectStore* store, std::shared_ptr<const Object> root, const Object* node, bool stream)
    : store_(store), initialized_(true), root_(std::move(root)), node_(node), stream_(stream) {}

ObjectHandle ObjectHandle::newNull() {
  static const std::shared_ptr<const Object> kNull = std::make_shared<const Object>();
  return ObjectHandle(nullptr, kNull, kNull.get());
}

const Object* ObjectHandle::node() const {
  if (node_ == nullptr && indirect_) {
    const ObjectStore::Loaded& loaded = store_->get(ref_);
    root_ = loaded.object;
    node_ = root_.get();
    stream_ = loaded.stream;
  }
  return node_;
}

ObjectHandle ObjectHandle::child(const Object& item) const {
  if (item.isReference()) return ObjectHandle(store_, item.ref());
  return ObjectHandle(store_, root_, &item);
}

bool ObjectHandle::isNull() const { return initialized_ && node()->isNull(); }
bool ObjectHandle::isDictionary() const { return initialized_ && node()->isDictionary() && !stream_; }
bool ObjectHandle::isArray() const { return initialized_ && node()->isArray(); }
bool ObjectHandle::isName() const { return initialized_ && node()->type() == Object::Type::Name; }
bool ObjectHandle::isStream() const { return initialized_ && node() != nullptr && stream_; }
bool ObjectHandle::isInteger() const { return initialized_ && node()->type() == Object::Type::Integer; }
bool ObjectHandle::isString() const { return initialized_ && node()->type() == Object::Type::String; }

std::string ObjectHandle::getName() const { return isName() ? "/" + node()->text() : std::string(); }

long long ObjectHandle::getIntValue() const { return isInteger() ? node()->integer() : 0; }

std::string ObjectHandle::getUTF8Value() const {
  // libqpdf's own reading of text strings, so that both walks agree.
  return isString() ? QPDFObjectHandle::newString(node()->text()).getUTF8Value() : std::string();
}

ObjectHandle ObjectHandle::getDict() const {
  if (!isStream()) return newNull();
  return ObjectHandle(store_, root_, node_, false);
}

ObjectHandle ObjectHandle::getKey(const std::string& key) const {
  if (!isDictionary() || key.empty() || key[0] != '/') return newNull();
  const Object* value = node()->get(std::string_view(key).substr(1));
  return value == nullptr ? newNull() : child(*value);
}

int ObjectHandle::getArrayNItems() const { return isArray() ? static_cast<int>(node()->items().size()) : 0; }

ObjectHandle ObjectHandle::getArrayItem(int index) const {
  if (!isArray() || index < 0 || static_cast<size_t>(index) >= node()->items().size()) return newNull();
  return child(node()->items()[static_cast<size_t>(index)]);
}

std::map<std::string, ObjectHandle> ObjectHandle::ditems() const {
  std::map<std::string, ObjectHandle> out;
  if (!isDictionary()) return out;
  for (const auto& [key, value] : node()->entries()) out.emplace("/" + key, child(value));
  return out;
}

std::vector<ObjectHandle> ObjectHandle::aitems() const {
  std::vector<ObjectHandle> out;
  if (!isArray()) return out;
  for (const Object& item : node()->items()) out.push_back(child(item));
  return out;
}

// --- ValueHandle ----------------------------------------------------------------

namespace {

const Object kNullObject;

}  // namespace

ValueHandle ValueHandle::newNull() { return ValueHandle(nullptr, &kNullObject); }

void ValueHandle::load() const {
  Object loaded = reader_->load(ref_);
  // One step of resolution, as the reader's resolve(): an object that is
  // only a reference leads nowhere the walk reads.
  if (loaded.isReference()) loaded = Object();
  owner_ = std::make_shared<const Object>(std::move(loaded));
  node_ = owner_.get();
}

bool ValueHandle::isNameAndEquals(const std::string& name) const {
  return isName() && !name.empty() && name[0] == '/' && std::string_view(name).substr(1) == node()->text();
}

const Object* ValueHandle::lookUp(const std::string& key) const {
  if (!isDictionary() || key.empty() || key[0] != '/') return nullptr;
  return node()->get(std::string_view(key).substr(1));
}

ValueHandle ValueHandle::child(const Object& item) const {
  if (item.isReference()) return ValueHandle(reader_, item.ref());
  ValueHandle out(reader_, &item);
  out.owner_ = owner_;
  return out;
}

ValueHandle ValueHandle::getKey(const std::string& key) const {
  const Object* value = lookUp(key);
  return value == nullptr ? newNull() : child(*value);
}

ValueHandle KeyIfPresent(const ValueHandle& dict, const std::string& key) {
  const Object* value = dict.lookUp(key);
  return value == nullptr ? ValueHandle() : dict.child(*value);
}

ValueHandle ValueHandle::getArrayItem(int index) const {
  if (!isArray() || index < 0 || static_cast<size_t>(index) >= node()->items().size()) return newNull();
  return child(node()->items()[static_cast<size_t>(index)]);
}

std::string ValueHandle::unparse() const {
  if (!initialized_) return "null";
  const Object& o = *node();
  switch (o.type()) {
    case Object::Type::Null:
      return "null";
    case Object::Type::Boolean:
      return o.boolean() ? "true" : "false";
    case Object::Type::Integer:
      return std::to_string(o.integer());
    case Object::Type::Real:
      return o.text();
    case Object::Type::Name:
      return "/" + o.text();
    case Object::Type::String:
      return QPDFObjectHandle::newString(o.text()).unparse();
    case Object::Type::Reference:
      return std::to_string(o.ref().num) + " " + std::to_string(o.ref().gen) + " R";
    case Object::Type::Array:
      return "[ ... ]";
    case Object::Type::Dictionary:
      break;
  }
  return "<< ... >>";
}

}  // namespace pdfparse::document::reader
