#include "document/reader/Syntax.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "document/WorkBudget.h"

namespace pdfparse::document::reader {
namespace {

// A value under construction is checked against the memory limit each time
// it has grown by this much.
constexpr size_t kCheckedValueBytes = 1 << 20;
// Text longer than this has bytes of its own (beyond the string object).
constexpr size_t kShortText = 15;
// A key's place in the index of a large dictionary, beyond the key's text.
constexpr size_t kIndexEntryBytes = 64;

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void Refuse(const std::string& what, size_t pos) {
  throw Refusal(what + " at byte " + std::to_string(pos));
}

// Checked once the dictionary is complete, sorted: a check per key against
// the keys before it would cost time in the square of the key count.
}  // namespace

namespace {

// Dictionaries up to this size are searched for a repeated key in place.
constexpr size_t kLinearKeySearch = 16;

enum CharClass : uint8_t { kRegular = 0, kSpace = 1, kDelimiter = 2 };

struct CharClasses {
  uint8_t of[256] = {};
  constexpr CharClasses() {
    for (char c : {'\0', '\t', '\n', '\f', '\r', ' '}) of[static_cast<unsigned char>(c)] = kSpace;
    for (char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) of[static_cast<unsigned char>(c)] = kDelimiter;
  }
};
constexpr CharClasses kClasses;

}  // namespace

bool IsSpace(unsigned char c) { return kClasses.of[c] == kSpace; }

bool IsDelimiter(unsigned char c) { return kClasses.of[c] == kDelimiter; }

// --- Object -------------------------------------------------------------------

Object::Object(Type type, int64_t integer, double real, std::string text, Ref ref)
    : type_(type), integer_(integer), real_(real), ref_(ref), text_(std::move(text)) {}

Object Object::Boolean(bool value) { return Object(Type::Boolean, value ? 1 : 0); }
Object Object::Integer(int64_t value) { return Object(Type::Integer, value); }
Object Object::Real(double value, std::string text) { return Object(Type::Real, 0, value, std::move(text)); }
Object Object::Name(std::string name) { return Object(Type::Name, 0, 0, std::move(name)); }
Object Object::String(std::string bytes) { return Object(Type::String, 0, 0, std::move(bytes)); }
Object Object::Reference(Ref ref) { return Object(Type::Reference, 0, 0, {}, ref); }
Object Object::Array() { return Object(Type::Array); }
Object Object::Dictionary() { return Object(Type::Dictionary); }

const Object* Object::get(std::string_view key) const {
  if (type_ != Type::Dictionary) return nullptr;
  for (const Entry& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

// --- Parser -------------------------------------------------------------------

void Parser::skipSpace() {
  while (pos_ < data_.size()) {
    const unsigned char c = static_cast<unsigned char>(data_[pos_]);
    if (IsSpace(c)) {
      ++pos_;
    } else if (c == '%') {
      while (pos_ < data_.size() && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
    } else {
      return;
    }
  }
}

std::string_view Parser::word() {
  const size_t start = pos_;
  while (pos_ < data_.size() && kClasses.of[static_cast<unsigned char>(data_[pos_])] == kRegular) ++pos_;
  return data_.substr(start, pos_ - start);
}

Object Parser::number() {
  const size_t start = pos_;
  std::string_view text = word();
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t digits = 0, point = std::string_view::npos;
  for (size_t j = i; j < text.size(); ++j) {
    if (IsDigit(static_cast<unsigned char>(text[j]))) {
      ++digits;
    } else if (text[j] == '.' && point == std::string_view::npos) {
      point = j;
    } else {
      Refuse("malformed number \"" + std::string(text.substr(0, 32)) + "\"", start);
    }
  }
  if (digits == 0) Refuse("malformed number", start);
  std::string_view body = text.substr(i);
  if (point == std::string_view::npos) {
    if (digits > 18) Refuse("integer out of range", start);
    int64_t value = 0;
    std::from_chars(body.data(), body.data() + body.size(), value);
    return Object::Integer(negative ? -value : value);
  }
  if (digits > 40) Refuse("real number too long", start);
  std::string normal(body);
  if (normal.front() == '.') normal.insert(normal.begin(), '0');
  double value = 0;
  auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (ec != std::errc() || end != normal.data() + normal.size()) Refuse("malformed real number", start);
  return Object::Real(negative ? -value : value, std::string(text));
}

Object Parser::name() {
  const size_t start = pos_;
  ++pos_;  // the slash
  std::string_view raw = word();
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '#') {
      out += raw[i];
      continue;
    }
    const int hi = i + 1 < raw.size() ? HexValue(static_cast<unsigned char>(raw[i + 1])) : -1;
    const int lo = i + 2 < raw.size() ? HexValue(static_cast<unsigned char>(raw[i + 2])) : -1;
    if (hi < 0 || lo < 0) Refuse("name with a stray #", start);
    const char c = static_cast<char>(hi * 16 + lo);
    if (c == 0) Refuse("name with a zero byte", start);
    out += c;
    i += 2;
  }
  return Object::Name(std::move(out));
}

Object Parser::literalString() {
  const size_t start = pos_;
  ++pos_;  // (
  std::string out;
  int depth = 1;
  while (true) {
    if (pos_ >= data_.size()) Refuse("unterminated string", start);
    char c = data_[pos_++];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) break;
    } else if (c == '\r') {
      // An end of line in a string reads as one line feed.
      if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
      c = '\n';
    } else if (c == '\\') {
      if (pos_ >= data_.size()) Refuse("unterminated string", start);
      c = data_[pos_++];
      switch (c) {
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        case 't':
          c = '\t';
          break;
        case 'b':
          c = '\b';
          break;
        case 'f':
          c = '\f';
          break;
        case '\r':
          if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
          continue;  // a continued line
        case '\n':
          continue;
        default:
          if (c >= '0' && c <= '7') {
            int code = c - '0';
            for (int k = 0; k < 2 && pos_ < data_.size() && data_[pos_] >= '0' && data_[pos_] <= '7'; ++k) {
              code = code * 8 + (data_[pos_++] - '0');
            }
            c = static_cast<char>(code & 0xff);
          }
          // Any other escaped character stands for itself.
          break;
      }
    }
    out += c;
  }
  return Object::String(std::move(out));
}

Object Parser::hexString() {
  const size_t start = pos_;
  ++pos_;  // <
  std::string out;
  int pending = -1;
  while (true) {
    if (pos_ >= data_.size()) Refuse("unterminated hex string", start);
    const unsigned char c = static_cast<unsigned char>(data_[pos_++]);
    if (c == '>') break;
    if (IsSpace(c)) continue;
    const int v = HexValue(c);
    if (v < 0) Refuse("bad character in hex string", start);
    if (pending < 0) {
      pending = v;
    } else {
      out += static_cast<char>(pending * 16 + v);
      pending = -1;
    }
  }
  if (pending >= 0) out += static_cast<char>(pending * 16);
  return Object::String(std::move(out));
}

Parser::Token Parser::next(Object* scalar, std::string_view* keyword) {
  skipSpace();
  if (pos_ >= data_.size()) return Token::End;
  const unsigned char c = static_cast<unsigned char>(data_[pos_]);
  switch (c) {
    case '[':
      ++pos_;
      return Token::ArrayOpen;
    case ']':
      ++pos_;
      return Token::ArrayClose;
    case '<':
      if (pos_ + 1 < data_.size() && data_[pos_ + 1] == '<') {
        pos_ += 2;
        return Token::DictOpen;
      }
      *scalar = hexString();
      return Token::String;
    case '>':
      if (pos_ + 1 < data_.size() && data_[pos_ + 1] == '>') {
        pos_ += 2;
        return Token::DictClose;
      }
      Refuse("stray >", pos_);
    case '(':
      *scalar = literalString();
      return Token::String;
    case '/':
      *scalar = name();
      return Token::Name;
    case ')':
    case '{':
    case '}':
      Refuse(std::string("unexpected ") + static_cast<char>(c), pos_);
    default:
      break;
  }
  if (IsDigit(c) || c == '+' || c == '-' || c == '.') {
    *scalar = number();
    return scalar->type() == Object::Type::Integer ? Token::Integer : Token::Real;
  }
  *keyword = word();
  return Token::Word;
}

bool Parser::referenceFollows(int64_t num, Object* out) {
  const size_t save = pos_;
  skipSpace();
  size_t p = pos_;
  size_t genStart = p;
  while (p < data_.size() && IsDigit(static_cast<unsigned char>(data_[p]))) ++p;
  if (p == genStart || p - genStart > 10) {
    pos_ = save;
    return false;
  }
  const size_t genEnd = p;
  while (p < data_.size() && IsSpace(static_cast<unsigned char>(data_[p]))) ++p;
  const bool isR = p < data_.size() && data_[p] == 'R' &&
                   (p + 1 == data_.size() || IsSpace(static_cast<unsigned char>(data_[p + 1])) ||
                    IsDelimiter(static_cast<unsigned char>(data_[p + 1])));
  if (!isR || genEnd == p) {
    pos_ = save;
    return false;
  }
  uint64_t gen = 0;
  std::from_chars(data_.data() + genStart, data_.data() + genEnd, gen);
  if (num <= 0 || num > INT32_MAX || gen > 65535) Refuse("reference out of range", save);
  pos_ = p + 1;
  *out = Object::Reference(Ref{static_cast<uint32_t>(num), static_cast<uint32_t>(gen)});
  return true;
}

Object Parser::value() {
  struct Open {
    Object container;
    std::optional<std::string> key;  // a dictionary's key waiting for its value
    // A large dictionary's keys, where each is (for one given twice).
    std::unordered_map<std::string, size_t> where;
  };
  std::vector<Open> stack;
  // What the value under construction takes, checked a step at a time.
  size_t building = 0;
  size_t checkedUpTo = kCheckedValueBytes;
  while (true) {
    if (building >= checkedUpTo && budget_ != nullptr) {
      budget_->checkMemoryFor(building, "an object of the file");
      checkedUpTo = building + kCheckedValueBytes;
    }
    Object item;
    std::string_view kw;
    const size_t at = pos_;
    const Token token = next(&item, &kw);
    switch (token) {
      case Token::End:
        Refuse("unexpected end of data", at);
      case Token::ArrayOpen:
      case Token::DictOpen:
        if (stack.size() >= kMaxNesting) Refuse("objects nested too deeply", at);
        stack.push_back(Open{token == Token::ArrayOpen ? Object::Array() : Object::Dictionary(), std::nullopt, {}});
        // Room for a page dictionary's entries or a box's numbers at once.
        if (token == Token::ArrayOpen) {
          stack.back().container.mutableItems().reserve(4);
        } else {
          stack.back().container.mutableEntries().reserve(8);
        }
        continue;
      case Token::ArrayClose:
        if (stack.empty() || !stack.back().container.isArray()) Refuse("unexpected ]", at);
        item = std::move(stack.back().container);
        stack.pop_back();
        break;
      case Token::DictClose:
        if (stack.empty() || !stack.back().container.isDictionary()) Refuse("unexpected >>", at);
        if (stack.back().key) Refuse("dictionary key without a value", at);
        item = std::move(stack.back().container);
        stack.pop_back();
        break;
      case Token::Integer:
        referenceFollows(item.integer(), &item);
        break;
      case Token::Real:
      case Token::Name:
      case Token::String:
        break;
      case Token::Word:
        if (kw == "true") {
          item = Object::Boolean(true);
        } else if (kw == "false") {
          item = Object::Boolean(false);
        } else if (kw == "null") {
          item = Object();
        } else {
          Refuse("unexpected \"" + std::string(kw.substr(0, 32)) + "\"", at);
        }
        break;
    }
    if (stack.empty()) return item;
    Open& top = stack.back();
    // What a container takes as it grows: the next capacity, and while it
    // moves there, the old one too.
    auto grow = [&](const auto& items) {
      if (items.size() < items.capacity()) return;
      const size_t bytes = std::max<size_t>(items.capacity(), 1) * sizeof(items[0]);
      if (budget_ != nullptr && building + 2 * bytes >= checkedUpTo) {
        budget_->checkMemoryFor(building + 2 * bytes, "an object of the file");
      }
      building += bytes;
    };
    if (item.text().size() > kShortText) building += item.text().size();
    if (top.container.isArray()) {
      grow(top.container.items());
      top.container.mutableItems().push_back(std::move(item));
    } else if (!top.key) {
      if (item.type() != Object::Type::Name) Refuse("dictionary key that is not a name", at);
      top.key = item.text();
    } else {
      // A key given twice: the last value counts, as libqpdf and most
      // readers read it.
      std::vector<Object::Entry>& entries = top.container.mutableEntries();
      Object* earlier = nullptr;
      if (entries.size() < kLinearKeySearch) {
        for (Object::Entry& entry : entries) {
          if (entry.first == *top.key) earlier = &entry.second;
        }
      } else {
        if (top.where.empty()) {
          for (size_t i = 0; i < entries.size(); ++i) top.where.emplace(entries[i].first, i);
        }
        if (auto found = top.where.find(*top.key); found != top.where.end()) earlier = &entries[found->second].second;
      }
      if (earlier != nullptr) {
        *earlier = std::move(item);
      } else {
        if (entries.size() >= kLinearKeySearch) {
          top.where.emplace(*top.key, entries.size());
          building += kIndexEntryBytes + top.key->size();
        }
        if (top.key->size() > kShortText) building += top.key->size();
        grow(entries);
        entries.emplace_back(std::move(*top.key), std::move(item));
      }
      top.key.reset();
    }
  }
}

bool Parser::keyword(std::string_view keyword) {
  skipSpace();
  if (data_.substr(pos_, keyword.size()) != keyword) return false;
  const size_t end = pos_ + keyword.size();
  if (end < data_.size()) {
    const unsigned char c = static_cast<unsigned char>(data_[end]);
    if (!IsSpace(c) && !IsDelimiter(c)) return false;
  }
  pos_ = end;
  return true;
}

uint64_t Parser::unsignedInteger() {
  skipSpace();
  const size_t start = pos_;
  while (pos_ < data_.size() && IsDigit(static_cast<unsigned char>(data_[pos_]))) ++pos_;
  if (pos_ == start || pos_ - start > 18) Refuse("expected a number", start);
  if (pos_ < data_.size()) {
    const unsigned char c = static_cast<unsigned char>(data_[pos_]);
    if (!IsSpace(c) && !IsDelimiter(c)) Refuse("expected a number", start);
  }
  uint64_t value = 0;
  std::from_chars(data_.data() + start, data_.data() + pos_, value);
  return value;
}

Ref Parser::objectHeader() {
  const size_t start = pos_;
  const uint64_t num = unsignedInteger();
  const uint64_t gen = unsignedInteger();
  if (!keyword("obj")) Refuse("no \"obj\" where an object should start", start);
  if (num == 0 || num > INT32_MAX || gen > 65535) Refuse("object number out of range", start);
  return Ref{static_cast<uint32_t>(num), static_cast<uint32_t>(gen)};
}

}  // namespace pdfparse::document::reader
