// The language of every user-visible text, decided once from the user's
// default locale identifier.
#pragma once

#include <cstdint>

enum class UiLanguage { English, Japanese };

inline constexpr uint32_t kJapaneseLcid = 1041;

extern uint32_t userLcid;

inline UiLanguage uiLanguage()
{
    return userLcid == kJapaneseLcid ? UiLanguage::Japanese : UiLanguage::English;
}

// Picks the text of the current language.
inline const char* pickText(const char* english, const char* japanese)
{
    return uiLanguage() == UiLanguage::Japanese ? japanese : english;
}
