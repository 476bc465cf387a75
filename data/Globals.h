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

// Builds sConnTemp, sConnContacts and sConnMain (in that order) from the program directory; with
// an office database (a libpq connection string) contacts, appointments and to-do lists are on
// that server and the scratch import file is the user's own (userScratchFile).
void buildConnectionTexts(const QString& officeConninfo = QString());
// The scratch import file of the user in office mode, in a folder only that user may open
// (made when missing).
QString userScratchFile();

} // namespace kestrel
