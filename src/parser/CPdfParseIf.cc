// The exported interface class: its special members install the virtual
// table and copy nothing.
#include "pdfparse/CPdfParseIf.h"

CPdfParseIf::CPdfParseIf() = default;
CPdfParseIf::CPdfParseIf(const CPdfParseIf&) {}
CPdfParseIf::~CPdfParseIf() = default;
CPdfParseIf& CPdfParseIf::operator=(const CPdfParseIf&) { return *this; }
