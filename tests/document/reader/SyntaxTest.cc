// The reader's object syntax, one input per row: what the strict parser
// reads and what it refuses rather than guess at.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "document/reader/Syntax.h"

namespace pdfparse::document::reader {
namespace pdfparse::test {
namespace {

std::string Render(const Object& o) {
  std::ostringstream out;
  switch (o.type()) {
    case Object::Type::Null:
      return "null";
    case Object::Type::Boolean:
      return o.boolean() ? "true" : "false";
    case Object::Type::Integer:
      return std::to_string(o.integer());
    case Object::Type::Real:
      out << "real(" << o.number() << ")";
      return out.str();
    case Object::Type::Name:
      return "/" + o.text();
    case Object::Type::String:
      return "(" + o.text() + ")";
    case Object::Type::Reference:
      return std::to_string(o.ref().num) + " " + std::to_string(o.ref().gen) + " R";
    case Object::Type::Array:
      out << "[";
      for (size_t i = 0; i < o.items().size(); ++i) out << (i ? " " : "") << Render(o.items()[i]);
      out << "]";
      return out.str();
    case Object::Type::Dictionary:
      out << "<<";
      for (const auto& [key, value] : o.entries()) out << "/" << key << " " << Render(value) << ";";
      out << ">>";
      return out.str();
  }
  return "?";
}

struct SyntaxCase {
  std::string input;
  std::string expected;  // rendered value; empty: refused
};

std::string Nested(size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// A dictionary of `count` keys /k0 ... and then `tail`; rendered when `rendered`.
std::string ManyKeys(int count, const std::string& tail, bool rendered) {
  std::string out = rendered ? "<<" : "<< ";
  for (int i = 0; i < count; ++i) out += "/k" + std::to_string(i) + (rendered ? " 0;" : " 0 ");
  return out + tail + ">>";
}

TEST(ReaderSyntax, ValuesAndRefusals) {
  const std::string refused;
  std::string lastWins = ManyKeys(100000, "", true);
  lastWins.replace(lastWins.find("/k77777 0;"), 10, "/k77777 1;");
  const std::vector<SyntaxCase> cases = {
      // names
      {"/A#20B", "/A B"},
      {"/#41#62", "/Ab"},
      {"/A#2", refused},
      {"/A#G0", refused},
      {"/A#00", refused},
      {"[/A/B/]", "[/A /B /]"},
      // literal strings
      {"(a(b)c)", "(a(b)c)"},
      {"(x\\ny\\(z\\\\)", "(x\ny(z\\)"},
      {"(\\101\\0611\\7)", std::string("(A11\x07)")},
      {"(\\q)", "(q)"},
      {"(ab\\\ncd\\\r\nef)", "(abcdef)"},
      {"(a\rb\r\nc\nd)", "(a\nb\nc\nd)"},
      {"(a(b)", refused},
      {"(abc\\", refused},
      // hex strings
      {"<48 65 6C\n6c\t6F>", "(Hello)"},
      {"<414>", "(A@)"},
      {"<4G>", refused},
      {"<41", refused},
      // numbers
      {".5", "real(0.5)"},
      {"-.5", "real(-0.5)"},
      {"5.", "real(5)"},
      {"+3.25", "real(3.25)"},
      {"-17", "-17"},
      {"123456789012345678", "123456789012345678"},
      {"1234567890123456789", refused},
      {"1.2.3", refused},
      {"-", refused},
      {"1e5", refused},
      // references
      {"1 0 R", "1 0 R"},
      {"[1 0 R 2]", "[1 0 R 2]"},
      {"[1 0 2]", "[1 0 2]"},
      {"[1 0 /R]", "[1 0 /R]"},
      {"[12 3 R]", "[12 3 R]"},
      {"[1 0 Rx]", refused},
      {"[0 0 R]", refused},
      {"[1 0 obj]", refused},
      // dictionaries and arrays
      {"<</A[1 2]/B<</C(x)>>>>", "<</A [1 2];/B <</C (x);>>;>>"},
      {"[1 % a comment\n 2 true null]", "[1 2 true null]"},
      {"<< /A 1 /A 2 >>", "<</A 2;>>"},  // a key given twice: the last value, as libqpdf reads it
      {"<< /A 1 /B >>", refused},
      {"<< 1 2 >>", refused},
      {"[1 2>>", refused},
      {"<< /A 1 ]", refused},
      {Nested(kMaxNesting), Nested(kMaxNesting)},
      {Nested(kMaxNesting + 1), refused},
      // Many keys cost time in proportion, not in its square.
      {ManyKeys(100000, "", false), ManyKeys(100000, "", true)},
      {ManyKeys(100000, "/k77777 1 ", false), lastWins},
      // stray tokens
      {")", refused},
      {">", refused},
      {"foo", refused},
      {"", refused},
  };
  for (const SyntaxCase& c : cases) {
    SCOPED_TRACE("input: " + c.input.substr(0, 40));
    try {
      Parser parser(c.input, 0);
      const Object value = parser.value();
      EXPECT_EQ(c.expected, Render(value));
    } catch (const Refusal& refusal) {
      EXPECT_EQ(c.expected, refused) << refusal.what();
    }
  }
}

TEST(ReaderSyntax, ObjectHeaders) {
  const struct {
    const char* input;
    bool read;
  } cases[] = {
      {" 12 3 obj <<>>", true}, {"12 3 obj<<>>", true},  {"0 0 obj", false},          {"12 obj", false},
      {"12 3 objx", false},     {"12 70000 obj", false}, {"3000000000 0 obj", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Parser parser(c.input, 0);
    if (c.read) {
      EXPECT_EQ((Ref{12, 3}), parser.objectHeader());
    } else {
      EXPECT_THROW(parser.objectHeader(), Refusal);
    }
  }
}

}  // namespace
}  // namespace pdfparse::test

}  // namespace pdfparse::document::reader
