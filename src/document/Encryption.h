// What a document's encryption leaves readable without its key, decided
// from the trailer's /Encrypt alone. One rule for both read paths (the
// structure reader and libqpdf), over either object handle.
//
// A value that is not a dictionary encrypts nothing, as the other readers
// take it. A dictionary of the crypt-filter forms (/V 4 and 5) says by
// /StrF and /StmF whether strings and streams are encrypted: /Identity
// (also when absent) or a filter whose /CFM is /None leaves them as they
// are; /EFF concerns embedded files, which are never read. Every other
// form encrypts strings and streams alike.
#ifndef PDFPARSE_DOCUMENT_ENCRYPTION_H_
#define PDFPARSE_DOCUMENT_ENCRYPTION_H_

#include <string>

namespace pdfparse::document {

enum class Encryption {
  kNone,           // nothing is encrypted
  kEmbeddedOnly,   // strings and streams are plain (only embedded files may be encrypted)
  kStreamsOnly,    // strings are plain, stream data (object streams included) is encrypted
  kEncrypted,      // strings are encrypted: no answer can be read without the key
};

namespace detail {

// Whether the crypt filter `name` (a /StrF or /StmF value) leaves data as it is.
template <class H>
bool LeavesPlain(H filters, H name) {
  if (name.isNull()) return true;  // the default is /Identity
  if (!name.isName()) return false;
  if (name.getName() == "/Identity") return true;
  if (!filters.isDictionary()) return false;
  H filter = filters.getKey(name.getName());
  return filter.isDictionary() && filter.getKey("/CFM").isName() && filter.getKey("/CFM").getName() == "/None";
}

}  // namespace detail

// `encrypt`: the trailer's /Encrypt as read (a reference resolved).
template <class H>
Encryption EncryptionOf(H encrypt) {
  if (!encrypt.isDictionary()) return Encryption::kNone;
  H version = encrypt.getKey("/V");
  if (!version.isInteger() || (version.getIntValue() != 4 && version.getIntValue() != 5)) {
    return Encryption::kEncrypted;
  }
  H filters = encrypt.getKey("/CF");
  if (!detail::LeavesPlain(filters, encrypt.getKey("/StrF"))) return Encryption::kEncrypted;
  return detail::LeavesPlain(filters, encrypt.getKey("/StmF")) ? Encryption::kEmbeddedOnly
                                                                : Encryption::kStreamsOnly;
}

}  // namespace pdfparse::document

#endif  // PDFPARSE_DOCUMENT_ENCRYPTION_H_
