#include "exchange/frmLeadCSV.h"

#include "data/ContactFields.h"
#include "data/Statement.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/SqlDialect.h"
#include "data/modData.h"
#include "formats/ImportRules.h"
#include "formats/Workbook.h"
#include "platform/Platform.h"
#include "ui/Accessible.h"
#include "ui/Report.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>


namespace kestrel {

namespace {

// The contact field at a place of the export's list.
const ContactField& exported(int index)
{
    for (const ContactField& f : contactFields())
        if (f.exportIndex == index)
            return f;
    qFatal("No contact field is exported at %d", index);
}

} // namespace

static_assert(frmLeadCSV::kFields == cf::Count);
const char* const frmLeadCSV::kCaptions[kFields] = {
    exported(0).caption,  exported(1).caption,  exported(2).caption,  exported(3).caption,  exported(4).caption,
    exported(5).caption,  exported(6).caption,  exported(7).caption,  exported(8).caption,  exported(9).caption,
    exported(10).caption, exported(11).caption, exported(12).caption, exported(13).caption, exported(14).caption,
    exported(15).caption, exported(16).caption, exported(17).caption};
const char* const frmLeadCSV::kTags[kFields] = {
    exported(0).column,  exported(1).column,  exported(2).column,  exported(3).column,  exported(4).column,
    exported(5).column,  exported(6).column,  exported(7).column,  exported(8).column,  exported(9).column,
    exported(10).column, exported(11).column, exported(12).column, exported(13).column, exported(14).column,
    exported(15).column, exported(16).column, exported(17).column};

namespace {

// Appends one value as a CSV field, straight from the engine's UTF-8 bytes.
void appendCsvBytes(QByteArray& out, const char* s, int n, bool apostrophe)
{
    if (apostrophe) {
        QByteArray marked = '\'' + QByteArray(s, n);
        appendCsvBytes(out, marked.constData(), int(marked.size()), false);
        return;
    }
    // Readers trim blanks and tabs around a field that is not quoted, so such a value is quoted too.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    bool needs = n > 0 && (blank(s[0]) || blank(s[n - 1]));
    for (int i = 0; i < n && !needs; ++i)
        needs = s[i] == ',' || s[i] == '"' || s[i] == '\r' || s[i] == '\n';
    if (!needs) {
        out.append(s, n);
        return;
    }
    out += '"';
    for (int i = 0; i < n; ++i) {
        if (s[i] == '"')
            out += '"';
        out += s[i];
    }
    out += '"';
}

} // namespace

bool WriteLeadCsv(const QString& path, const QStringList& columns, QString* error, bool forSpreadsheet)
{
    // The header names the columns; the last contact is read from the history.
    QStringList selected = columns;
    selected.replaceInStrings(QRegularExpression(QStringLiteral("^") + kLastContactTag + u'$'), LastContactColumn());
    const QString list = selected.join(u',');
    // A spreadsheet takes a file for UTF-8 only when it begins with the mark.
    QByteArray out = forSpreadsheet ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    out += columns.join(u',').toUtf8() + "\r\n";
    try {
        // A hundred thousand contacts are written in well under a second only if the rows go
        // from the engine to the file's bytes without a copy in between.
        Connection db(sConnContacts);
        const SqlTranslation sql =
            translateSql(QStringLiteral("select ") + list + QStringLiteral(" from contacts order by lastname asc"),
                         db.onServer() ? SqlTarget::Postgres : SqlTarget::Sqlite);
        if (!sql.ok)
            throw DbError(sql.errorNumber, sql.errorText);
        forEachRowBytes(db, sql.sql, [&out, forSpreadsheet](int n, const char* const* v, const int* sizes) {
            for (int c = 0; c < n; ++c) {
                if (c > 0)
                    out += ',';
                // A null is an empty field.
                if (v[c])
                    appendCsvBytes(out, v[c], sizes[c], forSpreadsheet && needsFormulaGuard(v[c], sizes[c]));
            }
            out += "\r\n";
        });
    } catch (const std::exception& e) {
        *error = MachineFaultWords(e);
        if (error->isEmpty())
            *error = ErrorReport(e, QStringLiteral("cmdExport_Click"), Owner::Form, QStringLiteral("frmLeadCSV"));
        return false;
    }

    // The old file stays whole until the new one is complete.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        *error = QStringLiteral("The file %1 could not be written (%2). Please choose another file with 'Browse'.")
                     .arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool WriteLeadXlsx(const QString& path, const QStringList& columns, QString* error)
{
    WorkbookWriter book(path);
    book.addHeader(columns);
    try {
        Connection db(sConnContacts);
        const SqlTranslation sql =
            translateSql(QStringLiteral("select ") + columns.join(u',') + QStringLiteral(" from contacts order by lastname asc"),
                         db.onServer() ? SqlTarget::Postgres : SqlTarget::Sqlite);
        if (!sql.ok)
            throw DbError(sql.errorNumber, sql.errorText);
        // Once a row fails (a value too long for a cell) the rest are read past, not written.
        forEachRowBytes(db, sql.sql, [&book](int n, const char* const* v, const int* sizes) { book.addRow(n, v, sizes); });
    } catch (const std::exception& e) {
        *error = ErrorReport(e, QStringLiteral("cmdExport_Click"), Owner::Form, QStringLiteral("frmLeadCSV"));
        return false;
    }
    if (!book.finish()) {
        *error = book.error();
        return false;
    }
    return true;
}

ExportFormat exportFormatFor(const QString& path, int chosenType)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xlsx")
        return ExportFormat::Workbook;
    if (suffix == u"csv")
        return ExportFormat::Csv;
    return chosenType == 1 ? ExportFormat::Workbook : ExportFormat::Csv;
}

frmLeadCSV::frmLeadCSV(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmLeadCSV"));
    setupDialog(this, QStringLiteral("Export Leads to CSV"), 4185, 4800, false);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    // Five rows: Last Name, First Name, Company; Address, City, State, Zip; Home Phone, Work,
    // Ext; Cell Phone, Email; Contact Type; then the fields added later: Country, Job Title,
    // Web Site; Birthday, Notes. The tab order follows the index, as the file does.
    controls = buildControls(this, {
        {"Label1", ControlKind::Label, "File Name:", 120, 150, 1035, 255},
        {"cmdBrowse", ControlKind::Button, "&Browse", 2880, 90, 1185, 375, 1},
        {"lblPath", ControlKind::Label, "Click 'Browse' to name path to file.", 120, 540, 3945, 495},
        {"Frame1", ControlKind::Frame, "Select fields", 120, 1080, 3945, 2760},
        {"Frame1.chkField0", ControlKind::CheckBox, "Last Name", 120, 300, 1200, 255, 2},
        {"Frame1.chkField1", ControlKind::CheckBox, "First Name", 1380, 300, 1260, 255, 3},
        {"Frame1.chkField2", ControlKind::CheckBox, "Address", 120, 660, 1020, 255, 4},
        {"Frame1.chkField3", ControlKind::CheckBox, "City", 1200, 660, 780, 255, 5},
        {"Frame1.chkField4", ControlKind::CheckBox, "State", 2040, 660, 900, 255, 6},
        {"Frame1.chkField5", ControlKind::CheckBox, "Zip", 3000, 660, 840, 255, 7},
        {"Frame1.chkField6", ControlKind::CheckBox, "Home Phone", 120, 1020, 1320, 255, 8},
        {"Frame1.chkField7", ControlKind::CheckBox, "Work", 1500, 1020, 900, 255, 9},
        {"Frame1.chkField8", ControlKind::CheckBox, "Ext", 2460, 1020, 780, 255, 10},
        {"Frame1.chkField9", ControlKind::CheckBox, "Email", 1500, 1380, 900, 255, 11},
        {"Frame1.chkField10", ControlKind::CheckBox, "Company", 2700, 300, 1140, 255, 12},
        {"Frame1.chkField11", ControlKind::CheckBox, "Cell Phone", 120, 1380, 1320, 255, 13},
        {"Frame1.chkField12", ControlKind::CheckBox, "Contact Type", 120, 1740, 1500, 255, 14},
        {"Frame1.chkField13", ControlKind::CheckBox, "Country", 120, 2100, 1200, 255, 15},
        {"Frame1.chkField14", ControlKind::CheckBox, "Job Title", 1380, 2100, 1260, 255, 16},
        {"Frame1.chkField15", ControlKind::CheckBox, "Web Site", 2700, 2100, 1140, 255, 17},
        {"Frame1.chkField16", ControlKind::CheckBox, "Birthday", 120, 2460, 1200, 255, 18},
        {"Frame1.chkField17", ControlKind::CheckBox, "Notes", 1380, 2460, 1260, 255, 19},
        {"Frame1.chkLastContact", ControlKind::CheckBox, "Last contact", 2700, 2460, 1215, 255, 20},
        {"chkSpreadsheet", ControlKind::CheckBox, "For a &spreadsheet", 120, 3960, 3945, 255, 21},
        {"cmdExport", ControlKind::Button, "E&xport", 1560, 4320, 1185, 375, 22},
        {"cmdCancel", ControlKind::Button, "Cancel", 2880, 4320, 1185, 375, 23},
    });
    Label1 = controls.get<QLabel>(QStringLiteral("Label1"));
    lblPath = controls.get<QLabel>(QStringLiteral("lblPath"));
    lblPath->setWordWrap(true);
    cmdBrowse = controls.get<QPushButton>(QStringLiteral("cmdBrowse"));
    describeBy(cmdBrowse, lblPath);
    Frame1 = controls.get<QGroupBox>(QStringLiteral("Frame1"));
    for (int i = 0; i < kFields; ++i) {
        chkField[i] = controls.get<QCheckBox>(QStringLiteral("chkField%1").arg(i));
        // The table above places the boxes; the shared field list names them and their columns.
        chkField[i]->setText(QString::fromUtf8(kCaptions[i]));
        chkField[i]->setProperty("Tag", QString::fromLatin1(kTags[i]));
    }
    chkLastContact = controls.get<QCheckBox>(QStringLiteral("chkLastContact"));
    chkLastContact->setToolTip(QStringLiteral("The date of the newest entry of each contact's history"));
    chkField[0]->setChecked(true);
    chkField[0]->setEnabled(false);
    chkSpreadsheet = controls.get<QCheckBox>(QStringLiteral("chkSpreadsheet"));
    chkSpreadsheet->setChecked(true);
    chkSpreadsheet->setToolTip(QStringLiteral("UTF-8 with a byte-order mark, and an apostrophe before any value a "
                                              "spreadsheet would run as a formula (a phone number such as "
                                              "+49 171 1234567 stays as it is). Off: plain CSV in UTF-8. An Excel "
                                              "workbook (.xlsx) needs neither: every value is a text cell."));
    cmdExport = controls.get<QPushButton>(QStringLiteral("cmdExport"));
    cmdCancel = controls.get<QPushButton>(QStringLiteral("cmdCancel"));
    for (QPushButton* b : {cmdBrowse, cmdExport, cmdCancel})
        b->setAutoDefault(false);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmLeadCSV::cmdBrowse_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmLeadCSV::cmdExport_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLeadCSV::cmdCancel_Click);
}

void frmLeadCSV::cmdBrowse_Click()
{
    int type = 0;
    const QString chosen = platform().saveFileName(QStringLiteral("c:\\"), QStringLiteral("Select Directory and Name CSV File"),
                                                   kFileTypes, &type);
    // A cancelled dialog keeps the name chosen before, if any.
    if (!chosen.isEmpty()) {
        sExportPath = chosen;
        eExportFormat = exportFormatFor(chosen, type);
        // A CSV name stays as typed; a workbook named without an extension gets its own, or
        // no spreadsheet program would know it by its name.
        if (eExportFormat == ExportFormat::Workbook && QFileInfo(chosen).suffix().isEmpty())
            sExportPath += QStringLiteral(".xlsx");
    }
    lblPath->setText(sExportPath);
    // A workbook keeps every value as text: the CSV choice for a spreadsheet does not apply.
    chkSpreadsheet->setEnabled(eExportFormat == ExportFormat::Csv);
}

void frmLeadCSV::cmdExport_Click()
{
    if (lblPath->text().isEmpty() || lblPath->text() == kPathHint) {
        platform().msgBox(QStringLiteral("Please select path for file."));
        return;
    }
    QStringList columns;
    for (int i = 0; i < kFields; ++i)
        if (chkField[i]->isChecked())
            columns << chkField[i]->property("Tag").toString();
    if (chkLastContact->isChecked())
        columns << kLastContactTag;
    if (columns.size() < 2) {
        platform().msgBox(QStringLiteral("You must select at least 2 fields."));
        return;
    }
    QString error;
    const bool written = eExportFormat == ExportFormat::Workbook
                             ? WriteLeadXlsx(sExportPath, columns, &error)
                             : WriteLeadCsv(sExportPath, columns, &error, chkSpreadsheet->isChecked());
    if (!written) {
        platform().msgBox(error);
        return;
    }
    accept();
}

void frmLeadCSV::cmdCancel_Click() { reject(); }

} // namespace kestrel
