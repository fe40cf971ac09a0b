// The engine's one error type: a code that says what kind of failure it is
// and a detail for people. Everything the engine raises on purpose is an
// Error; ErrorOfCurrentException turns whatever else reached a caller
// (libqpdf's exceptions, the standard library's) into one, in one place.
#ifndef PDFPARSE_DOCUMENT_ERROR_H_
#define PDFPARSE_DOCUMENT_ERROR_H_

#include <exception>
#include <string>

namespace pdfparse::document {

// Stable values: callers keep and compare them.
enum class ErrorCode : int {
  kInternal = 1,        // a fault of ours
  kNoMemory = 2,        // an allocation failed
  kTimeout = 3,         // the deadline passed or the work budget is spent
  kMemoryLimit = 4,     // the inquiry's memory limit was reached
  kFileNotFound = 5,    // no such file (or a folder on the way is missing)
  kFilePermission = 6,  // the file may not be read
  kNotRegularFile = 7,  // a directory, FIFO, socket or device
  kFileRead = 8,        // an I/O error or a file shorter than it said
  kFileTooLarge = 9,    // beyond what the engine reads
  kNotPdf = 10,         // the bytes are not a PDF document
  kDamaged = 11,        // a PDF damaged beyond repair
  kPassword = 12,       // encrypted, and the password does not open it
  kUnsupported = 13,    // a PDF feature the engine does not read
};

// One word for a code ("damaged"), for messages.
const char* ErrorCodeName(ErrorCode code);

// A stable token for a code ("damaged", "not-pdf"), for programs.
const char* ErrorCodeKey(ErrorCode code);

// The code for a failed open or read's errno value.
ErrorCode ErrorCodeForErrno(int err);

class __attribute__((visibility("default"))) Error : public std::exception {
 public:
  Error(ErrorCode code, std::string detail) : code_(code), detail_(std::move(detail)) {}
  ErrorCode code() const noexcept { return code_; }
  const std::string& detail() const noexcept { return detail_; }
  const char* what() const noexcept override { return detail_.c_str(); }
  // The deadline, the work budget or the memory limit ran out: the whole
  // inquiry ends, not just the step that met it.
  bool endsInquiry() const noexcept { return code_ == ErrorCode::kTimeout || code_ == ErrorCode::kMemoryLimit; }

 private:
  ErrorCode code_;
  std::string detail_;
};

// Call only inside a catch block: the exception being handled as an Error.
// An Error is itself; libqpdf's errors by their kind; no memory is kNoMemory;
// libqpdf's other runtime errors, raised for what it reads, are kDamaged;
// anything else is kInternal.
Error ErrorOfCurrentException();

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_ERROR_H_
