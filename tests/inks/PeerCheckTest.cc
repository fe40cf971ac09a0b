// Cross-checks the spot answer for every ink rule case against peer
// renderers (MuPDF, Ghostscript) through tests/inks/peer_check.sh. Where a
// peer is known to answer differently, the expected difference is listed
// with its reason; any other disagreement fails. Skipped when a peer is not
// installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "outside/pdfl/core/InkWalker.h"
#include "support/InkPdfs.h"

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

// Cases where a peer's answer differs from ours, and why.
struct KnownDifference {
  const char* peer;
  const char* caseName;
  Names peerSpots;
  const char* why;
};

const std::vector<KnownDifference>& KnownDifferences() {
  static const std::vector<KnownDifference> list = {
      {"mutool", "tiling_pattern", {}, "MuPDF's separation scan does not enter patterns"},
      {"mutool", "shading_pattern", {}, "MuPDF's separation scan does not enter patterns"},
      {"mutool", "indexed_devicen", {}, "MuPDF does not look at the base of an Indexed space"},
      {"mutool", "annotation_prints", {}, "MuPDF scans the page's resources only, not appearance streams"},
      {"mutool", "annotation_states", {}, "MuPDF scans the page's resources only, not appearance streams"},
      {"mutool", "nchannel_with_process", {"Red", "Green", "Blue", "NSpot", "ExtraSpot"},
       "MuPDF ignores /Process: every colorant but Cyan, Magenta, Yellow, Black is a spot"},
      {"mutool", "type3_font", {}, "MuPDF does not scan fonts' resources"},
      {"mutool", "soft_mask_group", {}, "MuPDF does not scan ExtGState soft masks"},
      {"gs", "annotation_states", {}, "Ghostscript draws no appearance from this state dictionary"},
      {"gs", "nchannel_with_process", {"Red", "Green", "NSpot", "ExtraSpot"},
       "Ghostscript ignores /Process and makes plates of the RGB components it paints"},
      {"gs", "soft_mask_group", {}, "a luminosity mask is rendered as grey; its spot is no plate"},
      {"gs", "defined_but_unused", {}, "tiffsep makes plates only for colorants the content paints"},
  };
  return list;
}

fs::path Script() {
  const char* source = std::getenv("PDFPARSE_SOURCE_DIR");
  fs::path dir = source != nullptr ? fs::path(source) / "tests" / "inks" : fs::path(__FILE__).parent_path();
  return dir / "peer_check.sh";
}

struct PeerAnswer {
  int status = -1;  // the script's exit status
  Names spots;
};

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

PeerAnswer AskPeer(const std::string& peer, const fs::path& pdf) {
  PeerAnswer answer;
  std::string command = "sh " + Quote(Script().string()) + " " + peer + " " + Quote(pdf.string()) + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return answer;
  std::string line;
  int c;
  while ((c = std::fgetc(pipe)) != EOF) {
    if (c == '\n') {
      if (!line.empty()) answer.spots.insert(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  int raw = ::pclose(pipe);
  answer.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return answer;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "inks-peer-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class PeerCheck : public testing::TestWithParam<const char*> {};

TEST_P(PeerCheck, SpotAnswersAgreeExceptWhereExplained) {
  const std::string peer = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const auto& c : inkpdfs::InkRuleCases()) {
    SCOPED_TRACE(c.name);
    auto pdf = inkpdfs::NewPdf();
    c.build(*pdf);
    const std::string bytes = inkpdfs::Write(*pdf);
    const fs::path file = dir.path() / (c.name + ".pdf");
    std::ofstream(file, std::ios::binary) << bytes;

    auto read = inkpdfs::Read(bytes);
    pdfcore::InkWalker walker;
    Names ours;
    for (const auto& ink : walker.pageInks(read->getAllPages().at(0))) {
      if (!ink.process) ours.insert(ink.name);
    }

    PeerAnswer answer = AskPeer(peer, file);
    if (answer.status == 77) GTEST_SKIP() << peer << " is not installed";
    ASSERT_EQ(answer.status, 0) << peer << " failed on " << file;

    Names expected = ours;
    for (const auto& d : KnownDifferences()) {
      if (peer == d.peer && c.name == d.caseName) expected = d.peerSpots;
    }
    EXPECT_EQ(answer.spots, expected) << "ours: " << testing::PrintToString(ours);
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerCheck, testing::Values("mutool", "gs"));

}  // namespace
