// The converter object that the plug-in libKestaro.so creates. It measures
// page boxes of a document opened by path. The slots are in this order
// because the document object relies on it; slots 2 and 8 are reserved.
// No exception ever leaves these calls; every failure is a 0 result.
#ifndef PDFPARSE_OUTSIDE_CONVERTER_CPDFCONVERTERIF_H_
#define PDFPARSE_OUTSIDE_CONVERTER_CPDFCONVERTERIF_H_

#include <cstdint>

// Record handed to initConverter; valid for the duration of the call only.
struct ConverterInitRec {
  int32_t version;  // offset 0: 1
  int32_t mode;     // offset 4: 1
  int16_t units;    // offset 8: 1
  int16_t unused;   // offset 10: not written by the caller
  int32_t pages;    // offset 12: 1
  int32_t options;  // offset 16: 0
};
static_assert(sizeof(ConverterInitRec) == 20, "ConverterInitRec layout");

class CPdfConverterIf {
 public:
  virtual ~CPdfConverterIf() = default;                                           // slot 0
  virtual int32_t endJob() = 0;                                                   // slot 1
  virtual int32_t reserved2() { return 0; }                                       // slot 2
  virtual int32_t beginJob(int32_t flags) = 0;                                    // slot 3: non-zero when ready
  virtual int32_t closeDocument(int32_t failed) = 0;                              // slot 4
  virtual int32_t initConverter(const ConverterInitRec* rec, int32_t flags) = 0;  // slot 5
  virtual int32_t openDocument(const char* path, const char* name) = 0;           // slot 6
  virtual int32_t selectPage(int32_t index) = 0;                                  // slot 7: 0-based
  virtual int32_t reserved8() { return 0; }                                       // slot 8
  // slot 9: the current page's box as left, top, right, bottom (points).
  virtual int32_t getPageBox(float box[4]) = 0;
};

// The plug-in's creation entry.
extern "C" {
using CreatePDFConverterNoRipFn = CPdfConverterIf* (*)(long);
}

#endif  // PDFPARSE_OUTSIDE_CONVERTER_CPDFCONVERTERIF_H_
