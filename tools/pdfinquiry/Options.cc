#include "Options.h"

#include <CLI/CLI.hpp>

#include <sstream>

#ifndef PDFINQUIRY_VERSION
#define PDFINQUIRY_VERSION "0"
#endif

namespace pdfparse::inquirytool {

namespace {

const char kDescription[] =
    "Asks PDF files for page count, rotation, an information entry, page mode,\n"
    "media box, subtype and spot-ink use, through libpdfparse.so.";

const char kFooter[] =
    "Exit status: 0 every inquiry succeeded, 1 some inquiry failed,\n"
    "2 usage error or the library could not be loaded.\n"
    "\n"
    "Environment:\n"
    "  PDFPARSE_LIBRARY          the library to load when --library is not given\n"
    "                            (default: the one in the lib folder beside the\n"
    "                            program's own folder)\n"
    "  PDFPARSE_TRACE            where the library's trace goes: a regular file or\n"
    "                            'stderr' (--trace sets it for this run)\n"
    "  PDFPARSE_TIMEOUT_MS       deadline of one inquiry in milliseconds (default 30000)\n"
    "  PDFPARSE_MEMORY_LIMIT_MB  memory one inquiry may take, in MiB (default 1024)\n"
    "  PDFPARSE_READER           'qpdf': read every file with libqpdf alone\n"
    "                            (default: the structure reader first)\n"
    "  PDFPARSE_PASSWORD         password offered before the library's own (--password\n"
    "                            sets it for this run)\n"
    "  PDFPARSE_PLUGIN_DIR       folder searched first for the converter plug-in\n"
    "                            libKestaro.so\n"
    "  DRAVIK                    root of the engine's font and resource folders\n"
    "\n"
    "See pdfinquiry(1).";

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine result;
  Options& o = result.options;

  CLI::App app(kDescription, "pdfinquiry");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("pdfinquiry ") + PDFINQUIRY_VERSION);
  app.add_option("--level", o.level,
                 "Inquiry level: 1 pages, rotation, entry; 2 adds page mode and "
                 "media box; 3 adds subtype and spot ink")
      ->check(CLI::IsMember({1, 2, 3}))
      ->default_val(3);
  app.add_option("--key", o.key, "Document-information entry to read")
      ->default_val("Producer")
      ->check([](const std::string& key) {
        return key.empty() ? std::string("the key must not be empty") : std::string();
      });
  app.add_flag("--json", o.json, "One JSON object per line instead of a table");
  app.add_option("--trace", o.traceFile, "Write the library's trace to FILE")->type_name("FILE");
  app.add_flag("--recursive,-r", o.recursive, "Walk directories for *.pdf files");
  app.add_option("--files-from", o.filesFrom,
                 "Read paths from FILE, one per line; '-' answers each line of standard input "
                 "as it arrives")
      ->type_name("FILE|-");
  app.add_flag("--quiet,-q", o.quiet, "No progress line");
  app.add_option("--library", o.library, "libpdfparse.so to load")->type_name("PATH");
  app.add_option("--password", o.password, "Password for encrypted files, tried before the library's own")
      ->type_name("PW");
  app.add_flag("--pages", o.pages, "One row per page: the five boxes, rotation, user unit and inks");
  app.add_flag("--inks", o.inks, "The document's ink names in each row");
  app.add_option("paths", o.paths, "PDF files (or directories with --recursive)")->type_name("PATH");

  std::ostringstream out, err;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    result.output = out.str();
    result.error = err.str();
    result.exitCode = code == 0 ? kExitOk : kExitUsage;
    return result;
  }
  if (o.paths.empty() && o.filesFrom.empty()) {
    result.error = "pdfinquiry: no PATH and no --files-from given\nRun with --help for more information.\n";
    result.exitCode = kExitUsage;
    return result;
  }
  result.run = true;
  return result;
}

}  // namespace pdfparse::inquirytool
