// Writes the sample PDFs that `make demo` asks about:
//   letter.pdf      three US-letter pages, Producer set
//   a4-cropped.pdf  A4 pages, the second with a crop box inside its media box
//   rotated.pdf     pages turned by an inherited /Rotate; no Producer entry
//   vrel-spot.pdf   a "Vrel" document whose last page has a spot ink
//   protected.pdf   encrypted, opened with the user password "marble"
//   damaged.pdf     cross-reference table gone, startxref wrong; repair reads it
// Usage: make_samples OUTDIR
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char kLetterBox[] = "[0 0 612 792]";
const char kA4Box[] = "[0 0 595.276 841.89]";

QPDFObjectHandle Font(QPDF& pdf) {
  return pdf.makeIndirectObject(
      QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
}

// A page with a line of text and a filled square; `resources` and
// `extraContent` let a page use its own colour spaces.
QPDFObjectHandle AddPage(QPDF& pdf, QPDFObjectHandle font, const std::string& mediaBox,
                         const std::string& text, const std::string& extraKeys = "",
                         const std::string& extraResources = "", const std::string& extraContent = "") {
  QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox " + mediaBox + " " + extraKeys +
                                                  " /Resources << " + extraResources + " >> >>");
  page.getKey("/Resources").replaceKey("/Font", QPDFObjectHandle::parse("<< >>"));
  page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
  const std::string content = "0 0 0 1 k 72 600 100 100 re f\nBT /F1 24 Tf 72 720 Td (" + text + ") Tj ET\n" +
                              extraContent;
  page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
  page = pdf.makeIndirectObject(page);
  QPDFPageDocumentHelper(pdf).addPage(page, false);
  return page;
}

void SetInfo(QPDF& pdf, const std::string& producer, const std::string& title) {
  QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
  if (!producer.empty()) info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString(producer));
  info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title));
  pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
}

void Write(QPDF& pdf, const std::string& path) {
  QPDFWriter w(pdf, path.c_str());
  w.setDeterministicID(true);
  w.write();
}

void Letter(const std::string& dir) {
  QPDF pdf;
  pdf.emptyPDF();
  auto font = Font(pdf);
  for (int i = 1; i <= 3; ++i) AddPage(pdf, font, kLetterBox, "Letter page " + std::to_string(i));
  SetInfo(pdf, "pdfparse sample writer", "Letter sample");
  Write(pdf, dir + "/letter.pdf");
}

void A4Cropped(const std::string& dir) {
  QPDF pdf;
  pdf.emptyPDF();
  auto font = Font(pdf);
  AddPage(pdf, font, kA4Box, "A4 page 1, crop box = media box");
  AddPage(pdf, font, kA4Box, "A4 page 2, cropped", "/CropBox [28.35 28.35 566.93 813.54]");
  AddPage(pdf, font, kA4Box, "A4 page 3");
  SetInfo(pdf, "pdfparse sample writer", "A4 with crop boxes");
  Write(pdf, dir + "/a4-cropped.pdf");
}

void Rotated(const std::string& dir) {
  QPDF pdf;
  pdf.emptyPDF();
  auto font = Font(pdf);
  AddPage(pdf, font, kLetterBox, "Rotated by the page tree");
  AddPage(pdf, font, kLetterBox, "Rotated by the page itself", "/Rotate 180");
  // Inherited by every page that has no /Rotate of its own.
  pdf.getRoot().getKey("/Pages").replaceKey("/Rotate", QPDFObjectHandle::newInteger(90));
  SetInfo(pdf, "", "Rotated sample without a producer");
  Write(pdf, dir + "/rotated.pdf");
}

void VrelSpot(const std::string& dir) {
  QPDF pdf;
  pdf.emptyPDF();
  auto font = Font(pdf);
  AddPage(pdf, font, kLetterBox, "Process colours only");
  AddPage(pdf, font, kLetterBox, "Process colours only");
  const std::string separation =
      "/ColorSpace << /CS0 [/Separation /PANTONE#20185#20C /DeviceCMYK "
      "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.91 0.76 0] /N 1 >>] >>";
  AddPage(pdf, font, kLetterBox, "Spot ink on the last page", "", separation, "/CS0 cs 1 scn 300 300 200 200 re f\n");
  SetInfo(pdf, "Vrel Imposer 5.1 (sample)", "Vrel sample with a spot ink");
  Write(pdf, dir + "/vrel-spot.pdf");
}

void Protected(const std::string& dir) {
  QPDF pdf;
  pdf.emptyPDF();
  auto font = Font(pdf);
  AddPage(pdf, font, kLetterBox, "Opened with the password");
  AddPage(pdf, font, kLetterBox, "Second page");
  SetInfo(pdf, "pdfparse sample writer", "Protected sample");
  QPDFWriter w(pdf, (dir + "/protected.pdf").c_str());
  w.setStaticID(true);  // same bytes on every build
  w.setR6EncryptionParameters("marble", "owner-of-the-sample", true, true, true, true, true, true,
                              qpdf_r3p_full, true);
  w.write();
}

void Damaged(const std::string& dir) {
  QPDF pdf;
  pdf.emptyPDF();
  auto font = Font(pdf);
  AddPage(pdf, font, kLetterBox, "Damaged page 1");
  AddPage(pdf, font, kLetterBox, "Damaged page 2");
  SetInfo(pdf, "pdfparse sample writer", "Damaged sample");
  QPDFWriter w(pdf);
  w.setOutputMemory();
  w.setDeterministicID(true);
  w.setObjectStreamMode(qpdf_o_disable);
  w.write();
  auto buffer = w.getBufferSharedPointer();
  std::string bytes(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
  // Drop the table and point startxref nowhere: a reader has to rebuild
  // the cross-references by scanning the objects.
  const size_t xref = bytes.rfind("\nxref\n");
  const size_t trailer = bytes.rfind("\ntrailer");
  const size_t startxref = bytes.rfind("startxref\n");
  if (xref == std::string::npos || trailer == std::string::npos || startxref == std::string::npos ||
      xref > trailer) {
    throw std::runtime_error("unexpected layout of the written file");
  }
  std::string tail = bytes.substr(trailer, startxref - trailer) + "startxref\n999999\n%%EOF\n";
  bytes = bytes.substr(0, xref) + tail;
  std::ofstream(dir + "/damaged.pdf", std::ios::binary) << bytes;
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
    Letter(dir);
    A4Cropped(dir);
    Rotated(dir);
    VrelSpot(dir);
    Protected(dir);
    Damaged(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_samples: %s\n", e.what());
    return 1;
  }
  return 0;
}
