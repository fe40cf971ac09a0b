#include "document/PageBoxes.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pdfparse::document {
namespace {

void Warn(const Diagnostics& diagnostics, const std::string& message) {
  if (diagnostics) diagnostics(message);
}

std::string PageName(QPDFObjectHandle& page) {
  if (page.isIndirect()) return "page " + page.getObjGen().unparse(' ');
  return "page";
}

bool HasArea(const Box& b) { return b.urx > b.llx && b.ury > b.lly; }

bool Absent(QPDFObjectHandle& value) { return !value.isInitialized() || value.isNull(); }

}  // namespace

std::optional<Box> ReadBox(QPDFObjectHandle array) {
  if (!array.isArray() || array.getArrayNItems() != 4) return std::nullopt;
  double v[4];
  for (int i = 0; i < 4; ++i) {
    QPDFObjectHandle item = array.getArrayItem(i);
    if (!item.isNumber()) return std::nullopt;
    v[i] = item.getNumericValue();
    if (!std::isfinite(v[i])) return std::nullopt;
  }
  return Box{std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]), std::max(v[1], v[3])};
}

Box MediaBox(QPDFObjectHandle page, const Diagnostics& diagnostics) {
  return MediaBoxFrom(page, InheritedAttribute(page, "/MediaBox"), diagnostics);
}

Box MediaBoxFrom(QPDFObjectHandle page, QPDFObjectHandle value, const Diagnostics& diagnostics) {
  if (Absent(value)) {
    Warn(diagnostics, PageName(page) + " has no /MediaBox; US Letter assumed");
    return kUsLetter;
  }
  std::optional<Box> box = ReadBox(value);
  if (!box) {
    Warn(diagnostics, PageName(page) + " has a malformed /MediaBox; US Letter assumed");
    return kUsLetter;
  }
  if (!HasArea(*box)) {
    Warn(diagnostics, PageName(page) + " has an empty /MediaBox; US Letter assumed");
    return kUsLetter;
  }
  return *box;
}

Box CropBox(QPDFObjectHandle page, const Diagnostics& diagnostics) {
  // The MediaBox's own problems are reported by MediaBox(); not twice.
  Box media = MediaBox(page, {});
  return CropBoxFrom(page, media, InheritedAttribute(page, "/CropBox"), diagnostics);
}

Box CropBoxFrom(QPDFObjectHandle page, const Box& media, QPDFObjectHandle value, const Diagnostics& diagnostics) {
  if (Absent(value)) return media;
  std::optional<Box> crop = ReadBox(value);
  if (!crop) {
    Warn(diagnostics, PageName(page) + " has a malformed /CropBox; the MediaBox is used");
    return media;
  }
  Box clipped{std::max(crop->llx, media.llx), std::max(crop->lly, media.lly), std::min(crop->urx, media.urx),
              std::min(crop->ury, media.ury)};
  if (!HasArea(clipped)) {
    Warn(diagnostics, PageName(page) + " has a /CropBox outside its MediaBox; the MediaBox is used");
    return media;
  }
  return clipped;
}

double UserUnit(QPDFObjectHandle page) {
  static const std::string kUserUnit = "/UserUnit";
  QPDFObjectHandle value = KeyIfPresent(page, kUserUnit);
  if (!value.isInitialized() || !value.isNumber()) return 1.0;
  double unit = value.getNumericValue();
  return (std::isfinite(unit) && unit > 0) ? unit : 1.0;
}

int Rotation(QPDFObjectHandle page, const Diagnostics& diagnostics) {
  return RotationFrom(page, InheritedAttribute(page, "/Rotate"), diagnostics);
}

int RotationFrom(QPDFObjectHandle page, QPDFObjectHandle value, const Diagnostics& diagnostics) {
  if (Absent(value)) return 0;
  long long degrees;
  if (value.isInteger()) {
    degrees = value.getIntValue();
  } else if (value.isReal()) {
    double d = value.getNumericValue();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e15) {
      Warn(diagnostics, PageName(page) + " has /Rotate " + value.unparse() + "; 0 assumed");
      return 0;
    }
    degrees = static_cast<long long>(d);
  } else {
    Warn(diagnostics, PageName(page) + " has a /Rotate that is not a number; 0 assumed");
    return 0;
  }
  if (degrees % 90 != 0) {
    Warn(diagnostics, PageName(page) + " has /Rotate " + std::to_string(degrees) + ", not a multiple of 90; 0 assumed");
    return 0;
  }
  return static_cast<int>(((degrees % 360) + 360) % 360);
}

}  // namespace pdfparse::document
