// libqpdf reports through a logger that writes to the console by default;
// neither the library nor the plug-in may ever write there.
#ifndef PDFPARSE_DOCUMENT_SILENTLOGGER_H_
#define PDFPARSE_DOCUMENT_SILENTLOGGER_H_

#include <qpdf/QPDFLogger.hh>

#include <memory>

namespace pdfparse::document {

// A logger that discards info, warnings and errors. Warnings are still
// collected by each QPDF object (getWarnings) for the caller to trace.
std::shared_ptr<QPDFLogger> SilentLogger();

class WorkBudget;
// A logger that discards everything and charges each warning written to it
// to `budget` (which raises once too many were written). For a QPDF with
// warnings not suppressed: libqpdf then writes every warning as it arises.
std::shared_ptr<QPDFLogger> CountingLogger(std::shared_ptr<WorkBudget> budget);

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_SILENTLOGGER_H_
