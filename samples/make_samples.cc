// Writes the sample PDFs that `make demo` asks about:
//   letter.pdf      three US-letter pages, Producer set
//   a4-cropped.pdf  A4 pages, the second with a crop box inside its media box
//   rotated.pdf     pages turned by an inherited /Rotate; no Producer entry
//   vrel-spot.pdf   a "Vrel" document whose last page has a spot ink
//   protected.pdf   encrypted, opened with the user password "marble"
//   damaged.pdf     cross-reference table gone, startxref wrong; repair reads it
// Every page carries a line of text and a filled square. The files are
// written with the tests' PDF builder.
// Usage: make_samples OUTDIR
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "pdfbuilder/PdfBuilder.h"

namespace {

using pdfparse::pdfbuilder::BuildPdf;
using pdfparse::pdfbuilder::DocLayout;

const std::string kLetterBox = "/MediaBox [0 0 612 792]";
const std::string kA4Box = "/MediaBox [0 0 595.276 841.89]";
const std::string kFont = "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>";

// Adds a page with a line of text and a filled square; `extraResources` and
// `extraContent` let a page use its own colour spaces.
void AddPage(DocLayout& doc, const std::string& box, const std::string& text, const std::string& extraKeys = "",
             const std::string& extraResources = "", const std::string& extraContent = "") {
  doc.pages.push_back(box + " " + extraKeys + " /Resources << " + kFont + " " + extraResources + " >>");
  doc.contents.push_back("0 0 0 1 k 72 600 100 100 re f\nBT /F1 24 Tf 72 720 Td (" + text + ") Tj ET\n" + extraContent);
}

// A document without pages yet, with Info /Producer (when not empty) and /Title.
DocLayout Doc(const std::string& producer, const std::string& title) {
  DocLayout doc;
  doc.pages.clear();
  doc.rootAttrs = "";
  if (!producer.empty()) doc.info["Producer"] = producer;
  doc.info["Title"] = title;
  return doc;
}

void Put(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + dir + "/" + name);
}

std::string Letter() {
  DocLayout doc = Doc("pdfparse sample writer", "Letter sample");
  for (int i = 1; i <= 3; ++i) AddPage(doc, kLetterBox, "Letter page " + std::to_string(i));
  return BuildPdf(doc);
}

std::string A4Cropped() {
  DocLayout doc = Doc("pdfparse sample writer", "A4 with crop boxes");
  AddPage(doc, kA4Box, "A4 page 1, crop box = media box");
  AddPage(doc, kA4Box, "A4 page 2, cropped", "/CropBox [28.35 28.35 566.93 813.54]");
  AddPage(doc, kA4Box, "A4 page 3");
  return BuildPdf(doc);
}

std::string Rotated() {
  DocLayout doc = Doc("", "Rotated sample without a producer");
  AddPage(doc, kLetterBox, "Rotated by the page tree");
  AddPage(doc, kLetterBox, "Rotated by the page itself", "/Rotate 180");
  // Inherited by every page that has no /Rotate of its own.
  doc.rootAttrs = "/Rotate 90";
  return BuildPdf(doc);
}

std::string VrelSpot() {
  DocLayout doc = Doc("Vrel Imposer 5.1 (sample)", "Vrel sample with a spot ink");
  AddPage(doc, kLetterBox, "Process colours only");
  AddPage(doc, kLetterBox, "Process colours only");
  const std::string separation =
      "/ColorSpace << /CS0 [/Separation /PANTONE#20185#20C /DeviceCMYK "
      "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.91 0.76 0] /N 1 >>] >>";
  AddPage(doc, kLetterBox, "Spot ink on the last page", "", separation, "/CS0 cs 1 scn 300 300 200 200 re f\n");
  return BuildPdf(doc);
}

std::string Protected() {
  DocLayout doc = Doc("pdfparse sample writer", "Protected sample");
  AddPage(doc, kLetterBox, "Opened with the password");
  AddPage(doc, kLetterBox, "Second page");
  doc.encryption = DocLayout::Encryption{"marble", "owner-of-the-sample"};
  return BuildPdf(doc);
}

std::string Damaged() {
  DocLayout doc = Doc("pdfparse sample writer", "Damaged sample");
  AddPage(doc, kLetterBox, "Damaged page 1");
  AddPage(doc, kLetterBox, "Damaged page 2");
  std::string bytes = BuildPdf(doc);
  // Drop the table and point startxref nowhere: a reader has to rebuild
  // the cross-references by scanning the objects.
  const size_t xref = bytes.rfind("\nxref\n");
  const size_t trailer = bytes.rfind("\ntrailer");
  const size_t startxref = bytes.rfind("startxref\n");
  if (xref == std::string::npos || trailer == std::string::npos || startxref == std::string::npos || xref > trailer) {
    throw std::runtime_error("unexpected layout of the written file");
  }
  std::string tail = bytes.substr(trailer, startxref - trailer) + "startxref\n999999\n%%EOF\n";
  return bytes.substr(0, xref) + tail;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  try {
    std::filesystem::create_directories(dir);
    Put(dir, "letter.pdf", Letter());
    Put(dir, "a4-cropped.pdf", A4Cropped());
    Put(dir, "rotated.pdf", Rotated());
    Put(dir, "vrel-spot.pdf", VrelSpot());
    Put(dir, "protected.pdf", Protected());
    Put(dir, "damaged.pdf", Damaged());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_samples: %s\n", e.what());
    return 1;
  }
  return 0;
}
