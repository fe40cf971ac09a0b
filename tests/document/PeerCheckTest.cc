// Cross-checks the spot answer of every ink rule case against peer renderers
// (MuPDF, Ghostscript) through tests/document/peer_check.sh. A known difference
// is listed with its reason; any other disagreement fails. Skipped when a
// peer is not installed.
#include <gmock/gmock.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "document/InkWalker.h"
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

// The peer's spots and the script's exit status (77: not installed).
int AskPeer(const std::string& peer, const std::string& pdf, Names* spots) {
  std::string script = std::string(std::getenv("PDFPARSE_SOURCE_DIR")) + "/tests/document/peer_check.sh";
  std::string command = "sh '" + script + "' " + peer + " '" + pdf + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  for (char line[256]; std::fgets(line, sizeof line, pipe) != nullptr;) {
    std::string name(line, std::strcspn(line, "\n"));
    if (!name.empty()) spots->insert(name);
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

}  // namespace
}  // namespace pdfparse::test
