// A libKestaro.so for tests: its converter comes from the test binary that
// loaded it (PdfParseTestCreateConverter, see ScriptedConverter.h), so the
// document object's tests run the real plug-in load with a scripted
// converter.
#include <dlfcn.h>

extern "C" __attribute__((visibility("default"))) void* CreatePDFConverterNoRip(long arg) {
  using Hook = void* (*)(long);
  auto hook = reinterpret_cast<Hook>(dlsym(RTLD_DEFAULT, "PdfParseTestCreateConverter"));
  return hook != nullptr ? hook(arg) : nullptr;
}
