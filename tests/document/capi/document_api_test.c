/* The document API as a C program sees it: compiled as C, linked to the
 * engine's library. It writes its PDFs into the folder given as argument. */
#include <pdfparse/document.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static int failures = 0;

#define CHECK(cond)                                                 \
  do {                                                              \
    if (!(cond)) {                                                  \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                   \
    }                                                               \
  } while (0)

static char folder[4096];

static const char* PathOf(const char* name) {
  static char path[8192];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  return path;
}

static void WriteFile(const char* name, const char* data, size_t size) {
  FILE* f = fopen(PathOf(name), "wb");
  if (f == NULL || fwrite(data, 1, size, f) != size || fclose(f) != 0) {
    fprintf(stderr, "cannot write %s\n", PathOf(name));
    exit(2);
  }
}

/* A PDF of `count` objects (1-based, in order) with a cross-reference table;
 * returns its size. */
static size_t Assemble(const char* const* objects, int count, char* out, size_t room) {
  size_t offsets[16];
  size_t n = (size_t)snprintf(out, room, "%%PDF-1.7\n");
  for (int i = 0; i < count; ++i) {
    offsets[i] = n;
    n += (size_t)snprintf(out + n, room - n, "%d 0 obj\n%s\nendobj\n", i + 1, objects[i]);
  }
  const size_t xref = n;
  n += (size_t)snprintf(out + n, room - n, "xref\n0 %d\n0000000000 65535 f \n", count + 1);
  for (int i = 0; i < count; ++i) n += (size_t)snprintf(out + n, room - n, "%010zu 00000 n \n", offsets[i]);
  n += (size_t)snprintf(out + n, room - n, "trailer\n<< /Size %d /Root 1 0 R /Info 2 0 R >>\nstartxref\n%zu\n%%%%EOF\n",
                        count + 1, xref);
  return n;
}

#define TINT "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] /N 1 >>"

static const char* const kObjects[] = {
    "<< /Type /Catalog /Pages 3 0 R >>",
    /* PDFDocEncoding's e-acute, and UTF-16 with its byte-order mark */
    "<< /Producer (caf\\351) /Title <FEFF00480069> >>",
    "<< /Type /Pages /Kids [4 0 R 5 0 R] /Count 2 /MediaBox [0 0 595 842] /Rotate 90 >>",
    "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 600 800] /CropBox [10 10 590 790] /BleedBox [5 5 595 795]"
    " /TrimBox [20 20 580 780] /ArtBox [-50 30 700 770] /Rotate -90 /UserUnit 2"
    " /Resources << /ColorSpace << /S [/Separation /PANTONE#20185#20C /DeviceCMYK " TINT "] >> >> >>",
    "<< /Type /Page /Parent 3 0 R /Resources << /ColorSpace << /N [/DeviceN [/Gold /Cyan] /DeviceCMYK " TINT
    "] /S [/Separation /PANTONE#20185#20C /DeviceCMYK " TINT "] >> >> >>",
};

static int SameBox(pdfparse_box b, double llx, double lly, double urx, double ury) {
  return fabs(b.llx - llx) < 1e-9 && fabs(b.lly - lly) < 1e-9 && fabs(b.urx - urx) < 1e-9 && fabs(b.ury - ury) < 1e-9;
}

static void Answers(void) {
  pdfparse_document* doc = NULL;
  CHECK(pdfparse_open(PathOf("boxes.pdf"), NULL, 0, 0, &doc) == PDFPARSE_OK);
  CHECK(doc != NULL);
  size_t count = 0;
  CHECK(pdfparse_page_count(doc, &count) == PDFPARSE_OK && count == 2);

  pdfparse_page page;
  CHECK(pdfparse_page_info(doc, 0, &page) == PDFPARSE_OK);
  CHECK(SameBox(page.media_box, 0, 0, 600, 800));
  CHECK(SameBox(page.crop_box, 10, 10, 590, 790));
  CHECK(SameBox(page.bleed_box, 5, 5, 595, 795));
  CHECK(SameBox(page.trim_box, 20, 20, 580, 780));
  CHECK(SameBox(page.art_box, 0, 30, 600, 770)); /* clipped to the media box */
  CHECK(page.rotation == 270 && page.user_unit == 2);
  /* Inherited media box and rotation; the other boxes default to it. */
  CHECK(pdfparse_page_info(doc, 1, &page) == PDFPARSE_OK);
  CHECK(SameBox(page.media_box, 0, 0, 595, 842) && SameBox(page.trim_box, 0, 0, 595, 842));
  CHECK(SameBox(page.art_box, 0, 0, 595, 842));
  CHECK(page.rotation == 90 && page.user_unit == 1);
  CHECK(pdfparse_page_info(doc, 2, &page) == PDFPARSE_ERROR_ARGUMENT);
  CHECK(strstr(pdfparse_error_message(doc), "beyond the last page") != NULL);

  char value[8];
  size_t length = 0;
  CHECK(pdfparse_info(doc, "Producer", value, sizeof value, &length) == PDFPARSE_OK);
  CHECK(length == 5 && strcmp(value, "caf\xc3\xa9") == 0);
  CHECK(pdfparse_info(doc, "/Title", NULL, 0, &length) == PDFPARSE_OK && length == 2);
  CHECK(pdfparse_info(doc, "Title", value, 2, &length) == PDFPARSE_OK && length == 2 && strcmp(value, "H") == 0);
  CHECK(pdfparse_info(doc, "Author", value, sizeof value, &length) == PDFPARSE_OK && length == 0 && value[0] == 0);

  const pdfparse_ink* inks = NULL;
  CHECK(pdfparse_page_inks(doc, 1, &inks, &count) == PDFPARSE_OK && count == 2);
  if (count == 2) {
    CHECK(strcmp(inks[0].name, "Gold") == 0 && !inks[0].process);
    CHECK(strcmp(inks[1].name, "PANTONE 185 C") == 0);
  }
  CHECK(pdfparse_document_inks(doc, &inks, &count) == PDFPARSE_OK && count == 2);
  if (count == 2) CHECK(strcmp(inks[0].name, "PANTONE 185 C") == 0 && strcmp(inks[1].name, "Gold") == 0);
  CHECK(pdfparse_page_inks(doc, 7, &inks, &count) == PDFPARSE_ERROR_ARGUMENT);

  CHECK(!pdfparse_repaired(doc) && pdfparse_warning_count(doc) == 0 && pdfparse_warning(doc, 0) == NULL);
  pdfparse_close(doc);
}

/* A failed open gives its code and a message, and the handle repeats it. */
static void ExpectFailure(const char* path, uint64_t memoryLimit, int code, const char* words) {
  pdfparse_document* doc = NULL;
  const int got = pdfparse_open(path, NULL, 0, memoryLimit, &doc);
  if (got != code) fprintf(stderr, "%s: %s, not %s\n", path, pdfparse_error_name(got), pdfparse_error_name(code));
  CHECK(got == code);
  CHECK(doc != NULL && strstr(pdfparse_error_message(doc), words) != NULL);
  size_t count = 0;
  CHECK(pdfparse_page_count(doc, &count) == code);
  pdfparse_close(doc);
}

static void Failures(void) {
  ExpectFailure(PathOf("missing.pdf"), 0, PDFPARSE_ERROR_FILE_NOT_FOUND, "missing.pdf");
  ExpectFailure(PathOf("empty.pdf"), 0, PDFPARSE_ERROR_NOT_PDF, "empty");
  ExpectFailure(PathOf("text.pdf"), 0, PDFPARSE_ERROR_NOT_PDF, "not a PDF");
  ExpectFailure(folder, 0, PDFPARSE_ERROR_NOT_REGULAR_FILE, folder);
  ExpectFailure(PathOf("boxes.pdf"), 1, PDFPARSE_ERROR_MEMORY_LIMIT, "memory limit"); /* its tables do not fit */
  CHECK(pdfparse_open(NULL, NULL, 0, 0, NULL) == PDFPARSE_ERROR_ARGUMENT);
  CHECK(strcmp(pdfparse_error_name(PDFPARSE_ERROR_DAMAGED), "damaged") == 0);
  CHECK(strcmp(pdfparse_error_name(999), "unknown") == 0);
}

/* A file cut short is read by repair, and says so. */
static void Repair(void) {
  pdfparse_document* doc = NULL;
  CHECK(pdfparse_open(PathOf("cut.pdf"), NULL, 0, 0, &doc) == PDFPARSE_OK);
  size_t count = 0;
  CHECK(pdfparse_page_count(doc, &count) == PDFPARSE_OK && count == 2);
  CHECK(pdfparse_repaired(doc) == 1);
  CHECK(pdfparse_warning_count(doc) > 0 && pdfparse_warning(doc, 0) != NULL && pdfparse_warning(doc, 0)[0] != 0);
  CHECK(pdfparse_warning(doc, PDFPARSE_KEPT_WARNINGS) == NULL);
  pdfparse_close(doc);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  snprintf(folder, sizeof folder, "%s", argv[1]);
  mkdir(folder, 0700);
  static char pdf[16384];
  const size_t size = Assemble(kObjects, (int)(sizeof kObjects / sizeof kObjects[0]), pdf, sizeof pdf);
  WriteFile("boxes.pdf", pdf, size);
  WriteFile("cut.pdf", pdf, (size_t)(strstr(pdf, "xref") - pdf)); /* no cross-reference data */
  WriteFile("empty.pdf", "", 0);
  WriteFile("text.pdf", "hello\n", 6);
  remove(PathOf("missing.pdf"));

  Answers();
  Failures();
  Repair();
  if (failures != 0) fprintf(stderr, "%d checks failed\n", failures);
  return failures == 0 ? 0 : 1;
}
