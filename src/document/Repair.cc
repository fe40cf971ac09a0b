#include "document/Repair.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cstring>

namespace pdfparse::document {
namespace {

constexpr size_t kCheckEvery = 4096;         // matches between checkpoint calls
constexpr size_t kQuickLook = 4096;          // bytes of a dictionary looked at while scanning
constexpr size_t kParseWindow = 64 * 1024;   // bytes a candidate dictionary may span
constexpr size_t kMaxParsedCandidates = 64;  // per kind, from the end of the file
constexpr size_t kMaxObjectStreams = 100000;
constexpr size_t kMaxStreamHeader = 1 << 20;

bool IsWhite(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool IsDelimiter(unsigned char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

const unsigned char* Find(const unsigned char* from, const unsigned char* end, const char* needle) {
  size_t n = std::strlen(needle);
  if (from >= end || static_cast<size_t>(end - from) < n) return nullptr;
  return static_cast<const unsigned char*>(memmem(from, static_cast<size_t>(end - from), needle, n));
}

// Reads the decimal number that ends just before `end` (at most `maxDigits`
// digits). Returns its first byte, or null when there is none.
const unsigned char* NumberBefore(const unsigned char* begin, const unsigned char* end, int maxDigits,
                                  long long* value) {
  const unsigned char* p = end;
  int digits = 0;
  while (p > begin && IsDigit(p[-1]) && digits <= maxDigits) --p, ++digits;
  if (digits == 0 || digits > maxDigits) return nullptr;
  long long v = 0;
  for (const unsigned char* q = p; q < end; ++q) v = v * 10 + (*q - '0');
  *value = v;
  return p;
}

// "/Key" followed by optional white space and "/Value" inside [from, end).
bool HasNameValue(const unsigned char* from, const unsigned char* end, const char* key, const char* value) {
  size_t keyLen = std::strlen(key);
  size_t valueLen = std::strlen(value);
  for (const unsigned char* p = Find(from, end, key); p != nullptr; p = Find(p + 1, end, key)) {
    const unsigned char* q = p + keyLen;
    while (q < end && IsWhite(*q)) ++q;
    if (static_cast<size_t>(end - q) >= valueLen && std::memcmp(q, value, valueLen) == 0) {
      const unsigned char* after = q + valueLen;
      if (after == end || IsWhite(*after) || IsDelimiter(*after)) return true;
    }
  }
  return false;
}

bool HasKey(const unsigned char* from, const unsigned char* end, const char* key) {
  size_t keyLen = std::strlen(key);
  for (const unsigned char* p = Find(from, end, key); p != nullptr; p = Find(p + 1, end, key)) {
    const unsigned char* after = p + keyLen;
    if (after == end || IsWhite(*after) || IsDelimiter(*after)) return true;
  }
  return false;
}

// Looks at the dictionary that starts at or after `body` and files it as a
// candidate of the kinds it may be.
void Classify(const unsigned char* data, const unsigned char* end, const unsigned char* body,
              std::optional<ObjectRef> holder, bool isTrailer, ObjectScan& scan) {
  const unsigned char* p = body;
  while (p < end && IsWhite(*p)) ++p;
  if (end - p < 2 || p[0] != '<' || p[1] != '<') return;
  const unsigned char* lookEnd = p + std::min<size_t>(kQuickLook, static_cast<size_t>(end - p));
  // A stream's data is no part of its dictionary.
  if (const unsigned char* s = Find(p, lookEnd, "stream")) lookEnd = s;
  if (const unsigned char* s = Find(p, lookEnd, "endobj")) lookEnd = s;
  ObjectScan::Candidate candidate{static_cast<size_t>(p - data), holder};
  if (isTrailer) {
    scan.trailers.push_back(candidate);
    return;
  }
  if (HasNameValue(p, lookEnd, "/Type", "/Catalog")) scan.catalogs.push_back(candidate);
  if (HasNameValue(p, lookEnd, "/Type", "/XRef")) scan.trailers.push_back(candidate);
  if (HasNameValue(p, lookEnd, "/Type", "/ObjStm") && holder) scan.objectStreams.push_back(*holder);
  if (HasNameValue(p, lookEnd, "/Filter", "/Standard") || HasKey(p, lookEnd, "/StmF") ||
      HasKey(p, lookEnd, "/Recipients")) {
    scan.mayBeEncrypted = true;
  }
  if ((HasKey(p, lookEnd, "/Producer") || HasKey(p, lookEnd, "/Creator")) && !HasKey(p, lookEnd, "/Type")) {
    scan.infoLike.push_back(candidate);
  }
}

// The top-level entries of the dictionary at `offset`: key ("/Root") ->
// the value's text ("12 0 R", "[<01><02>]"). Empty when there is no
// dictionary, or it does not end (the file was cut inside it: any entry
// may be lost). libqpdf's parser cannot be used here: without the document's
// objects it drops every reference.
std::map<std::string, std::string> ReadDictEntries(const unsigned char* data, size_t size, size_t offset) {
  std::map<std::string, std::string> entries;
  if (offset >= size) return entries;
  std::string window(reinterpret_cast<const char*>(data) + offset, std::min(kParseWindow, size - offset));
  try {
    auto input = std::make_shared<BufferInputSource>("repair scan", window);
    QPDFTokenizer tokenizer;
    auto next = [&]() { return tokenizer.readToken(input, "repair scan", true, kQuickLook); };
    using T = QPDFTokenizer;
    if (next().getType() != T::tt_dict_open) return entries;
    bool closed = false;
    for (int items = 0; items < 4096; ++items) {
      QPDFTokenizer::Token key = next();
      if (key.getType() == T::tt_dict_close) closed = true;
      if (key.getType() == T::tt_dict_close || key.getType() == T::tt_eof || key.getType() == T::tt_bad) break;
      if (key.getType() != T::tt_name) continue;  // junk between entries
      qpdf_offset_t start = input->tell();
      QPDFTokenizer::Token value = next();
      if (value.getType() == T::tt_dict_open || value.getType() == T::tt_array_open) {
        int depth = 1;
        for (int guard = 0; depth > 0 && guard < 100000; ++guard) {
          QPDFTokenizer::Token t = next();
          if (t.getType() == T::tt_eof || t.getType() == T::tt_bad) break;
          if (t.getType() == T::tt_dict_open || t.getType() == T::tt_array_open) ++depth;
          if (t.getType() == T::tt_dict_close || t.getType() == T::tt_array_close) --depth;
        }
        if (depth > 0) break;
      } else if (value.getType() == T::tt_integer) {
        qpdf_offset_t afterNumber = input->tell();
        QPDFTokenizer::Token gen = next();
        QPDFTokenizer::Token r = next();
        if (!(gen.getType() == T::tt_integer && r.getType() == T::tt_word && r.getValue() == "R")) {
          input->seek(afterNumber, SEEK_SET);
        }
      } else if (value.getType() == T::tt_dict_close || value.getType() == T::tt_eof || value.getType() == T::tt_bad) {
        closed = value.getType() == T::tt_dict_close;
        break;
      }
      qpdf_offset_t end = input->tell();
      std::string text = window.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
      size_t first = text.find_first_not_of(" \t\r\n\f");
      entries[key.getValue()] = first == std::string::npos ? std::string() : text.substr(first);
    }
    if (!closed) entries.clear();
  } catch (const std::exception&) {
    entries.clear();
  }
  return entries;
}

std::string Entry(const std::map<std::string, std::string>& entries, const char* key) {
  auto it = entries.find(key);
  return it == entries.end() ? std::string() : it->second;
}

// "N G R" -> the reference.
std::optional<ObjectRef> AsRef(const std::string& text) {
  long long parts[2] = {0, 0};
  size_t pos = 0;
  for (long long& part : parts) {
    size_t start = pos;
    while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos])) && pos - start < 10) {
      part = part * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos == start || pos >= text.size() || !IsWhite(static_cast<unsigned char>(text[pos]))) return std::nullopt;
    while (pos < text.size() && IsWhite(static_cast<unsigned char>(text[pos]))) ++pos;
  }
  if (text.substr(pos) != "R") return std::nullopt;
  if (parts[0] < 1 || parts[0] > kMaxRepairObjectNumber || parts[1] > 65535) return std::nullopt;
  return ObjectRef{static_cast<int>(parts[0]), static_cast<int>(parts[1])};
}

std::string RefText(const ObjectRef& ref) { return std::to_string(ref.num) + " " + std::to_string(ref.gen) + " R"; }

// A direct value without references, as libqpdf writes it; empty when it
// does not parse.
std::string DirectValue(const std::string& text) {
  try {
    return QPDFObjectHandle::parse(text, "repair scan").unparse();
  } catch (const std::exception&) {
    return std::string();
  }
}

bool Defined(const ObjectScan& scan, const std::map<int, std::pair<int, int>>& compressed, ObjectRef ref) {
  auto it = scan.objects.find(ref.num);
  if (it != scan.objects.end() && it->second.gen == ref.gen) return true;
  return ref.gen == 0 && compressed.count(ref.num) > 0;
}

// Collects at most `limit` bytes of decoded stream data, then stops.
class HeadCollector : public Pipeline {
 public:
  struct Full {};
  explicit HeadCollector(size_t limit) : Pipeline("object stream header", nullptr), limit_(limit) {}
  void write(unsigned char const* data, size_t len) override {
    size_t take = std::min(len, limit_ - head_.size());
    head_.append(reinterpret_cast<const char*>(data), take);
    if (head_.size() >= limit_) throw Full();
  }
  void finish() override {}
  const std::string& head() const { return head_; }

 private:
  size_t limit_;
  std::string head_;
};

}  // namespace

ObjectScan ScanObjects(const unsigned char* data, size_t size, const std::function<void()>& checkpoint) {
  ObjectScan scan;
  const unsigned char* end = data + size;
  scan.hasHeader = Find(data, data + std::min<size_t>(size, 1024 + 5), "%PDF-") != nullptr;
  scan.mayBeEncrypted = Find(data, end, "/Encrypt") != nullptr;
  size_t matches = 0;
  for (const unsigned char* m = Find(data, end, "obj"); m != nullptr; m = Find(m + 3, end, "obj")) {
    if (checkpoint && ++matches % kCheckEvery == 0) checkpoint();
    const unsigned char* after = m + 3;
    if (after < end && !IsWhite(*after) && !IsDelimiter(*after)) continue;
    const unsigned char* p = m;
    if (p == data || !IsWhite(p[-1])) continue;
    while (p > data && IsWhite(p[-1])) --p;
    long long gen = 0;
    const unsigned char* genStart = NumberBefore(data, p, 5, &gen);
    if (genStart == nullptr || genStart == data || !IsWhite(genStart[-1])) continue;
    p = genStart;
    while (p > data && IsWhite(p[-1])) --p;
    long long num = 0;
    const unsigned char* numStart = NumberBefore(data, p, 10, &num);
    if (numStart == nullptr) continue;
    if (numStart > data && !IsWhite(numStart[-1]) && !IsDelimiter(numStart[-1])) continue;
    if (num < 1 || num > kMaxRepairObjectNumber || gen > 65535) continue;
    ObjectRef ref{static_cast<int>(num), static_cast<int>(gen)};
    scan.objects[ref.num] = ObjectScan::Location{ref.gen, static_cast<size_t>(numStart - data)};
    Classify(data, end, after, ref, false, scan);
  }
  for (const unsigned char* t = Find(data, end, "trailer"); t != nullptr; t = Find(t + 7, end, "trailer")) {
    if (checkpoint && ++matches % kCheckEvery == 0) checkpoint();
    Classify(data, end, t + 7, std::nullopt, true, scan);
  }
  std::stable_sort(scan.trailers.begin(), scan.trailers.end(),
                   [](const auto& a, const auto& b) { return a.dictOffset < b.dictOffset; });
  return scan;
}

RebuiltTrailer ChooseTrailer(const unsigned char* data, size_t size, const ObjectScan& scan,
                             const std::map<int, std::pair<int, int>>& compressed) {
  RebuiltTrailer result;
  // Trailers from the end: the newest revision first.
  size_t parsed = 0;
  for (auto it = scan.trailers.rbegin(); it != scan.trailers.rend() && parsed < kMaxParsedCandidates; ++it, ++parsed) {
    std::map<std::string, std::string> dict = ReadDictEntries(data, size, it->dictOffset);
    if (dict.empty()) continue;
    result.fromTrailer = true;
    if (result.root.empty()) {
      std::optional<ObjectRef> root = AsRef(Entry(dict, "/Root"));
      if (root && Defined(scan, compressed, *root)) result.root = RefText(*root);
    }
    if (result.info.empty()) {
      if (std::optional<ObjectRef> info = AsRef(Entry(dict, "/Info"))) result.info = RefText(*info);
    }
    if (result.encrypt.empty()) {
      std::string encrypt = Entry(dict, "/Encrypt");
      if (std::optional<ObjectRef> ref = AsRef(encrypt)) {
        result.encrypt = RefText(*ref);
      } else if (encrypt.rfind("<<", 0) == 0) {
        result.encrypt = DirectValue(encrypt);
      }
    }
    if (result.id.empty()) {
      std::string id = Entry(dict, "/ID");
      if (id.rfind("[", 0) == 0) result.id = DirectValue(id);
    }
  }
  // A catalog found in the bytes when no trailer names one that exists.
  if (result.root.empty()) {
    parsed = 0;
    for (auto it = scan.catalogs.rbegin(); it != scan.catalogs.rend() && parsed < kMaxParsedCandidates;
         ++it, ++parsed) {
      if (!it->holder) continue;
      std::map<std::string, std::string> dict = ReadDictEntries(data, size, it->dictOffset);
      if (Entry(dict, "/Type") == "/Catalog" && dict.count("/Pages")) {
        result.root = RefText(*it->holder);
        break;
      }
    }
  }
  if (result.info.empty() && !scan.infoLike.empty() && scan.infoLike.back().holder) {
    result.info = RefText(*scan.infoLike.back().holder);
  }
  return result;
}

std::map<int, std::pair<int, int>> FindCompressedObjects(QPDF& pdf, const ObjectScan& scan,
                                                         const std::function<void()>& checkpoint) {
  std::map<int, std::pair<int, int>> compressed;
  std::map<int, size_t> definedAt;  // object -> offset of the definition that won so far
  size_t streams = 0;
  for (const ObjectRef& ref : scan.objectStreams) {
    if (++streams > kMaxObjectStreams) break;
    if (checkpoint) checkpoint();
    auto loc = scan.objects.find(ref.num);
    if (loc == scan.objects.end() || loc->second.gen != ref.gen) continue;  // redefined later
    size_t streamOffset = loc->second.offset;
    QPDFObjectHandle stream = pdf.getObjectByID(ref.num, ref.gen);
    if (!stream.isStream()) continue;
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle nObj = dict.getKey("/N");
    QPDFObjectHandle firstObj = dict.getKey("/First");
    if (!nObj.isInteger() || !firstObj.isInteger()) continue;
    long long n = nObj.getIntValue();
    long long first = firstObj.getIntValue();
    if (n <= 0 || first <= 0 || static_cast<size_t>(first) > kMaxStreamHeader) continue;
    HeadCollector head(static_cast<size_t>(first));
    try {
      stream.pipeStreamData(&head, 0, qpdf_dl_generalized, true);
    } catch (const HeadCollector::Full&) {
    } catch (const std::exception&) {
    }
    pdf.getWarnings();
    const std::string& text = head.head();
    size_t pos = 0;
    auto nextInt = [&](long long* out) {
      while (pos < text.size() && IsWhite(static_cast<unsigned char>(text[pos]))) ++pos;
      size_t start = pos;
      long long v = 0;
      while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos])) && pos - start < 12) {
        v = v * 10 + (text[pos] - '0');
        ++pos;
      }
      if (pos == start) return false;
      *out = v;
      return true;
    };
    for (long long i = 0; i < n; ++i) {
      long long num = 0;
      long long offset = 0;
      if (!nextInt(&num) || !nextInt(&offset)) break;
      if (num < 1 || num > kMaxRepairObjectNumber || num == ref.num) continue;
      int objNum = static_cast<int>(num);
      auto plain = scan.objects.find(objNum);
      if (plain != scan.objects.end() && plain->second.offset > streamOffset) continue;  // newer copy
      auto earlier = definedAt.find(objNum);
      if (earlier != definedAt.end() && earlier->second > streamOffset) continue;
      definedAt[objNum] = streamOffset;
      compressed[objNum] = {ref.num, static_cast<int>(i)};
    }
  }
  return compressed;
}

QPDFObjectHandle FindCatalog(QPDF& pdf, const ObjectScan& scan, const std::map<int, std::pair<int, int>>& compressed,
                             const std::function<void()>& checkpoint) {
  auto isCatalog = [](QPDFObjectHandle h) {
    return h.isDictionary() && h.getKey("/Type").isNameAndEquals("/Catalog") && h.getKey("/Pages").isDictionary();
  };
  size_t tried = 0;
  for (auto it = compressed.rbegin(); it != compressed.rend(); ++it) {
    if (checkpoint && ++tried % kCheckEvery == 0) checkpoint();
    QPDFObjectHandle h = pdf.getObjectByID(it->first, 0);
    if (isCatalog(h)) return h;
  }
  for (auto it = scan.catalogs.rbegin(); it != scan.catalogs.rend(); ++it) {
    if (!it->holder) continue;
    QPDFObjectHandle h = pdf.getObjectByID(it->holder->num, it->holder->gen);
    if (isCatalog(h)) return h;
  }
  return QPDFObjectHandle::newNull();
}

QPDFObjectHandle FindInfo(QPDF& pdf, const std::map<int, std::pair<int, int>>& compressed,
                          const std::function<void()>& checkpoint) {
  size_t tried = 0;
  for (auto it = compressed.rbegin(); it != compressed.rend(); ++it) {
    if (checkpoint && ++tried % kCheckEvery == 0) checkpoint();
    QPDFObjectHandle h = pdf.getObjectByID(it->first, 0);
    if (h.isDictionary() && !h.hasKey("/Type") &&
        (h.getKey("/Producer").isString() || h.getKey("/Creator").isString())) {
      return h;
    }
  }
  return QPDFObjectHandle::newNull();
}

std::string XrefStreamAfter(size_t fileSize, const ObjectScan& scan,
                            const std::map<int, std::pair<int, int>>& compressed, const RebuiltTrailer& trailer,
                            int* number) {
  std::string bytes;
  // One entry per object: type, field 2, field 3 (/W [1 4 4]).
  struct Entry {
    unsigned char type;
    uint32_t f2;
    uint32_t f3;
  };
  std::map<int, Entry> entries;
  entries[0] = Entry{0, 0, 65535};
  for (const auto& [num, pair] : compressed) {
    entries[num] = Entry{2, static_cast<uint32_t>(pair.first), static_cast<uint32_t>(pair.second)};
  }
  for (const auto& [num, loc] : scan.objects) {
    if (compressed.count(num)) continue;
    entries[num] = Entry{1, static_cast<uint32_t>(loc.offset), static_cast<uint32_t>(loc.gen)};
  }
  int xrefNum = entries.empty() ? 1 : entries.rbegin()->first + 1;
  bytes += "\n";
  size_t xrefOffset = fileSize + bytes.size();
  entries[xrefNum] = Entry{1, static_cast<uint32_t>(xrefOffset), 0};

  std::string data;
  std::string index;
  int runStart = -1;
  int runLength = 0;
  auto closeRun = [&]() {
    if (runLength > 0) index += std::to_string(runStart) + " " + std::to_string(runLength) + " ";
  };
  for (const auto& [num, entry] : entries) {
    if (runLength > 0 && num == runStart + runLength) {
      ++runLength;
    } else {
      closeRun();
      runStart = num;
      runLength = 1;
    }
    data.push_back(static_cast<char>(entry.type));
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<char>((entry.f2 >> shift) & 0xFF));
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<char>((entry.f3 >> shift) & 0xFF));
  }
  closeRun();

  std::string dict = "<< /Type /XRef /Size " + std::to_string(xrefNum + 1) + " /W [1 4 4] /Index [" + index +
                     "] /Length " + std::to_string(data.size());
  if (!trailer.root.empty()) dict += " /Root " + trailer.root;
  if (!trailer.info.empty()) dict += " /Info " + trailer.info;
  if (!trailer.encrypt.empty()) dict += " /Encrypt " + trailer.encrypt;
  if (!trailer.id.empty()) dict += " /ID " + trailer.id;
  dict += " >>";
  bytes += std::to_string(xrefNum) + " 0 obj\n" + dict + "\nstream\n";
  bytes += data;
  bytes += "\nendstream\nendobj\nstartxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
  if (number != nullptr) *number = xrefNum;
  return bytes;
}

bool ReadsAsPlainText(QPDFObjectHandle info) {
  if (!info.isDictionary()) return false;
  for (auto& [key, value] : info.ditems()) {
    if (!value.isString()) continue;
    const std::string text = value.getStringValue();
    if (text.rfind("\xFE\xFF", 0) == 0 || text.rfind("\xFF\xFE", 0) == 0) {
      if (text.size() % 2 != 0) return false;
      continue;
    }
    for (unsigned char c : text) {
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
    }
  }
  return true;
}

}  // namespace pdfparse::document
