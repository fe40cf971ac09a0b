// A libKestaro.so without the creation entry.
extern "C" __attribute__((visibility("default"))) int KestaroVersion() { return 1; }
