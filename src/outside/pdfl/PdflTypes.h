// Types of the PDF library interface: handles, fixed-point rectangles, the
// initialisation record, callbacks and the ink record.
#ifndef PDFPARSE_OUTSIDE_PDFL_PDFLTYPES_H_
#define PDFPARSE_OUTSIDE_PDFL_PDFLTYPES_H_

#include <cstddef>
#include <cstdint>

using ASInt16 = int16_t;
using ASUns16 = uint16_t;
using ASInt32 = int32_t;
using ASUns32 = uint32_t;
using ASBool = uint16_t;  // the library's 16-bit boolean
using ASSize_t = size_t;
using ASErrorCode = int32_t;
using ASAtom = uint32_t;  // interned string; 0 is no atom
using ASUTF16Val = uint16_t;
using ASFixed = int32_t;  // 16.16 fixed point

constexpr ASAtom ASAtomNull = 0;

inline constexpr ASFixed ASInt32ToFixed(int32_t v) { return static_cast<ASFixed>(v * 65536); }

struct ASFixedRect {
  ASFixed left;
  ASFixed top;
  ASFixed right;
  ASFixed bottom;
};

// Opaque handles owned by the engine.
struct PDDocRec;
struct PDPageRec;
struct ASFileSysRec;
struct ASPathNameRec;
using PDDoc = PDDocRec*;
using PDPage = PDPageRec*;
using ASFileSys = ASFileSysRec*;
using ASPathName = ASPathNameRec*;

// Initialisation record handed to PDFLInit: 52 bytes, the words of the
// 32-bit layout in their order. On LP64 the directory-list pointer needs two
// words and 8-byte alignment, so one reserved word pads it to offset 16 and
// one trailing reserved word less follows.
#pragma pack(push, 4)
struct PDFLDataRec {
  ASUns32 size;          // 52
  ASUns32 flags;         // 1
  ASUns32 reserved0;     // 0
  ASUns32 alignPad;      // 0
  ASUTF16Val** dirList;  // resource directories (NUL-terminated UTF-16), or null
  ASInt32 dirListLen;    // entries in dirList: 3, or 0 without a list
  ASUns32 reserved1;     // 0
  ASUns32 reserved2[5];  // 0
};
#pragma pack(pop)
static_assert(offsetof(PDFLDataRec, dirList) == 16, "list pointer must be 8-byte aligned");
static_assert(sizeof(PDFLDataRec) == 52, "PDFLDataRec must stay 52 bytes");

// Each directory entry holds this many UTF-16 units, terminator included.
constexpr int kPdflDirEntryUnits = 260;

// Authorisation callback of PDDocOpenEx: called on the opening thread when
// the document needs a password. True lets the open go on.
using PDAuthProc = ASBool (*)(PDDoc doc, void* clientData);

// One ink as PDPageEnumInksEx reports it.
struct PDPageInkRec {
  ASSize_t size;          // sizeof(PDPageInkRec)
  ASAtom colorantName;    // the colorant's name
  ASBool isProcessColor;  // non-zero for Cyan, Magenta, Yellow, Black
  ASBool whetherToPrint;  // 1
};
using PDPageInk = PDPageInkRec*;
// Return false to halt the enumeration.
using PDPageEnumInksCallback = ASBool (*)(PDPageInk ink, void* clientData);

// Permission bits of PDDocAuthorize.
constexpr ASInt32 pdPermOpen = 0x01;

#endif  // PDFPARSE_OUTSIDE_PDFL_PDFLTYPES_H_
