// pdfinquiry's documentation against the program and the sources: --help and
// the manual page name every environment variable the code reads, the manual
// page describes every option --help lists, every JSON field the program
// writes and every exit status it ends with, and the bash completion offers
// every option.
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "ToolProcess.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using json = nlohmann::json;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The manual page's text with roff's escaped hyphens and font changes undone.
std::string ManText() {
  std::string text = ReadFile(PDFINQUIRY_MAN_PAGE);
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  return std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
}

// The text of the section `name` of the manual page (from ".SH name" to the
// next ".SH").
std::string ManSection(const std::string& name) {
  const std::string text = ManText(), start = ".SH " + name + "\n";
  const size_t from = text.find(start);
  EXPECT_NE(from, std::string::npos) << name;
  if (from == std::string::npos) return "";
  const size_t to = text.find("\n.SH ", from + start.size());
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The words a section's tagged paragraphs (".TP" then ".B" or ".BR") begin
// with: the options, fields, statuses or variables the section describes.
std::set<std::string> TaggedItems(const std::string& section) {
  const std::regex item(R"(\n\.TP\n\.BR? ([^\n]*))");
  std::set<std::string> items;
  for (std::sregex_iterator it(section.begin(), section.end(), item), end; it != end; ++it) {
    std::string words = (*it)[1].str();
    for (char& c : words)
      if (c == '"' || c == ',') c = ' ';
    std::istringstream in(words);
    for (std::string word; in >> word;) items.insert(word);
  }
  return items;
}

// Names of the environment variables the library, the plug-in and the tool
// read, found in their sources.
std::set<std::string> VariablesTheCodeReads() {
  const std::string source = std::getenv("PDFPARSE_SOURCE_DIR");
  const std::regex read(
      R"re((getenv|GetEnvironmentVariableA|PositiveFromEnvironment|EnvValue)\("([A-Z][A-Z0-9_]*)")re");
  std::set<std::string> names;
  for (const char* folder : {"src", "plugins", "tools"}) {
    for (const auto& entry : fs::recursive_directory_iterator(source + "/" + folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".cc" && ext != ".h") continue;
      const std::string text = ReadFile(entry.path().string());
      for (std::sregex_iterator it(text.begin(), text.end(), read), end; it != end; ++it) names.insert((*it)[2]);
    }
  }
  return names;
}

std::string Help() {
  Outcome o = RunToEnd({{ToolPath(), "--help"}});
  EXPECT_EQ(o.exitCode, 0);
  return o.out;
}

// The option names --help lists ("-r", "--recursive", ...).
std::set<std::string> HelpOptions() {
  const std::string help = Help();
  std::set<std::string> options;
  std::istringstream lines(help);
  const std::regex option(R"((^|[ ,])(--?[a-z][a-z-]*))");
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  -", 0) != 0) continue;  // option rows start with two spaces and a dash
    const std::string names = line.substr(0, line.find("  ", 2));
    for (std::sregex_iterator it(names.begin(), names.end(), option), end; it != end; ++it) options.insert((*it)[2]);
  }
  return options;
}

TEST(DocumentationTest, HelpAndManualPageNameEveryEnvironmentVariableTheCodeReads) {
  const std::set<std::string> names = VariablesTheCodeReads();
  EXPECT_THAT(names, ::testing::Contains("PDFPARSE_LIBRARY"));     // the scan reaches the tool's sources
  EXPECT_THAT(names, ::testing::Contains("PDFPARSE_PLUGIN_DIR"));  // and the library's
  const std::string help = Help();
  const std::set<std::string> described = TaggedItems(ManSection("ENVIRONMENT"));
  for (const std::string& name : names) {
    EXPECT_THAT(help, HasSubstr("  " + name + " ")) << name;
    EXPECT_TRUE(described.count(name)) << name << " has no entry under ENVIRONMENT";
  }
}

TEST(DocumentationTest, ManualPageDescribesEveryOptionOfHelp) {
  const std::set<std::string> options = HelpOptions();
  EXPECT_THAT(options, ::testing::IsSupersetOf({"--level", "-r", "--recursive", "--version"}));
  const std::set<std::string> described = TaggedItems(ManSection("OPTIONS"));
  const std::string synopsis = ManSection("SYNOPSIS");
  for (const std::string& option : options) {
    EXPECT_TRUE(described.count(option)) << option << " has no entry under OPTIONS";
    EXPECT_THAT(synopsis, HasSubstr(option)) << option;
  }
}

TEST(DocumentationTest, ManualPageNamesEveryJsonFieldAndExitStatus) {
  pdfbuilder::TempDir dir;
  const std::string good = dir.write("good.pdf",
                                     "pages=2\nrotation=90\ninfo.Producer=x\npagemode=3\n"
                                     "mediabox=0 0 612 792\nsubtype=1\nspot=1\n");
  const std::string bad = dir.write("bad.pdf", "status=1\n");
  const Env env = {{"PDFPARSE_LIBRARY", std::nullopt}, {"PDFPARSE_TRACE", std::nullopt}};
  const std::string fake = FakeLibraryPath();
  std::set<std::string> fields;
  std::set<int> exits;
  for (const std::vector<std::string>& files :
       std::vector<std::vector<std::string>>{{good}, {good, bad, dir.file("missing/none.pdf")}}) {
    std::vector<std::string> argv = {ToolPath(), "--library", fake, "--json", "--quiet"};
    argv.insert(argv.end(), files.begin(), files.end());
    Outcome o = RunToEnd({argv, env});
    exits.insert(o.exitCode);
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);) {
      const json row = json::parse(line, nullptr, false);
      ASSERT_TRUE(row.is_object()) << line;
      for (const auto& field : row.items()) fields.insert(field.key());
    }
  }
  exits.insert(RunToEnd({{ToolPath(), "--level", "7", good}, env}).exitCode);
  EXPECT_THAT(fields, ::testing::IsSupersetOf({"file", "mediaBox", "hasSpotInk", "error"}));
  EXPECT_EQ(exits.size(), 3u);

  const std::set<std::string> jsonItems = TaggedItems(ManSection("JSON OUTPUT")),
                              exitItems = TaggedItems(ManSection("EXIT STATUS"));
  for (const std::string& field : fields) EXPECT_TRUE(jsonItems.count(field)) << field << " has no entry";
  for (int code : exits) EXPECT_TRUE(exitItems.count(std::to_string(code))) << code << " has no entry";
}

TEST(DocumentationTest, ManualPageRendersWithoutWarnings) {
  if (!fs::exists("/usr/bin/man")) GTEST_SKIP() << "man-db is not installed";
  Outcome o = RunToEnd({{"/usr/bin/man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", PDFINQUIRY_MAN_PAGE},
                        {{"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}, {"MAN_KEEP_FORMATTING", std::nullopt}}});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.err, "");
  // Bold and underlined letters come as overstrikes: keep the letters.
  EXPECT_THAT(std::regex_replace(o.out, std::regex(".\b"), ""), HasSubstr("ENVIRONMENT"));
}

TEST(DocumentationTest, BashCompletionOffersEveryOptionAndTheLevels) {
  const std::string script =
      "source '" + std::string(PDFINQUIRY_COMPLETION) +
      "'\n"
      "complete -p pdfinquiry >&2\n"
      "COMP_WORDS=(pdfinquiry -); COMP_CWORD=1; _pdfinquiry; printf '%s\\n' \"${COMPREPLY[@]}\"\n"
      "echo ---\n"
      "COMP_WORDS=(pdfinquiry --level ''); COMP_CWORD=2; _pdfinquiry; "
      "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
  Outcome o = RunToEnd({{"/bin/bash", "--norc", "--noprofile", "-c", script}});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_THAT(o.err, HasSubstr("-F _pdfinquiry pdfinquiry"));
  const std::string options = o.out.substr(0, o.out.find("---\n")), levels = o.out.substr(o.out.find("---\n") + 4);
  for (const std::string& option : HelpOptions()) EXPECT_THAT(options, HasSubstr(option + "\n")) << option;
  EXPECT_EQ(levels, "1\n2\n3\n");
}

}  // namespace
}  // namespace pdfparse::test
