#include "engine_version.h"

int IsEngineVersionSufficient(unsigned long versionMS, unsigned long versionLS) {
  // unsigned long is 32 bits on Windows but may be 64 elsewhere: compare the words as 32 bits.
  unsigned long long version = (static_cast<unsigned long long>(versionMS & 0xFFFFFFFFul) << 32) |
                               (versionLS & 0xFFFFFFFFul);
  unsigned long long minimum =
      (static_cast<unsigned long long>(kMinimumEngineVersionMS) << 32) | kMinimumEngineVersionLS;
  return version >= minimum;
}
