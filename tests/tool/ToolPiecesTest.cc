// The pure pieces of pdfinquiry: number formats, the table's alignment,
// JSON for odd bytes, fresh records, file collection, the command line and
// where the library is looked for.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

#include "Answer.h"
#include "FileCollection.h"
#include "Format.h"
#include "LibraryLoader.h"
#include "Options.h"
#include "Progress.h"
#include "ToolProcess.h"

namespace pdfinquiry {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(FormatTest, PointsAndMillimetres) {
  EXPECT_EQ(FormatPoints(612), "612");
  EXPECT_EQ(FormatPoints(595.276f), "595.28");
  EXPECT_EQ(FormatPoints(0.5), "0.5");
  EXPECT_EQ(FormatPoints(-0.001), "0");
  EXPECT_EQ(FormatMillimetres(612), "215.9");
  EXPECT_EQ(FormatMillimetres(792), "279.4");
  EXPECT_EQ(FormatMillimetres(72), "25.4");
  EXPECT_EQ(FormatMillimetres(595.276f), "210");
  // Left, top, right, bottom: width is right - left, height top - bottom.
  EXPECT_EQ(FormatMediaBox({10, 802, 622, 10}), "612 x 792 pt (215.9 x 279.4 mm)");
}

TEST(FormatTest, PrintableTextKeepsUtf8AndEscapesTheRest) {
  EXPECT_EQ(PrintableText("Caf\xC3\xA9 \xE2\x82\xAC"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(PrintableText("a\nb\tc\x01"), "a\\nb\\tc\\x01");
  EXPECT_EQ(PrintableText("\xFF\xC3"), "\\xFF\\xC3");                 // stray and cut-off bytes
  EXPECT_EQ(PrintableText("\xC0\xAF"), "\\xC0\\xAF");                 // overlong "/"
  EXPECT_EQ(PrintableText("\xED\xA0\x80"), "\\xED\\xA0\\x80");        // surrogate
  EXPECT_EQ(DisplayWidth("Caf\xC3\xA9"), 4u);
  EXPECT_EQ(Truncate("abcdefgh", 6), "abc...");
  EXPECT_EQ(Truncate("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4), "\xC3\xA9...");
  EXPECT_EQ(Truncate("short", 6), "short");
}

Answer FullAnswer(const std::string& file) {
  Answer a;
  a.file = file;
  a.index = 1;
  a.level = 3;
  a.key = "Producer";
  a.inquired = a.succeeded = true;
  a.status = 0;
  a.numPages = 12;
  a.rotation = 90;
  a.infoValue = "Vrel Press";
  a.pageMode = 3;
  a.mediaBox = std::array<float, 4>{0, 792, 612, 0};
  a.subType = 1;
  a.hasSpotInk = 1;
  return a;
}

struct Column {
  const char* title;
  bool rightAligned;
};
const Column kColumns[] = {{"STATUS", false}, {"PAGES", true},     {"ROT", true},      {"Producer", false},
                           {"MODE", false},   {"MEDIA BOX", false}, {"SUBTYPE", false}, {"SPOT", false}};

// Each cell starts (or, right-aligned, ends) where its title does, with
// the gap of two blanks to its neighbour.
void ExpectAligned(const std::string& header, const std::string& row) {
  for (const Column& c : kColumns) {
    const size_t start = header.find(c.title);
    ASSERT_NE(start, std::string::npos);
    if (c.rightAligned) {
      const size_t end = start + std::string(c.title).size();
      EXPECT_NE(row[end - 1], ' ') << c.title << "\n" << header << "\n" << row;
      EXPECT_EQ(row.substr(end, 2), "  ") << c.title << "\n" << header << "\n" << row;
    } else {
      EXPECT_NE(row[start], ' ') << c.title << "\n" << header << "\n" << row;
      EXPECT_EQ(row.substr(start - 2, 2), "  ") << c.title << "\n" << header << "\n" << row;
    }
  }
}

TEST(FormatTest, TableColumnsLineUpWhateverTheValues) {
  TextTable table("Producer", 20);
  const std::string header = table.header();
  Answer full = FullAnswer("a.pdf");
  Answer empty;
  empty.file = "b-longer-name.pdf";
  empty.key = "Producer";
  empty.status = 1;
  empty.error = "cannot open: No such file or directory";
  Answer longValue = FullAnswer("c.pdf");
  longValue.infoValue = std::string(100, 'x');
  longValue.numPages = 1234567;
  for (const Answer& a : {full, empty, longValue}) ExpectAligned(header, table.row(a));
  const std::string row = table.row(full);
  EXPECT_THAT(row, HasSubstr("612 x 792 pt (215.9 x 279.4 mm)"));
  EXPECT_THAT(row, HasSubstr("Vrel Press"));
  EXPECT_THAT(table.row(empty), HasSubstr("(cannot open: No such file or directory)"));
  EXPECT_THAT(table.row(longValue), HasSubstr(std::string(25, 'x') + "..."));
}

TEST(FormatTest, TableAlignsOnCharactersNotBytes) {
  TextTable table("Producer", 12);
  Answer a = FullAnswer("\xC3\xA9t\xC3\xA9.pdf");  // 7 characters, 9 bytes
  Answer b = FullAnswer("plain.pdf");
  a.infoValue = "\xE2\x82\xAC\xE2\x82\xAC";
  const std::string ra = table.row(a), rb = table.row(b);
  EXPECT_EQ(DisplayWidth(ra.substr(0, ra.find("ok"))), DisplayWidth(rb.substr(0, rb.find("ok"))));
  EXPECT_EQ(DisplayWidth(ra.substr(0, ra.find("3 same"))), DisplayWidth(rb.substr(0, rb.find("3 same"))));
}

TEST(FormatTest, JsonLineHasEveryFieldAndNullForUnanswered) {
  const auto full = nlohmann::json::parse(JsonLine(FullAnswer("a.pdf")));
  EXPECT_EQ(full["file"], "a.pdf");
  EXPECT_EQ(full["status"], 0);
  EXPECT_EQ(full["statusText"], "ok");
  EXPECT_EQ(full["numPages"], 12);
  EXPECT_EQ(full["rotation"], 90);
  EXPECT_EQ(full["infoKey"], "Producer");
  EXPECT_EQ(full["infoValue"], "Vrel Press");
  EXPECT_EQ(full["pageMode"], 3);
  EXPECT_EQ(full["mediaBox"], nlohmann::json::parse("[0, 792, 612, 0]"));
  EXPECT_DOUBLE_EQ(full["widthMm"].get<double>(), 215.9);
  EXPECT_EQ(full["subType"], 1);
  EXPECT_EQ(full["hasSpotInk"], 1);
  EXPECT_TRUE(full.contains("elapsedMs"));
  EXPECT_FALSE(full.contains("error"));

  Answer failed;
  failed.file = "x.pdf";
  failed.status = 3;
  failed.error = "why";
  const auto j = nlohmann::json::parse(JsonLine(failed));
  EXPECT_EQ(j["statusText"], "engine-error");
  EXPECT_EQ(j["error"], "why");
  for (const char* field : {"numPages", "rotation", "infoValue", "pageMode", "mediaBox", "widthPt", "subType",
                            "hasSpotInk"}) {
    EXPECT_TRUE(j[field].is_null()) << field;
  }
}

// Every byte of a literal, embedded NULs included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

TEST(FormatTest, JsonLineIsValidForAnyBytes) {
  Answer a = FullAnswer(Bytes("q\"b\\s\nn\tt\x01\x7F \xFF\xFE end\xC3"));
  a.infoValue = Bytes("\0nul \xE2\x82 cut \xF0\x9F\x98\x80 \"");
  const std::string line = JsonLine(a);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  nlohmann::json j;
  ASSERT_NO_THROW(j = nlohmann::json::parse(line)) << line;
  const std::string file = j["file"];
  EXPECT_EQ(file.substr(0, 12), std::string("q\"b\\s\nn\tt\x01\x7F ", 12));
  EXPECT_THAT(file, HasSubstr("\xEF\xBF\xBD"));  // U+FFFD for the bad bytes
  const std::string value = j["infoValue"];
  EXPECT_EQ(value[0], '\0');
  EXPECT_THAT(value, HasSubstr("\xF0\x9F\x98\x80 \""));
}

TEST(AnswerTest, FreshRecordShowsOnlyWhatTheLibraryWrote) {
  PdfInquiryRec rec = FreshRecord(2, "Title", 7);
  EXPECT_EQ(rec.hostField, 7u);
  EXPECT_EQ(rec.level, 2);
  EXPECT_STREQ(rec.infoKey, "Title");
  Answer untouched;
  TakeRecord(rec, &untouched);
  EXPECT_FALSE(untouched.numPages || untouched.rotation || untouched.infoValue || untouched.pageMode ||
               untouched.mediaBox || untouched.subType || untouched.hasSpotInk);

  // Zero is an answer, not a gap.
  rec.numPages = 0;
  rec.rotation = 0;
  rec.pageMode = 1;
  rec.mediaBox[0] = 0;
  rec.mediaBox[1] = 10;
  rec.mediaBox[2] = 20;
  rec.mediaBox[3] = 0;
  rec.subType = -1;
  rec.hasSpotInk = 0;
  rec.infoValue = "T";
  Answer written;
  TakeRecord(rec, &written);
  EXPECT_EQ(written.numPages, 0);
  EXPECT_EQ(written.rotation, 0);
  EXPECT_EQ(written.pageMode, 1);
  ASSERT_TRUE(written.mediaBox);
  EXPECT_EQ((*written.mediaBox)[2], 20);
  EXPECT_EQ(written.subType, -1);
  EXPECT_EQ(written.hasSpotInk, 0u);
  EXPECT_EQ(written.infoValue, "T");
}

TEST(AnswerTest, StatusNames) {
  EXPECT_EQ(StatusName(0), "ok");
  EXPECT_EQ(StatusName(1), "failed");
  EXPECT_EQ(StatusName(3), "engine-error");
  EXPECT_EQ(StatusName(7), "status 7");
}

TEST(ProgressTest, Text) {
  EXPECT_EQ(ProgressText(10, 100, 2.0), "10/100 files  5.0 files/s  0:18 left");
  EXPECT_EQ(ProgressText(1, 7201, 1.0), "1/7201 files  1.0 files/s  2:00:00 left");
  EXPECT_EQ(ProgressText(0, 5, 0.0), "0/5 files  0.0 files/s  --:-- left");
  EXPECT_EQ(ProgressText(4, 0, 2.0), "4 files  2.0 files/s");
}

TEST(FileCollectionTest, PdfExtensionInAnyCase) {
  EXPECT_TRUE(HasPdfExtension("a.pdf"));
  EXPECT_TRUE(HasPdfExtension("B.PDF"));
  EXPECT_TRUE(HasPdfExtension("c.Pdf"));
  EXPECT_TRUE(HasPdfExtension(".pdf"));
  EXPECT_FALSE(HasPdfExtension("pdf"));
  EXPECT_FALSE(HasPdfExtension("a.pdfx"));
  EXPECT_FALSE(HasPdfExtension("a.txt"));
}

std::vector<std::string> Relative(const std::vector<Candidate>& found, const std::string& root) {
  std::vector<std::string> out;
  for (const auto& c : found) {
    EXPECT_EQ(c.error, "") << c.path;
    out.push_back(fs::path(c.path).lexically_relative(root).string());
  }
  return out;
}

TEST(FileCollectionTest, WalksSortedAndEndsSymlinkLoops) {
  tooltest::TempDir dir;
  for (const char* name : {"b.pdf", "A.PDF", "c.Pdf", "notes.txt", "sub/d.pdf", "sub/deeper/e.pdf",
                           "z/f.pdf"}) {
    dir.write(name, "x");
  }
  fs::create_directory_symlink("..", dir.file("sub/back"));       // loop to the root
  fs::create_directory_symlink("sub", dir.file("y-link"));         // second way into sub
  fs::create_symlink("missing.pdf", dir.file("dangling.pdf"));

  FileCollector collector(true);
  std::vector<Candidate> found;
  collector.expand(dir.path(), &found);
  ASSERT_EQ(found.size(), 7u);
  EXPECT_EQ(found[3].error.substr(0, 11), "cannot read");  // the dangling link
  found.erase(found.begin() + 3);
  EXPECT_THAT(Relative(found, dir.path()),
              ElementsAre("A.PDF", "b.pdf", "c.Pdf", "sub/d.pdf", "sub/deeper/e.pdf", "z/f.pdf"));
}

TEST(FileCollectionTest, FilesStayDirectoriesNeedRecursive) {
  tooltest::TempDir dir;
  dir.write("a.pdf", "x");
  dir.write("notes.txt", "x");
  FileCollector flat(false);
  std::vector<Candidate> found;
  flat.expand(dir.file("notes.txt"), &found);  // named explicitly: asked whatever its name
  flat.expand(dir.file("nothing-here.pdf"), &found);
  flat.expand(dir.path(), &found);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].error, "");
  EXPECT_EQ(found[1].error, "");  // the inquiry itself reports it
  EXPECT_THAT(found[2].error, HasSubstr("--recursive"));
}

TEST(FileCollectionTest, ListedPaths) {
  std::istringstream in(Bytes("a.pdf\r\n\nb c.pdf\nbad\0name.pdf\nlast.pdf"));
  std::vector<Candidate> got;
  while (auto c = NextListedPath(in)) got.push_back(*c);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].path, "a.pdf");
  EXPECT_EQ(got[1].path, "b c.pdf");
  EXPECT_EQ(got[2].path, "bad?name.pdf");
  EXPECT_THAT(got[2].error, HasSubstr("NUL"));
  EXPECT_EQ(got[3].path, "last.pdf");
}

TEST(FileCollectionTest, CheckReadable) {
  tooltest::TempDir dir;
  const std::string file = dir.write("a.pdf", "x");
  EXPECT_EQ(CheckReadable(file), "");
  EXPECT_THAT(CheckReadable(dir.file("none.pdf")), HasSubstr("No such file"));
  EXPECT_THAT(CheckReadable(dir.path()), HasSubstr("directory"));
  ASSERT_EQ(mkfifo(dir.file("fifo.pdf").c_str(), 0600), 0);
  EXPECT_EQ(CheckReadable(dir.file("fifo.pdf")), "not a regular file");  // and does not block
}

TEST(LibraryLoaderTest, CandidatesBesideTheProgram) {
  const auto c = DefaultLibraryCandidates("/opt/x/bin/pdfinquiry");
  ASSERT_GE(c.size(), 2u);
  EXPECT_EQ(c[0], "/opt/x/lib/libpdfparse.so");
  EXPECT_EQ(c[1], "/opt/x/lib/libpdfparse.so.1");
  EXPECT_TRUE(DefaultLibraryCandidates("").empty());
}

TEST(LibraryLoaderTest, ChoiceOrder) {
  tooltest::TempDir dir;
  const std::string present = dir.write("lib/libpdfparse.so", "x");
  const std::vector<std::string> candidates = {dir.file("none/libpdfparse.so"), present};
  EXPECT_EQ(ChooseLibrary("/opt/opt.so", "/env.so", candidates), "/opt/opt.so");
  EXPECT_EQ(ChooseLibrary("", "/env.so", candidates), "/env.so");
  EXPECT_EQ(ChooseLibrary("", "", candidates), present);
  EXPECT_EQ(ChooseLibrary("", nullptr, {dir.file("none.so")}), "libpdfparse.so.1");
}

TEST(LibraryLoaderTest, LoadFailuresSayWhy) {
  std::string error;
  EXPECT_EQ(PdfParseLibrary::Load("/nonexistent/libpdfparse.so", &error), nullptr);
  EXPECT_THAT(error, HasSubstr("/nonexistent/libpdfparse.so"));
  error.clear();
  EXPECT_EQ(PdfParseLibrary::Load("libc.so.6", &error), nullptr);
  EXPECT_THAT(error, HasSubstr("CreateCPdfParse"));
  auto fake = PdfParseLibrary::Load(tooltest::FakeLibraryPath(), &error);
  ASSERT_NE(fake, nullptr) << error;
  EXPECT_NE(fake->createParser(), nullptr);
}

ParsedCommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "pdfinquiry");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(OptionsTest, DefaultsAndValues) {
  auto d = Parse({"a.pdf"});
  ASSERT_TRUE(d.run);
  EXPECT_EQ(d.options.level, 3);
  EXPECT_EQ(d.options.key, "Producer");
  EXPECT_FALSE(d.options.json || d.options.recursive || d.options.quiet);

  auto all = Parse({"--level", "1", "--key", "Title", "--json", "--trace", "t.log", "-r", "--files-from", "-",
                    "-q", "--library", "l.so", "x", "y"});
  ASSERT_TRUE(all.run) << all.error;
  EXPECT_EQ(all.options.level, 1);
  EXPECT_EQ(all.options.key, "Title");
  EXPECT_TRUE(all.options.json && all.options.recursive && all.options.quiet);
  EXPECT_EQ(all.options.traceFile, "t.log");
  EXPECT_EQ(all.options.filesFrom, "-");
  EXPECT_EQ(all.options.library, "l.so");
  EXPECT_THAT(all.options.paths, ElementsAre("x", "y"));
  EXPECT_TRUE(Parse({"--files-from", "list.txt"}).run);  // a list alone is enough
}

TEST(OptionsTest, UsageErrorsAndInformation) {
  for (const auto& args : std::vector<std::vector<const char*>>{
           {}, {"--level", "4", "a.pdf"}, {"--level", "x", "a.pdf"}, {"--key", "", "a.pdf"},
           {"--bogus", "a.pdf"}, {"--level"}}) {
    const auto r = Parse(args);
    EXPECT_FALSE(r.run);
    EXPECT_EQ(r.exitCode, kExitUsage);
    EXPECT_NE(r.error, "");
  }
  const auto help = Parse({"--help"});
  EXPECT_FALSE(help.run);
  EXPECT_EQ(help.exitCode, kExitOk);
  EXPECT_THAT(help.output, HasSubstr("--files-from"));
  const auto version = Parse({"--version"});
  EXPECT_EQ(version.exitCode, kExitOk);
  EXPECT_THAT(version.output, HasSubstr("pdfinquiry "));
}

}  // namespace
}  // namespace pdfinquiry
