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
