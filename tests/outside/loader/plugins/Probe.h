// The object the test plug-in libLoaderProbe.so creates.
#ifndef PDFPARSE_TESTS_OUTSIDE_LOADER_PLUGINS_PROBE_H_
#define PDFPARSE_TESTS_OUTSIDE_LOADER_PLUGINS_PROBE_H_

struct ProbeObject {
  static constexpr int kMagic = 0x50524F42;
  int magic = kMagic;
  long arg = 0;
};

#endif  // PDFPARSE_TESTS_OUTSIDE_LOADER_PLUGINS_PROBE_H_
