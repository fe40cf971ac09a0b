#include "Format.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "shared/TextCodec.h"

namespace pdfparse::inquirytool {

namespace {

// Widths of the columns after the file.
constexpr size_t kStatusWidth = 12;
constexpr size_t kPagesWidth = 7;
constexpr size_t kRotWidth = 4;
constexpr size_t kValueWidth = 28;
constexpr size_t kModeWidth = 9;
constexpr size_t kBoxWidth = 34;
constexpr size_t kSubTypeWidth = 7;
const char kGap[] = "  ";

std::string Trimmed(double value, int decimals) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  std::string s(buf, ec == std::errc() ? end : buf);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string PadRight(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return w >= width ? s : s + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return w >= width ? s : std::string(width - w, ' ') + s;
}

nlohmann::ordered_json OrNull(const std::optional<int32_t>& v) {
  return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

double Rounded(double v, double scale) { return std::round(v * scale) / scale; }

}  // namespace

std::string FormatPoints(double points) { return Trimmed(points, 2); }

std::string FormatMillimetres(double points) { return Trimmed(points * kMmPerPoint, 1); }

std::string FormatMediaBox(const std::array<float, 4>& box) {
  const double width = static_cast<double>(box[2]) - box[0];
  const double height = static_cast<double>(box[1]) - box[3];
  return FormatPoints(width) + " x " + FormatPoints(height) + " pt (" + FormatMillimetres(width) + " x " +
         FormatMillimetres(height) + " mm)";
}

std::string PrintableText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t len = shared::Utf8SequenceAt(text, i);
    if (len > 1) {
      out.append(text, i, len);
      i += len;
      continue;
    }
    if (len == 1 && c >= 0x20 && c != 0x7F) {
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
    ++i;
  }
  return out;
}

size_t DisplayWidth(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Truncate(const std::string& text, size_t width) {
  if (DisplayWidth(text) <= width) return text;
  if (width < 3) return std::string(width, '.');
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < text.size() && chars < width - 3; ++chars) {
    size_t len = 1;
    while (i + len < text.size() && (static_cast<unsigned char>(text[i + len]) & 0xC0) == 0x80) ++len;
    out.append(text, i, len);
    i += len;
  }
  return out + "...";
}

TextTable::TextTable(const std::string& key, size_t fileWidth, bool inks)
    : key_(PrintableText(key)), fileWidth_(std::max<size_t>(fileWidth, 4)), inks_(inks) {}

namespace {

std::string InkNames(const std::vector<InkName>& inks) {
  if (inks.empty()) return "-";
  std::string names;
  for (const InkName& ink : inks) names += (names.empty() ? "" : ", ") + PrintableText(ink.name);
  return names;
}

nlohmann::ordered_json InkJson(const std::vector<InkName>& inks) {
  auto list = nlohmann::ordered_json::array();
  for (const InkName& ink : inks) list.push_back({{"name", ink.name}, {"process", ink.process}});
  return list;
}

nlohmann::ordered_json FailureJson(const std::optional<Failure>& failure) {
  if (!failure) return nullptr;
  return {{"code", failure->code}, {"message", failure->message}};
}

std::string Dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string TextTable::header() const {
  return PadRight("FILE", fileWidth_) + kGap + PadRight("STATUS", kStatusWidth) + kGap + PadLeft("PAGES", kPagesWidth) +
         kGap + PadLeft("ROT", kRotWidth) + kGap + PadRight(Truncate(key_, kValueWidth), kValueWidth) + kGap +
         PadRight("MODE", kModeWidth) + kGap + PadRight("MEDIA BOX", kBoxWidth) + kGap +
         PadRight("SUBTYPE", kSubTypeWidth) + kGap + "SPOT" + (inks_ ? std::string(kGap) + "INKS" : "");
}


std::string TextTable::row(const Answer& a) const {
  const std::string none = "-";
  std::string mode = none;
  if (a.pageMode) {
    mode = *a.pageMode == 3 ? "3 same" : *a.pageMode == 1 ? "1 differs" : std::to_string(*a.pageMode);
  }
  std::string subType = none;
  if (a.subType) {
    subType = *a.subType == 1 ? "Vrel" : *a.subType == -1 ? "other" : std::to_string(*a.subType);
  }
  std::string spot = none;
  if (a.hasSpotInk) spot = *a.hasSpotInk == 1 ? "yes" : *a.hasSpotInk == 0 ? "no" : std::to_string(*a.hasSpotInk);

  const std::string status = StatusName(a.status) + (a.repaired ? ", repaired" : "");
  std::string line = PadRight(PrintableText(a.file), fileWidth_) + kGap + PadRight(status, kStatusWidth) +
                     kGap + PadLeft(a.numPages ? std::to_string(*a.numPages) : none, kPagesWidth) + kGap +
                     PadLeft(a.rotation ? std::to_string(*a.rotation) : none, kRotWidth) + kGap +
                     PadRight(a.infoValue ? Truncate(PrintableText(*a.infoValue), kValueWidth) : none, kValueWidth) +
                     kGap + PadRight(mode, kModeWidth) + kGap +
                     PadRight(a.mediaBox ? FormatMediaBox(*a.mediaBox) : none, kBoxWidth) + kGap +
                     PadRight(subType, kSubTypeWidth) + kGap + spot;
  if (a.inks) line += std::string(4 - std::min<size_t>(4, DisplayWidth(spot)), ' ') + kGap + InkNames(*a.inks);
  if (a.failure) line += "  (" + PrintableText(a.failure->code + ": " + a.failure->message) + ")";
  return line;
}

std::string JsonLine(const Answer& a) {
  using json = nlohmann::ordered_json;
  json j;
  j["schema"] = kJsonSchema;
  j["file"] = a.file;
  j["index"] = a.index;
  j["level"] = a.level;
  j["status"] = a.status;
  j["statusText"] = StatusName(a.status);
  j["meaning"] = StatusMeaning(a.status);
  j["succeeded"] = a.succeeded;
  j["numPages"] = OrNull(a.numPages);
  j["rotation"] = OrNull(a.rotation);
  j["infoKey"] = a.key;
  j["infoValue"] = a.infoValue ? json(*a.infoValue) : json(nullptr);
  j["pageMode"] = OrNull(a.pageMode);
  if (a.mediaBox) {
    const auto& b = *a.mediaBox;
    const double width = static_cast<double>(b[2]) - b[0];
    const double height = static_cast<double>(b[1]) - b[3];
    j["mediaBox"] = json::array({Rounded(b[0], 1000), Rounded(b[1], 1000), Rounded(b[2], 1000), Rounded(b[3], 1000)});
    j["widthPt"] = Rounded(width, 1000);
    j["heightPt"] = Rounded(height, 1000);
    j["widthMm"] = Rounded(width * kMmPerPoint, 100);
    j["heightMm"] = Rounded(height * kMmPerPoint, 100);
  } else {
    j["mediaBox"] = nullptr;
    j["widthPt"] = nullptr;
    j["heightPt"] = nullptr;
    j["widthMm"] = nullptr;
    j["heightMm"] = nullptr;
  }
  j["subType"] = OrNull(a.subType);
  j["hasSpotInk"] = a.hasSpotInk ? json(*a.hasSpotInk) : json(nullptr);
  j["repaired"] = a.repaired;
  j["warnings"] = a.warnings;
  if (a.inks) j["inks"] = InkJson(*a.inks);
  j["elapsedMs"] = Rounded(a.elapsedMs, 1000);
  if (a.failure) j["error"] = FailureJson(a.failure);
  return Dump(j);
}

std::string FormatBox(const pdfparse_box& b) {
  return "[" + FormatPoints(b.llx) + " " + FormatPoints(b.lly) + " " + FormatPoints(b.urx) + " " +
         FormatPoints(b.ury) + "]";
}

namespace {

constexpr size_t kPageWidth = 6;
constexpr size_t kPageBoxWidth = 28;
constexpr size_t kUnitWidth = 5;
const char* const kBoxNames[5] = {"MEDIA", "CROP", "BLEED", "TRIM", "ART"};
const char* const kBoxKeys[5] = {"mediaBox", "cropBox", "bleedBox", "trimBox", "artBox"};

}  // namespace

std::string PageTextTable::header() const {
  std::string line = PadRight("FILE", fileWidth_) + kGap + PadLeft("PAGE", kPageWidth);
  for (const char* name : kBoxNames) line += kGap + PadRight(name, kPageBoxWidth);
  return line + kGap + PadLeft("ROT", kRotWidth) + kGap + PadLeft("UNIT", kUnitWidth) + kGap + "INKS";
}

std::vector<std::string> PageTextTable::rows(const PageAnswer& a) const {
  const std::string file = PadRight(PrintableText(a.file), fileWidth_) + kGap;
  if (a.failure) {
    return {file + PadLeft("-", kPageWidth) + kGap + "failed" + (a.repaired ? ", repaired" : "") + "  (" +
            PrintableText(a.failure->code + ": " + a.failure->message) + ")"};
  }
  std::vector<std::string> lines;
  lines.reserve(a.pages.size());
  for (const PageRow& p : a.pages) {
    std::string line = file + PadLeft(std::to_string(p.index + 1), kPageWidth);
    for (const pdfparse_box& box : p.boxes) line += kGap + PadRight(FormatBox(box), kPageBoxWidth);
    line += kGap + PadLeft(std::to_string(p.rotation), kRotWidth) + kGap +
            PadLeft(Trimmed(p.userUnit, 4), kUnitWidth) + kGap + InkNames(p.inks);
    if (a.repaired) line += "  (repaired)";
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> PageJsonLines(const PageAnswer& a) {
  using json = nlohmann::ordered_json;
  auto base = [&] {
    json j;
    j["schema"] = kJsonSchema;
    j["file"] = a.file;
    j["index"] = a.index;
    j["repaired"] = a.repaired;
    return j;
  };
  if (a.failure) {
    json j = base();
    j["page"] = nullptr;
    j["error"] = FailureJson(a.failure);
    return {Dump(j)};
  }
  std::vector<std::string> lines;
  lines.reserve(a.pages.size());
  for (const PageRow& p : a.pages) {
    json j = base();
    j["page"] = p.index + 1;
    for (size_t i = 0; i < 5; ++i) {
      const pdfparse_box& b = p.boxes[i];
      j[kBoxKeys[i]] = json::array({Rounded(b.llx, 1000), Rounded(b.lly, 1000), Rounded(b.urx, 1000), Rounded(b.ury, 1000)});
    }
    j["rotation"] = p.rotation;
    j["userUnit"] = p.userUnit;
    j["inks"] = InkJson(p.inks);
    lines.push_back(Dump(j));
  }
  return lines;
}

}  // namespace pdfparse::inquirytool
