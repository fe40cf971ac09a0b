// pdfinquiry over the real library: why a file failed, whether its answer
// needed repair, --password, --pages and --inks, on files written here.
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "ToolProcess.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

const std::string kTint = "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>";

class ToolDocumentTest : public ::testing::Test {
 protected:
  // The built pdfinquiry and the library beside it, with the caller's options.
  static std::vector<json> Rows(std::vector<std::string> args, int exitCode, Env env = {}) {
    args.insert(args.begin(), {ToolPath(), "--json", "--quiet"});
    env.emplace("PDFPARSE_LIBRARY", std::nullopt);
    Outcome o = RunToEnd({args, env});
    EXPECT_EQ(o.exitCode, exitCode) << o.out << o.err;
    std::vector<json> rows;
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);) {
      rows.push_back(json::parse(line, nullptr, false));
      EXPECT_EQ(rows.back()["schema"], 1) << line;  // every row, whatever its kind
    }
    return rows;
  }

  pdfbuilder::TempDir dir_;
  // Two pages: boxes of every kind on the first, a spot ink on each.
  const std::string job_ = dir_.write(
      "job.pdf", pdfbuilder::BuildPdf({.pages = {"/CropBox [10 10 590 830] /TrimBox [20 20 580 820] /Rotate 270 "
                                                 "/UserUnit 2 /Resources << /ColorSpace << /S [/Separation /Gold "
                                                 "/DeviceCMYK " + kTint + "] >> >>",
                                                 "/Resources << /ColorSpace << /S [/Separation /Varnish "
                                                 "/DeviceCMYK " + kTint + "] >> >>"},
                                       .rootAttrs = "/MediaBox [0 0 600 840]"}));
};

TEST_F(ToolDocumentTest, EveryFailureSaysWhyAndRepairsAreMarked) {
  const std::string locked = dir_.write(
      "locked.pdf", pdfbuilder::BuildPdf({.encryption = pdfbuilder::DocLayout::Encryption{"secret", "owner"}}));
  const std::string noPages = dir_.write(
      "nopages.pdf", pdfbuilder::Assemble({{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}}));
  const std::string whole = pdfbuilder::BuildPdf({.pages = {"", ""}});
  const std::string cut = dir_.write("cut.pdf", whole.substr(0, whole.rfind("xref")));  // no cross-reference data
  auto rows = Rows({"--level", "1", dir_.write("empty.pdf", ""), dir_.write("text.pdf", "hello"),
                    dir_.file("missing.pdf"), locked, noPages, cut},
                   1);
  ASSERT_EQ(rows.size(), 6u);
  const char* codes[] = {"not-pdf", "not-pdf", "file-not-found", "password", "no-pages"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(rows[i]["succeeded"], false) << i;
    EXPECT_EQ(rows[i]["error"]["code"], codes[i]) << rows[i];
    EXPECT_NE(rows[i]["error"]["message"], "") << rows[i];
  }
  EXPECT_EQ(rows[5]["succeeded"], true);
  EXPECT_EQ(rows[5]["repaired"], true);
  EXPECT_GT(rows[5]["warnings"].get<int>(), 0);
  EXPECT_FALSE(rows[5].contains("error"));

  // The password reaches the level inquiry and the reasons alike.
  EXPECT_EQ(Rows({"--level", "1", "--password", "wrong", locked}, 1)[0]["error"]["code"], "password");
  auto opened = Rows({"--level", "1", "--password", "secret", locked}, 0);
  EXPECT_EQ(std::make_tuple(opened[0]["numPages"], opened[0]["repaired"]), std::make_tuple(1, false));

  Outcome table = RunToEnd({{ToolPath(), "--level", "1", "--quiet", cut, dir_.file("missing.pdf")}});
  EXPECT_THAT(table.out, HasSubstr("ok, repaired"));
  EXPECT_THAT(table.out, HasSubstr("(file-not-found: cannot open: "));
}

TEST_F(ToolDocumentTest, PagesGiveEveryPagesBoxesRotationUnitAndInks) {
  auto rows = Rows({"--pages", job_, dir_.write("text.pdf", "hello")}, 1);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["page"], 1);
  EXPECT_EQ(rows[0]["mediaBox"], json::parse("[0, 0, 600, 840]"));
  EXPECT_EQ(rows[0]["cropBox"], json::parse("[10, 10, 590, 830]"));
  EXPECT_EQ(rows[0]["bleedBox"], rows[0]["cropBox"]);
  EXPECT_EQ(rows[0]["trimBox"], json::parse("[20, 20, 580, 820]"));
  EXPECT_EQ(std::make_tuple(rows[0]["rotation"], rows[0]["userUnit"]), std::make_tuple(270, 2.0));
  EXPECT_EQ(rows[0]["inks"], json::parse(R"([{"name": "Gold", "process": false}])"));
  EXPECT_EQ(std::make_tuple(rows[1]["page"], rows[1]["artBox"], rows[1]["userUnit"]),
            std::make_tuple(2, json::parse("[0, 0, 600, 840]"), 1.0));
  EXPECT_EQ(std::make_tuple(rows[2]["page"], rows[2]["error"]["code"]), std::make_tuple(nullptr, "not-pdf"));

  auto inks = Rows({"--inks", "--level", "1", job_}, 0);
  EXPECT_EQ(inks[0]["inks"], json::parse(R"([{"name": "Gold", "process": false}, {"name": "Varnish", "process": false}])"));
  Outcome text = RunToEnd({{ToolPath(), "--quiet", "--pages", job_}});
  EXPECT_THAT(text.out, HasSubstr("[10 10 590 830]"));
  EXPECT_THAT(text.out, HasSubstr("Varnish"));
}

}  // namespace
}  // namespace pdfparse::test
