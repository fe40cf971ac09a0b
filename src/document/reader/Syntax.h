// PDF object syntax for the structure reader: a small immutable value model
// and a parser that reads one value, or one "N G obj ... endobj", from the
// file's bytes in place.
//
// The parser is strict: anything that is not plainly valid syntax (a stray
// delimiter, a name with a bad # escape, a dictionary with an odd number of
// items, a missing endobj, nesting deeper than kMaxNesting) raises Refusal
// instead of being guessed at; a key given twice keeps its last value, as
// libqpdf reads it. Nesting is kept on the heap.
#ifndef PDFPARSE_DOCUMENT_READER_SYNTAX_H_
#define PDFPARSE_DOCUMENT_READER_SYNTAX_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pdfparse::document {
class WorkBudget;
}

namespace pdfparse::document::reader {

// The reader does not read this file exactly; `what()` says why. The
// document is then read by libqpdf.
// Not an Error: refusals never leave the engine.
class Refusal : public std::exception {
 public:
  explicit Refusal(std::string why) : why_(std::move(why)) {}
  const char* what() const noexcept override { return why_.c_str(); }

 private:
  std::string why_;
};

inline constexpr size_t kMaxNesting = 256;

struct Ref {
  uint32_t num = 0;
  uint32_t gen = 0;
  bool operator==(const Ref& other) const { return num == other.num && gen == other.gen; }
  bool operator!=(const Ref& other) const { return !(*this == other); }
};

class Object {
 public:
  enum class Type : uint8_t { Null, Boolean, Integer, Real, Name, String, Array, Dictionary, Reference };
  using Entry = std::pair<std::string, Object>;

  Object() = default;
  static Object Boolean(bool value);
  static Object Integer(int64_t value);
  static Object Real(double value, std::string text);
  static Object Name(std::string name);  // without the slash, # escapes decoded
  static Object String(std::string bytes);
  static Object Reference(Ref ref);
  static Object Array();
  static Object Dictionary();

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::Null; }
  bool isNumber() const { return type_ == Type::Integer || type_ == Type::Real; }
  bool isName(std::string_view name) const { return type_ == Type::Name && text_ == name; }
  bool isReference() const { return type_ == Type::Reference; }
  bool isDictionary() const { return type_ == Type::Dictionary; }
  bool isArray() const { return type_ == Type::Array; }

  bool boolean() const { return integer_ != 0; }
  int64_t integer() const { return integer_; }
  double number() const { return type_ == Type::Real ? real_ : static_cast<double>(integer_); }
  // A name's text, a string's bytes, a real's text as written.
  const std::string& text() const { return text_; }
  Ref ref() const { return ref_; }
  const std::vector<Object>& items() const { return items_; }
  const std::vector<Entry>& entries() const { return entries_; }
  // A dictionary's value for `key`; null when absent or not a dictionary.
  const Object* get(std::string_view key) const;

  std::vector<Object>& mutableItems() { return items_; }
  std::vector<Entry>& mutableEntries() { return entries_; }

 private:
  explicit Object(Type type, int64_t integer = 0, double real = 0, std::string text = {}, Ref ref = {});

  Type type_ = Type::Null;
  int64_t integer_ = 0;
  double real_ = 0;
  Ref ref_;
  std::string text_;
  std::vector<Object> items_;
  std::vector<Entry> entries_;
};

// Reads tokens and values from `data` starting at `pos`. With a budget, a
// value that grows large is checked against the memory limit as it grows,
// before its items are allocated.
class Parser {
 public:
  Parser(std::string_view data, size_t pos, WorkBudget* budget = nullptr) : data_(data), pos_(pos), budget_(budget) {}

  size_t pos() const { return pos_; }
  void skipSpace();
  // One value (a reference counts as one).
  Object value();
  // "N G obj" at the current position (after white space); returns N G.
  Ref objectHeader();
  // Whether the next token is `keyword`; consumes it when it is.
  bool keyword(std::string_view keyword);
  // A non-negative integer token.
  uint64_t unsignedInteger();

 private:
  enum class Token : uint8_t { Integer, Real, Name, String, ArrayOpen, ArrayClose, DictOpen, DictClose, Word, End };
  Token next(Object* scalar, std::string_view* word);
  Object number();
  Object name();
  Object literalString();
  Object hexString();
  std::string_view word();
  // After an integer: "G R" makes it a reference.
  bool referenceFollows(int64_t num, Object* out);

  std::string_view data_;
  size_t pos_;
  WorkBudget* budget_;
};

bool IsSpace(unsigned char c);
bool IsDelimiter(unsigned char c);

}  // namespace pdfparse::document::reader

#endif  // PDFPARSE_DOCUMENT_READER_SYNTAX_H_
