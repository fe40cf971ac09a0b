#include "document/PageModel.h"

namespace pdfparse::document {
namespace {

std::string Name(QPDFObjGen og) { return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()); }

// The key of a bleed, trim or art box fault.
const std::string& PrintBoxKey(PageFault fault) {
  const int from = static_cast<int>(PageFault::kMalformedBleedBox);
  return KeyOf(static_cast<PrintBox>((static_cast<int>(fault) - from) / 2));
}

}  // namespace

// --- StrictPolicy: the structure reader's refusals -------------------------------

void StrictPolicy::Refuse(const std::string& why) { throw reader::Refusal(why); }

void StrictPolicy::Fault(PageFault fault, QPDFObjGen page) {
  const std::string name = "page " + Name(page);
  switch (fault) {
    case PageFault::kNoMediaBox:
      Refuse(name + " has no /MediaBox");
    case PageFault::kMalformedMediaBox:
      Refuse("malformed /MediaBox");
    case PageFault::kEmptyMediaBox:
      Refuse(name + " has an empty /MediaBox");
    case PageFault::kMalformedCropBox:
      Refuse("malformed /CropBox");
    case PageFault::kCropBoxOutside:
      Refuse(name + " has a /CropBox outside its /MediaBox");
    case PageFault::kMalformedBleedBox:
    case PageFault::kMalformedTrimBox:
    case PageFault::kMalformedArtBox:
      Refuse("malformed " + PrintBoxKey(fault));
    case PageFault::kBleedBoxOutside:
    case PageFault::kTrimBoxOutside:
    case PageFault::kArtBoxOutside:
      Refuse(name + " has a " + PrintBoxKey(fault) + " outside its /MediaBox");
    case PageFault::kRotateNotNumber:
    case PageFault::kRotateNotWhole:
      Refuse(name + " has a /Rotate that is not a whole number");
    case PageFault::kRotateNotRightAngle:
      break;
  }
  Refuse(name + " has a /Rotate that is not a multiple of 90");
}

void StrictPolicy::RefersToNull(Attribute attribute) { Refuse(KeyOf(attribute) + " refers to null"); }

void StrictPolicy::NotAPagesNode() { Refuse("the page tree's root is not a /Pages node"); }

void StrictPolicy::ReachedTwice(QPDFObjGen node) { Refuse("page tree node " + Name(node) + " is reached twice"); }

void StrictPolicy::NoKids(QPDFObjGen node, bool missing) {
  if (missing) Refuse("page tree node " + Name(node) + " has no /Kids");
  Refuse("the /Kids of " + Name(node) + " is not an array");
}

void StrictPolicy::KidNotAReference(QPDFObjGen node) { Refuse("a kid of " + Name(node) + " is not a reference"); }

void StrictPolicy::UntypedKid(QPDFObjGen kid, bool typed) {
  if (!typed) Refuse("page tree kid " + Name(kid) + " has no /Type");
  Refuse("page tree kid " + Name(kid) + " is neither a page nor a node");
}

void StrictPolicy::ParentIsNotLister(QPDFObjGen kid) {
  Refuse("the /Parent of " + Name(kid) + " is not the node that lists it");
}

// --- RepairPolicy: libqpdf's warnings -------------------------------------------

std::string RepairPolicy::Message(PageFault fault, const std::string& page, const std::string& rotate,
                                  long long degrees) {
  switch (fault) {
    case PageFault::kNoMediaBox:
      return page + " has no /MediaBox; US Letter assumed";
    case PageFault::kMalformedMediaBox:
      return page + " has a malformed /MediaBox; US Letter assumed";
    case PageFault::kEmptyMediaBox:
      return page + " has an empty /MediaBox; US Letter assumed";
    case PageFault::kMalformedCropBox:
      return page + " has a malformed /CropBox; the MediaBox is used";
    case PageFault::kCropBoxOutside:
      return page + " has a /CropBox outside its MediaBox; the MediaBox is used";
    case PageFault::kMalformedBleedBox:
    case PageFault::kMalformedTrimBox:
    case PageFault::kMalformedArtBox:
      return page + " has a malformed " + PrintBoxKey(fault) + "; the CropBox is used";
    case PageFault::kBleedBoxOutside:
    case PageFault::kTrimBoxOutside:
    case PageFault::kArtBoxOutside:
      return page + " has a " + PrintBoxKey(fault) + " outside its MediaBox; the CropBox is used";
    case PageFault::kRotateNotNumber:
      return page + " has a /Rotate that is not a number; 0 assumed";
    case PageFault::kRotateNotWhole:
      return page + " has /Rotate " + rotate + "; 0 assumed";
    case PageFault::kRotateNotRightAngle:
      break;
  }
  return page + " has /Rotate " + std::to_string(degrees) + ", not a multiple of 90; 0 assumed";
}

}  // namespace pdfparse::document
