#pragma once
// Every field a contact holds, in one table that the editor, the detail panel, the grid, Find,
// the import, the export, vCard and the office copy share; and the rules of the fields whose
// values have a form of their own: a birthday with or without its year, a web address.
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace kestrel {

struct ContactField {
    const char* column;  // the column of contacts
    const char* target;  // the import's name for it: its mapping list and the scratch table's column
    const char* caption; // the export's check box and the grid's column heading
    int size;            // the most characters the editor and the import take
    int exportIndex;     // its place in the export's list, which is the order of the file's columns
};

// Positions in contactFields(): the import's targets in the order it offers them, the fields
// added later after them, and the contact type last.
namespace cf {
enum : int {
    LastName, FirstName, Company, Address, City, St, Zip, CellPh, HomePh, WorkPh, Ext, Email,
    Country, JobTitle, WebSite, Birthday, Notes,
    ConType,
    Count
};
// The fields a file's column can be mapped to (every one but the contact type).
constexpr int kMapped = ConType;
// The fields every contact had from the start; the rest were added to stored files later.
constexpr bool isLater(int f) { return f >= Country && f <= Notes; }
} // namespace cf

const std::array<ContactField, cf::Count>& contactFields();
// The position of a field by its column or its import name, in any case; -1 when none.
int contactFieldIndex(const QString& columnOrTarget);
// The columns of the given fields joined with ",".
QString contactColumns(std::initializer_list<int> fields);
// Every column of contactFields(), in its order, joined with ",".
QString allContactColumns();

// The columns added to contacts after the first files were made; stored files gain them as
// text columns whose default is the empty text, so that rows written by an older Kestrel hold "".
QStringList laterContactColumns();

// A birthday as stored: "1980-03-07", or "--03-07" for a day and month without a year (as vCard
// writes it). parseBirthday takes what a person or a file writes (3/7/1980, 3/7, 1980-03-07,
// 19800307, --03-07, --0307, a date with a time after it) and gives the stored form, "" for an
// empty text, nothing for a text that is not a day of the calendar (2/30, 13/1/1980, 2/29/2001).
std::optional<QString> parseBirthday(const QString& text);
// "3/7/1980" or "3/7" for a stored birthday; a stored text of another form is shown as it is.
QString birthdayText(const QString& stored);
// The stored birthday's year, month and day (year 0 for none); false for another form.
bool birthdayParts(const QString& stored, int* year, int* month, int* day);

// The address a web site value opens: the value with https:// in front when it names no scheme
// ("www.example.com"); empty when it is empty or not a web page (javascript:, file:, data: and
// every scheme but http and https are never opened).
QString webLink(const QString& stored);

} // namespace kestrel
