// Repair of documents that libqpdf's own recovery gives up on: the bytes are
// scanned for "N G obj" headers, catalogs, trailers and cross-reference
// stream dictionaries, and a cross-reference stream with a trailer is
// appended to a copy of the document, so that libqpdf can open it again.
#ifndef PDFPARSE_DOCUMENT_REPAIR_H_
#define PDFPARSE_DOCUMENT_REPAIR_H_

#include <qpdf/QPDF.hh>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pdfparse::document {

// Highest object number a repair accepts (the PDF implementation limit).
inline constexpr int kMaxRepairObjectNumber = 8388607;

struct ObjectRef {
  int num = 0;
  int gen = 0;
};

// What a scan of the bytes found.
struct ObjectScan {
  struct Location {
    int gen = 0;
    size_t offset = 0;  // of the object number
  };
  // The last definition of each object number.
  std::map<int, Location> objects;
  // Dictionaries worth a closer look, in file order: the offset of their
  // "<<" and the object that holds them (none for trailers).
  struct Candidate {
    size_t dictOffset = 0;
    std::optional<ObjectRef> holder;
  };
  std::vector<Candidate> catalogs;       // /Catalog
  std::vector<Candidate> trailers;       // "trailer" dictionaries and /XRef stream dictionaries
  std::vector<Candidate> infoLike;       // /Producer or /Creator without /Type
  std::vector<ObjectRef> objectStreams;  // /ObjStm
  bool hasHeader = false;                // "%PDF-" within the first 1024 bytes
  // An encryption dictionary, or a trailer's /Encrypt, may be in the file.
  bool mayBeEncrypted = false;
};

// Scans `size` bytes. `checkpoint` is called now and then and may throw.
ObjectScan ScanObjects(const unsigned char* data, size_t size, const std::function<void()>& checkpoint);

// The trailer entries a rebuilt document gets, as PDF text ("12 0 R",
// "[<..><..>]"); empty when unknown.
struct RebuiltTrailer {
  std::string root;
  std::string info;
  std::string encrypt;
  std::string id;
  bool fromTrailer = false;  // a trailer (or cross-reference stream) dictionary was read
};

// Chooses the trailer entries from the scan: the last catalog found, or the
// /Root of the last trailer whose root object exists; /Info, /Encrypt and
// /ID from the last trailer that has them. Empty root when nothing fits.
RebuiltTrailer ChooseTrailer(const unsigned char* data, size_t size, const ObjectScan& scan,
                             const std::map<int, std::pair<int, int>>& compressed);

// Objects stored in object streams: object number -> (stream number, index).
// Reads the header of every object stream of the scan through `pdf`, a
// document opened on a rebuilt copy. Definitions later in the file win.
std::map<int, std::pair<int, int>> FindCompressedObjects(QPDF& pdf, const ObjectScan& scan,
                                                         const std::function<void()>& checkpoint);

// A catalog with a page tree among the objects of `pdf` that the scan and
// the object streams found, compressed ones first; null when none.
QPDFObjectHandle FindCatalog(QPDF& pdf, const ObjectScan& scan, const std::map<int, std::pair<int, int>>& compressed,
                             const std::function<void()>& checkpoint);

// A dictionary that looks like document information (/Producer or /Creator
// text, no /Type) among the compressed objects; null when none.
QPDFObjectHandle FindInfo(QPDF& pdf, const std::map<int, std::pair<int, int>>& compressed,
                          const std::function<void()>& checkpoint);

// Whether every string of `info` reads as text, as it does when it was not
// encrypted: no control bytes but white space, unless UTF-16 with its mark.
bool ReadsAsPlainText(QPDFObjectHandle info);

// What to append to a file of `fileSize` bytes: a cross-reference stream
// for the scanned objects and the compressed ones, with the trailer entries,
// and a startxref pointing at it. The file itself is not copied. `*number`
// is the number the stream takes: one the file's objects do not have
// (though a reference may name it).
std::string XrefStreamAfter(size_t fileSize, const ObjectScan& scan,
                            const std::map<int, std::pair<int, int>>& compressed, const RebuiltTrailer& trailer,
                            int* number = nullptr);

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_REPAIR_H_
