#include "registry_string.h"

int IsTerminatedStringData(unsigned long type, const unsigned char* data, unsigned long count) {
  if (type == kRegistryTypeString || type == kRegistryTypeExpandString) {
    return count >= 1 && data[count - 1] == 0;
  }
  if (type == kRegistryTypeMultiString) {
    return count >= 2 && data[count - 1] == 0 && data[count - 2] == 0;
  }
  return 0;
}

int IsTerminatedWideStringData(unsigned long type, const unsigned char* data, unsigned long count) {
  unsigned long zeros;
  if (type == kRegistryTypeString || type == kRegistryTypeExpandString) {
    zeros = 2;
  } else if (type == kRegistryTypeMultiString) {
    zeros = 4;
  } else {
    return 0;
  }
  if (count % 2 != 0 || count < zeros) return 0;
  for (unsigned long i = count - zeros; i < count; ++i) {
    if (data[i] != 0) return 0;
  }
  return 1;
}
