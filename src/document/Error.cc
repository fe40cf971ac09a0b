#include "document/Error.h"

#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFSystemError.hh>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "document/reader/Syntax.h"

namespace pdfparse::document {
namespace {

ErrorCode CodeOfQpdf(qpdf_error_code_e code) {
  switch (code) {
    case qpdf_e_password:
      return ErrorCode::kPassword;
    case qpdf_e_unsupported:
      return ErrorCode::kUnsupported;
    case qpdf_e_damaged_pdf:
    case qpdf_e_pages:
    case qpdf_e_object:
    case qpdf_e_linearization:
      return ErrorCode::kDamaged;
    case qpdf_e_system:
      return ErrorCode::kFileRead;
    default:
      return ErrorCode::kInternal;
  }
}

}  // namespace

const char* ErrorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::kInternal:
      return "internal error";
    case ErrorCode::kNoMemory:
      return "out of memory";
    case ErrorCode::kTimeout:
      return "time-out";
    case ErrorCode::kMemoryLimit:
      return "memory limit reached";
    case ErrorCode::kFileNotFound:
      return "file not found";
    case ErrorCode::kFilePermission:
      return "permission denied";
    case ErrorCode::kNotRegularFile:
      return "not a regular file";
    case ErrorCode::kFileRead:
      return "read error";
    case ErrorCode::kFileTooLarge:
      return "file too large";
    case ErrorCode::kNotPdf:
      return "not a PDF file";
    case ErrorCode::kDamaged:
      return "damaged file";
    case ErrorCode::kPassword:
      return "password required";
    case ErrorCode::kUnsupported:
      return "unsupported feature";
  }
  return "unknown error";
}

const char* ErrorCodeKey(ErrorCode code) {
  switch (code) {
    case ErrorCode::kInternal:
      return "internal";
    case ErrorCode::kNoMemory:
      return "no-memory";
    case ErrorCode::kTimeout:
      return "timeout";
    case ErrorCode::kMemoryLimit:
      return "memory-limit";
    case ErrorCode::kFileNotFound:
      return "file-not-found";
    case ErrorCode::kFilePermission:
      return "permission";
    case ErrorCode::kNotRegularFile:
      return "not-regular-file";
    case ErrorCode::kFileRead:
      return "read-error";
    case ErrorCode::kFileTooLarge:
      return "file-too-large";
    case ErrorCode::kNotPdf:
      return "not-pdf";
    case ErrorCode::kDamaged:
      return "damaged";
    case ErrorCode::kPassword:
      return "password";
    case ErrorCode::kUnsupported:
      return "unsupported";
  }
  return "unknown";
}

ErrorCode ErrorCodeForErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ErrorCode::kFileNotFound;
    case EACCES:
    case EPERM:
      return ErrorCode::kFilePermission;
    case EISDIR:
    case ENODEV:
    case ENXIO:
      return ErrorCode::kNotRegularFile;
    case ENOMEM:
      return ErrorCode::kNoMemory;
    case EFBIG:
    case EOVERFLOW:
      return ErrorCode::kFileTooLarge;
    default:
      return ErrorCode::kFileRead;
  }
}

Error ErrorOfCurrentException() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const reader::Refusal& e) {
    // The reader's refusals are answered by libqpdf inside the engine; one
    // that gets out is a fault of ours, not a damaged file.
    return Error(ErrorCode::kInternal, std::string("internal error: a refusal escaped the reader: ") + e.what());
  } catch (const QPDFExc& e) {
    return Error(CodeOfQpdf(e.getErrorCode()), e.what());
  } catch (const QPDFSystemError& e) {
    return Error(ErrorCodeForErrno(e.getErrno()), e.what());
  } catch (const std::bad_alloc&) {
    return Error(ErrorCode::kNoMemory, "out of memory");
  } catch (const std::length_error& e) {
    return Error(ErrorCode::kNoMemory, std::string("request too large: ") + e.what());
  } catch (const std::range_error& e) {
    return Error(ErrorCode::kDamaged, std::string("value out of range: ") + e.what());
  } catch (const std::overflow_error& e) {
    return Error(ErrorCode::kDamaged, std::string("value out of range: ") + e.what());
  } catch (const std::logic_error& e) {
    return Error(ErrorCode::kInternal, std::string("internal error: ") + e.what());
  } catch (const std::runtime_error& e) {
    return Error(ErrorCode::kDamaged, e.what());
  } catch (const std::exception& e) {
    return Error(ErrorCode::kInternal, std::string("internal error: ") + e.what());
  } catch (...) {
    return Error(ErrorCode::kInternal, "unknown failure");
  }
}

}  // namespace pdfparse::document
