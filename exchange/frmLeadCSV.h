#pragma once
// The export window: chosen contact columns to a CSV file or an Excel workbook, one line per
// contact by last name.
#include "ui/Ui.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kestrel {

// Writes the header of column names and one line per contact, sorted by last name, CR LF after
// every line, UTF-8; a value that holds a comma, quote or line break, or begins or ends with a
// blank or tab, is quoted. An existing file
// is replaced only once the new one is complete. For a spreadsheet the file begins with a UTF-8
// byte-order mark and a value that would run as a formula gets an apostrophe in front. On failure
// returns false with the reason in *error (nothing is written). The column kLastContactTag is the
// date of the contact's newest history entry (yyyy-mm-dd), empty without one.
bool WriteLeadCsv(const QString& path, const QStringList& columns, QString* error, bool forSpreadsheet = false);

// The same contacts as an Excel workbook: the header row of column names in bold and frozen,
// then one row per contact by last name, every value a text cell exactly as stored. An existing
// file is replaced only once the new one is complete; false with the reason in *error.
bool WriteLeadXlsx(const QString& path, const QStringList& columns, QString* error);

enum class ExportFormat { Csv, Workbook };
// A name ending in .xlsx is a workbook and one ending in .csv a CSV file, whatever type was chosen
// in the file dialog; any other name is of the type chosen (0 CSV, 1 workbook).
ExportFormat exportFormatFor(const QString& path, int chosenType);

class frmLeadCSV : public QDialog {
    Q_OBJECT
public:
    explicit frmLeadCSV(QWidget* parent = nullptr);

    static constexpr int kFields = 18;
    static const char* const kCaptions[kFields];
    static const char* const kTags[kFields];
    static inline const QString kPathHint = QStringLiteral("Click 'Browse' to name path to file.");
    static inline const QString kFileTypes = QStringLiteral("CSV (*.csv)|*.csv|Excel workbook (*.xlsx)|*.xlsx");

    void cmdBrowse_Click();
    void cmdExport_Click();
    void cmdCancel_Click();

    QString sExportPath;
    ExportFormat eExportFormat = ExportFormat::Csv;

    Controls controls;
    QLabel* Label1 = nullptr;
    QLabel* lblPath = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QGroupBox* Frame1 = nullptr;
    QCheckBox* chkField[kFields] = {};
    // The date of each contact's newest history entry, as the column lastcontact.
    QCheckBox* chkLastContact = nullptr;
    QCheckBox* chkSpreadsheet = nullptr;
    QPushButton* cmdExport = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace kestrel
