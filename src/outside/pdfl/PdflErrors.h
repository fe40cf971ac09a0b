// Error codes of the PDF library and its one exception type.
//
// Layout of a code: severity in bits 28-31, error system in bits 16-23, the
// code in bits 0-15 (bits 24-27 unused). Every failure inside the engine,
// whatever raised it, reaches callers as a PdflException with one of the
// codes below.
#ifndef PDFPARSE_OUTSIDE_PDFL_PDFLERRORS_H_
#define PDFPARSE_OUTSIDE_PDFL_PDFLERRORS_H_

#include <string>

#include "outside/pdfl/PdflTypes.h"

inline constexpr ASErrorCode ErrBuildCode(uint32_t severity, uint32_t system, uint32_t code) {
  return static_cast<ASErrorCode>(((severity & 0xFu) << 28) | ((system & 0xFFu) << 16) | (code & 0xFFFFu));
}
inline constexpr uint32_t ErrGetSeverity(ASErrorCode e) { return static_cast<uint32_t>(e) >> 28; }
inline constexpr uint32_t ErrGetSystem(ASErrorCode e) { return (static_cast<uint32_t>(e) >> 16) & 0xFFu; }
inline constexpr uint32_t ErrGetCode(ASErrorCode e) { return static_cast<uint32_t>(e) & 0xFFFFu; }

enum ErrSeverity : uint32_t { ErrNoError = 0, ErrWarning = 1, ErrSilent = 2, ErrSuppressable = 3, ErrAlways = 4 };

enum ErrSystem : uint32_t {
  ErrSysNone = 0,
  ErrSysGeneral = 1,  // internal errors, out of memory, bad arguments
  ErrSysFile = 2,     // opening and reading files
  ErrSysPDDoc = 3,    // document structure, passwords
  ErrSysPDPage = 4,   // pages
  ErrSysInit = 5,     // library start
};

// The stable error table: one code per kind of failure.
namespace pdfparse::pdfl::err {
inline constexpr ASErrorCode kNoError = 0;
inline constexpr ASErrorCode kInternal = ErrBuildCode(ErrAlways, ErrSysGeneral, 1);
inline constexpr ASErrorCode kNoMemory = ErrBuildCode(ErrAlways, ErrSysGeneral, 2);
inline constexpr ASErrorCode kBadParameter = ErrBuildCode(ErrAlways, ErrSysGeneral, 3);
inline constexpr ASErrorCode kTimeout = ErrBuildCode(ErrAlways, ErrSysGeneral, 4);  // deadline or work budget spent
inline constexpr ASErrorCode kNotInitialized = ErrBuildCode(ErrAlways, ErrSysGeneral, 5);
inline constexpr ASErrorCode kFileNotFound = ErrBuildCode(ErrAlways, ErrSysFile, 1);
inline constexpr ASErrorCode kFileRead = ErrBuildCode(ErrAlways, ErrSysFile, 2);        // I/O error, short file
inline constexpr ASErrorCode kNotRegularFile = ErrBuildCode(ErrAlways, ErrSysFile, 3);  // directory, FIFO, device
inline constexpr ASErrorCode kFilePermission = ErrBuildCode(ErrAlways, ErrSysFile, 4);
inline constexpr ASErrorCode kFileTooLarge = ErrBuildCode(ErrAlways, ErrSysFile, 5);
inline constexpr ASErrorCode kNotPdf = ErrBuildCode(ErrAlways, ErrSysPDDoc, 1);
inline constexpr ASErrorCode kDamaged = ErrBuildCode(ErrAlways, ErrSysPDDoc, 2);  // damaged beyond repair
inline constexpr ASErrorCode kPassword = ErrBuildCode(ErrAlways, ErrSysPDDoc, 3);
inline constexpr ASErrorCode kUnsupported = ErrBuildCode(ErrAlways, ErrSysPDDoc, 4);
inline constexpr ASErrorCode kBadPage = ErrBuildCode(ErrAlways, ErrSysPDPage, 1);  // page index out of range
inline constexpr ASErrorCode kInitBadRecord = ErrBuildCode(ErrAlways, ErrSysInit, 1);
}  // namespace pdfparse::pdfl::err

namespace pdfparse::pdfl {

// One-line description of a code from the table ("unknown error" otherwise).
const char* PdflErrorText(ASErrorCode code);

// The library's exception. Raised by the engine, caught only by protected
// blocks (ProtectedBlock.h).
class PdflException {
 public:
  PdflException(ASErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}
  ASErrorCode code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  ASErrorCode code_;
  std::string message_;
};

}  // namespace pdfparse::pdfl

#endif  // PDFPARSE_OUTSIDE_PDFL_PDFLERRORS_H_
