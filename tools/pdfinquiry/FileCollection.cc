#include "FileCollection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace pdfparse::inquirytool {

namespace fs = std::filesystem;

bool HasPdfExtension(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return ext == ".pdf";
}

void FileCollector::expand(const std::string& path, std::vector<Candidate>* out) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) {
    out->push_back({path, {}});
    return;
  }
  if (!recursive_) {
    out->push_back({path, "is a directory (use --recursive)"});
    return;
  }
  walk(path, 0, out);
}

void FileCollector::walk(const std::string& dir, int depth, std::vector<Candidate>* out) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(dir, ec);
  if (ec) {
    out->push_back({dir, "cannot read directory: " + ec.message()});
    return;
  }
  if (!visited_.insert(canonical.string()).second) return;  // loop or walked already
  if (depth > kMaxWalkDepth) {
    out->push_back({dir, "directory nesting too deep"});
    return;
  }

  std::vector<std::string> names;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    out->push_back({dir, "cannot read directory: " + ec.message()});
    return;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) out->push_back({dir, "cannot read directory: " + ec.message()});
  std::sort(names.begin(), names.end());

  for (const auto& name : names) {
    const std::string child = (fs::path(dir) / name).string();
    std::error_code sec;
    const fs::file_status st = fs::status(child, sec);  // follows links
    if (fs::is_directory(st)) {
      walk(child, depth + 1, out);
    } else if (HasPdfExtension(name)) {
      // A dangling link or unreadable entry still gets its row.
      out->push_back({child, sec ? "cannot read: " + sec.message() : std::string()});
    }
  }
}

std::optional<Candidate> NextListedPath(std::istream& in) {
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.find('\0') != std::string::npos) {
      std::string shown = line;
      std::replace(shown.begin(), shown.end(), '\0', '?');
      return Candidate{shown, "file name contains a NUL byte"};
    }
    return Candidate{line, {}};
  }
  return std::nullopt;
}

std::string CheckReadable(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
  struct stat st;
  std::string reason;
  if (::fstat(fd, &st) != 0) {
    reason = std::string("cannot open: ") + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    reason = "is a directory (use --recursive)";
  } else if (!S_ISREG(st.st_mode)) {
    reason = "not a regular file";
  }
  ::close(fd);
  return reason;
}

}  // namespace pdfparse::inquirytool
