// The page model, once, for both read paths. Each row is a page-tree of
// three levels (root 2, node 3, page 4; objects from 5 on are the row's) read
// over both object handles (libqpdf's, the structure reader's), each under
// both policies, and by both production walks (the structure reader's strict
// walk, libqpdf's repairing walk with the page table): the RepairPolicy's
// answer and warning and the StrictPolicy's refusal are the row's, whichever
// handle or walk reads it. Then the walk's own decisions, a tree per row,
// through both walks.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "document/PageModel.h"
#include "document/PageTable.h"
#include "document/RepairingPageWalk.h"
#include "document/WorkBudget.h"
#include "document/reader/ObjectHandle.h"
#include "document/reader/StrictPageWalk.h"
#include "document/reader/StructureReader.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::document {

void PrintTo(const PageGeometry& g, std::ostream* out) {
  *out << "media [" << g.media.llx << " " << g.media.lly << " " << g.media.urx << " " << g.media.ury << "] crop ["
       << g.crop.llx << " " << g.crop.lly << " " << g.crop.urx << " " << g.crop.ury << "] rotation " << g.rotation
       << " unit " << g.userUnit;
}

namespace {

using reader::Refusal;
using reader::ValueHandle;

const std::string kCatalog = "<< /Type /Catalog /Pages 2 0 R >>";

// What a path makes of a page: its geometry and warnings, or a refusal.
struct Answer {
  PageGeometry geometry;
  std::vector<std::string> warnings;
  std::string refused;
};

// One page as libqpdf and the structure reader read it.
class Both {
 public:
  explicit Both(std::string bytes) : bytes_(std::move(bytes)), budget_(bytes_.size(), 60000) {
    qpdf_.setSuppressWarnings(true);
    qpdf_.processMemoryFile("row", bytes_.data(), bytes_.size());
  }
  QPDFObjectHandle qpdf(int num) { return qpdf_.getObjectByID(num, 0); }
  ValueHandle reader(uint32_t num) { return ValueHandle(&structure(), reader::Ref{num, 0}); }
  reader::StructureReader& structure() {
    if (!reader_) reader_ = std::make_unique<reader::StructureReader>(bytes_, budget_);
    return *reader_;
  }
  QPDF& pdf() { return qpdf_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  WorkBudget budget_;
  QPDF qpdf_;
  std::unique_ptr<reader::StructureReader> reader_;
};

// The model's rules over handle H under the strict or the repair policy.
template <class H>
Answer ByModel(H page, bool strict) {
  Answer out;
  try {
    Inheritance<H> inheritance;
    if (strict) {
      const StrictPolicy policy;
      Inherited<H> inherited = inheritance.of(page, policy);
      out.geometry = Measure(page, inherited, policy);
    } else {
      const RepairPolicy policy([&](const std::string& message) { out.warnings.push_back(message); });
      Inherited<H> inherited = inheritance.of(page, RepairPolicy());
      out.geometry = Measure(page, inherited, policy);
    }
  } catch (const Refusal& refusal) {
    out.refused = refusal.what();
  }
  return out;
}

// The structure reader's walk: the first page as measured, or the refusal.
Answer ByStrictWalk(Both& both) {
  Answer out;
  try {
    reader::StrictPageWalk walk(
        both.structure(), [&](size_t, size_t, const reader::MeasuredPage& page) { out.geometry = page.geometry; });
    EXPECT_EQ(walk.count(), 1u);
  } catch (const Refusal& refusal) {
    out.refused = refusal.what();
  }
  return out;
}

// libqpdf's walk into the page table, as the engine reads it.
Answer ByRepairingWalk(Both& both) {
  Answer out;
  PageTable table;
  RepairingPageWalk walk(
      both.pdf(), [&](const std::string& message) { out.warnings.push_back("walk: " + message); }, {},
      [&](size_t index, size_t sameAs, QPDFObjectHandle& page) { table.add(index, sameAs, page); });
  EXPECT_EQ(walk.count(), 1u);
  table.check(0);
  out.geometry = table.pageGeometry(0);
  if (const PageTable::Notes* notes = table.notes(0)) {
    for (const std::string* note : {&notes->media, &notes->crop, &notes->printBoxes, &notes->rotation}) {
      if (!note->empty()) out.warnings.push_back(*note);
    }
  }
  return out;
}

struct Row {
  const char* what;
  std::string root, node, page;  // entries of the tree's root, its node and the page
  PageGeometry repaired;         // the RepairPolicy's answer
  std::string warning;           // its warning ("" none)
  std::string refused;           // the StrictPolicy's reason; "": it reads the repaired answer
  std::string five = "";         // object 5, when given
};

constexpr Box kL = {0, 0, 612, 792}, kA4 = {0, 0, 595, 842}, kM = {0, 0, 100, 200};
const std::string kLetter = "/MediaBox [0 0 612 792]", kMedia = "/MediaBox [0 0 100 200]";
const std::string kA4Box = "/MediaBox [0 0 595 842]";
// The strict policy's reasons and the repair policy's warnings.
const std::string kNoMedia = "page 4 0 has no /MediaBox", kBadMedia = "malformed /MediaBox";
const std::string kEmpty = "page 4 0 has an empty /MediaBox", kBadCrop = "malformed /CropBox";
const std::string kOutside = "page 4 0 has a /CropBox outside its /MediaBox";
const std::string kNotWhole = "page 4 0 has a /Rotate that is not a whole number";
const std::string kNot90 = "page 4 0 has a /Rotate that is not a multiple of 90";
const std::string kNoMediaW = kNoMedia + "; US Letter assumed";
const std::string kBadMediaW = "page 4 0 has a malformed /MediaBox; US Letter assumed";
const std::string kEmptyW = kEmpty + "; US Letter assumed";
const std::string kBadCropW = "page 4 0 has a malformed /CropBox; the MediaBox is used";
const std::string kOutsideW = "page 4 0 has a /CropBox outside its MediaBox; the MediaBox is used";
const std::string kNot90W = "page 4 0 has /Rotate 45, not a multiple of 90; 0 assumed";
const std::string kNaNW = "page 4 0 has a /Rotate that is not a number; 0 assumed";

PageGeometry G(Box media, Box crop, int rotation = 0, double unit = 1) {
  return {media, crop, crop, crop, crop, unit, rotation};
}
PageGeometry G(Box both, int rotation = 0) { return G(both, both, rotation); }
// With a bleed, trim and art box.
PageGeometry G(Box media, Box crop, Box bleed, Box trim, Box art) { return {media, crop, bleed, trim, art, 1, 0}; }

const Row kRows[] = {
    // Media boxes: normalised, inherited, or US Letter.
    {"media box", "", "", kLetter, G(kL), "", ""},
    {"corners swapped", "", "", "/MediaBox [612 792 0 0]", G(kL), "", ""},
    {"reals", "", "", "/MediaBox [0.5 -10 595.276 841.89]", G({0.5, -10, 595.276, 841.89}), "", ""},
    {"no media box", "", "", "", G(kUsLetter), kNoMediaW, kNoMedia},
    {"three numbers", "", "", "/MediaBox [0 0 612]", G(kUsLetter), kBadMediaW, kBadMedia},
    {"five numbers", "", "", "/MediaBox [0 0 612 792 1]", G(kUsLetter), kBadMediaW, kBadMedia},
    {"a name for a number", "", "", "/MediaBox [0 0 /W 792]", G(kUsLetter), kBadMediaW, kBadMedia},
    {"a string", "", "", "/MediaBox (A4)", G(kUsLetter), kBadMediaW, kBadMedia},
    {"no width", "", "", "/MediaBox [0 0 0 792]", G(kUsLetter), kEmptyW, kEmpty},
    {"no height", "", "", "/MediaBox [0 5 612 5]", G(kUsLetter), kEmptyW, kEmpty},
    {"null is none", "", "", "/MediaBox null", G(kUsLetter), kNoMediaW, kNoMedia},
    {"from the root", kA4Box, "", "", G(kA4), "", ""},
    {"the node's over the root's", kA4Box, kLetter, "", G(kL), "", ""},
    {"the page's over the node's", kA4Box, kLetter, "/MediaBox [0 0 100 200]", G(kM), "", ""},
    {"a reference", "/MediaBox 5 0 R", "", "", G({0, 0, 300, 400}), "", "", "[0 0 300 400]"},
    {"numbers by reference", "", "", "/MediaBox [0 0 5 0 R 800]", G({0, 0, 700, 800}), "", "", "700"},
    {"a reference to null: the root's", kA4Box, "/MediaBox 5 0 R", "", G(kA4), "", "/MediaBox refers to null", "null"},
    {"the node's malformed over the root's", kA4Box, "/MediaBox [1 2]", "", G(kUsLetter), kBadMediaW, kBadMedia},

    // Crop boxes: each edge beyond, on and inside the media box [0 0 100 200].
    {"crop left beyond", "", "", kMedia + " /CropBox [-10 20 80 180]", G(kM, {0, 20, 80, 180}), "", ""},
    {"crop left on", "", "", kMedia + " /CropBox [0 20 80 180]", G(kM, {0, 20, 80, 180}), "", ""},
    {"crop inside", "", "", kMedia + " /CropBox [10 20 80 180]", G(kM, {10, 20, 80, 180}), "", ""},
    {"crop bottom beyond", "", "", kMedia + " /CropBox [10 -20 80 180]", G(kM, {10, 0, 80, 180}), "", ""},
    {"crop bottom on", "", "", kMedia + " /CropBox [10 0 80 180]", G(kM, {10, 0, 80, 180}), "", ""},
    {"crop right beyond", "", "", kMedia + " /CropBox [10 20 130 180]", G(kM, {10, 20, 100, 180}), "", ""},
    {"crop right on", "", "", kMedia + " /CropBox [10 20 100 180]", G(kM, {10, 20, 100, 180}), "", ""},
    {"crop top beyond", "", "", kMedia + " /CropBox [10 20 80 260]", G(kM, {10, 20, 80, 200}), "", ""},
    {"crop top on", "", "", kMedia + " /CropBox [10 20 80 200]", G(kM, {10, 20, 80, 200}), "", ""},
    {"crop beyond every edge", "", "", kMedia + " /CropBox [-1 -1 101 201]", G(kM), "", ""},
    {"crop corners swapped", "", "", kMedia + " /CropBox [80 180 10 20]", G(kM, {10, 20, 80, 180}), "", ""},
    {"crop of another origin", "", "", "/MediaBox [50 60 150 260] /CropBox [40 70 140 270]",
     G({50, 60, 150, 260}, {50, 70, 140, 260}), "", ""},
    {"crop disjoint", "", "", kMedia + " /CropBox [200 300 400 500]", G(kM), kOutsideW, kOutside},
    {"crop touching the right edge", "", "", kMedia + " /CropBox [100 20 150 180]", G(kM), kOutsideW, kOutside},
    {"crop touching the top edge", "", "", kMedia + " /CropBox [10 200 80 300]", G(kM), kOutsideW, kOutside},
    {"crop of no width", "", "", kMedia + " /CropBox [10 20 10 180]", G(kM), kOutsideW, kOutside},
    {"crop of three numbers", "", "", kMedia + " /CropBox [0 0 1]", G(kM), kBadCropW, kBadCrop},
    {"crop not numbers", "", "", kMedia + " /CropBox [0 0 /a 1]", G(kM), kBadCropW, kBadCrop},
    {"crop null", "", "", kMedia + " /CropBox null", G(kM), "", ""},
    {"crop from the root, clipped to the page's media box", "/CropBox [10 20 300 400]", "", kMedia,
     G(kM, {10, 20, 100, 200}), "", ""},
    {"the page's crop over the root's", "/CropBox [10 20 300 400]", "", kMedia + " /CropBox [1 2 3 4]",
     G(kM, {1, 2, 3, 4}), "", ""},
    {"crop against US Letter", "", "", "/CropBox [10 20 700 800]", G(kUsLetter, {10, 20, 612, 792}), kNoMediaW,
     kNoMedia},

    // Bleed, trim and art boxes: the page's own, clipped to the media box, else the crop box.
    {"print boxes", "", "", kMedia + " /CropBox [5 5 95 195] /BleedBox [1 2 99 198] /TrimBox [10 10 90 190] /ArtBox [20 20 80 180]",
     G(kM, {5, 5, 95, 195}, {1, 2, 99, 198}, {10, 10, 90, 190}, {20, 20, 80, 180}), "", ""},
    {"print boxes clipped to the media box, not the crop box", "", "",
     kMedia + " /CropBox [5 5 95 195] /BleedBox [-9 -9 300 300] /TrimBox [90 180 10 20]",
     G(kM, {5, 5, 95, 195}, kM, {10, 20, 90, 180}, {5, 5, 95, 195}), "", ""},
    {"print boxes are not inherited", "/TrimBox [10 10 90 190]", "/BleedBox [1 2 99 198]", kMedia,
     G(kM), "", ""},
    {"print box by reference", "", "", kMedia + " /ArtBox 5 0 R", G(kM, kM, kM, kM, {1, 2, 3, 4}), "", "",
     "[1 2 3 4]"},
    {"trim box malformed", "", "", kMedia + " /CropBox [5 5 95 195] /TrimBox [0 0 1]", G(kM, {5, 5, 95, 195}),
     "page 4 0 has a malformed /TrimBox; the CropBox is used", "malformed /TrimBox"},
    {"bleed box disjoint", "", "", kMedia + " /BleedBox [200 300 400 500]", G(kM),
     "page 4 0 has a /BleedBox outside its MediaBox; the CropBox is used",
     "page 4 0 has a /BleedBox outside its /MediaBox"},
    {"art box null", "", "", kMedia + " /ArtBox null", G(kM), "", ""},

    // Rotation: every form.
    {"rotate 90", "", "", kLetter + " /Rotate 90", G(kL, 90), "", ""},
    {"rotate -90", "", "", kLetter + " /Rotate -90", G(kL, 270), "", ""},
    {"rotate 450", "", "", kLetter + " /Rotate 450", G(kL, 90), "", ""},
    {"rotate -720", "", "", kLetter + " /Rotate -720", G(kL, 0), "", ""},
    {"rotate -180", "", "", kLetter + " /Rotate -180", G(kL, 180), "", ""},
    {"rotate 180.0", "", "", kLetter + " /Rotate 180.0", G(kL, 180), "", ""},
    {"rotate -270.0", "", "", kLetter + " /Rotate -270.0", G(kL, 90), "", ""},
    {"rotate 45", "", "", kLetter + " /Rotate 45", G(kL), kNot90W, kNot90},
    {"rotate 45.0", "", "", kLetter + " /Rotate 45.0", G(kL), kNot90W, kNot90},
    {"rotate 90.5", "", "", kLetter + " /Rotate 90.5", G(kL), "page 4 0 has /Rotate 90.5; 0 assumed", kNotWhole},
    {"rotate a name", "", "", kLetter + " /Rotate /R90", G(kL), kNaNW, kNotWhole},
    {"rotate a string", "", "", kLetter + " /Rotate (90)", G(kL), kNaNW, kNotWhole},
    {"rotate null", "", "", kLetter + " /Rotate null", G(kL), "", ""},
    {"rotate from the root", "/Rotate 270", "", kLetter, G(kL, 270), "", ""},
    {"rotate: the node's over the root's", "/Rotate 270", "/Rotate -90.0", kLetter, G(kL, 270), "", ""},
    {"rotate: the page's over the node's", "/Rotate 270", "/Rotate 90", kLetter + " /Rotate 0", G(kL, 0), "", ""},
    {"rotate by reference", "", "/Rotate 5 0 R", kLetter, G(kL, 180), "", "", "-180"},
    {"rotate a reference to null: the root's", "/Rotate 90", "/Rotate 5 0 R", kLetter, G(kL, 90), "",
     "/Rotate refers to null", "null"},

    // /UserUnit: the page's own positive number, else 1.
    {"user unit", "", "", kLetter + " /UserUnit 2.5", G(kL, kL, 0, 2.5), "", ""},
    {"user unit 0", "", "", kLetter + " /UserUnit 0", G(kL), "", ""},
    {"user unit -3", "", "", kLetter + " /UserUnit -3", G(kL), "", ""},
    {"user unit a string", "", "", kLetter + " /UserUnit (2)", G(kL), "", ""},
    {"user unit by reference", "", "", kLetter + " /UserUnit 5 0 R", G(kL, kL, 0, 3), "", "", "3"},
    {"user unit is not inherited", "/UserUnit 2", "/UserUnit 2", kLetter, G(kL), "", ""},
};

std::string RowFile(const Row& row) {
  std::vector<std::string> objects = {kCatalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + row.root + " >>",
                                      "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] /Count 1 " + row.node + " >>",
                                      "<< /Type /Page /Parent 3 0 R " + row.page + " >>"};
  if (!row.five.empty()) objects.push_back(row.five);
  return pdfbuilder::Assemble({objects});
}

void Expect(const Answer& got, const Row& row, bool strict, const char* path) {
  SCOPED_TRACE(path);
  if (strict && !row.refused.empty()) {
    EXPECT_EQ(got.refused, row.refused);
    return;
  }
  EXPECT_EQ(got.refused, "");
  EXPECT_EQ(got.geometry, row.repaired);
  const std::vector<std::string> none, warned = {row.warning};
  EXPECT_EQ(got.warnings, strict || row.warning.empty() ? none : warned);
}

TEST(PageModel, EveryRuleOverBothHandlesUnderBothPoliciesAndThroughBothWalks) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    // A row the repair policy reads without a word, the strict one reads alike.
    ASSERT_TRUE(row.refused.empty() || !row.warning.empty() || row.refused.find("refers to null") != std::string::npos);
    Both both(RowFile(row));
    for (bool strict : {false, true}) {
      Expect(ByModel(both.qpdf(4), strict), row, strict, strict ? "libqpdf's objects, strict" : "libqpdf's objects");
      Expect(ByModel(both.reader(4), strict), row, strict, strict ? "reader's objects, strict" : "reader's objects");
    }
    Expect(ByStrictWalk(both), row, true, "the structure reader's walk");
    Expect(ByRepairingWalk(both), row, false, "libqpdf's walk and the page table");
  }
}

TEST(PageModel, BoxesReadAlikeFromEitherParser) {
  const struct {
    const char* text;
    std::optional<Box> box;
  } cases[] = {
      {"[10 20 -5 -6]", Box{-5, -6, 10, 20}},
      {"[0 0 1.5 2]", Box{0, 0, 1.5, 2}},
      {"[0 0 1 1 1]", std::nullopt},
      {"[0 0 1]", std::nullopt},
      {"[0 0 (1) 1]", std::nullopt},
      {"<< /A 1 >>", std::nullopt},
      {"null", std::nullopt},
      {"[]", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    QPDFObjectHandle q = QPDFObjectHandle::parse(c.text);
    const reader::Object parsed = reader::Parser(c.text, 0).value();
    ValueHandle r(nullptr, &parsed);
    EXPECT_EQ(ReadBox(q), c.box);
    EXPECT_EQ(ReadBox(r), c.box);
  }
  QPDFObjectHandle none;
  ValueHandle nothing;
  EXPECT_EQ(ReadBox(none), std::nullopt);
  EXPECT_EQ(ReadBox(nothing), std::nullopt);
}

// --- The walk -------------------------------------------------------------------

// Pages of a walk, one line each ("media ... rotation", or "same as N"), and
// its warnings; or the refusal.
struct Walked {
  std::string pages, warning, refused;
  size_t found = 0;
};

void Add(std::string& list, const std::string& item, const char* between) {
  list += (list.empty() ? "" : between) + item;
}

std::string Line(size_t index, size_t sameAs, const PageTable& table) {
  char line[96];
  if (sameAs != index) {
    std::snprintf(line, sizeof line, "same as %zu", sameAs);
  } else {
    const Box& m = table.mediaBox(index);
    std::snprintf(line, sizeof line, "%g %g %g %g r%d", m.llx, m.lly, m.urx, m.ury, table.rotation(index));
  }
  return line;
}

Walked Strictly(Both& both) {
  Walked out;
  PageTable table;
  try {
    reader::StrictPageWalk walk(both.structure(), [&](size_t index, size_t sameAs, const reader::MeasuredPage& page) {
      table.addMeasured(index, sameAs, page);
      Add(out.pages, Line(index, sameAs, table), ", "), ++out.found;
    });
    const size_t count = walk.count();
    EXPECT_EQ(count, out.found);
  } catch (const Refusal& refusal) {
    out.refused = refusal.what();
  }
  return out;
}

// As the engine walks: an object the walk needs that is not in the file
// ends it (`refused` holds why).
Walked Repairing(Both& both) {
  Walked out;
  PageTable table;
  ObjectCheck check(both.bytes());
  RepairingPageWalk walk(
      both.pdf(), [&](const std::string& message) { Add(out.warning, message, "\n"); }, {},
      [&](size_t index, size_t sameAs, QPDFObjectHandle& page) {
        table.add(index, sameAs, page, &check);
        Add(out.pages, Line(index, sameAs, table), ", "), ++out.found;
      },
      &check);
  try {
    EXPECT_EQ(walk.count(), out.found);
  } catch (const Error& e) {
    out.refused = e.what();
  }
  return out;
}

// Objects from 2 on (1 is the catalog).
std::string Tree(std::vector<std::string> objects) {
  objects.insert(objects.begin(), kCatalog);
  return pdfbuilder::Assemble({objects});
}

// A chain of `levels` nodes from 2 on, the page below the last.
std::string Chain(int levels) {
  std::vector<std::string> objects;
  for (int i = 0; i < levels; ++i) {
    const int self = i + 2;
    objects.push_back("<< /Type /Pages /Kids [" + std::to_string(self + 1) + " 0 R]" +
                      (i ? " /Parent " + std::to_string(self - 1) + " 0 R" : " /MediaBox [0 0 9 9]") + " >>");
  }
  objects.push_back("<< /Type /Page /Parent " + std::to_string(levels + 1) + " 0 R >>");
  return Tree(objects);
}

TEST(PageTreeWalk, BothWalksDecideAlikeOrTheStrictOneRefuses) {
  const std::string page = "<< /Type /Page /Parent 2 0 R >>", box = " /MediaBox [0 0 9 9]";
  const struct {
    const char* what;
    std::string file;
    std::string pages, warning;  // the repairing walk's pages (", " between them) and warning, or
                                 // "failed: " and why it failed
    std::string refused;         // the strict walk's reason; "": the same pages
  } cases[] = {
      {"pages in order, inheriting",
       Tree({"<< /Type /Pages /Kids [3 0 R 4 0 R] /Rotate 90" + box + " >>", page,
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 5 5] >>"}),
       "0 0 9 9 r90, 0 0 5 5 r90", "", ""},
      {"a page listed twice is that page twice", Tree({"<< /Type /Pages /Kids [3 0 R 3 0 R]" + box + " >>", page}),
       "0 0 9 9 r0, same as 0", "", ""},
      {"another generation of a page is not that page",
       Tree({"<< /Type /Pages /Kids [3 0 R 3 1 R]" + box + " >>", page}), "0 0 9 9 r0",
       "failed: page-tree kid 3 1 R is not in the file or cannot be read", "object 3 1 has another generation"},
      {"a node reached twice",
       Tree({"<< /Type /Pages /Kids [3 0 R 3 0 R]" + box + " >>", "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] >>",
             "<< /Type /Page /Parent 3 0 R >>"}),
       "0 0 9 9 r0", "page tree: object 3 0 is reached a second time; not walked again",
       "page tree node 3 0 is reached twice"},
      {"a node that lists its ancestor",
       Tree({"<< /Type /Pages /Kids [3 0 R]" + box + " >>", "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 2 0 R] >>",
             "<< /Type /Page /Parent 3 0 R >>"}),
       "0 0 9 9 r0", "page tree: object 2 0 is its own ancestor; loop cut",
       "the /Parent of 2 0 is not the node that lists it"},
      {"a node that lists itself",
       Tree({"<< /Type /Pages /Kids [3 0 R]" + box + " >>", "<< /Type /Pages /Parent 3 0 R /Kids [3 0 R 4 0 R] >>",
             "<< /Type /Page /Parent 3 0 R >>"}),
       "0 0 612 792 r0", "page tree: object 3 0 is its own ancestor; loop cut",
       "the /Parent of 3 0 is not the node that lists it"},
      {"/Kids one dictionary", Tree({"<< /Type /Pages /Kids 3 0 R" + box + " >>", page}), "0 0 9 9 r0",
       "page tree: the /Kids of object 2 0 is one object, not an array; read as a list of one",
       "the /Kids of 2 0 is not an array"},
      {"no /Kids", Tree({"<< /Type /Pages" + box + " >>"}), "", "page tree: object 2 0 has no /Kids array",
       "page tree node 2 0 has no /Kids"},
      {"the root is a page", Tree({"<< /Type /Page" + box + " >>"}), "0 0 9 9 r0",
       "page tree: /Pages is a page itself; taken as the only page", "the page tree's root is not a /Pages node"},
      {"the root has a /Parent, whose box counts",
       Tree({"<< /Type /Pages /Kids [3 0 R] /Parent 4 0 R >>", page, "<< /MediaBox [0 0 4 4] >>"}), "0 0 4 4 r0", "",
       "the page tree's root has a /Parent"},
      {"kids without /Type",
       Tree({"<< /Type /Pages /Kids [3 0 R 4 0 R]" + box + " >>", "<< /Parent 2 0 R /Kids [5 0 R] /Rotate 180 >>", page,
             "<< /Type /Page /Parent 3 0 R >>"}),
       "0 0 9 9 r180, 0 0 9 9 r0", "", "page tree kid 3 0 has no /Type"},
      {"a kid of another type",
       Tree({"<< /Type /Pages /Kids [3 0 R 4 0 R]" + box + " >>", "<< /Type /Pagex /Parent 2 0 R >>", page}),
       "0 0 9 9 r0", "page tree: kid 0 of object 2 0 is not a page or page-tree node (object 3 0); skipped",
       "page tree kid 3 0 is neither a page nor a node"},
      {"a kid that is a number", Tree({"<< /Type /Pages /Kids [3 0 R 4 0 R]" + box + " >>", "42", page}), "0 0 9 9 r0",
       "page tree: kid 0 of object 2 0 is not a page or page-tree node (object 3 0); skipped",
       "page tree kid 3 0 has no /Type"},
      {"a direct kid", Tree({"<< /Type /Pages /Kids [<< /Type /Page /Rotate 90 >> 3 0 R]" + box + " >>", page}),
       "0 0 612 792 r90, 0 0 9 9 r0", "", "a kid of 2 0 is not a reference"},
      {"a kid not in the file", Tree({"<< /Type /Pages /Kids [3 0 R 40 0 R]" + box + " >>", page}), "0 0 9 9 r0",
       "failed: page-tree kid 40 0 R is not in the file or cannot be read", "object 40 0 is not in the file"},
      {"a kid that cannot be read (its own values are lost: no page of the parent's stands in)",
       Tree({"<< /Type /Pages /Kids [3 0 R] /Rotate 270" + box + " >>",
             "<< /Type /Page /Parent 2 0 R /Rotate 99999999999999999999999 >>"}),
       "", "failed: page-tree kid 3 0 R is not in the file or cannot be read", "integer out of range at byte 189"},
      {"a node's /Kids not in the file", Tree({"<< /Type /Pages /Kids 9 0 R" + box + " >>"}), "",
       "failed: /Kids of the page tree 9 0 R is not in the file or cannot be read", "object 9 0 is not in the file"},
      {"a page whose /Parent is another node inherits from that node",
       Tree({"<< /Type /Pages /Kids [3 0 R]" + box + " >>", "<< /Type /Page /Parent 4 0 R >>",
             "<< /Type /Pages /MediaBox [0 0 7 7] /Rotate 90 >>"}),
       "0 0 7 7 r90", "", "the /Parent of 3 0 is not the node that lists it"},
      {"4096 levels", Chain(4096), "0 0 9 9 r0", "", ""},
      {"4097 levels", Chain(4097), "0 0 9 9 r0", "", "page tree of more than 4096 levels"},
      {"a catalog without /Pages", pdfbuilder::Assemble({{"<< /Type /Catalog >>"}}), "",
       "page tree: the catalog has no /Pages dictionary; no pages", "the catalog's /Pages is not a reference"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Both both(c.file);
    const Walked repaired = Repairing(both);
    EXPECT_EQ(repaired.pages, c.pages);
    EXPECT_EQ(repaired.refused.empty() ? repaired.warning : "failed: " + repaired.refused, c.warning);
    const Walked strict = Strictly(both);
    if (c.refused.empty()) {
      EXPECT_EQ(strict.refused, "");
      EXPECT_EQ(strict.pages, c.pages);
    } else {
      EXPECT_EQ(strict.refused, c.refused);
    }
  }
}

}  // namespace
}  // namespace pdfparse::document
