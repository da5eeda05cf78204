#pragma once
// The window's Japanese: its locale, Qt's translations, the grid's font and the order of names.

#include <QFont>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class QTranslator;

namespace murako {

// Gives the program Japanese dates and numbers, whatever the system's locale: in the file chooser, which
// reads the system's, too. Call before the application object is made.
void UseJapaneseLocale();

// Installs Qt's own Japanese translations and, over them, this program's Japanese for what they leave in
// English, both owned by the application, so that the printer dialog, the file chooser and the standard
// buttons speak the window's language; null when Qt's are not installed.
QTranslator* LoadQtJapaneseTranslations();

// The font of the grid, the status bar and the tooltips, with Linux's Japanese faces standing in for it.
QFont GridFont();

// Each name's rank in the Japanese collation, numbers by their value.
std::vector<int32_t> CollatedRanks(const std::vector<std::string>& names);

}  // namespace murako
