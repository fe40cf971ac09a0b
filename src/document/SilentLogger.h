// libqpdf reports through a logger that writes to the console by default;
// neither the library nor the plug-in may ever write there.
#ifndef PDFPARSE_DOCUMENT_SILENTLOGGER_H_
#define PDFPARSE_DOCUMENT_SILENTLOGGER_H_

#include <qpdf/QPDFLogger.hh>

#include <functional>
#include <memory>
#include <string>

namespace pdfparse::document {

// A logger that discards info, warnings and errors. Warnings are still
// collected by each QPDF object (getWarnings) for the caller to trace.
std::shared_ptr<QPDFLogger> SilentLogger();

class WorkBudget;
// Receives each warning's text.
using WarningSink = std::function<void(const std::string& warning)>;
// A logger that counts each warning written to it in `budget` and hands
// its text to `sink`, for a QPDF with warnings not suppressed: libqpdf then
// writes every warning as it arises. libqpdf also keeps every warning:
// `release` (the QPDF's getWarnings(), its result dropped) is called now
// and then, after a warning was written, so that they are not stored.
std::shared_ptr<QPDFLogger> CountingLogger(std::shared_ptr<WorkBudget> budget, WarningSink sink,
                                           std::function<void()> release);

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_SILENTLOGGER_H_
