#pragma once
// The compile-time identity of one build. The version texts and the build string come from
// the release identity the build was configured with (release_identity.h, generated); the
// kind and the architecture may be overridden with the macros WRAPPER_PRODUCT_KIND and
// WRAPPER_ARCHITECTURE_NAME, which the tests use to build the other kinds of build.

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
