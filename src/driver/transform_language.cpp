#include "transform_language.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include "../payload/build_constants.h"

namespace {

struct LanguageEntry {
  uint32_t key;       // a primary language number, or a whole identifier (entries 0 and 9)
  uint32_t language;  // the transform language it selects
};

const LanguageEntry kLanguages[] = {
    {2052, 2052},  // Chinese (Simplified, PRC)
    {4, 1028},     // Chinese (Traditional, Taiwan)
    {7, 1031},     // German
    {9, 1033},     // English (United States): no transform
    {10, 1034},    // Spanish (traditional sort)
    {12, 1036},    // French
    {16, 1040},    // Italian
    {17, 1041},    // Japanese
    {18, 1042},    // Korean
    {1046, 1046},  // Portuguese (Brazil)
    {29, 1053},    // Swedish
};
constexpr int kJapaneseEntry = 7;  // the only entry the development-kit build consults

}  // namespace

uint16_t ChooseTransformLanguageFor(uint16_t userLanguage, int developmentKitBuild) {
  if (userLanguage == 2052) return 2052;
  if (!developmentKitBuild && userLanguage == 1046) return 1046;
  // Eight bits, not the ten of the primary-language field: kept as the product has it.
  uint32_t key = userLanguage & 0xFFu;
  if (developmentKitBuild) {
    const LanguageEntry& japanese = kLanguages[kJapaneseEntry];
    return key == japanese.key ? static_cast<uint16_t>(japanese.language) : kNoTransformLanguage;
  }
  for (const LanguageEntry& entry : kLanguages) {
    if (entry.key == key) return static_cast<uint16_t>(entry.language);
  }
  return kNoTransformLanguage;
}

int IsSupportedTransformLanguageFor(uint16_t language, int developmentKitBuild) {
  if (developmentKitBuild) {
    return language == kNoTransformLanguage || language == kLanguages[kJapaneseEntry].language ||
           language == 2052;
  }
  for (const LanguageEntry& entry : kLanguages) {
    if (entry.language == language) return 1;
  }
  return 0;
}

int IsSupportedTransformLanguage(uint16_t language) {
  return IsSupportedTransformLanguageFor(language, IsDevelopmentKitBuild());
}

#ifdef _WIN32
uint16_t ChooseTransformLanguage() {
  return ChooseTransformLanguageFor(GetUserDefaultLangID(), IsDevelopmentKitBuild());
}
#endif
