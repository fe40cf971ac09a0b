#include "support/PdfBuilder.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pdftest {
namespace {

QPDFObjectHandle Parse(QPDF& pdf, const std::string& text) {
  return QPDFObjectHandle::parse(&pdf, text, "test builder");
}

// Adds the entries of `text` (a dictionary body) to `dict`.
void AddEntries(QPDF& pdf, QPDFObjectHandle dict, const std::string& text) {
  if (text.empty()) return;
  QPDFObjectHandle extra = Parse(pdf, "<< " + text + " >>");
  for (const std::string& key : extra.getKeys()) dict.replaceKey(key, extra.getKey(key));
}

struct Node {
  QPDFObjectHandle handle;
  long long count;
};

}  // namespace

DocSpec Pages(int n) {
  DocSpec spec;
  spec.pages.assign(static_cast<size_t>(n), "");
  return spec;
}

std::string BuildPdf(const DocSpec& spec) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle root = pdf.getRoot();

  std::vector<Node> level;
  for (const std::string& attrs : spec.pages) {
    QPDFObjectHandle page = pdf.makeIndirectObject(Parse(pdf, "<< /Type /Page >>"));
    AddEntries(pdf, page, attrs);
    level.push_back({page, 1});
  }
  // Group into intermediate nodes until the root can take them all.
  while (spec.fanout >= 2 && level.size() > static_cast<size_t>(spec.fanout)) {
    std::vector<Node> up;
    for (size_t i = 0; i < level.size(); i += static_cast<size_t>(spec.fanout)) {
      QPDFObjectHandle node = pdf.makeIndirectObject(Parse(pdf, "<< /Type /Pages /Kids [] >>"));
      long long count = 0;
      for (size_t k = i; k < level.size() && k < i + static_cast<size_t>(spec.fanout); ++k) {
        node.getKey("/Kids").appendItem(level[k].handle);
        level[k].handle.replaceKey("/Parent", node);
        count += level[k].count;
      }
      node.replaceKey("/Count", QPDFObjectHandle::newInteger(count));
      up.push_back({node, count});
    }
    level = std::move(up);
  }
  QPDFObjectHandle top = pdf.makeIndirectObject(Parse(pdf, "<< /Type /Pages /Kids [] >>"));
  long long total = 0;
  for (Node& node : level) {
    top.getKey("/Kids").appendItem(node.handle);
    node.handle.replaceKey("/Parent", top);
    total += node.count;
  }
  top.replaceKey("/Count", QPDFObjectHandle::newInteger(total));
  AddEntries(pdf, top, spec.rootAttrs);
  root.replaceKey("/Pages", top);

  if (!spec.info.empty() || !spec.infoRaw.empty()) {
    QPDFObjectHandle info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    for (const auto& [key, value] : spec.info) info.replaceKey("/" + key, QPDFObjectHandle::newString(value));
    AddEntries(pdf, info, spec.infoRaw);
    pdf.getTrailer().replaceKey("/Info", info);
  }

  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setStaticID(true);
  writer.setObjectStreamMode(spec.objectStreams ? qpdf_o_generate : qpdf_o_disable);
  if (spec.encryption) {
    writer.setR6EncryptionParameters(spec.encryption->user.c_str(), spec.encryption->owner.c_str(), true, true,
                                     true, true, true, true, qpdf_r3p_full, true);
  }
  writer.write();
  std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::string Assemble(const RawDoc& doc) {
  std::string out = doc.header;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < doc.objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + doc.objects[i] + "\nendobj\n";
  }
  if (!doc.xref) return out;
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(doc.objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(doc.objects.size() + 1) + " " + doc.trailer + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

size_t ObjectOffset(const std::string& bytes, int num) {
  std::string needle = "\n" + std::to_string(num) + " 0 obj";
  size_t at = bytes.find(needle);
  return at == std::string::npos ? at : at + 1;
}

std::string Utf16Be(const std::u16string& text) {
  std::string out = "\xFE\xFF";
  for (char16_t u : text) {
    out.push_back(static_cast<char>(u >> 8));
    out.push_back(static_cast<char>(u & 0xFF));
  }
  return out;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/pdfparse-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
  std::string full = file(name);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full);
  return full;
}

}  // namespace pdftest
