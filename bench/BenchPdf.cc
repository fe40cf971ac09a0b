#include "BenchPdf.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace pdfparse::bench {

namespace {

const char kLetter[] = "[0 0 612 792]";
const char kA4[] = "[0 0 595.276 841.89]";

class Writer {
 public:
  Writer() { out_ = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"; }

  long reserve() {
    offsets_.push_back(0);
    return static_cast<long>(offsets_.size());
  }

  void object(long number, const std::string& body) {
    offsets_[number - 1] = out_.size();
    out_ += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  }

  void stream(long number, const std::string& data) {
    object(number, "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
  }

  std::string finish(long root, long info) {
    const size_t xref = out_.size();
    out_ += "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
    char entry[24];
    for (size_t off : offsets_) {
      std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
      out_ += entry;
    }
    out_ += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " + Ref(root) + " /Info " + Ref(info) +
            " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return std::move(out_);
  }

  static std::string Ref(long n) { return std::to_string(n) + " 0 R"; }

 private:
  std::string out_;
  std::vector<size_t> offsets_;
};

struct Context {
  Writer w;
  long font = 0;
  long resources = 0;
  long spotResources = 0;
  long totalPages = 0;
  Shape shape = Shape::kFlat;
};

void WritePage(Context& c, long number, long parent, long index) {
  const long content = c.w.reserve();
  std::string dict = "<< /Type /Page /Parent " + Writer::Ref(parent) + " /Contents " + Writer::Ref(content);
  if (c.shape == Shape::kFlat) {
    dict += std::string(" /MediaBox ") + kLetter + " /Resources " + Writer::Ref(c.resources);
  } else {
    // Mixed: most pages inherit their node's box; some set their own, some
    // carry a crop box or their own rotation.
    if (index % 13 == 5) dict += std::string(" /MediaBox ") + (index % 2 ? kA4 : kLetter);
    if (index % 7 == 3) dict += " /CropBox [18 18 560 760]";
    if (index % 17 == 9) dict += " /Rotate 270";
    if (index == c.totalPages - 1) dict += " /Resources " + Writer::Ref(c.spotResources);
  }
  dict += " >>";
  c.w.object(number, dict);
  std::string text =
      "q 0 0 0 1 k 72 72 144 144 re f Q\nBT /F1 12 Tf 72 720 Td (Page " + std::to_string(index + 1) + ") Tj ET";
  if (index == c.totalPages - 1 && c.shape == Shape::kBalancedVrel) text += "\n/CS0 cs 1 scn 300 300 100 100 re f";
  c.w.stream(content, text);
}

// Writes the node `number` holding pages [first, first + count).
void WriteNode(Context& c, long number, long parent, long first, long count, int depth) {
  std::vector<long> kids;
  std::vector<std::pair<long, long>> ranges;
  if (c.shape == Shape::kFlat || count <= kFanOut) {
    for (long i = 0; i < count; ++i) {
      kids.push_back(c.w.reserve());
      ranges.push_back({first + i, 1});
    }
  } else {
    // Kids of near-equal size, each at most ceil(count / kFanOut) pages.
    long child = (count + kFanOut - 1) / kFanOut;
    for (long start = first; start < first + count; start += child) {
      kids.push_back(c.w.reserve());
      ranges.push_back({start, std::min(child, first + count - start)});
    }
  }
  std::string dict = "<< /Type /Pages /Count " + std::to_string(count) + " /Kids [";
  for (long k : kids) dict += Writer::Ref(k) + " ";
  dict += "]";
  if (parent != 0) dict += " /Parent " + Writer::Ref(parent);
  if (c.shape == Shape::kBalancedVrel) {
    if (parent == 0) {
      dict += std::string(" /MediaBox ") + kLetter + " /Resources " + Writer::Ref(c.resources);
    } else if (depth == 1 || (first / kFanOut) % 3 == 1) {
      dict += std::string(" /MediaBox ") + ((first / kFanOut) % 2 ? kA4 : kLetter);
    }
    if (depth >= 1 && (first / kFanOut) % 5 == 2) dict += " /Rotate 90";
  }
  dict += " >>";
  c.w.object(number, dict);
  const bool leafLevel = c.shape == Shape::kFlat || count <= kFanOut;
  for (size_t i = 0; i < kids.size(); ++i) {
    if (leafLevel) {
      WritePage(c, kids[i], number, ranges[i].first);
    } else {
      WriteNode(c, kids[i], number, ranges[i].first, ranges[i].second, depth + 1);
    }
  }
}

}  // namespace

std::string MakePdf(long pages, Shape shape) {
  Context c;
  c.shape = shape;
  c.totalPages = pages;
  const long root = c.w.reserve();
  const long info = c.w.reserve();
  const long pagesRoot = c.w.reserve();
  c.font = c.w.reserve();
  c.resources = c.w.reserve();
  c.spotResources = c.w.reserve();
  const long spotFunction = c.w.reserve();

  c.w.object(root, "<< /Type /Catalog /Pages " + Writer::Ref(pagesRoot) + " >>");
  c.w.object(info, shape == Shape::kFlat ? "<< /Producer (pdfparse bench writer, flat tree) >>"
                                         : "<< /Producer (Vrel Imposer 5.1, bench) >>");
  c.w.object(c.font, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  c.w.object(c.resources, "<< /Font << /F1 " + Writer::Ref(c.font) +
                              " >> /ColorSpace << /G0 [/CalGray << /WhitePoint [0.9505 1 1.089] >>] >> >>");
  c.w.object(spotFunction, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.5 1 0] /N 1 >>");
  c.w.object(c.spotResources, "<< /Font << /F1 " + Writer::Ref(c.font) +
                                  " >> /ColorSpace << /CS0 [/Separation /Bench#20Orange /DeviceCMYK " +
                                  Writer::Ref(spotFunction) + "] >> >>");
  WriteNode(c, pagesRoot, 0, 0, pages, 0);
  return c.w.finish(root, info);
}

bool WritePdf(const std::string& path, long pages, Shape shape) {
  const std::string bytes = MakePdf(pages, shape);
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool WriteLargeOnePagePdf(const std::string& path, unsigned long long bytes) {
  std::ofstream out(path, std::ios::binary);
  std::string head = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::vector<unsigned long long> offsets(7, 0);
  unsigned long long written = 0;
  auto put = [&](const std::string& text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    written += text.size();
  };
  auto object = [&](int num, const std::string& body) {
    offsets[static_cast<size_t>(num)] = written;
    put(std::to_string(num) + " 0 obj\n" + body + "\nendobj\n");
  };
  put(head);
  const std::string line = "0 0 m 612 792 l S\n";
  const unsigned long long lines = bytes / line.size() + 1;
  offsets[4] = written;
  put("4 0 obj\n<< /Length " + std::to_string(lines * line.size()) + " >>\nstream\n");
  std::string chunk;
  for (int i = 0; i < 4096; ++i) chunk += line;
  for (unsigned long long done = 0; done < lines;) {
    const unsigned long long n = std::min<unsigned long long>(4096, lines - done);
    put(n == 4096 ? chunk : chunk.substr(0, n * line.size()));
    done += n;
  }
  put("\nendstream\nendobj\n");
  object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(3,
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
         "/Resources << /ColorSpace << /CS0 [/Separation /Gold /DeviceCMYK 5 0 R] >> >> >>");
  object(5, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.2 1 0] /N 1 >>");
  object(6, "<< /Producer (Vrel bench large file) /Title (One large page) >>");
  const unsigned long long xref = written;
  std::string table = "xref\n0 7\n0000000000 65535 f \n";
  char entry[32];
  for (int num = 1; num < 7; ++num) {
    std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", offsets[static_cast<size_t>(num)]);
    table += entry;
  }
  put(table + "trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
  return static_cast<bool>(out);
}

}  // namespace pdfparse::bench
