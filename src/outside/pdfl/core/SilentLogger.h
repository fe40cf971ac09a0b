// libqpdf reports through a logger that writes to the console by default;
// neither the library nor the plug-in may ever write there.
#ifndef PDFPARSE_OUTSIDE_PDFL_CORE_SILENTLOGGER_H_
#define PDFPARSE_OUTSIDE_PDFL_CORE_SILENTLOGGER_H_

#include <qpdf/QPDFLogger.hh>

#include <memory>

namespace pdfcore {

// A logger that discards info, warnings and errors. Warnings are still
// collected by each QPDF object (getWarnings) for the caller to trace.
std::shared_ptr<QPDFLogger> SilentLogger();

}  // namespace pdfcore

#endif  // PDFPARSE_OUTSIDE_PDFL_CORE_SILENTLOGGER_H_
