#pragma once

#include "LanguageCatalogue.h"
#include "ScanSession.h"

class QWidget;

namespace orv::ui {

// The files a scan found, as a plain list of folder, name, date, time and size, shown modally
// until the user closes it. The full results window takes its place later.
void ShowInterimResults(const ScanSession& session, const LanguageCatalogue& texts);

} // namespace orv::ui
