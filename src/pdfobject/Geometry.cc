// CPdfObject: crop uniformity, page mode and the overall media box.
#include <climits>
#include <cmath>
#include <cstdint>

#include "outside/converter/CPdfConverterIf.h"
#include "pdfobject/CPdfObject.h"
#include "pdfobject/PdfObjectDetail.h"

using pdfparse::outside::g_traceA;
using pdfparse::outside::kTraceInstance;
using pdfparse::pdfl::PdflProtected;
using pdfparse::pdfobject::Flag;
using pdfparse::pdfobject::IsWorkLimit;
using pdfparse::pdfobject::PageHolder;

namespace {

constexpr int32_t kBoxesAgree = 3;
constexpr int32_t kBoxesDiffer = 1;

// The label of getPageMediaBox's error lines.
constexpr const char kMediaBoxLabel[] = "CDravikPdfObject::RetrieveAllPagesMediaBox";

bool SameRect(const ASFixedRect& a, const ASFixedRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A coordinate at the end of the fixed-point range stands for every value
// beyond it.
bool Saturated(const ASFixedRect& r) {
  for (ASFixed v : {r.left, r.top, r.right, r.bottom}) {
    if (v == INT32_MAX || v == INT32_MIN) return true;
  }
  return false;
}

// What the overall media box is measured from: the crop box and the size of
// the unit it is given in. Two pages have the same one only when both agree
// and the box is within the fixed-point range; otherwise every page is
// measured.
struct PageCrop {
  ASFixedRect crop{};
  double userUnit = 1.0;

  static PageCrop Of(PDDoc doc, ASInt32 index) {
    PageCrop result;
    PageHolder held(PDDocAcquirePage(doc, index));
    PDPageGetCropBox(held.get(), &result.crop);
    result.userUnit = PDPageGetUserUnit(held.get());
    held.release();
    return result;
  }
  bool sameAs(const PageCrop& other) const {
    return SameRect(crop, other.crop) && userUnit == other.userUnit && !Saturated(crop);
  }
};

// Box indices: left, top, right, bottom.
enum { kLeft = 0, kTop = 1, kRight = 2, kBottom = 3 };

// The kept box takes the horizontal extent of the first widest page and the
// vertical extent of the first tallest one. A difference that is not a
// number never wins a comparison.
void KeepWidestAndTallest(float kept[4], const float page[4]) {
  const double pageWidth = static_cast<double>(page[kRight]) - static_cast<double>(page[kLeft]);
  const double keptWidth = static_cast<double>(kept[kRight]) - static_cast<double>(kept[kLeft]);
  if (pageWidth > keptWidth) {
    kept[kLeft] = page[kLeft];
    kept[kRight] = page[kRight];
  }
  const double pageHeight = static_cast<double>(page[kTop]) - static_cast<double>(page[kBottom]);
  const double keptHeight = static_cast<double>(kept[kTop]) - static_cast<double>(kept[kBottom]);
  if (pageHeight > keptHeight) {
    kept[kTop] = page[kTop];
    kept[kBottom] = page[kBottom];
  }
}

// Nearest whole number for the trace line; NaN shows as 0 and values
// beyond int are clamped, since converting them is undefined.
int WholeForTrace(float value) {
  const double v = static_cast<double>(value);
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(std::llround(v));
}

}  // namespace

bool CPdfObject::checkDifferentCrop(int32_t* cropMode) {
  if (m_pdflLibData == nullptr || m_pdDoc == nullptr || cropMode == nullptr) return false;
  if (!PdflProtected([&] {
        const ASInt32 count = PDDocGetNumPages(m_pdDoc);
        if (count < 2) {
          *cropMode = kBoxesAgree;
          return;
        }
        const PageCrop first = PageCrop::Of(m_pdDoc, 0);
        for (ASInt32 i = 1; i < count; ++i) {
          if (!PageCrop::Of(m_pdDoc, i).sameAs(first)) {
            *cropMode = kBoxesDiffer;
            return;
          }
          *cropMode = kBoxesAgree;
        }
      })) {
    return reportPdflError("CPdfObject::checkDifferentCrop()");
  }
  return true;
}

bool CPdfObject::getPageMode(int32_t* pageMode) {
  bool res = m_pdflLibData != nullptr && m_pdDoc != nullptr && pageMode != nullptr;
  if (res && !PdflProtected([&] {
        const ASInt32 count = PDDocGetNumPages(m_pdDoc);
        for (ASInt32 i = 0; i < count; ++i) {
          ASFixedRect crop{};
          ASFixedRect media{};
          PageHolder held(PDDocAcquirePage(m_pdDoc, i));
          PDPageGetCropBox(held.get(), &crop);
          PDPageGetMediaBox(held.get(), &media);
          *pageMode = SameRect(crop, media) ? kBoxesAgree : kBoxesDiffer;
          held.release();
          if (*pageMode == kBoxesDiffer) break;
        }
      })) {
    res = reportPdflError("CDravikPdfObject::getPageMode()");
  }
  g_traceA.OutputEx(kTraceInstance, "CPdfObject::getPageMode() res = %d pageMode = %d", Flag(res),
                    pageMode != nullptr ? static_cast<int>(*pageMode) : 0);
  return res;
}

bool CPdfObject::getPageMediaBox(float box[4]) {
  bool res = m_pdflLibData != nullptr && m_pdDoc != nullptr && m_converter != nullptr && box != nullptr;
  if (res) {
    box[kLeft] = box[kTop] = box[kRight] = box[kBottom] = 0.0f;
    int32_t cropMode = kBoxesAgree;
    res = checkDifferentCrop(&cropMode);
    if (res) {
      // A converter failure fails the step with no error line of its own.
      bool converterFailed = false;
      if (m_converter->beginJob(0) == 0) {
        converterFailed = true;
      } else if (m_converter->openDocument(m_fileName.c_str(), "Dummy") == 0) {
        converterFailed = true;
      } else {
        float page[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        if (cropMode != kBoxesDiffer) {
          // All crop boxes agree: page 1 stands for every page.
          if (m_converter->selectPage(0) != 0 && m_converter->getPageBox(page) != 0) {
            for (int k = 0; k < 4; ++k) box[k] = page[k];
          } else {
            converterFailed = true;
          }
        } else {
          ASInt32 count = 0;
          if (!PdflProtected([&] { count = PDDocGetNumPages(m_pdDoc); })) {
            res = reportPdflError(kMediaBoxLabel);
          }
          for (ASInt32 i = 0; i < count; ++i) {
            if (m_converter->selectPage(i) == 0 || m_converter->getPageBox(page) == 0) {
              converterFailed = true;
              break;
            }
            if (i == 0) {
              for (int k = 0; k < 4; ++k) box[k] = page[k];
            } else {
              KeepWidestAndTallest(box, page);
            }
          }
        }
        m_converter->closeDocument(res && !converterFailed ? 0 : 1);
      }
      m_converter->endJob();
      if (converterFailed) {
        res = false;
        // The converter works within the inquiry's deadline and memory
        // limit: when one of them is why it failed, the engine says so, and
        // that (not the converter's failure) is the step's one error line.
        if (!PdflProtected([&] { PDDocGetNumPages(m_pdDoc); }) && IsWorkLimit(ACGetExceptionErrorCode())) {
          reportPdflError(kMediaBoxLabel);
        }
      }
    }
  }
  g_traceA.OutputEx(kTraceInstance,
                    "CPdfObject::getPageMediaBox() res = %d left = %d top = %d, right = %d , bottom = %d", Flag(res),
                    box != nullptr ? WholeForTrace(box[kLeft]) : 0, box != nullptr ? WholeForTrace(box[kTop]) : 0,
                    box != nullptr ? WholeForTrace(box[kRight]) : 0, box != nullptr ? WholeForTrace(box[kBottom]) : 0);
  return res;
}
