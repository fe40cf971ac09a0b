// One-line texts of the stable error codes.
#include "outside/pdfl/PdflErrors.h"

const char* PdflErrorText(ASErrorCode code) {
  switch (code) {
    case pdfl_err::kNoError:
      return "no error";
    case pdfl_err::kInternal:
      return "internal error";
    case pdfl_err::kNoMemory:
      return "out of memory";
    case pdfl_err::kBadParameter:
      return "bad parameter";
    case pdfl_err::kTimeout:
      return "time or work budget exceeded";
    case pdfl_err::kNotInitialized:
      return "PDF library not initialized";
    case pdfl_err::kFileNotFound:
      return "file not found";
    case pdfl_err::kFileRead:
      return "file read error";
    case pdfl_err::kNotRegularFile:
      return "not a regular file";
    case pdfl_err::kFilePermission:
      return "permission denied";
    case pdfl_err::kFileTooLarge:
      return "file too large";
    case pdfl_err::kNotPdf:
      return "not a PDF file";
    case pdfl_err::kDamaged:
      return "file is damaged and could not be repaired";
    case pdfl_err::kPassword:
      return "password required or incorrect";
    case pdfl_err::kUnsupported:
      return "unsupported feature";
    case pdfl_err::kBadPage:
      return "page index out of range";
    case pdfl_err::kInitBadRecord:
      return "bad initialization record";
    default:
      return "unknown error";
  }
}
