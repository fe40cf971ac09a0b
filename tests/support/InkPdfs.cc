#include "support/InkPdfs.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFWriter.hh>

namespace pdfparse::test::inkpdfs {

std::unique_ptr<QPDF> NewPdf() {
  auto pdf = std::make_unique<QPDF>();
  pdf->emptyPDF();
  return pdf;
}

// In an array, since a reference alone does not parse as an object.
QPDFObjectHandle Obj(QPDF& pdf, const std::string& text) {
  return QPDFObjectHandle::parse(&pdf, "[" + text + "]").getArrayItem(0);
}

std::string Ind(QPDF& pdf, std::string text) {
  QPDFObjectHandle h = pdf.makeIndirectObject(QPDFObjectHandle::newArray());
  for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, h.unparse());
  pdf.replaceObject(h.getObjGen(), Obj(pdf, text));
  return h.unparse();
}

std::string Stream(QPDF& pdf, const std::string& dict, const std::string& data) {
  QPDFObjectHandle stream = pdf.newStream(data), entries = Obj(pdf, dict);
  for (const auto& key : entries.getKeys()) stream.getDict().replaceKey(key, entries.getKey(key));
  return stream.unparse();
}

std::string Form(QPDF& pdf, const std::string& resources, const std::string& content, const std::string& extra) {
  std::string res = resources.empty() ? "" : " /Resources " + resources;
  return Stream(pdf, "<< /Type /XObject /Subtype /Form /BBox [0 0 100 100]" + res + " " + extra + " >>", content);
}

void AddPage(QPDF& pdf, const std::string& resources, const std::string& content, const std::string& extra) {
  std::string res = resources.empty() ? "" : " /Resources " + resources;
  pdf.addPage(Obj(pdf, Ind(pdf, "<< /Type /Page /MediaBox [0 0 200 200] /Contents " + Stream(pdf, "<< >>", content) +
                                    res + " " + extra + " >>")),
              false);
}

std::string Sep(const std::string& colorant) {
  return "[/Separation " + QPDFObjectHandle::newName("/" + colorant).unparse() +
         " /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>]";
}

std::string DevN(QPDF& pdf, const std::vector<std::string>& names, const std::string& attrs) {
  std::string list, domain, pops;
  for (const auto& n : names) {
    list += QPDFObjectHandle::newName("/" + n).unparse() + " ", domain += "0 1 ", pops += "pop ";
  }
  std::string tint =
      Stream(pdf, "<< /FunctionType 4 /Domain [" + domain + "] /Range [0 1 0 1 0 1 0 1] >>", "{ " + pops + "0 0 0 1 }");
  return "[/DeviceN [" + list + "] /DeviceCMYK " + tint + " " + attrs + "]";
}

std::string Res(const std::string& category, const std::string& name, const std::string& value) {
  return "<< " + category + " << " + name + " " + value + " >> >>";
}

std::string Write(QPDF& pdf) {
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setObjectStreamMode(qpdf_o_disable);
  writer.write();
  auto buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::shared_ptr<QPDF> Read(const std::string& bytes) {
  auto pdf = std::make_shared<QPDF>();
  pdf->setSuppressWarnings(true);
  auto* copy = new Buffer(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy->getBuffer());
  pdf->processInputSource(std::make_shared<BufferInputSource>("test.pdf", copy, true));  // owns the copy
  return pdf;
}

namespace {

const char* const kFill = "/CS0 cs 1 scn 0 0 50 50 re f";
const char* const kBlack = "0 0 0 1 k 0 0 10 10 re f";
const char* const kPattern = "/Pattern cs /P0 scn 0 0 100 100 re f";

std::string Spot(const std::string& name) { return Res("/ColorSpace", "/CS0", Sep(name)); }
std::string Painted(QPDF& p, const std::string& spot) { return Form(p, Spot(spot), kFill); }
std::string Annots(QPDF& p, std::vector<std::pair<int, std::string>> flagsAndNormal, const std::string& extra = "") {
  std::string list;
  for (const auto& [flags, normal] : flagsAndNormal)
    list += Ind(p, "<< /Type /Annot /Subtype /Square /Rect [10 10 30 30] /F " + std::to_string(flags) + " /AP << /N " +
                       normal + " >> " + extra + " >>") +
            " ";
  return "/Annots [" + list + "]";
}

std::vector<InkCase> MakeCases() {
  return {
      {"form_in_form",
       [](QPDF& p) {
         std::string outer = Form(p, Res("/XObject", "/Fm1", Painted(p, "FormSpot")), "/Fm1 Do");
         AddPage(p, Res("/XObject", "/Fm0", outer), "/Fm0 Do");
       },
       {"FormSpot"}},
      {"tiling_pattern",
       [](QPDF& p) {
         AddPage(p,
                 Res("/Pattern", "/P0",
                     Stream(p,
                            "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10]"
                            " /XStep 10 /YStep 10 /Resources " +
                                Spot("TileSpot") + " >>",
                            "/CS0 cs 1 scn 0 0 5 5 re f")),
                 kPattern);
       },
       {"TileSpot"}},
      {"shading_pattern",
       [](QPDF& p) {
         AddPage(p,
                 Res("/Pattern", "/P0",
                     Ind(p,
                         "<< /PatternType 2 /Shading << /ShadingType 2 /Coords [0 0 100 0]"
                         " /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> /Extend [true true]"
                         " /ColorSpace " +
                             Sep("ShadeSpot") + " >> >>")),
                 kPattern);
       },
       {"ShadeSpot"}},
      {"indexed_devicen",
       [](QPDF& p) {
         AddPage(p, Res("/ColorSpace", "/CS0", "[/Indexed " + DevN(p, {"IdxSpot", "Cyan"}) + " 1 <00ffff00>]"),
                 "/CS0 cs 1 sc 0 0 100 100 re f");
       },
       {"IdxSpot"}},
      {"all_and_none",
       [](QPDF& p) {
         AddPage(p, "<< /ColorSpace << /CS0 " + Sep("All") + " /CS1 " + Sep("None") + " >> >>",
                 kFill + std::string(" /CS1 cs 1 scn 50 50 50 50 re f"));
       },
       {}},
      {"annotation_prints",
       [](QPDF& p) {
         AddPage(p, "", kBlack, Annots(p, {{4, Painted(p, "AnnotSpot")}}));
       },
       {"AnnotSpot"}},
      {"annotation_hidden_or_not_printing",
       [](QPDF& p) {
         AddPage(p, "", kBlack, Annots(p, {{6, Painted(p, "HiddenSpot")}, {0, Painted(p, "ScreenSpot")}}));
       },
       {}},
      {"annotation_states",
       [](QPDF& p) {
         std::string states = "<< /On " + Painted(p, "OnSpot") + " /Off " + Painted(p, "OffSpot") + " >>";
         AddPage(p, "", kBlack, Annots(p, {{4, states}}, "/AS /On"));
       },
       {"OffSpot", "OnSpot"}},
      {"devicen_one_spot_among_process",
       [](QPDF& p) {
         AddPage(p, Res("/ColorSpace", "/CS0", DevN(p, {"Cyan", "Magenta", "MixSpot", "Yellow"})),
                 "/CS0 cs 0 0 1 0 scn 0 0 100 100 re f");
       },
       {"MixSpot"}},
      {"nchannel_with_process",
       [](QPDF& p) {
         std::string attrs =
             "<< /Subtype /NChannel /Process << /ColorSpace /DeviceRGB /Components [/Red /Green /Blue]"
             " >> /Colorants << /NSpot " +
             Sep("NSpot") + " /ExtraSpot " + Sep("ExtraSpot") + " >> >>";
         AddPage(p, Res("/ColorSpace", "/CS0", DevN(p, {"Red", "Green", "Blue", "NSpot"}, attrs)),
                 "/CS0 cs 0 0 0 1 scn 0 0 100 100 re f");
       },
       {"NSpot", "ExtraSpot"},
       {"Red", "Green", "Blue"}},
      {"encoded_name", [](QPDF& p) { AddPage(p, Spot("PANTONE 185 C"), kFill); }, {"PANTONE 185 C"}},
      {"colour_space_loops",
       [](QPDF& p) {
         AddPage(p,
                 "<< /ColorSpace << /CS0 " + Sep("LoopSafeSpot") + " /CS1 " + Ind(p, "[/Indexed @ 1 <0000>]") +
                     " /CS2 " + Ind(p, "[/Pattern @]") + " >> >>",
                 kFill);
       },
       {"LoopSafeSpot"}},
      {"form_refers_to_itself",
       [](QPDF& p) {
         std::string form = Form(p, "", kFill);
         Obj(p, form).getDict().replaceKey("/Resources", Obj(p, "<< /XObject << /Fm0 " + form +
                                                                    " >> /ColorSpace"
                                                                    " << /CS0 " +
                                                                    Sep("SelfSpot") + " >> >>"));
         AddPage(p, Res("/XObject", "/Fm0", form), "/Fm0 Do");
       },
       {"SelfSpot"}},
      {"image_space",
       [](QPDF& p) {
         std::string image = Stream(
             p, "<< /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace " + Sep("ImageSpot") + " >>",
             "\x80");
         AddPage(p, Res("/XObject", "/Im0", image), "q 100 0 0 100 0 0 cm /Im0 Do Q");
       },
       {"ImageSpot"}},
      {"type3_font",
       [](QPDF& p) {
         std::string glyph = Stream(p, "<< >>", "10 0 d0 /CS0 cs 1 scn 0 0 10 10 re f");
         AddPage(p,
                 Res("/Font", "/T3",
                     Ind(p,
                         "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 10 10] /FontMatrix"
                         " [0.1 0 0 0.1 0 0] /FirstChar 97 /LastChar 97 /Widths [10] /Encoding << /Differences [97 /a]"
                         " >> /CharProcs << /a " +
                             glyph + " >> /Resources " + Spot("GlyphSpot") + " >>")),
                 "BT /T3 12 Tf 10 10 Td (a) Tj ET");
       },
       {"GlyphSpot"}},
      {"soft_mask_group",
       [](QPDF& p) {
         std::string group = Form(p, Spot("MaskSpot"), "/CS0 cs 1 scn 0 0 100 100 re f",
                                  "/Group << /S /Transparency /CS /DeviceGray >>");
         AddPage(p, Res("/ExtGState", "/GS0", Ind(p, "<< /SMask << /Type /Mask /S /Luminosity /G " + group + " >> >>")),
                 "q /GS0 gs 0 0 1 0 k 0 0 100 100 re f Q");
       },
       {"MaskSpot"}},
      {"defined_but_unused", [](QPDF& p) { AddPage(p, Spot("IdleSpot"), kBlack); }, {"IdleSpot"}},
      {"process_only",
       [](QPDF& p) {
         AddPage(p,
                 "<< /ColorSpace << /CS0 [/CalRGB << /WhitePoint [0.9505 1 1.089] >>] /CS1 [/Lab << /WhitePoint"
                 " [0.9505 1 1.089] >>] /CS2 " +
                     Sep("Cyan") + " /CS3 " + DevN(p, {"Magenta", "Black"}) + " >> >>",
                 "/CS2 cs 1 scn 0 0 50 50 re f /CS3 cs 1 1 scn 50 50 50 50 re f");
       },
       {}},
  };
}

}  // namespace

const std::vector<InkCase>& InkRuleCases() {
  static const std::vector<InkCase> cases = MakeCases();
  return cases;
}

}  // namespace pdfparse::test::inkpdfs
