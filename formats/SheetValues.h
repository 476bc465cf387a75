#pragma once
// How the values of a spreadsheet's cells become the texts an import reads. A sheet stores a
// number once and shows it through a format; what the import takes is what a person sees in the
// sheet where that is plain (a ZIP code "02134" kept with its zero, "(555) 123-4567" with its
// brackets), the whole number where the display would round or shorten it (a phone number stored
// as a number keeps every digit, never "4.91711E+12"), and dates and times in ISO 8601 form
// ("2024-03-05", "2024-03-05 14:30", "14:30"), which read the same in every country.
#include <QString>
#include <QStringView>

namespace kestrel {

// A number as a spreadsheet's General format would give it in full: an integer below 10^15 with
// every digit and no exponent, anything else with up to 15 significant digits.
QString plainSheetNumber(double value);

// The built-in number format of an Excel workbook by its id ("0.00" for 2, "" for General or an
// id it does not define).
QString builtinNumberFormat(int id);

// True when the format shows a date or a time (day, month, year, hour or second codes outside
// quoted text).
bool isDateFormat(const QString& formatCode);

// A number of a cell written by its Excel format code: zero padding, digit groups, fixed decimals,
// percent and literal characters as the sheet shows them; General, scientific and fraction
// formats as plainSheetNumber; a date or time format as ISO 8601. date1904 is the workbook's
// date system.
QString sheetNumberText(double value, const QString& formatCode, bool date1904 = false);

// An Excel date serial as ISO 8601: the date, the time (hh:mm, with seconds when the format
// shows seconds) or both, as the format shows a date, a time or both.
QString sheetDateText(double serial, const QString& formatCode, bool date1904 = false);

// An ISO date or date-time as an OpenDocument or an Excel "d" cell stores it
// ("2024-03-05T14:30:00") in the same form as sheetDateText: the time only when it is not midnight.
QString isoDateText(QStringView stored);

// Characters that XML cannot carry, written into a workbook's text as _xHHHH_, back as themselves
// ("_x005F_" stands for a literal underscore before such a sequence).
QString unescapeSheetText(const QString& text);

} // namespace kestrel
