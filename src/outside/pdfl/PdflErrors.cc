// One-line texts of the stable error codes.
#include "outside/pdfl/PdflErrors.h"

namespace pdfparse::pdfl {

const char* PdflErrorText(ASErrorCode code) {
  switch (code) {
    case err::kNoError:
      return "no error";
    case err::kInternal:
      return "internal error";
    case err::kNoMemory:
      return "out of memory";
    case err::kBadParameter:
      return "bad parameter";
    case err::kTimeout:
      return "time or work budget exceeded";
    case err::kNotInitialized:
      return "PDF library not initialized";
    case err::kFileNotFound:
      return "file not found";
    case err::kFileRead:
      return "file read error";
    case err::kNotRegularFile:
      return "not a regular file";
    case err::kFilePermission:
      return "permission denied";
    case err::kFileTooLarge:
      return "file too large";
    case err::kNotPdf:
      return "not a PDF file";
    case err::kDamaged:
      return "file is damaged and could not be repaired";
    case err::kPassword:
      return "password required or incorrect";
    case err::kUnsupported:
      return "unsupported feature";
    case err::kBadPage:
      return "page index out of range";
    case err::kInitBadRecord:
      return "bad initialization record";
    default:
      return "unknown error";
  }
}

}  // namespace pdfparse::pdfl
