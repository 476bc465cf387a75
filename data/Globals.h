#pragma once
// Program-wide values, set once at start-up and read everywhere.
#include <QString>

namespace kestrel {

extern QString sConnTemp;
extern QString sConnContacts;
extern QString sConnMain;
extern QString sHelpPath;
// Key of the contact last chosen in the contact tree; 0 for none.
extern int lLeadID;

// The directory of the executable, without a trailing separator.
QString programDir();
// Overrides the program directory (tests point it at a scratch folder).
void setProgramDir(const QString& dir);

// Builds sConnTemp, sConnContacts and sConnMain (in that order) from the program directory.
void buildConnectionTexts();

} // namespace kestrel
