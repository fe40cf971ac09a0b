// pdfinquiry as a process over a stand-in library that answers from text
// files: exit codes, valid JSON, fresh records, walks, streamed lists,
// trace, and libraries that cannot be loaded.
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ToolProcess.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using json = nlohmann::json;

std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<json> Json(const Outcome& o) {
  std::vector<json> rows;
  for (const std::string& line : Lines(o.out)) {
    rows.push_back(json::parse(line, nullptr, false));
    EXPECT_FALSE(rows.back().is_discarded()) << line;
  }
  return rows;
}

class ToolRunTest : public ::testing::Test {
 protected:
  // pdfinquiry over the stand-in, with no inherited library or trace.
  static Launch Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {ToolPath(), "--library", FakeLibraryPath()});
    return {
        args,
        {{"PDFPARSE_LIBRARY", std::nullopt}, {"PDFPARSE_TRACE", std::nullopt}, {"FAKE_PDFPARSE_NULL", std::nullopt}}};
  }
  pdfbuilder::TempDir dir_;
  const std::string one_ = dir_.write("one.pdf", "pages=1\n"), two_ = dir_.write("two.pdf", "pages=2\n");
};

TEST_F(ToolRunTest, ExitStatusFollowsTheWorstInquiryAndTheBatchGoesOn) {
  Outcome ok = RunToEnd(Tool({one_, two_}));
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  fs::create_directory(dir_.file("folder.pdf"));
  const std::string engine = dir_.write("engine.pdf", "status=3\npages=1\n");
  // The status is the library's own, and a failed runInquiry fails the run whatever it says.
  const std::string contradicting = dir_.write("contradicting.pdf", "status=0\nresult=0\n");
  Outcome run =
      RunToEnd(Tool({"--json", dir_.file("missing.pdf"), one_, dir_.file("folder.pdf"), engine, contradicting}));
  EXPECT_EQ(run.exitCode, 1);
  auto rows = Json(run);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(std::make_tuple(rows[4]["succeeded"], rows[4]["status"]), std::make_tuple(false, 0));
  EXPECT_THAT(rows[0]["error"]["message"].get<std::string>(), HasSubstr("No such file"));
  // The stand-in has no document API beside it to give a code.
  EXPECT_EQ(rows[0]["error"]["code"], "unknown");
  EXPECT_EQ(rows[1]["numPages"], 1);
  EXPECT_THAT(rows[2]["error"]["message"].get<std::string>(), HasSubstr("--recursive"));
  EXPECT_EQ(std::make_tuple(rows[3]["statusText"], rows[3]["succeeded"], rows[3]["numPages"]),
            std::make_tuple("engine-error", false, 1));  // answered, but the inquiry failed
  Outcome table = RunToEnd(Tool({one_, dir_.write("failed.pdf", "status=1\n"), two_}));
  EXPECT_EQ(table.exitCode, 1);
  auto lines = Lines(table.out);
  ASSERT_EQ(lines.size(), 4u);  // header and a row per file
  EXPECT_THAT(lines[2], HasSubstr("failed"));
  EXPECT_THAT(lines[3], HasSubstr(" ok "));
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--level", "0", one_}, {"--nope", one_}, {"--files-from", dir_.file("no-list")}}) {
    Outcome usage = RunToEnd(Tool(args));
    EXPECT_EQ(usage.exitCode, 2) << args.size();
    EXPECT_NE(usage.err, "");
    EXPECT_EQ(usage.out, "");
  }
}

TEST_F(ToolRunTest, ALibraryThatCannotBeLoadedExitsTwoWithTheReason) {
  fs::create_directories(dir_.file("bin"));
  fs::copy_file(ToolPath(), dir_.file("bin/pdfinquiry"));
  Launch missing = Tool({one_}), noFactory = Tool({one_}), noParser = Tool({one_});
  missing.argv[2] = dir_.file("nothing/libpdfparse.so");
  noFactory.argv[2] = "libc.so.6";
  noParser.env["FAKE_PDFPARSE_NULL"] = "1";
  Launch bare{{dir_.file("bin/pdfinquiry"), one_}, {{"PDFPARSE_LIBRARY", std::nullopt}}};  // none beside it
  const std::pair<Launch, std::string> cases[] = {
      {missing, dir_.file("nothing/libpdfparse.so")},
      {noFactory, "CreateCPdfParse"},
      {noParser, "could not create a parser"},
      {{{ToolPath(), one_}, {{"PDFPARSE_LIBRARY", dir_.file("env.so")}}}, dir_.file("env.so")},
      {bare, "looked beside the program in:\n  " + dir_.file("lib/libpdfparse.so")},
  };
  for (const auto& [launch, says] : cases) {
    Outcome o = RunToEnd(launch);
    EXPECT_EQ(o.exitCode, 2) << says;
    EXPECT_THAT(o.err, HasSubstr(says));
    EXPECT_EQ(o.out, "");
  }
  fs::create_directories(dir_.file("lib"));  // found in ../lib without being named
  fs::copy_file(FakeLibraryPath(), dir_.file("lib/libpdfparse.so"));
  EXPECT_EQ(RunToEnd(bare).exitCode, 0);
}

TEST_F(ToolRunTest, JsonIsValidForOddNamesAndValues) {
  const std::string names[] = {"quote\"and\\backslash.pdf", "tab\tand\nnewline.pdf", "caf\xC3\xA9 \xE2\x82\xAC.pdf",
                               "ctrl\x01\x1F.pdf", "bad\xFF\xFE bytes.pdf"};
  std::vector<std::string> args = {"--json"};
  for (const auto& n : names) args.push_back(dir_.write(n, "info.Producer=v\\x22\\x5c\\x0a\\xff\\x01 \u20AC end\n"));
  auto rows = Json(RunToEnd(Tool(args)));
  ASSERT_EQ(rows.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(rows[i]["file"], dir_.file(i < 4 ? names[i] : "bad\uFFFD\uFFFD bytes.pdf"));  // valid UTF-8 unchanged
    EXPECT_EQ(rows[i]["infoValue"], "v\"\\\n\uFFFD\x01 \u20AC end");
  }
}

TEST_F(ToolRunTest, EveryFileGetsAFreshRecordAndTheLevelKeyAndTraceReachTheLibrary) {
  const std::string full = dir_.write("full.pdf",
                                      "pages=9\nrotation=90\ninfo.Producer=First\ninfo.Title=T\n"
                                      "pagemode=1\nmediabox=0 842 595 0\nsubtype=1\nspot=1\n");
  auto rows = Json(RunToEnd(Tool({"--json", full, dir_.write("failed.pdf", "status=1\n"), one_})));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(std::make_tuple(rows[0]["infoValue"], rows[0]["subType"], rows[0]["widthPt"]),
            std::make_tuple("First", 1, 595));
  for (const char* field : {"numPages", "rotation", "infoValue", "pageMode", "mediaBox", "subType", "hasSpotInk"}) {
    EXPECT_TRUE(rows[1][field].is_null()) << field;
    EXPECT_EQ(rows[2][field].is_null(), std::string(field) != "numPages") << field;
  }
  auto table = Lines(RunToEnd(Tool({"--trace", dir_.file("trace.log"), full, one_})).out);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_THAT(table[1], HasSubstr("First"));
  EXPECT_THAT(table[1], HasSubstr("595 x 842 pt (209.9 x 297 mm)"));
  EXPECT_THAT(table[2], ::testing::Not(HasSubstr("First")));
  std::stringstream trace;  // set before the library loads
  trace << std::ifstream(dir_.file("trace.log")).rdbuf();
  EXPECT_EQ(trace.str(), "fake: loaded\nfake: inquiry " + full + "\nfake: inquiry " + one_ + "\n");
  rows = Json(RunToEnd(Tool({"--json", "--level", "2", "--key", "Title", full})));
  EXPECT_EQ(std::make_tuple(rows.at(0)["infoValue"], rows.at(0)["pageMode"], rows.at(0)["subType"]),
            std::make_tuple("T", 1, nullptr));
}

TEST_F(ToolRunTest, RecursiveWalkIsSortedAndSurvivesASymlinkLoop) {
  for (const char* name : {"tree/b.pdf", "tree/A.PDF", "tree/readme.txt", "tree/sub/c.Pdf"}) dir_.write(name, "");
  fs::create_directory_symlink("..", dir_.file("tree/sub/loop"));
  Outcome o = RunToEnd(Tool({"--json", "--recursive", dir_.file("tree")}));
  EXPECT_EQ(o.exitCode, 0) << o.err;
  auto rows = Json(o);
  ASSERT_EQ(rows.size(), 3u);
  const char* sorted[] = {"tree/A.PDF", "tree/b.pdf", "tree/sub/c.Pdf"};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(rows[i]["file"], dir_.file(sorted[i]));
}

TEST_F(ToolRunTest, FilesFromStandardInputAreAnsweredAsTheyArriveAndFromAListAfterTheArguments) {
  Child tool(Tool({"--json", "--files-from", "-"}));
  for (const auto& [path, pages] : {std::pair{one_, 1}, {two_, 2}}) {
    tool.write(path + "\n");
    auto line = tool.readLine();  // while stdin is still open
    ASSERT_TRUE(line);
    EXPECT_EQ(json::parse(*line)["numPages"], pages);
  }
  tool.write(dir_.file("missing.pdf") + "\n");
  EXPECT_THAT(tool.readLine().value_or(""), HasSubstr("\"status\":1"));
  Outcome end = tool.finish();
  EXPECT_EQ(end.exitCode, 1);
  EXPECT_EQ(end.out, "");
  auto rows = Json(RunToEnd(Tool({"--json", "--files-from", dir_.write("l", one_ + "\r\n\n" + two_ + "\n"), two_})));
  ASSERT_EQ(rows.size(), 3u);  // the arguments first, then the list's lines
  for (size_t i : {0, 1, 2}) EXPECT_EQ(rows[i]["numPages"], i == 1 ? 1 : 2) << i;  // two, one, two
}

}  // namespace
}  // namespace pdfparse::test
