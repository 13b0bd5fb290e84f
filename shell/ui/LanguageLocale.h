#pragma once

#include <QLocale>

#include <cstdint>
#include <optional>

namespace orv::ui {

// The conventions of the program's chosen language for what Qt formats: dates, numbers, size
// units, and the texts of Qt's own dialogs (the folder picker). Nothing for English, whose texts
// are the program's own ("12/10/26", "1 Kb"); a language the program does not know is English.
std::optional<QLocale> languageLocale(std::int32_t languageIndex);

// Makes the chosen language Qt's: its locale the default one, and Qt's own translations of its
// dialogs loaded from Qt's translation folder when they are installed. Later calls replace the
// earlier language.
void useLanguage(std::int32_t languageIndex);

} // namespace orv::ui
