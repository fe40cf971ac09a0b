#include "pdfbuilder/Seeds.h"

#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::pdfbuilder {

std::vector<std::pair<std::string, std::string>> SeedDocuments() {
  std::vector<std::pair<std::string, std::string>> out;
  auto put = [&out](const std::string& name, const std::string& bytes) { out.emplace_back(name, bytes); };

  DocLayout one = Pages(1);
  one.info["Producer"] = "seed";
  std::string plain = BuildPdf(one);
  put("one-page.pdf", plain);

  DocLayout shaped;
  shaped.rootAttrs = "/MediaBox [0 0 595 842] /Rotate 90";
  shaped.pages = {"/Rotate -90 /CropBox [10 10 300 400]", "", "/MediaBox [0 0 200 100]"};
  shaped.fanout = 2;
  shaped.info["Producer"] = Utf16Be(u"Vrel \u00E9");
  put("shaped.pdf", BuildPdf(shaped));

  DocLayout compressed = Pages(4);
  compressed.objectStreams = true;
  compressed.fanout = 2;
  compressed.info["Producer"] = "objstm";
  std::string os = BuildPdf(compressed);
  put("object-streams.pdf", os);

  DocLayout sealed = Pages(1);
  sealed.encryption = DocLayout::Encryption{"marble", "owner"};
  put("encrypted.pdf", BuildPdf(sealed));

  // Encrypted, and yet readable without a password; or not encrypted at all.
  put("encrypted-embedded-only.pdf", WithEncrypt(os, kEncryptEmbeddedOnly));
  put("encrypted-streams-only.pdf", WithEncrypt(plain, kEncryptStreamsOnly));
  put("encrypted-streams-only-objstm.pdf", WithEncrypt(os, kEncryptStreamsOnly));
  put("encrypted-strings.pdf", WithEncrypt(plain, kEncryptStrings));
  put("encrypt-not-a-dictionary.pdf", WithEncrypt(plain, "5", false));
  put("encrypt-refers-to-an-integer.pdf", WithEncrypt(os, "42"));

  put("no-trailer.pdf", plain.substr(0, plain.rfind("trailer")));
  put("cut-xref-stream.pdf", os.substr(0, os.size() * 3 / 4));

  RawDoc loop;
  loop.objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                  "<< /Type /Pages /Kids [3 0 R 2 0 R (x) 9 0 R] /Count 99 /MediaBox [0 0 9 9] >>",
                  "<< /Type /Page /Parent 2 0 R /Rotate 450 >>"};
  loop.trailer = "/Root 1 0 R /Info << /Producer /Name >>";
  put("loop.pdf", Assemble(loop));

  // The shapes the hostile-file tests build, small.
  DocLayout units = Pages(2);
  units.pages = {"/MediaBox [0 0 1000 500] /UserUnit 10", "/MediaBox [0 0 40000 50000]"};
  units.info["Producer"] = "Vrel units";
  put("user-units.pdf", BuildPdf(units));

  DocLayout spot = Pages(2);
  spot.info["Producer"] = "Vrel spot";
  spot.pages[1] =
      "/Resources << /ColorSpace << /CS0 [/Separation /Gold /DeviceCMYK << /FunctionType 2 /Domain [0 1] "
      "/C0 [0 0 0 0] /C1 [0 0.2 0.8 0] /N 1 >>] >> /XObject << /F0 << /Type /XObject /Subtype /Form "
      "/BBox [0 0 1 1] /Resources << /ColorSpace << /CS1 [/Separation /Silver /DeviceGray << /FunctionType 2 "
      "/Domain [0 1] /C0 [0] /C1 [1] /N 1 >>] >> >> /Length 0 >> >> >>";
  put("spot.pdf", BuildPdf(spot));

  RawDoc repeated;
  std::string kids;
  for (int i = 0; i < 500; ++i) kids += "3 0 R ";
  repeated.objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [" + kids + "] /Count 500 >>",
                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] /Rotate 99999999999999999999990 >>"};
  put("repeated-kids.pdf", Assemble(repeated));
  return out;
}

}  // namespace pdfparse::pdfbuilder
