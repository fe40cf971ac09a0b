// Writes the fuzzers' small seed corpus into the directory given: a few
// valid documents of different shapes and a few damaged ones.
#include <cstdio>
#include <fstream>
#include <string>

#include "pdfbuilder/PdfBuilder.h"

namespace {

void Put(const std::string& dir, const std::string& name, const std::string& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  using pdfparse::pdfbuilder::DocLayout;

  DocLayout one = pdfparse::pdfbuilder::Pages(1);
  one.info["Producer"] = "seed";
  std::string plain = pdfparse::pdfbuilder::BuildPdf(one);
  Put(dir, "one-page.pdf", plain);

  DocLayout shaped;
  shaped.rootAttrs = "/MediaBox [0 0 595 842] /Rotate 90";
  shaped.pages = {"/Rotate -90 /CropBox [10 10 300 400]", "", "/MediaBox [0 0 200 100]"};
  shaped.fanout = 2;
  shaped.info["Producer"] = pdfparse::pdfbuilder::Utf16Be(u"Vrel \u00E9");
  Put(dir, "shaped.pdf", pdfparse::pdfbuilder::BuildPdf(shaped));

  DocLayout compressed = pdfparse::pdfbuilder::Pages(4);
  compressed.objectStreams = true;
  compressed.fanout = 2;
  compressed.info["Producer"] = "objstm";
  std::string os = pdfparse::pdfbuilder::BuildPdf(compressed);
  Put(dir, "object-streams.pdf", os);

  DocLayout sealed = pdfparse::pdfbuilder::Pages(1);
  sealed.encryption = DocLayout::Encryption{"marble", "owner"};
  Put(dir, "encrypted.pdf", pdfparse::pdfbuilder::BuildPdf(sealed));

  Put(dir, "no-trailer.pdf", plain.substr(0, plain.rfind("trailer")));
  Put(dir, "cut-xref-stream.pdf", os.substr(0, os.size() * 3 / 4));

  pdfparse::pdfbuilder::RawDoc loop;
  loop.objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                  "<< /Type /Pages /Kids [3 0 R 2 0 R (x) 9 0 R] /Count 99 /MediaBox [0 0 9 9] >>",
                  "<< /Type /Page /Parent 2 0 R /Rotate 450 >>"};
  loop.trailer = "/Root 1 0 R /Info << /Producer /Name >>";
  Put(dir, "loop.pdf", pdfparse::pdfbuilder::Assemble(loop));

  // The shapes the hostile-file tests build, small.
  DocLayout units = pdfparse::pdfbuilder::Pages(2);
  units.pages = {"/MediaBox [0 0 1000 500] /UserUnit 10", "/MediaBox [0 0 40000 50000]"};
  units.info["Producer"] = "Vrel units";
  Put(dir, "user-units.pdf", pdfparse::pdfbuilder::BuildPdf(units));

  DocLayout spot = pdfparse::pdfbuilder::Pages(2);
  spot.info["Producer"] = "Vrel spot";
  spot.pages[1] =
      "/Resources << /ColorSpace << /CS0 [/Separation /Gold /DeviceCMYK << /FunctionType 2 /Domain [0 1] "
      "/C0 [0 0 0 0] /C1 [0 0.2 0.8 0] /N 1 >>] >> /XObject << /F0 << /Type /XObject /Subtype /Form "
      "/BBox [0 0 1 1] /Resources << /ColorSpace << /CS1 [/Separation /Silver /DeviceGray << /FunctionType 2 "
      "/Domain [0 1] /C0 [0] /C1 [1] /N 1 >>] >> >> /Length 0 >> >> >>";
  Put(dir, "spot.pdf", pdfparse::pdfbuilder::BuildPdf(spot));

  pdfparse::pdfbuilder::RawDoc repeated;
  std::string kids;
  for (int i = 0; i < 500; ++i) kids += "3 0 R ";
  repeated.objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [" + kids + "] /Count 500 >>",
                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] /Rotate 99999999999999999999990 >>"};
  Put(dir, "repeated-kids.pdf", pdfparse::pdfbuilder::Assemble(repeated));
  return 0;
}
