#include "support/InkPdfs.h"

#include <qpdf/QPDFWriter.hh>

namespace inkpdfs {

std::unique_ptr<QPDF> NewPdf() {
  auto pdf = std::make_unique<QPDF>();
  pdf->emptyPDF();
  return pdf;
}

QPDFObjectHandle Obj(QPDF& pdf, const std::string& text) { return QPDFObjectHandle::parse(&pdf, text); }

QPDFObjectHandle Separation(const std::string& colorant) {
  QPDFObjectHandle cs = QPDFObjectHandle::newArray();
  cs.appendItem(QPDFObjectHandle::newName("/Separation"));
  cs.appendItem(QPDFObjectHandle::newName("/" + colorant));
  cs.appendItem(QPDFObjectHandle::newName("/DeviceCMYK"));
  cs.appendItem(QPDFObjectHandle::parse("<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>"));
  return cs;
}

QPDFObjectHandle DeviceN(QPDF& pdf, const std::vector<std::string>& names, QPDFObjectHandle attrs) {
  QPDFObjectHandle list = QPDFObjectHandle::newArray();
  std::string domain, pops;
  for (const auto& n : names) {
    list.appendItem(QPDFObjectHandle::newName("/" + n));
    domain += "0 1 ";
    pops += "pop ";
  }
  QPDFObjectHandle tint = Stream(
      pdf, Obj(pdf, "<< /FunctionType 4 /Domain [" + domain + "] /Range [0 1 0 1 0 1 0 1] >>"),
      "{ " + pops + "0 0 0 1 }");
  QPDFObjectHandle cs = QPDFObjectHandle::newArray();
  cs.appendItem(QPDFObjectHandle::newName("/DeviceN"));
  cs.appendItem(list);
  cs.appendItem(QPDFObjectHandle::newName("/DeviceCMYK"));
  cs.appendItem(tint);
  if (!attrs.isNull()) cs.appendItem(attrs);
  return cs;
}

QPDFObjectHandle Stream(QPDF& pdf, QPDFObjectHandle dict, const std::string& data) {
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, data);
  QPDFObjectHandle target = stream.getDict();
  for (const auto& key : dict.getKeys()) target.replaceKey(key, dict.getKey(key));
  return stream;
}

QPDFObjectHandle Form(QPDF& pdf, QPDFObjectHandle resources, const std::string& content) {
  QPDFObjectHandle dict = Obj(pdf, "<< /Type /XObject /Subtype /Form /BBox [0 0 100 100] >>");
  if (!resources.isNull()) dict.replaceKey("/Resources", resources);
  return Stream(pdf, dict, content);
}

QPDFObjectHandle Image(QPDF& pdf, QPDFObjectHandle colorSpace, int components) {
  QPDFObjectHandle dict =
      Obj(pdf, "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 >>");
  dict.replaceKey("/ColorSpace", colorSpace);
  return Stream(pdf, dict, std::string(static_cast<size_t>(components), '\x80'));
}

QPDFObjectHandle Res(const std::string& category, const std::string& name, QPDFObjectHandle value) {
  QPDFObjectHandle inner = QPDFObjectHandle::newDictionary();
  inner.replaceKey(name, value);
  QPDFObjectHandle res = QPDFObjectHandle::newDictionary();
  res.replaceKey(category, inner);
  return res;
}

QPDFObjectHandle AddPage(QPDF& pdf, QPDFObjectHandle resources, const std::string& content) {
  QPDFObjectHandle page = pdf.makeIndirectObject(Obj(pdf, "<< /Type /Page /MediaBox [0 0 200 200] >>"));
  if (!resources.isNull()) page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", Stream(pdf, QPDFObjectHandle::newDictionary(), content));
  pdf.addPage(page, false);
  return page;
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
  struct Held {
    std::string bytes;
    QPDF pdf;
  };
  auto held = std::make_shared<Held>();
  held->bytes = bytes;
  held->pdf.setSuppressWarnings(true);
  held->pdf.processMemoryFile("test.pdf", held->bytes.data(), held->bytes.size());
  return std::shared_ptr<QPDF>(held, &held->pdf);
}

namespace {

QPDFObjectHandle Indirect(QPDF& pdf, const std::string& text) { return pdf.makeIndirectObject(Obj(pdf, text)); }

QPDFObjectHandle ColorSpaces(std::vector<std::pair<std::string, QPDFObjectHandle>> entries) {
  QPDFObjectHandle inner = QPDFObjectHandle::newDictionary();
  for (auto& [name, cs] : entries) inner.replaceKey(name, cs);
  QPDFObjectHandle res = QPDFObjectHandle::newDictionary();
  res.replaceKey("/ColorSpace", inner);
  return res;
}

QPDFObjectHandle AnnotWithAppearance(QPDF& pdf, int flags, QPDFObjectHandle normal) {
  QPDFObjectHandle annot =
      Indirect(pdf, "<< /Type /Annot /Subtype /Square /Rect [10 10 30 30] /F " + std::to_string(flags) + " >>");
  QPDFObjectHandle ap = QPDFObjectHandle::newDictionary();
  ap.replaceKey("/N", normal);
  annot.replaceKey("/AP", ap);
  return annot;
}

const char* kFill = "/CS0 cs 1 scn 0 0 50 50 re f";

std::vector<InkCase> MakeCases() {
  std::vector<InkCase> cases;

  cases.push_back({"form_in_form",
                   [](QPDF& pdf) {
                     auto inner = Form(pdf, Res("/ColorSpace", "/CS0", Separation("FormSpot")), kFill);
                     auto outer = Form(pdf, Res("/XObject", "/Fm1", inner), "/Fm1 Do");
                     AddPage(pdf, Res("/XObject", "/Fm0", outer), "/Fm0 Do");
                   },
                   {"FormSpot"},
                   {}});

  cases.push_back({"tiling_pattern",
                   [](QPDF& pdf) {
                     auto pat = Stream(pdf,
                                       Obj(pdf,
                                           "<< /Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1"
                                           " /BBox [0 0 10 10] /XStep 10 /YStep 10 >>"),
                                       "/CS0 cs 1 scn 0 0 5 5 re f");
                     pat.getDict().replaceKey("/Resources", Res("/ColorSpace", "/CS0", Separation("TileSpot")));
                     AddPage(pdf, Res("/Pattern", "/P0", pat), "/Pattern cs /P0 scn 0 0 100 100 re f");
                   },
                   {"TileSpot"},
                   {}});

  cases.push_back({"shading_pattern",
                   [](QPDF& pdf) {
                     auto sh = Indirect(pdf,
                                        "<< /ShadingType 2 /Coords [0 0 100 0] /Extend [true true]"
                                        " /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> >>");
                     sh.replaceKey("/ColorSpace", Separation("ShadeSpot"));
                     auto pat = Indirect(pdf, "<< /Type /Pattern /PatternType 2 >>");
                     pat.replaceKey("/Shading", sh);
                     AddPage(pdf, Res("/Pattern", "/P0", pat), "/Pattern cs /P0 scn 0 0 100 100 re f");
                   },
                   {"ShadeSpot"},
                   {}});

  cases.push_back({"indexed_devicen",
                   [](QPDF& pdf) {
                     auto cs = QPDFObjectHandle::newArray();
                     cs.appendItem(QPDFObjectHandle::newName("/Indexed"));
                     cs.appendItem(DeviceN(pdf, {"IdxSpot", "Cyan"}));
                     cs.appendItem(QPDFObjectHandle::newInteger(1));
                     cs.appendItem(QPDFObjectHandle::newString(std::string("\x00\xff\xff\x00", 4)));
                     AddPage(pdf, Res("/ColorSpace", "/CS0", cs), "/CS0 cs 1 sc 0 0 100 100 re f");
                   },
                   {"IdxSpot"},
                   {}});

  cases.push_back({"all_and_none",
                   [](QPDF& pdf) {
                     AddPage(pdf, ColorSpaces({{"/CS0", Separation("All")}, {"/CS1", Separation("None")}}),
                             "/CS0 cs 1 scn 0 0 50 50 re f /CS1 cs 1 scn 50 50 50 50 re f");
                   },
                   {},
                   {}});

  cases.push_back({"annotation_prints",
                   [](QPDF& pdf) {
                     auto ap = Form(pdf, Res("/ColorSpace", "/CS0", Separation("AnnotSpot")), kFill);
                     auto page = AddPage(pdf, QPDFObjectHandle::newNull(), "0 0 0 1 k 0 0 10 10 re f");
                     page.replaceKey("/Annots", QPDFObjectHandle::newArray({AnnotWithAppearance(pdf, 4, ap)}));
                   },
                   {"AnnotSpot"},
                   {}});

  cases.push_back({"annotation_hidden_or_not_printing",
                   [](QPDF& pdf) {
                     auto hidden = Form(pdf, Res("/ColorSpace", "/CS0", Separation("HiddenSpot")), kFill);
                     auto screen = Form(pdf, Res("/ColorSpace", "/CS0", Separation("ScreenSpot")), kFill);
                     auto page = AddPage(pdf, QPDFObjectHandle::newNull(), "0 0 0 1 k 0 0 10 10 re f");
                     page.replaceKey("/Annots", QPDFObjectHandle::newArray({AnnotWithAppearance(pdf, 6, hidden),
                                                                            AnnotWithAppearance(pdf, 0, screen)}));
                   },
                   {},
                   {}});

  cases.push_back({"annotation_states",
                   [](QPDF& pdf) {
                     auto on = Form(pdf, Res("/ColorSpace", "/CS0", Separation("OnSpot")), kFill);
                     auto off = Form(pdf, Res("/ColorSpace", "/CS0", Separation("OffSpot")), kFill);
                     auto states = QPDFObjectHandle::newDictionary();
                     states.replaceKey("/On", on);
                     states.replaceKey("/Off", off);
                     auto annot = AnnotWithAppearance(pdf, 4, states);
                     annot.replaceKey("/AS", QPDFObjectHandle::newName("/On"));
                     auto page = AddPage(pdf, QPDFObjectHandle::newNull(), "0 0 0 1 k 0 0 10 10 re f");
                     page.replaceKey("/Annots", QPDFObjectHandle::newArray({annot}));
                   },
                   {"OffSpot", "OnSpot"},
                   {}});

  cases.push_back({"devicen_one_spot_among_process",
                   [](QPDF& pdf) {
                     AddPage(pdf, Res("/ColorSpace", "/CS0", DeviceN(pdf, {"Cyan", "Magenta", "MixSpot", "Yellow"})),
                             "/CS0 cs 0 0 1 0 scn 0 0 100 100 re f");
                   },
                   {"MixSpot"},
                   {}});

  cases.push_back({"nchannel_with_process",
                   [](QPDF& pdf) {
                     auto attrs = Obj(pdf,
                                      "<< /Subtype /NChannel"
                                      " /Process << /ColorSpace /DeviceRGB /Components [/Red /Green /Blue] >> >>");
                     auto colorants = QPDFObjectHandle::newDictionary();
                     colorants.replaceKey("/NSpot", Separation("NSpot"));
                     colorants.replaceKey("/ExtraSpot", Separation("ExtraSpot"));
                     attrs.replaceKey("/Colorants", colorants);
                     AddPage(pdf, Res("/ColorSpace", "/CS0", DeviceN(pdf, {"Red", "Green", "Blue", "NSpot"}, attrs)),
                             "/CS0 cs 0 0 0 1 scn 0 0 100 100 re f");
                   },
                   {"NSpot", "ExtraSpot"},
                   {"Red", "Green", "Blue"}});

  cases.push_back({"encoded_name",
                   [](QPDF& pdf) {
                     AddPage(pdf, Res("/ColorSpace", "/CS0", Separation("PANTONE 185 C")), kFill);
                   },
                   {"PANTONE 185 C"},
                   {}});

  cases.push_back({"colour_space_loops",
                   [](QPDF& pdf) {
                     auto indexed = pdf.makeIndirectObject(QPDFObjectHandle::newArray());
                     indexed.appendItem(QPDFObjectHandle::newName("/Indexed"));
                     indexed.appendItem(indexed);
                     indexed.appendItem(QPDFObjectHandle::newInteger(1));
                     indexed.appendItem(QPDFObjectHandle::newString(std::string(2, '\0')));
                     auto pattern = pdf.makeIndirectObject(QPDFObjectHandle::newArray());
                     pattern.appendItem(QPDFObjectHandle::newName("/Pattern"));
                     pattern.appendItem(pattern);
                     AddPage(pdf,
                             ColorSpaces({{"/CS0", Separation("LoopSafeSpot")}, {"/CS1", indexed}, {"/CS2", pattern}}),
                             kFill);
                   },
                   {"LoopSafeSpot"},
                   {}});

  cases.push_back({"form_refers_to_itself",
                   [](QPDF& pdf) {
                     auto form = Form(pdf, QPDFObjectHandle::newNull(), kFill);
                     auto res = Res("/ColorSpace", "/CS0", Separation("SelfSpot"));
                     res.replaceKey("/XObject", Obj(pdf, "<< >>"));
                     res.getKey("/XObject").replaceKey("/Fm0", form);
                     form.getDict().replaceKey("/Resources", res);
                     AddPage(pdf, Res("/XObject", "/Fm0", form), "/Fm0 Do");
                   },
                   {"SelfSpot"},
                   {}});

  cases.push_back({"image_space",
                   [](QPDF& pdf) {
                     auto image = Image(pdf, Separation("ImageSpot"), 1);
                     AddPage(pdf, Res("/XObject", "/Im0", image), "q 100 0 0 100 0 0 cm /Im0 Do Q");
                   },
                   {"ImageSpot"},
                   {}});

  cases.push_back({"type3_font",
                   [](QPDF& pdf) {
                     auto glyph = Stream(pdf, QPDFObjectHandle::newDictionary(), "10 0 d0 /CS0 cs 1 scn 0 0 10 10 re f");
                     auto font = Indirect(pdf,
                                          "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 10 10]"
                                          " /FontMatrix [0.1 0 0 0.1 0 0] /FirstChar 97 /LastChar 97 /Widths [10]"
                                          " /Encoding << /Type /Encoding /Differences [97 /a] >> >>");
                     font.replaceKey("/CharProcs", QPDFObjectHandle::newDictionary({{"/a", glyph}}));
                     font.replaceKey("/Resources", Res("/ColorSpace", "/CS0", Separation("GlyphSpot")));
                     AddPage(pdf, Res("/Font", "/T3", font), "BT /T3 12 Tf 10 10 Td (a) Tj ET");
                   },
                   {"GlyphSpot"},
                   {}});

  cases.push_back({"soft_mask_group",
                   [](QPDF& pdf) {
                     auto group = Form(pdf, Res("/ColorSpace", "/CS0", Separation("MaskSpot")),
                                       "/CS0 cs 1 scn 0 0 100 100 re f");
                     group.getDict().replaceKey("/Group", Obj(pdf, "<< /S /Transparency /CS /DeviceGray >>"));
                     auto gs = Indirect(pdf, "<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity >> >>");
                     gs.getKey("/SMask").replaceKey("/G", group);
                     AddPage(pdf, Res("/ExtGState", "/GS0", gs), "q /GS0 gs 0 0 1 0 k 0 0 100 100 re f Q");
                   },
                   {"MaskSpot"},
                   {}});

  cases.push_back({"defined_but_unused",
                   [](QPDF& pdf) {
                     AddPage(pdf, Res("/ColorSpace", "/CS0", Separation("IdleSpot")), "0 0 0 1 k 0 0 10 10 re f");
                   },
                   {"IdleSpot"},
                   {}});

  cases.push_back({"process_only",
                   [](QPDF& pdf) {
                     AddPage(pdf,
                             ColorSpaces({{"/CS0", Obj(pdf, "[/CalRGB << /WhitePoint [0.9505 1 1.089] >>]")},
                                          {"/CS1", Obj(pdf, "[/Lab << /WhitePoint [0.9505 1 1.089] >>]")},
                                          {"/CS2", Separation("Cyan")},
                                          {"/CS3", DeviceN(pdf, {"Magenta", "Black"})}}),
                             "/CS2 cs 1 scn 0 0 50 50 re f /CS3 cs 1 1 scn 50 50 50 50 re f");
                   },
                   {},
                   {}});

  return cases;
}

}  // namespace

const std::vector<InkCase>& InkRuleCases() {
  static const std::vector<InkCase> cases = MakeCases();
  return cases;
}

}  // namespace inkpdfs
