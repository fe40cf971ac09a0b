// The structure reader over whole files, grouped by what a file can throw
// at it: cross-reference forms, object streams, hostile sizes and loops,
// and the page-tree walk over them (whose rules and refusals are the page
// model's test, tests/document/PageModelTest.cc). Each file either reads
// exactly (the trailer's /Info dictionary gives its /V) or is refused, and
// never costs memory in proportion to what it claims.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "document/WorkBudget.h"
#include "document/reader/StrictPageWalk.h"
#include "document/reader/StructureReader.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::document::reader {
namespace pdfparse::test {
namespace {

constexpr int64_t kRefused = -1;
constexpr uint64_t kSmallMemory = 1u << 20;
const std::string kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string kNoPages = "<< /Type /Pages /Kids [] /Count 0 >>";

Limits Generous() {
  Limits limits;
  limits.timeoutMillis = 600000;
  limits.memoryBytes = 1ull << 30;
  return limits;
}

std::string Offset10(size_t offset) {
  char text[16];
  std::snprintf(text, sizeof text, "%010zu", offset);
  return text;
}

size_t StartXref(const std::string& file) { return std::stoul(file.substr(file.rfind("startxref") + 9)); }

std::string Replace(std::string file, const std::string& from, const std::string& to) {
  const size_t at = file.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  return at == std::string::npos ? file : file.replace(at, from.size(), to);
}

// A file written by hand, object by object, with its offsets.
struct Raw {
  struct Row {
    uint8_t type;
    uint32_t second;
    uint16_t third;
  };
  std::string out = "%PDF-1.7\n";
  std::map<uint32_t, size_t> at;

  Raw& obj(uint32_t num, const std::string& body) {
    at[num] = out.size();
    out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    return *this;
  }
  // A stream object; `length` empty: the data's length.
  Raw& stream(uint32_t num, const std::string& dict, const std::string& data, std::string length = "") {
    if (length.empty()) length = std::to_string(data.size());
    return obj(num, "<< " + dict + " /Length " + length + " >>\nstream\n" + data + "\nendstream");
  }
  Row plain(uint32_t num) { return {1, static_cast<uint32_t>(at.at(num)), 0}; }
  // An unfiltered cross-reference stream with /W [1 4 2]; returns its offset.
  size_t xrefStream(uint32_t num, const std::vector<Row>& rows, const std::string& dict) {
    std::string data;
    for (const Row& r : rows) {
      data += static_cast<char>(r.type);
      for (int shift = 24; shift >= 0; shift -= 8) data += static_cast<char>(r.second >> shift);
      data += {static_cast<char>(r.third >> 8), static_cast<char>(r.third)};
    }
    stream(num, "/Type /XRef /W [1 4 2] " + dict, data);
    return at[num];
  }
  // A table listing `nums` in use (0: the head of the free list); returns its offset.
  size_t table(const std::vector<uint32_t>& nums, const std::string& trailer) {
    const size_t start = out.size();
    out += "xref\n";
    for (size_t i = 0; i < nums.size();) {
      size_t j = i + 1;
      while (j < nums.size() && nums[j] == nums[j - 1] + 1) ++j;
      out += std::to_string(nums[i]) + " " + std::to_string(j - i) + "\n";
      for (; i < j; ++i) out += nums[i] == 0 ? "0000000000 65535 f \n" : Offset10(at.at(nums[i])) + " 00000 n \n";
    }
    out += "trailer\n<< " + trailer + " >>\n";
    return start;
  }
  std::string end(size_t xref) { return out + "startxref\n" + std::to_string(xref) + "\n%%EOF\n"; }
};

// Catalog 1, pages 2, Info 3 holding /V `v`.
std::string Plain(int v, const std::string& trailer = "/Root 1 0 R /Info 3 0 R") {
  return pdfbuilder::Assemble({{kCatalog, kNoPages, "<< /V " + std::to_string(v) + " >>"}, trailer});
}

// An incremental update of `base`: object `num` becomes `body` (empty:
// freed); /Prev is the base's table, or the update's own with `selfLoop`.
std::string Update(const std::string& base, uint32_t num, const std::string& body, bool selfLoop = false) {
  std::string out = base;
  const size_t object = out.size();
  if (!body.empty()) out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
  const size_t xref = out.size();
  out += "xref\n0 1\n0000000000 65535 f \n" + std::to_string(num) + " 1\n" +
         (body.empty() ? "0000000000 00001 f \n" : Offset10(object) + " 00000 n \n");
  out += "trailer\n<< /Size 4 /Root 1 0 R /Info 3 0 R /Prev " + std::to_string(selfLoop ? xref : StartXref(base)) +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// A plain file whose startxref says `offset`.
std::string Restart(const std::string& offset) {
  const std::string file = Plain(1);
  return Replace(file, "startxref\n" + std::to_string(StartXref(file)), "startxref\n" + offset);
}

// Two sections whose /Prev entries name each other.
std::string PrevLoop() {
  std::string base = Plain(1, "/Root 1 0 R /Info 3 0 R /Prev 0000000000");
  std::string both = Update(base, 3, "<< /V 2 >>");
  return Replace(both, "/Prev 0000000000", "/Prev " + Offset10(StartXref(both)));
}

// Catalog, pages and Info 3 in a table; the hybrid stream lists `listed`.
std::string Hybrid(const std::string& index, const std::vector<uint32_t>& listed) {
  Raw r;
  r.obj(1, kCatalog).obj(2, kNoPages).obj(3, "<< /V 5 >>");
  std::vector<Raw::Row> rows;
  for (uint32_t num : listed) rows.push_back(r.plain(num));
  const size_t stm = r.xrefStream(4, rows, "/Size 5 /Index " + index);
  return r.end(r.table({0, 1, 2}, "/Size 5 /Root 1 0 R /Info 3 0 R /XRefStm " + std::to_string(stm)));
}

// Plain objects 1, 2 and Info 7, listed by an xref stream (object 8) with
// two /Index ranges; /Size and further entries in `dict`.
std::string XrefStreamIndexed(const std::string& dict = "/Size 9") {
  Raw r;
  r.obj(1, kCatalog).obj(2, kNoPages).obj(7, "<< /V 7 >>");
  const size_t self = r.out.size();
  const std::vector<Raw::Row> rows = {
      {0, 0, 65535}, r.plain(1), r.plain(2), r.plain(7), {1, static_cast<uint32_t>(self), 0}};
  return r.end(r.xrefStream(8, rows, "/Index [0 3 7 2] /Root 1 0 R /Info 7 0 R " + dict));
}

// Objects 3 and 4 (the Info, /V 40) in unfiltered object stream 5 whose
// /Length is `length` (object 6 holds the right one); xref stream 7.
std::string InObjectStream(const std::string& index = "3 0 4 12 ", const std::string& count = "2",
                           const std::string& length = "") {
  const std::string body = "<< /V 30 >> << /V 40 >>";
  Raw r;
  r.obj(1, kCatalog).obj(2, kNoPages);
  r.stream(5, "/Type /ObjStm /N " + count + " /First " + std::to_string(index.size()), index + body, length);
  r.obj(6, std::to_string(index.size() + body.size()));
  const size_t self = r.out.size();
  const std::vector<Raw::Row> rows = {{0, 0, 65535}, r.plain(1), r.plain(2), {2, 5, 0},
                                      {2, 5, 1},     r.plain(5), r.plain(6), {1, static_cast<uint32_t>(self), 0}};
  return r.end(r.xrefStream(7, rows, "/Size 8 /Root 1 0 R /Info 4 0 R"));
}

pdfbuilder::DocLayout WithInfo(bool objectStreams, bool encrypted = false) {
  pdfbuilder::DocLayout doc = pdfbuilder::Pages(2);
  doc.infoRaw = "/V 42";
  doc.objectStreams = objectStreams;
  if (encrypted) doc.encryption = {{"u", "o"}};
  return doc;
}

struct FileCase {
  const char* what;
  std::string file;
  int64_t v;              // the Info's /V, or kRefused
  const char* why = "";   // when refused: part of the reason
  size_t streams = 0;     // object streams decoded to get there
  const char* must = "";  // text the file must hold for the row to mean anything
};

void RunFiles(const std::vector<FileCase>& cases) {
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string& file = c.file;
    ASSERT_NE(std::string::npos, file.find(c.must));
    WorkBudget budget(file.size(), Generous());
    try {
      StructureReader reader(file, budget);
      const Object* info = reader.trailer().get("Info");
      if (info == nullptr) throw Refusal("no /Info");
      const Object resolved = reader.resolve(*info);  // kept: get() points into it
      const Object* v = resolved.get("V");
      ASSERT_NE(nullptr, v);
      EXPECT_EQ(c.v, v->integer());
      EXPECT_EQ(c.streams, reader.objectStreamsDecoded());
    } catch (const Refusal& refusal) {
      EXPECT_EQ(kRefused, c.v) << refusal.what();
      EXPECT_NE(nullptr, std::strstr(refusal.what(), c.why)) << refusal.what();
    }
    EXPECT_LT(budget.memoryCharged(), kSmallMemory);
  }
}

TEST(StructureReader, CrossReferenceForms) {
  RunFiles({
      {"plain table", Plain(3), 3},
      {"xref stream with two /Index ranges", XrefStreamIndexed(), 7},
      {"xref stream and object streams by libqpdf", pdfbuilder::BuildPdf(WithInfo(true)), 42, "", 1, "/Predictor 12"},
      {"libqpdf without object streams", pdfbuilder::BuildPdf(WithInfo(false)), 42},
      {"update: the newer object wins", Update(Plain(1), 3, "<< /V 2 >>"), 2},
      {"update frees the object", Update(Plain(1), 3, ""), kRefused, "free"},
      {"update over an update", Update(Update(Plain(1), 3, "<< /V 2 >>"), 3, "<< /V 9 >>"), 9},
      {"/Prev names its own section", Update(Plain(1), 3, "<< /V 2 >>", true), kRefused, "loop"},
      {"/Prev loop of two sections", PrevLoop(), kRefused, "loop"},
      {"hybrid, apart", Hybrid("[3 1]", {3}), 5},
      {"hybrid, overlapping", Hybrid("[2 2]", {2, 3}), kRefused, "both parts"},
      {"no startxref", Replace(Plain(1), "startxref", "startxxxx"), kRefused, "no startxref"},
      {"startxref beyond the end", Restart("99999999"), kRefused, "beyond the end"},
      {"startxref inside an object", Restart("20"), kRefused, "expected a number"},
      {"/Prev beyond the end", Replace(Update(Plain(1), 3, "<< /V 2 >>"), "/Prev ", "/Prev 9"), kRefused,
       "beyond the end"},
  });
}

TEST(StructureReader, ObjectStreams) {
  RunFiles({
      {"object found in its stream", InObjectStream(), 40, "", 1},
      {"stream /Length in a plain object", InObjectStream("3 0 4 12 ", "2", "6 0 R"), 40, "", 1},
      {"stream /Length inside the stream", InObjectStream("3 0 4 12 ", "2", "3 0 R"), kRefused, "needs itself"},
      {"/N far beyond the index", InObjectStream("3 0 4 12 ", "2147483647"), kRefused, "/N larger"},
      {"/N one beyond the index", InObjectStream("3 0 4 12 ", "3"), kRefused, "expected a number"},
      {"index names another object", InObjectStream("3 0 9 12 "), kRefused, "index says"},
      // libqpdf takes the cross-reference stream for object 5 and finds no object stream.
      {"xref stream numbered as the object stream", Replace(InObjectStream(), "7 0 obj", "5 0 obj"), kRefused,
       "shares its number"},
      {"index offset beyond the data", InObjectStream("3 0 4 99 "), kRefused, "index out of range"},
  });
}

TEST(StructureReader, HostileSizesAndLoops) {
  RunFiles({
      {"trailer /Size 2147483647", Replace(Plain(4), "/Size 4", "/Size 2147483647"), 4},
      {"subsection of 2^31 entries", Replace(Plain(4), "xref\n0 4", "xref\n0 2147483648"), kRefused,
       "subsection beyond"},
      {"object number far beyond the file",
       Replace(Replace(Plain(4), "trailer", "1000000 1\n0000000009 00000 n \ntrailer"), "/Size 4", "/Size 1000001"),
       kRefused, "beyond the file's size"},
      {"xref stream /Index far beyond the file", Replace(XrefStreamIndexed(), "[0 3 7 2]", "[0 3 2000000000 2]"),
       kRefused, "beyond the file's size"},
      {"xref stream /Size 2147483647 without /Index",
       Replace(Replace(XrefStreamIndexed(), "/Index [0 3 7 2] ", ""), "/Size 9", "/Size 2147483647"), kRefused,
       "/Index beyond"},
      {"encrypted", pdfbuilder::BuildPdf(WithInfo(false, true)), kRefused, "encrypted"},
  });
}

// A value's items are checked against the memory limit while it is parsed,
// not once it is built: a dictionary of 200,000 keys in a 3 MB file.
TEST(StructureReader, AnObjectIsBoundedByTheMemoryLimitAsItGrows) {
  std::string keys;
  for (int i = 0; i < 200000; ++i) keys += "/K" + std::to_string(i) + " 1 ";
  const std::string file = pdfbuilder::Assemble({{kCatalog, kNoPages, "<< /V 7 " + keys + ">>"}, "/Root 1 0 R /Info 3 0 R"});
  for (uint64_t limit : {uint64_t{8} << 20, uint64_t{1} << 30}) {
    Limits limits = Generous();
    limits.memoryBytes = limit;
    WorkBudget budget(file.size(), limits);
    StructureReader reader(file, budget);
    try {
      EXPECT_EQ(reader.resolve(*reader.trailer().get("Info")).get("V")->integer(), 7);
      EXPECT_GT(limit, uint64_t{8} << 20);
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kMemoryLimit);
      EXPECT_NE(nullptr, std::strstr(e.what(), "an object of the file")) << e.what();
      EXPECT_EQ(limit, uint64_t{8} << 20);
    }
  }
}

// The pages of a walk, one line each.
std::vector<std::string> Walk(const std::string& file, size_t reach = SIZE_MAX) {
  WorkBudget budget(file.size(), Generous());
  StructureReader reader(file, budget);
  std::vector<std::string> pages;
  StrictPageWalk walk(reader, [&](size_t index, size_t sameAs, const MeasuredPage& p) {
    char line[160];
    if (sameAs != index) {
      std::snprintf(line, sizeof line, "%zu same as %zu", index, sameAs);
    } else {
      const PageGeometry& g = p.geometry;
      std::snprintf(line, sizeof line, "%zu obj %u media %g %g %g %g crop %g %g %g %g rot %d unit %g", index, p.object,
                    g.media.llx, g.media.lly, g.media.urx, g.media.ury, g.crop.llx, g.crop.lly, g.crop.urx, g.crop.ury,
                    g.rotation, g.userUnit);
    }
    pages.push_back(line);
  });
  if (reach == SIZE_MAX) {
    const size_t count = walk.count();
    EXPECT_EQ(count, pages.size());
  } else {
    EXPECT_TRUE(walk.reach(reach));
  }
  return pages;
}

TEST(StrictPageWalk, InheritsClipsAndNormalises) {
  const std::string file = pdfbuilder::Assemble({{
      kCatalog,
      "<< /Type /Pages /Kids [3 0 R 4 0 R 4 0 R] /Count 4 /MediaBox [0 0 600 800] /CropBox [10 10 700 700] /Rotate 90 "
      ">>",
      "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 /MediaBox [0 0 500 500] /Rotate -90 >>",
      "<< /Type /Page /Parent 2 0 R /UserUnit 2 /Rotate 450 /CropBox [50 60 70 80] >>",
      "<< /Type /Page /Parent 3 0 R >>",
      "<< /Type /Page /Parent 3 0 R /MediaBox [100 100 0 0] /Rotate 7 0 R /UserUnit 0 >>",
      "180",
  }});
  EXPECT_EQ((std::vector<std::string>{
                "0 obj 5 media 0 0 500 500 crop 10 10 500 500 rot 270 unit 1",
                "1 obj 6 media 0 0 100 100 crop 10 10 100 100 rot 180 unit 1",
                "2 obj 4 media 0 0 600 800 crop 50 60 70 80 rot 90 unit 2",
                "3 same as 2",
            }),
            Walk(file));

  // A balanced tree written by libqpdf into object streams, walked only as
  // far as asked.
  pdfbuilder::DocLayout doc = pdfbuilder::Pages(7);
  doc.fanout = 2;
  doc.rootAttrs = "/MediaBox [0 0 300 400] /Rotate 180";
  doc.pages[1] = "/Rotate 90";
  doc.objectStreams = true;
  const std::vector<std::string> first = Walk(pdfbuilder::BuildPdf(doc), 1);
  ASSERT_EQ(2u, first.size());
  EXPECT_NE(std::string::npos, first[0].find("media 0 0 300 400 crop 0 0 300 400 rot 180"));
  EXPECT_NE(std::string::npos, first[1].find("rot 90"));
  EXPECT_EQ(7u, Walk(pdfbuilder::BuildPdf(doc)).size());
}

}  // namespace
}  // namespace pdfparse::test

}  // namespace pdfparse::document::reader
