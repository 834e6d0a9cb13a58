#include "build_constants.h"

#ifdef _WIN32
#include <windows.h>
#define CompareIgnoringCase lstrcmpiA
#else
#include <strings.h>
#define CompareIgnoringCase strcasecmp
#endif

#ifndef WRAPPER_PRODUCT_KIND
#define WRAPPER_PRODUCT_KIND "kzt"
#endif
#ifndef WRAPPER_ARCHITECTURE_NAME
#define WRAPPER_ARCHITECTURE_NAME "i586"
#endif

const char ProductKind[] = WRAPPER_PRODUCT_KIND;
const char ProductVersion[] = "1.6.0_32";
const char MajorVersionText[] = "1";
const char MinorVersionText[] = "6";
const char MicroVersionText[] = "0";
const char UpdateVersionText[] = "32";
const char BuildString[] = "1.6.0_32-b05";
const char ArchitectureName[] = WRAPPER_ARCHITECTURE_NAME;
const char X64Suffix[] = "_x64";
const char DevelopmentKitKind[] = "kzt";
const char Amd64ArchitectureName[] = "amd64";

int IsDevelopmentKitBuild() { return CompareIgnoringCase(ProductKind, DevelopmentKitKind) == 0; }

int IsAmd64Build() { return CompareIgnoringCase(ArchitectureName, Amd64ArchitectureName) == 0; }
