// Cross-checks the spot answer of every ink rule case against peer renderers
// (MuPDF, Ghostscript), and every page's boxes and rotation of the samples and
// box cases against pdfinfo, through tests/document/peer_check.sh. A known
// difference is listed with its reason; any other disagreement fails. Skipped
// when a peer is not installed.
#include <gmock/gmock.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "document/InkWalker.h"
#include "pdfparse/document.h"
#include "pdfbuilder/PdfBuilder.h"
#include "support/InkPdfs.h"

namespace pdfparse::test {
namespace {

using Names = std::set<std::string>;

// Peer, case, the peer's answer, why it differs.
const std::tuple<std::string, std::string, Names, const char*> kKnown[] = {
    {"mutool", "tiling_pattern", {}, "MuPDF's separation scan does not enter patterns"},
    {"mutool", "shading_pattern", {}, "MuPDF's separation scan does not enter patterns"},
    {"mutool", "indexed_devicen", {}, "MuPDF does not look at the base of an Indexed space"},
    {"mutool", "annotation_prints", {}, "MuPDF scans the page's resources only, not appearance streams"},
    {"mutool", "annotation_states", {}, "MuPDF scans the page's resources only, not appearance streams"},
    {"mutool",
     "nchannel_with_process",
     {"Red", "Green", "Blue", "NSpot", "ExtraSpot"},
     "MuPDF ignores /Process: every colorant but Cyan, Magenta, Yellow, Black is a spot"},
    {"mutool", "type3_font", {}, "MuPDF does not scan fonts' resources"},
    {"mutool", "soft_mask_group", {}, "MuPDF does not scan ExtGState soft masks"},
    {"gs", "annotation_states", {}, "Ghostscript draws no appearance from this state dictionary"},
    {"gs",
     "nchannel_with_process",
     {"Red", "Green", "NSpot", "ExtraSpot"},
     "Ghostscript ignores /Process and makes plates of the RGB components it paints"},
    {"gs", "soft_mask_group", {}, "a luminosity mask is rendered as grey; its spot is no plate"},
    {"gs", "defined_but_unused", {}, "tiffsep makes plates only for colorants the content paints"},
};

// The peer's lines (a set) and the script's exit status (77: not installed).
int AskPeer(const std::string& peer, const std::string& pdf, Names* lines) {
  std::string script = std::string(std::getenv("PDFPARSE_SOURCE_DIR")) + "/tests/document/peer_check.sh";
  std::string command = "sh '" + script + "' " + peer + " '" + pdf + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  for (char line[256]; std::fgets(line, sizeof line, pipe) != nullptr;) {
    std::string name(line, std::strcspn(line, "\n"));
    if (!name.empty()) lines->insert(name);
  }
  int raw = ::pclose(pipe);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

class PeerCheck : public testing::TestWithParam<const char*> {};

TEST_P(PeerCheck, SpotAnswersAgreeExceptWhereExplained) {
  const std::string peer = GetParam();
  pdfbuilder::TempDir dir;
  for (const auto& c : inkpdfs::InkRuleCases()) {
    SCOPED_TRACE(c.name);
    auto pdf = inkpdfs::NewPdf();
    c.build(*pdf);
    const std::string bytes = inkpdfs::Write(*pdf);
    document::InkWalker walker;
    Names ours, theirs;
    for (const auto& ink : walker.pageInks(inkpdfs::Read(bytes)->getAllPages().at(0)))
      if (!ink.process) ours.insert(ink.name);
    int status = AskPeer(peer, dir.write(c.name + ".pdf", bytes), &theirs);
    if (status == 77) GTEST_SKIP() << peer << " is not installed";
    ASSERT_EQ(status, 0) << peer << " failed";
    Names expected = ours;
    for (const auto& [who, name, spots, why] : kKnown)
      if (peer == who && c.name == name) expected = spots;
    EXPECT_EQ(theirs, expected) << "ours: " << testing::PrintToString(ours);
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerCheck, testing::Values("mutool", "gs"));

// Files with boxes of every kind: inherited, clipped, defaulted, rotated.
std::vector<std::string> BoxCases(const pdfbuilder::TempDir& dir) {
  using pdfbuilder::BuildPdf;
  const std::string print = "/CropBox [10 10 590 830] /BleedBox [5 5 595 835] /TrimBox [20 20 580 820] ";
  return {
      dir.write("print-boxes.pdf", BuildPdf({.pages = {print + "/ArtBox [30 40 570 800]", print + "/Rotate -90",
                                                       "/ArtBox [-50 -50 700 900] /Rotate 450", "/UserUnit 2.5"},
                                             .rootAttrs = "/MediaBox [0 0 600 840] /Rotate 180"})),
      dir.write("inherited.pdf", BuildPdf({.pages = {"", "/MediaBox [0.5 -10 595.276 841.89]", "/CropBox [700 0 -5 400]"},
                                           .rootAttrs = "/MediaBox [0 0 612 792] /CropBox [0 0 300 300] /Rotate 270",
                                           .fanout = 2})),
      dir.write("malformed-trim.pdf", BuildPdf({.pages = {"/TrimBox [1 2 3]", "/BleedBox (x) /ArtBox [0 0 /a 1]"}})),
  };
}

// Every page's rotation and five boxes against pdfinfo -box, within 0.01 pt.
TEST(PeerBoxCheck, BoxesAndRotationAgreeWithPdfinfoOnEveryPage) {
  pdfbuilder::TempDir dir;
  std::vector<std::string> files = BoxCases(dir);
  const size_t cases = files.size();
  for (const auto& entry : std::filesystem::directory_iterator(std::string(std::getenv("PDFPARSE_BUILD_DIR")) + "/samples"))
    if (entry.path().extension() == ".pdf") files.push_back(entry.path());
  size_t compared = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    Names lines;
    const int status = AskPeer("pdfinfo", file, &lines);
    if (status == 77) GTEST_SKIP() << "pdfinfo is not installed";
    pdfparse_document* doc = nullptr;
    size_t count = 0;
    const bool ours = pdfparse_open(file.c_str(), nullptr, 0, 0, &doc) == PDFPARSE_OK &&
                      pdfparse_page_count(doc, &count) == PDFPARSE_OK;
    if (status != 0 || !ours) {  // only files both read
      pdfparse_close(doc);
      continue;
    }
    // page -> key -> values, from the peer's lines
    std::map<size_t, std::map<std::string, std::vector<double>>> theirs;
    for (const std::string& line : lines) {
      std::istringstream in(line);
      size_t page;
      std::string key;
      in >> page >> key;
      for (double v; in >> v;) theirs[page][key].push_back(v);
    }
    ASSERT_EQ(theirs.size(), count);
    for (size_t i = 0; i < count; ++i) {
      pdfparse_page page;
      ASSERT_EQ(pdfparse_page_info(doc, i, &page), PDFPARSE_OK);
      auto& peer = theirs[i + 1];
      EXPECT_EQ(peer["rot"], std::vector<double>{static_cast<double>(page.rotation)}) << "page " << i + 1;
      const std::pair<const char*, pdfparse_box> boxes[] = {{"MediaBox", page.media_box},
                                                            {"CropBox", page.crop_box},
                                                            {"BleedBox", page.bleed_box},
                                                            {"TrimBox", page.trim_box},
                                                            {"ArtBox", page.art_box}};
      for (const auto& [key, box] : boxes) {
        const double values[4] = {box.llx, box.lly, box.urx, box.ury};
        ASSERT_EQ(peer[key].size(), 4u) << key;
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(peer[key][k], values[k], 0.01) << "page " << i + 1 << " " << key;
      }
    }
    pdfparse_close(doc);
    ++compared;
  }
  EXPECT_GE(compared, cases + 4);  // the box cases and most samples are read by both
}

}  // namespace
}  // namespace pdfparse::test
