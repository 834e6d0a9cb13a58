// Exits with the user's default language identifier, as a child of the test sees it.
#include <windows.h>

int main() { return GetUserDefaultLangID(); }
