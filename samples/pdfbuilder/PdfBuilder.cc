#include "pdfbuilder/PdfBuilder.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pdfparse::pdfbuilder {
namespace {

// Adds the entries of `text` (a dictionary body) to `dict`.
void AddEntries(QPDF& pdf, QPDFObjectHandle dict, const std::string& text) {
  QPDFObjectHandle extra = QPDFObjectHandle::parse(&pdf, "<< " + text + " >>");
  for (const std::string& key : extra.getKeys()) dict.replaceKey(key, extra.getKey(key));
}

// A /Pages node over pages[first, last): the pages themselves when they fit,
// else subtrees of at most `fan` kids each.
QPDFObjectHandle Node(QPDF& pdf, const std::vector<QPDFObjectHandle>& pages, size_t first, size_t last, size_t fan) {
  QPDFObjectHandle node = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Pages /Kids [] >>"));
  size_t step = 1;
  while (fan >= 2 && (last - first + step - 1) / step > fan) step *= fan;
  for (size_t i = first; i < last; i += step) {
    QPDFObjectHandle kid = step == 1 ? pages[i] : Node(pdf, pages, i, std::min(i + step, last), fan);
    kid.replaceKey("/Parent", node);
    node.getKey("/Kids").appendItem(kid);
  }
  node.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(last - first)));
  return node;
}

}  // namespace

DocLayout Pages(int n) { return {std::vector<std::string>(static_cast<size_t>(n))}; }

std::string BuildPdf(const DocLayout& doc) {
  QPDF pdf;
  pdf.emptyPDF();
  std::vector<QPDFObjectHandle> pages;
  for (const std::string& attrs : doc.pages) {
    pages.push_back(pdf.makeIndirectObject(QPDFObjectHandle::newDictionary()));
    AddEntries(pdf, pages.back(), "/Type /Page " + attrs);
    const size_t i = pages.size() - 1;
    if (i < doc.contents.size() && !doc.contents[i].empty()) {
      pages.back().replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, doc.contents[i]));
    }
  }
  QPDFObjectHandle top = Node(pdf, pages, 0, pages.size(), static_cast<size_t>(doc.fanout));
  AddEntries(pdf, top, doc.rootAttrs);
  pdf.getRoot().replaceKey("/Pages", top);
  if (!doc.info.empty() || !doc.infoRaw.empty()) {
    QPDFObjectHandle info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    for (const auto& [key, value] : doc.info) info.replaceKey("/" + key, QPDFObjectHandle::newString(value));
    AddEntries(pdf, info, doc.infoRaw);
    pdf.getTrailer().replaceKey("/Info", info);
  }
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setStaticID(true);
  writer.setObjectStreamMode(doc.objectStreams ? qpdf_o_generate : qpdf_o_disable);
  if (doc.encryption) {
    writer.setR6EncryptionParameters(doc.encryption->user.c_str(), doc.encryption->owner.c_str(), true, true, true,
                                     true, true, true, qpdf_r3p_full, true);
  }
  writer.write();
  std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::string Assemble(const RawDoc& doc) {
  std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n", table;
  for (size_t i = 0; i < doc.objects.size(); ++i) {
    std::string offset = std::to_string(out.size());
    table += std::string(10 - offset.size(), '0') + offset + " 00000 n \n";
    out += std::to_string(i + 1) + " 0 obj\n" + doc.objects[i] + "\nendobj\n";
  }
  std::string size = std::to_string(doc.objects.size() + 1), start = std::to_string(out.size());
  return out + "xref\n0 " + size + "\n0000000000 65535 f \n" + table + "trailer\n<< /Size " + size + " " + doc.trailer +
         " >>\nstartxref\n" + start + "\n%%EOF\n";
}


const char* const kEncryptEmbeddedOnly =
    "<< /Filter /Standard /V 4 /R 4 /Length 128 /CF << /StdCF << /CFM /AESV2 /AuthEvent /EFOpen /Length 16 >> >> "
    "/StmF /Identity /StrF /Identity /EFF /StdCF /O <1111111111111111111111111111111111111111111111111111111111111111> "
    "/U <2222222222222222222222222222222222222222222222222222222222222222> /P -4 >>";
const char* const kEncryptStreamsOnly =
    "<< /Filter /Standard /V 4 /R 4 /Length 128 /CF << /StdCF << /CFM /AESV2 /AuthEvent /DocOpen /Length 16 >> >> "
    "/StmF /StdCF /StrF /Identity /O <1111111111111111111111111111111111111111111111111111111111111111> "
    "/U <2222222222222222222222222222222222222222222222222222222222222222> /P -4 >>";
const char* const kEncryptStrings =
    "<< /Filter /Standard /V 4 /R 4 /Length 128 /CF << /StdCF << /CFM /AESV2 /AuthEvent /DocOpen /Length 16 >> >> "
    "/StmF /Identity /StrF /StdCF /O <1111111111111111111111111111111111111111111111111111111111111111> "
    "/U <2222222222222222222222222222222222222222222222222222222222222222> /P -4 >>";

std::string WithEncrypt(const std::string& pdf, const std::string& encrypt, bool asObject) {
  QPDF base;
  base.processMemoryFile("base", pdf.data(), pdf.size());
  QPDFObjectHandle trailer = base.getTrailer();
  const long long size = trailer.getKey("/Size").getIntValue();
  const size_t at = pdf.rfind("startxref");
  if (at == std::string::npos || size <= 0) throw std::runtime_error("WithEncrypt: no startxref or /Size");
  const std::string prev = std::to_string(std::stoull(pdf.substr(at + 9, 32)));
  std::string out = pdf + "\n";
  const size_t object = out.size();
  std::string value = encrypt;
  if (asObject) {
    out += std::to_string(size) + " 0 obj\n" + encrypt + "\nendobj\n";
    value = std::to_string(size) + " 0 R";
  }
  const size_t xref = out.size();
  out += "xref\n0 1\n0000000000 65535 f \n";
  if (asObject) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object);
    out += std::to_string(size) + " 1\n" + entry;
  }
  out += "trailer\n<< /Size " + std::to_string(size + (asObject ? 1 : 0)) + " /Root " +
         trailer.getKey("/Root").unparse();
  if (trailer.hasKey("/Info")) out += " /Info " + trailer.getKey("/Info").unparse();
  out += " /ID [<0123456789abcdef0123456789abcdef> <0123456789abcdef0123456789abcdef>] /Encrypt " + value +
         " /Prev " + prev + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string Utf16Be(const std::u16string& text) {
  std::string out = "\xFE\xFF";
  for (char16_t u : text) out += {static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
  return out;
}

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "pdfparse-test-XXXXXX").string()) {
  if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
  std::string full = file(name);
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full);
  return full;
}

}  // namespace pdfparse::pdfbuilder
