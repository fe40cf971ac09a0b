/* The document API: a PDF file's pages, boxes, inks and information entries
 * in plain C, exported from the PDF engine's library libpdfparse_document.so.1
 * (installed in LIBDIR/pdfparse/, beside the library's private part).
 *
 * Every call but pdfparse_close and the accessors of a handle's state returns
 * PDFPARSE_OK (0) or an error code; no call raises or aborts on a damaged or
 * hostile file. A failed call leaves its message in the handle
 * (pdfparse_error_message).
 *
 * Ownership: pdfparse_open makes a handle, pdfparse_close frees it and all it
 * handed out. Strings and arrays returned by a call belong to the handle and
 * stay valid as the call's description says.
 *
 * Threads: a handle is used by one thread at a time; different handles may be
 * used on different threads at once. pdfparse_error_name and
 * pdfparse_version may be called from any thread.
 *
 * Boxes are in default user space units (points unless the page's user unit
 * says otherwise), lower left x and y, upper right x and y, normalised. */
#ifndef PDFPARSE_DOCUMENT_H_
#define PDFPARSE_DOCUMENT_H_

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define PDFPARSE_DOCUMENT_EXPORT __attribute__((visibility("default")))
#else
#define PDFPARSE_DOCUMENT_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of this interface; additions raise it. */
#define PDFPARSE_DOCUMENT_API_VERSION 1

/* Error codes: the engine's, stable. */
enum pdfparse_error_code {
  PDFPARSE_OK = 0,
  PDFPARSE_ERROR_INTERNAL = 1,          /* a fault of the engine */
  PDFPARSE_ERROR_NO_MEMORY = 2,         /* an allocation failed */
  PDFPARSE_ERROR_TIMEOUT = 3,           /* the time limit passed or the work budget is spent */
  PDFPARSE_ERROR_MEMORY_LIMIT = 4,      /* the memory limit was reached */
  PDFPARSE_ERROR_FILE_NOT_FOUND = 5,    /* no such file */
  PDFPARSE_ERROR_FILE_PERMISSION = 6,   /* the file may not be read */
  PDFPARSE_ERROR_NOT_REGULAR_FILE = 7,  /* a directory, FIFO, socket or device */
  PDFPARSE_ERROR_FILE_READ = 8,         /* an I/O error or a file shorter than it said */
  PDFPARSE_ERROR_FILE_TOO_LARGE = 9,    /* beyond what the engine reads */
  PDFPARSE_ERROR_NOT_PDF = 10,          /* the bytes are not a PDF document (an empty file too) */
  PDFPARSE_ERROR_DAMAGED = 11,          /* damaged beyond repair */
  PDFPARSE_ERROR_PASSWORD = 12,         /* encrypted, and no password tried opens it */
  PDFPARSE_ERROR_UNSUPPORTED = 13,      /* a PDF feature the engine does not read */
  PDFPARSE_ERROR_ARGUMENT = 64          /* the caller's: a null pointer, or a page beyond the last */
};

/* One word for a code ("damaged", "password", ...; "unknown" for other
 * values). A static string. */
PDFPARSE_DOCUMENT_EXPORT const char* pdfparse_error_name(int code);

/* The engine's version, e.g. "1.0.0". A static string. */
PDFPARSE_DOCUMENT_EXPORT const char* pdfparse_version(void);

typedef struct pdfparse_document pdfparse_document;

/* Opens the PDF file at `path`. Encrypted files are opened with the empty
 * user password, else `password` (NULL: none), else the library's built-in
 * one. Damaged files are repaired where they can be (pdfparse_repaired).
 *
 * `time_limit_ms` bounds each call on the handle, this one included (0: 30000);
 * `memory_limit_bytes` bounds what reading the document allocates: decoded
 * streams, repair data, tables and values (0: 1 GiB); the file itself is
 * mapped, not copied, and does not count. After a call meets either
 * limit, every later call fails the same way.
 *
 * `*document` is set to a new handle whatever the result (NULL only when
 * there is no memory for one, or `document` is NULL): on failure it holds the
 * error, every other call on it returns that error again, and it must still
 * be closed. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_open(const char* path, const char* password, uint64_t time_limit_ms,
                                           uint64_t memory_limit_bytes, pdfparse_document** document);

/* Frees the handle and everything it handed out. NULL is ignored. */
PDFPARSE_DOCUMENT_EXPORT void pdfparse_close(pdfparse_document* document);

/* The message of the last failed call on the handle ("" when none), valid
 * until the next call on it. */
PDFPARSE_DOCUMENT_EXPORT const char* pdfparse_error_message(const pdfparse_document* document);

/* 1 when the answers so far needed repair (the cross-reference data was
 * rebuilt, or something damaged was replaced by its default or skipped, see
 * the warnings), else 0. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_repaired(const pdfparse_document* document);

/* How many warnings the calls so far gave; the first PDFPARSE_KEPT_WARNINGS
 * of them are kept. */
#define PDFPARSE_KEPT_WARNINGS 8
PDFPARSE_DOCUMENT_EXPORT size_t pdfparse_warning_count(const pdfparse_document* document);
/* Warning `index` (0-based) as one line of UTF-8, valid until the handle is
 * closed; NULL when it was not kept. */
PDFPARSE_DOCUMENT_EXPORT const char* pdfparse_warning(const pdfparse_document* document, size_t index);

/* The number of pages, found by walking the whole page tree. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_page_count(pdfparse_document* document, size_t* count);

typedef struct pdfparse_box {
  double llx, lly, urx, ury;
} pdfparse_box;

typedef struct pdfparse_page {
  pdfparse_box media_box; /* inherited; US Letter when missing or unusable */
  pdfparse_box crop_box;  /* inherited, clipped to the media box; the media box when absent */
  pdfparse_box bleed_box; /* the page's own, clipped to the media box; the crop box when absent */
  pdfparse_box trim_box;  /* likewise */
  pdfparse_box art_box;   /* likewise */
  int rotation;           /* 0, 90, 180 or 270 */
  double user_unit;       /* size of a unit in points: 1 unless the page says */
} pdfparse_page;

/* Page `index` (0-based). PDFPARSE_ERROR_ARGUMENT when there is no such page. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_page_info(pdfparse_document* document, size_t index, pdfparse_page* page);

/* The document-information entry `key` (with or without its leading '/') as
 * UTF-8. `*length` gets its length in bytes (0 when the entry is absent or not
 * text); at most `size` - 1 bytes and a terminating zero are copied into
 * `buffer` (which may be NULL when `size` is 0). The value may hold zero
 * bytes: `*length` says where it ends. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_info(pdfparse_document* document, const char* key, char* buffer, size_t size,
                                           size_t* length);

/* A colorant named by a colour space. */
typedef struct pdfparse_ink {
  const char* name; /* UTF-8, e.g. "PANTONE 185 C" */
  int process;      /* 1: a process colour (an NChannel space's process component) */
} pdfparse_ink;

/* The inks page `index`'s resources name besides Cyan, Magenta, Yellow and
 * Black, each once, in the order they are found (the same walk as the ink
 * inquiry: colour spaces, shadings, patterns, images, forms, Type 3 fonts,
 * soft masks and printing annotations). The array is valid until the next
 * ink call on the handle or its close. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_page_inks(pdfparse_document* document, size_t index,
                                                const pdfparse_ink** inks, size_t* count);
/* The same over every page: each name once, in the order first found; a name
 * that is a spot colour on any page counts as a spot colour. */
PDFPARSE_DOCUMENT_EXPORT int pdfparse_document_inks(pdfparse_document* document, const pdfparse_ink** inks,
                                                    size_t* count);

/* What the engine's own reading of a file came to, when the host's interface
 * (libpdfparse.so.1) ran an inquiry on it in this process: whether its
 * answers needed repair, how many warnings it had, and the error that ended
 * its first failed query (PDFPARSE_OK: none) with its message. Lets a program
 * that runs the host's inquiries tell why one failed without reading the file
 * again. The record is taken: a second call finds none. Returns PDFPARSE_OK,
 * or PDFPARSE_ERROR_ARGUMENT when the engine kept none for `path` (it keeps
 * the last few files). Any thread. */
typedef struct pdfparse_outcome {
  int error;
  int repaired;
  size_t warnings;
  char message[512]; /* cut to fit, always terminated */
} pdfparse_outcome;
PDFPARSE_DOCUMENT_EXPORT int pdfparse_take_outcome(const char* path, pdfparse_outcome* outcome);

#ifdef __cplusplus
}
#endif

#endif /* PDFPARSE_DOCUMENT_H_ */
