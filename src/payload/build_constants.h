#pragma once
// The compile-time identity of one build. A product build may override the macros
// (WRAPPER_PRODUCT_KIND, WRAPPER_ARCHITECTURE_NAME, ...); the tests use that to build the
// other kinds of build from the same sources.

extern const char ProductKind[];
extern const char ProductVersion[];
extern const char MajorVersionText[];
extern const char MinorVersionText[];
extern const char MicroVersionText[];
extern const char UpdateVersionText[];
extern const char BuildString[];
extern const char ArchitectureName[];
extern const char X64Suffix[];
extern const char DevelopmentKitKind[];
extern const char Amd64ArchitectureName[];

// 1 when ProductKind is the development kit's kind (case-insensitive), else 0.
int IsDevelopmentKitBuild();

// 1 when ArchitectureName names the 64-bit architecture (case-insensitive), else 0.
int IsAmd64Build();
