// pdfinquiry as a process, over a stand-in library that answers from text
// files: exit codes, output, fresh records, walks, streamed lists, trace
// and progress.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ToolProcess.h"

namespace tooltest {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

class ToolRunTest : public ::testing::Test {
 protected:
  // pdfinquiry over the stand-in library, with no inherited choice of
  // library or trace.
  Launch Tool(std::vector<std::string> args) {
    Launch l;
    l.argv = {ToolPath(), "--library", FakeLibraryPath()};
    l.argv.insert(l.argv.end(), args.begin(), args.end());
    l.env["PDFPARSE_LIBRARY"] = std::nullopt;
    l.env["PDFPARSE_TRACE"] = std::nullopt;
    l.env["FAKE_PDFPARSE_NULL"] = std::nullopt;
    return l;
  }

  static std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      json j;
      EXPECT_NO_THROW(j = json::parse(line)) << line;
      lines.push_back(j);
    }
    return lines;
  }

  static std::vector<std::string> Lines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir dir_;
};

TEST_F(ToolRunTest, ExitStatusFollowsTheWorstInquiry) {
  const std::string ok = dir_.write("ok.pdf", "pages=2\nrotation=0\n");
  const std::string failed = dir_.write("failed.pdf", "status=1\n");
  const std::string engine = dir_.write("engine.pdf", "status=3\npages=1\n");

  Outcome all = RunToEnd(Tool({ok, ok}));
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(all.err, "");

  Outcome one = RunToEnd(Tool({ok, failed, ok}));
  EXPECT_EQ(one.exitCode, 1);
  auto lines = Lines(one.out);
  ASSERT_EQ(lines.size(), 4u);  // header + a row per file, the batch goes on
  EXPECT_THAT(lines[2], HasSubstr("failed"));
  EXPECT_THAT(lines[3], HasSubstr(" ok "));

  // Answered, but runInquiry reported failure: the batch fails too.
  Outcome three = RunToEnd(Tool({"--json", engine}));
  EXPECT_EQ(three.exitCode, 1);
  auto j = JsonLines(three.out);
  ASSERT_EQ(j.size(), 1u);
  EXPECT_EQ(j[0]["status"], 3);
  EXPECT_EQ(j[0]["statusText"], "engine-error");
  EXPECT_EQ(j[0]["succeeded"], false);
  EXPECT_EQ(j[0]["numPages"], 1);
}

TEST_F(ToolRunTest, UnreadableFilesFailTheirOwnRow) {
  const std::string ok = dir_.write("ok.pdf", "pages=2\n");
  fs::create_directory(dir_.file("folder.pdf"));
  Outcome o = RunToEnd(Tool({"--json", dir_.file("missing.pdf"), ok, dir_.file("folder.pdf")}));
  EXPECT_EQ(o.exitCode, 1);
  auto j = JsonLines(o.out);
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["status"], 1);
  EXPECT_THAT(j[0]["error"].get<std::string>(), HasSubstr("No such file"));
  EXPECT_EQ(j[1]["status"], 0);
  EXPECT_EQ(j[1]["numPages"], 2);
  EXPECT_THAT(j[2]["error"].get<std::string>(), HasSubstr("directory"));
}

TEST_F(ToolRunTest, UsageErrorsExitTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--level", "0", "a.pdf"}, {"--nope", "a.pdf"}, {"--files-from", dir_.file("no-list")}}) {
    Outcome o = RunToEnd(Tool(args));
    EXPECT_EQ(o.exitCode, 2) << args.size();
    EXPECT_NE(o.err, "");
    EXPECT_EQ(o.out, "");
  }
  Outcome help = RunToEnd(Tool({"--help"}));
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("--recursive"));
  Outcome version = RunToEnd(Tool({"--version"}));
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_THAT(version.out, HasSubstr("pdfinquiry"));
}

TEST_F(ToolRunTest, LibraryThatCannotBeLoadedExitsTwoWithTheReason) {
  const std::string file = dir_.write("a.pdf", "pages=1\n");

  Launch missing = Tool({file});
  missing.argv[2] = dir_.file("nothing/libpdfparse.so");
  Outcome o = RunToEnd(missing);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_THAT(o.err, HasSubstr(dir_.file("nothing/libpdfparse.so")));
  EXPECT_EQ(o.out, "");

  // Named through the environment instead.
  Launch env;
  env.argv = {ToolPath(), file};
  env.env["PDFPARSE_LIBRARY"] = dir_.file("env/libpdfparse.so");
  o = RunToEnd(env);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_THAT(o.err, HasSubstr(dir_.file("env/libpdfparse.so")));

  // A library without the factory.
  Launch noFactory = Tool({file});
  noFactory.argv[2] = "libc.so.6";
  o = RunToEnd(noFactory);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_THAT(o.err, HasSubstr("CreateCPdfParse"));

  // A factory that makes no parser.
  Launch nullParser = Tool({file});
  nullParser.env["FAKE_PDFPARSE_NULL"] = "1";
  o = RunToEnd(nullParser);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_THAT(o.err, HasSubstr("could not create a parser"));

}

TEST_F(ToolRunTest, ProgramWithoutLibraryBesideItSaysWhereItLooked) {
  fs::create_directories(dir_.file("bin"));
  fs::copy_file(ToolPath(), dir_.file("bin/pdfinquiry"));
  Launch l;
  l.argv = {dir_.file("bin/pdfinquiry"), dir_.write("a.pdf", "pages=1\n")};
  l.env["PDFPARSE_LIBRARY"] = std::nullopt;
  Outcome o = RunToEnd(l);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_THAT(o.err, HasSubstr(dir_.file("lib/libpdfparse.so")));
  EXPECT_THAT(o.err, HasSubstr("--library"));

  // With a library in ../lib it is found without being named.
  fs::create_directories(dir_.file("lib"));
  fs::copy_file(FakeLibraryPath(), dir_.file("lib/libpdfparse.so"));
  o = RunToEnd(l);
  EXPECT_EQ(o.exitCode, 0) << o.err;
}

TEST_F(ToolRunTest, JsonIsValidForOddNamesAndValues) {
  const std::vector<std::string> names = {
      "quote\"and\\backslash.pdf", "tab\tand\nnewline.pdf", "caf\xC3\xA9 \xE2\x82\xAC.pdf",
      "bad\xFF\xFE bytes.pdf", "ctrl\x01\x1F.pdf"};
  std::vector<std::string> args = {"--json"};
  for (const auto& n : names) {
    args.push_back(dir_.write(n, "pages=1\ninfo.Producer=v\\x22\\x5c\\x0a\\xff\\x01 \xE2\x82\xAC end\n"));
  }
  Outcome o = RunToEnd(Tool(args));
  EXPECT_EQ(o.exitCode, 0) << o.err;
  auto j = JsonLines(o.out);
  ASSERT_EQ(j.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string file = j[i]["file"];
    if (i != 3) {
      EXPECT_EQ(file, dir_.file(names[i]));  // valid UTF-8 names come back unchanged
    }
    const std::string value = j[i]["infoValue"];
    EXPECT_EQ(value, "v\"\\\n\xEF\xBF\xBD\x01 \xE2\x82\xAC end");
  }
  EXPECT_EQ(j[3]["file"], dir_.file("bad\xEF\xBF\xBD\xEF\xBF\xBD bytes.pdf"));
}

TEST_F(ToolRunTest, EveryFileGetsAFreshRecord) {
  const std::string full = dir_.write("1-full.pdf",
                                      "pages=9\nrotation=90\ninfo.Producer=First\npagemode=1\n"
                                      "mediabox=0 792 612 0\nsubtype=1\nspot=1\n");
  const std::string failed = dir_.write("2-failed.pdf", "status=1\n");
  const std::string bare = dir_.write("3-bare.pdf", "pages=1\nrotation=0\npagemode=3\nmediabox=0 10 10 0\n");
  Outcome o = RunToEnd(Tool({"--json", full, failed, bare}));
  auto j = JsonLines(o.out);
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["infoValue"], "First");
  EXPECT_EQ(j[0]["subType"], 1);
  for (const char* field : {"numPages", "rotation", "infoValue", "pageMode", "mediaBox", "subType",
                            "hasSpotInk"}) {
    EXPECT_TRUE(j[1][field].is_null()) << "failed file shows " << field << " " << j[1][field];
  }
  EXPECT_EQ(j[2]["numPages"], 1);
  EXPECT_TRUE(j[2]["infoValue"].is_null());
  EXPECT_TRUE(j[2]["subType"].is_null());
  EXPECT_EQ(j[2]["widthPt"], 10);

  // The table shows the gaps as "-" too.
  o = RunToEnd(Tool({full, bare}));
  auto rows = Lines(o.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_THAT(rows[1], HasSubstr("First"));
  EXPECT_THAT(rows[2], Not(HasSubstr("First")));
  EXPECT_THAT(rows[2], Not(HasSubstr("Vrel")));
}

TEST_F(ToolRunTest, LevelAndKeyReachTheLibrary) {
  const std::string file = dir_.write("a.pdf",
                                      "pages=3\ninfo.Producer=P\ninfo.Title=T\npagemode=3\n"
                                      "mediabox=0 842 595 0\nsubtype=-1\nspot=0\n");
  auto j = JsonLines(RunToEnd(Tool({"--json", "--level", "1", "--key", "Title", file})).out);
  ASSERT_EQ(j.size(), 1u);
  EXPECT_EQ(j[0]["level"], 1);
  EXPECT_EQ(j[0]["infoKey"], "Title");
  EXPECT_EQ(j[0]["infoValue"], "T");
  EXPECT_TRUE(j[0]["pageMode"].is_null());
  j = JsonLines(RunToEnd(Tool({"--json", "--level", "2", file})).out);
  EXPECT_EQ(j[0]["infoValue"], "P");
  EXPECT_EQ(j[0]["pageMode"], 3);
  EXPECT_TRUE(j[0]["subType"].is_null());
  j = JsonLines(RunToEnd(Tool({"--json", file})).out);
  EXPECT_EQ(j[0]["level"], 3);
  EXPECT_EQ(j[0]["subType"], -1);
  EXPECT_EQ(j[0]["hasSpotInk"], 0);

  auto table = Lines(RunToEnd(Tool({"--level", "2", file})).out);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_THAT(table[1], HasSubstr("595 x 842 pt (209.9 x 297 mm)"));
}

TEST_F(ToolRunTest, RecursiveWalkIsSortedAndSurvivesASymlinkLoop) {
  dir_.write("tree/b.pdf", "pages=2\n");
  dir_.write("tree/A.PDF", "pages=1\n");
  dir_.write("tree/readme.txt", "pages=7\n");
  dir_.write("tree/sub/c.Pdf", "pages=3\n");
  fs::create_directory_symlink("..", dir_.file("tree/sub/loop"));
  Outcome o = RunToEnd(Tool({"--json", "--recursive", dir_.file("tree")}));
  EXPECT_EQ(o.exitCode, 0) << o.err;
  auto j = JsonLines(o.out);
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["file"], dir_.file("tree/A.PDF"));
  EXPECT_EQ(j[1]["file"], dir_.file("tree/b.pdf"));
  EXPECT_EQ(j[2]["file"], dir_.file("tree/sub/c.Pdf"));
  EXPECT_EQ(j[2]["numPages"], 3);

  // Without --recursive a directory is a failed row, not a walk.
  o = RunToEnd(Tool({"--json", dir_.file("tree")}));
  EXPECT_EQ(o.exitCode, 1);
  j = JsonLines(o.out);
  ASSERT_EQ(j.size(), 1u);
  EXPECT_THAT(j[0]["error"].get<std::string>(), HasSubstr("--recursive"));
}

TEST_F(ToolRunTest, FilesFromStandardInputAnswersEachLineAsItArrives) {
  const std::string a = dir_.write("a.pdf", "pages=1\n");
  const std::string b = dir_.write("b.pdf", "pages=2\n");
  Interactive tool(Tool({"--json", "--files-from", "-"}));
  tool.writeLine(a);
  // The answer comes while stdin is still open.
  auto first = tool.readLine();
  ASSERT_TRUE(first);
  EXPECT_EQ(json::parse(*first)["numPages"], 1);
  tool.writeLine(b);
  auto second = tool.readLine();
  ASSERT_TRUE(second);
  EXPECT_EQ(json::parse(*second)["numPages"], 2);
  tool.writeLine(dir_.file("missing.pdf"));
  auto third = tool.readLine();
  ASSERT_TRUE(third);
  EXPECT_EQ(json::parse(*third)["status"], 1);
  Outcome end = tool.finish();
  EXPECT_EQ(end.exitCode, 1);
  EXPECT_EQ(end.out, "");
}

TEST_F(ToolRunTest, FilesFromAListFile) {
  const std::string a = dir_.write("a.pdf", "pages=1\n");
  const std::string b = dir_.write("b.pdf", "pages=2\n");
  const std::string list = dir_.write("list.txt", a + "\r\n\n" + b + "\n");
  auto j = JsonLines(RunToEnd(Tool({"--json", "--files-from", list})).out);
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[1]["numPages"], 2);
  // Paths on the command line come first, then the list's.
  auto rows = Lines(RunToEnd(Tool({"--files-from", list, b})).out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_THAT(rows[1], HasSubstr("b.pdf"));
  EXPECT_THAT(rows[2], HasSubstr("a.pdf"));
}

TEST_F(ToolRunTest, TraceOptionIsSetBeforeTheLibraryLoads) {
  const std::string file = dir_.write("a.pdf", "pages=1\n");
  const std::string trace = dir_.file("trace.log");
  Outcome o = RunToEnd(Tool({"--trace", trace, file}));
  EXPECT_EQ(o.exitCode, 0) << o.err;
  std::ifstream in(trace);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "fake: loaded\nfake: inquiry " + file + "\n");
}

TEST_F(ToolRunTest, ProgressOnlyOnATerminal) {
  const std::string a = dir_.write("a.pdf", "pages=1\n");
  const std::string b = dir_.write("b.pdf", "pages=2\n");
  // stderr is a pipe here: no progress.
  Outcome piped = RunToEnd(Tool({a, b}));
  EXPECT_EQ(piped.err, "");

  Launch tty = Tool({"--json", a, b});
  tty.stderrOnTerminal = true;
  Outcome shown = RunToEnd(tty);
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_THAT(shown.err, HasSubstr("2/2 files"));
  EXPECT_THAT(shown.err, HasSubstr("\r"));
  EXPECT_EQ(JsonLines(shown.out).size(), 2u);  // stdout stays clean

  tty.argv.push_back("--quiet");
  EXPECT_EQ(RunToEnd(tty).err, "");
  Launch single = Tool({a});
  single.stderrOnTerminal = true;
  EXPECT_EQ(RunToEnd(single).err, "");
}

}  // namespace
}  // namespace tooltest
