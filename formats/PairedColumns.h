#pragma once
// Columns that need the rest of their row to be read right: a value with its kind in the column
// beside it ("Phone 1 - Type" and "Phone 1 - Value", as Google Contacts writes them), several
// values in one field ("a@x ::: b@y"), and the contact type written by name.
#include <QList>
#include <QString>
#include <QStringList>

namespace kestrel {

// For each header name, the position of the column that says what kind of value it holds:
// "Phone 1 - Value" is told by "Phone 1 - Type" (or "Phone 1 - Label"); -1 for a column without one.
QList<int> kindColumns(const QStringList& header);

// Whether the import name is that of a phone field (CellPh, HomePh, WorkPh), in any case.
bool isPhoneTarget(const QString& target);

// The separator of a field that holds several values.
inline const QString kMultiValueSeparator = QStringLiteral(" ::: ");

// One row's mapped values, placed by what the row says about them.
struct RowValues {
    QStringList targets; // the contact field of each value (import names: "CellPh", "Notes")
    QStringList sources; // the file's name for each value's column
    QList<bool> paired;  // for each value, whether its row says what kind it is
    QStringList kinds;   // and if so, what it says ("* Mobile", "Work Fax", "")
    QStringList values;  // changed in place
    // Whether a field may hold several values: in the files of the address books that write
    // " ::: " between them, known by their value columns paired with a type; anywhere else the
    // text is a value of its own.
    bool multiValues = false;
};
// Places one row's values:
// - a field holding several values (when the file may have them) keeps the first; the rest go to the notes, each named by its
//   column (and kind);
// - a phone number with a kind is filed by that kind whatever phone field its column is mapped
//   to (Mobile to CellPh, Work to WorkPh, Home to HomePh); one without a kind the row knows, or
//   of the main number, goes to the field its column is mapped to; a number whose field is
//   taken, a fax and a pager go to the notes.
// The targets must hold CellPh, HomePh and WorkPh when a phone has a kind, and Notes whenever a
// value may go to the notes. Returns what the preview says about the row.
QStringList placeRowValues(RowValues& row);

// One of the four contact types, in its own spelling, for a value naming it in any case ("lead"
// is "Lead"); a null text for any other value.
QString contactTypeNamed(const QString& value);

} // namespace kestrel
