// Page boxes in points, shared by the engine and the converter plug-in.
#ifndef PDFPARSE_DOCUMENT_PAGEBOXES_H_
#define PDFPARSE_DOCUMENT_PAGEBOXES_H_

#include <qpdf/QPDFObjectHandle.hh>

#include <optional>

#include "document/PageTree.h"

namespace pdfparse::document {

// A rectangle in default user space: llx <= urx, lly <= ury once normalised.
struct Box {
  double llx = 0, lly = 0, urx = 0, ury = 0;
  bool operator==(const Box&) const = default;
};

inline constexpr Box kUsLetter{0, 0, 612, 792};

// Reads an array of four finite numbers, normalised; nullopt otherwise.
std::optional<Box> ReadBox(QPDFObjectHandle array);
// The page's inherited MediaBox; US Letter (with a diagnostic) when it is
// missing or malformed.
Box MediaBox(QPDFObjectHandle page, const Diagnostics& diagnostics = {});
// The page's effective crop box: the inherited CropBox clipped to the
// MediaBox; the MediaBox when absent, malformed or disjoint.
Box CropBox(QPDFObjectHandle page, const Diagnostics& diagnostics = {});
// /UserUnit of the page (1 when absent or not a positive number).
double UserUnit(QPDFObjectHandle page);
// Inherited /Rotate normalised to 0, 90, 180 or 270 (-90 is 270, 450 is
// 90); a value that is not a multiple of 90 counts as 0 with a diagnostic.
int Rotation(QPDFObjectHandle page, const Diagnostics& diagnostics = {});

// The same from attribute values already looked up (see Inheritance); a
// value that is not initialised or null is absent. `page` names the page
// in diagnostics.
Box MediaBoxFrom(QPDFObjectHandle page, QPDFObjectHandle value, const Diagnostics& diagnostics = {});
Box CropBoxFrom(QPDFObjectHandle page, const Box& media, QPDFObjectHandle value, const Diagnostics& diagnostics = {});
int RotationFrom(QPDFObjectHandle page, QPDFObjectHandle value, const Diagnostics& diagnostics = {});

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_PAGEBOXES_H_
