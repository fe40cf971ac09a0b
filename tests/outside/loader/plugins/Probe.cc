// libLoaderProbe.so: creation entries for the loader's tests.
#include "Probe.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

// Yields a new object carrying its argument.
PROBE_EXPORT void* CreateProbe(long arg) {
  auto* probe = new ProbeObject;
  probe->arg = arg;
  return probe;
}

// Yields no object.
PROBE_EXPORT void* CreateNothing(long) { return nullptr; }

// Breaks the rule that nothing is thrown across the plug-in boundary.
PROBE_EXPORT void* CreateThrowing(long) { throw 42; }
