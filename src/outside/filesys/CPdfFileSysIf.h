// The host's PDF file system: CPdfFileSysIf::Create hands the current
// FileSys (FileSys.h) to the PDF library as its ASFileSys.
#ifndef PDFPARSE_OUTSIDE_FILESYS_CPDFFILESYSIF_H_
#define PDFPARSE_OUTSIDE_FILESYS_CPDFFILESYSIF_H_

#include "outside/filesys/FileSys.h"
#include "outside/pdfl/PdflTypes.h"

namespace pdfparse::outside {

// Converts an ASFileSys back to the FileSys it stands for.
inline FileSys* FileSysFromHandle(ASFileSys handle) { return reinterpret_cast<FileSys*>(handle); }

}  // namespace pdfparse::outside

class CPdfFileSysIf {
 public:
  enum EModePdf { eModeDefault = 0, eModeRead = 1 };
  // The file system documents are opened through. Never released.
  static ASFileSys Create(EModePdf mode);
  // Pool setting of the host's file system; accepted and recorded only.
  static void IgnorePool(bool ignore);
  static bool PoolIgnored();
};

#endif  // PDFPARSE_OUTSIDE_FILESYS_CPDFFILESYSIF_H_
