#include "build_constants.h"

#include "release_identity.h"  // generated

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
const char ProductVersion[] = WRAPPER_PRODUCT_VERSION;
const char MajorVersionText[] = WRAPPER_MAJOR_VERSION_TEXT;
const char MinorVersionText[] = WRAPPER_MINOR_VERSION_TEXT;
const char MicroVersionText[] = WRAPPER_MICRO_VERSION_TEXT;
const char UpdateVersionText[] = WRAPPER_UPDATE_VERSION_TEXT;
const char BuildString[] = WRAPPER_BUILD_STRING;
const char ArchitectureName[] = WRAPPER_ARCHITECTURE_NAME;
const char X64Suffix[] = "_x64";
const char DevelopmentKitKind[] = "kzt";
const char Amd64ArchitectureName[] = "amd64";

int IsDevelopmentKitBuild() { return CompareIgnoringCase(ProductKind, DevelopmentKitKind) == 0; }

int IsAmd64Build() { return CompareIgnoringCase(ArchitectureName, Amd64ArchitectureName) == 0; }
