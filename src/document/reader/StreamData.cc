#include "document/reader/StreamData.h"

#include <zlib.h>

#include <cstring>

#include "document/WorkBudget.h"

namespace pdfparse::document::reader {
namespace {

constexpr size_t kInflateChunk = 64 * 1024;

// A dictionary entry that must be a plain integer when present.
int64_t IntegerOr(const Object* params, std::string_view key, int64_t absent) {
  const Object* value = params ? params->get(key) : nullptr;
  if (value == nullptr || value->isNull()) return absent;
  if (value->type() != Object::Type::Integer)
    throw Refusal("stream parameter /" + std::string(key) + " is not an integer");
  return value->integer();
}

// The one filter and its parameters, or none.
const Object* OnlyItem(const Object* value, const char* what) {
  if (value == nullptr || !value->isArray()) return value;
  if (value->items().empty()) return nullptr;
  if (value->items().size() != 1) throw Refusal(std::string("stream with more than one ") + what);
  return &value->items()[0];
}

std::string Inflate(std::string_view raw, WorkBudget& budget, const char* what) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) throw Refusal("zlib cannot start");
  std::string out;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = static_cast<uInt>(raw.size());
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    const size_t before = out.size();
    try {
      budget.checkDeadline();  // inflating a large stream is long work of its own
      budget.chargeMemory(kInflateChunk, what);
      out.resize(before + kInflateChunk);
    } catch (...) {
      inflateEnd(&z);
      throw;
    }
    z.next_out = reinterpret_cast<Bytef*>(&out[before]);
    z.avail_out = static_cast<uInt>(kInflateChunk);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(before + (kInflateChunk - z.avail_out));
    if (status == Z_STREAM_END) break;
    if (status != Z_OK) {
      inflateEnd(&z);
      throw Refusal(std::string("damaged compressed data in ") + what);
    }
    if (z.avail_in == 0 && z.avail_out != 0) {
      inflateEnd(&z);
      throw Refusal(std::string("compressed data of ") + what + " ends early");
    }
  }
  inflateEnd(&z);
  return out;
}

unsigned char Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<unsigned char>(a);
  return static_cast<unsigned char>(pb <= pc ? b : c);
}

std::string UndoPng(const std::string& in, size_t columns) {
  const size_t row = columns + 1;
  if (columns == 0 || in.size() % row != 0) throw Refusal("predicted data is not whole rows");
  std::string out(in.size() / row * columns, '\0');
  std::string prev(columns, '\0');
  for (size_t r = 0; r < in.size() / row; ++r) {
    const unsigned char type = static_cast<unsigned char>(in[r * row]);
    const unsigned char* src = reinterpret_cast<const unsigned char*>(in.data()) + r * row + 1;
    unsigned char* dst = reinterpret_cast<unsigned char*>(&out[r * columns]);
    const unsigned char* up = reinterpret_cast<const unsigned char*>(prev.data());
    for (size_t i = 0; i < columns; ++i) {
      const int left = i > 0 ? dst[i - 1] : 0;
      const int above = up[i];
      const int corner = i > 0 ? up[i - 1] : 0;
      switch (type) {
        case 0:
          dst[i] = src[i];
          break;
        case 1:
          dst[i] = static_cast<unsigned char>(src[i] + left);
          break;
        case 2:
          dst[i] = static_cast<unsigned char>(src[i] + above);
          break;
        case 3:
          dst[i] = static_cast<unsigned char>(src[i] + (left + above) / 2);
          break;
        case 4:
          dst[i] = static_cast<unsigned char>(src[i] + Paeth(left, above, corner));
          break;
        default:
          throw Refusal("unknown PNG predictor row type");
      }
    }
    prev.assign(reinterpret_cast<const char*>(dst), columns);
  }
  return out;
}

}  // namespace

std::string_view StreamBytes(Parser& parser, std::string_view data, uint64_t length) {
  if (!parser.keyword("stream")) throw Refusal("no \"stream\" after a stream dictionary");
  size_t start = parser.pos();
  if (start < data.size() && data[start] == '\r') ++start;
  if (start >= data.size() || data[start] != '\n') throw Refusal("\"stream\" not followed by an end of line");
  ++start;
  if (length > data.size() - start) throw Refusal("stream /Length beyond the end of the file");
  Parser after(data, start + length);
  if (!after.keyword("endstream")) throw Refusal("stream /Length does not end at \"endstream\"");
  if (!after.keyword("endobj")) throw Refusal("no \"endobj\" after a stream");
  return data.substr(start, length);
}

std::string DecodeStream(const Object& dict, std::string_view raw, WorkBudget& budget, const char* what) {
  const Object* filter = OnlyItem(dict.get("Filter"), "filter");
  if (filter == nullptr || filter->isNull()) {
    if (dict.get("DecodeParms") && !dict.get("DecodeParms")->isNull()) throw Refusal("parameters without a filter");
    budget.chargeMemory(raw.size(), what);
    return std::string(raw);
  }
  if (!filter->isName("FlateDecode")) throw Refusal(std::string("unsupported filter on ") + what);
  const Object* params = OnlyItem(dict.get("DecodeParms"), "set of parameters");
  if (params != nullptr && !params->isNull() && !params->isDictionary()) throw Refusal("malformed /DecodeParms");
  const int64_t predictor = IntegerOr(params, "Predictor", 1);
  std::string inflated = Inflate(raw, budget, what);
  if (predictor == 1) return inflated;
  if (predictor < 10 || predictor > 15) throw Refusal("unsupported predictor");
  if (IntegerOr(params, "Colors", 1) != 1 || IntegerOr(params, "BitsPerComponent", 8) != 8) {
    throw Refusal("unsupported predictor parameters");
  }
  const int64_t columns = IntegerOr(params, "Columns", 1);
  if (columns < 1 || columns > 1 << 16) throw Refusal("predictor /Columns out of range");
  return UndoPng(inflated, static_cast<size_t>(columns));
}

}  // namespace pdfparse::document::reader
