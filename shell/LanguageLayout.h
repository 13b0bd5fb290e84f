#pragma once

#include <array>
#include <cstdint>

namespace orv {

// Where a translation's words are wider than the English ones the windows were drawn for, a few
// controls take a smaller font or move a little. What each window changes for which language
// stands in this one table instead of as language numbers inside the windows.
struct LanguageLayout
{
    bool smallFoundLabel = false; // main window: "Found" at 7 points
    bool smallFindCaption = false; // main window: the Find button's caption at 8 points, 7 while it reads Stop
    bool smallSaveCaption = false; // Options: the Save caption at 9 pixels
    int noticeCheckLeft = 80; // Important notice: the left edge of its check box
};

// One row per language file, in LanguageIndex order (1 is English).
inline constexpr std::array<LanguageLayout, 7> kLanguageLayouts{{
    /* English    */ {},
    /* German     */ {.smallFoundLabel = true},
    /* French     */ {.smallFoundLabel = true, .smallSaveCaption = true},
    /* Spanish    */ {.smallFoundLabel = true, .noticeCheckLeft = 110},
    /* Italian    */ {.smallFindCaption = true},
    /* Russian    */ {.noticeCheckLeft = 70},
    /* Portuguese */ {},
}};

// The layout for a LanguageIndex; a number without a language file lays out as English does.
inline const LanguageLayout& languageLayout(std::int32_t languageIndex)
{
    if (languageIndex < 1 || languageIndex > static_cast<std::int32_t>(kLanguageLayouts.size()))
        return kLanguageLayouts[0];
    return kLanguageLayouts[static_cast<std::size_t>(languageIndex - 1)];
}

} // namespace orv
