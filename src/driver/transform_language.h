#pragma once
// Which embedded transform adapts the product package to the user's language. 1033 means
// no transform. The development-kit build offers only 1033, 1041 and 2052; the other build
// offers every language of its table.
#include <stdint.h>

constexpr uint16_t kNoTransformLanguage = 1033;

// The default transform language for the user's default language (GetUserDefaultLangID).
uint16_t ChooseTransformLanguage();

// 1 when a "/lang=" value may select this language in this build.
int IsSupportedTransformLanguage(uint16_t language);

// The rules themselves, for a given user language and kind of build.
uint16_t ChooseTransformLanguageFor(uint16_t userLanguage, int developmentKitBuild);
int IsSupportedTransformLanguageFor(uint16_t language, int developmentKitBuild);
