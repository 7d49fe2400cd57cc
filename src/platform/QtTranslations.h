#pragma once

// The program speaks Japanese, whatever the locale it runs under: Qt's own texts (the standard
// buttons, the folder picker, the edit menus) come from Qt's Japanese catalogue.

#include <QCoreApplication>

namespace orvalink::platform {

// Installs Qt's Japanese translations into app (the translator belongs to app). False when the
// catalogue is not installed: Qt's texts then stay in English and nothing else changes.
bool installQtJapanese(QCoreApplication& app);

} // namespace orvalink::platform
