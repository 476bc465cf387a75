// The statement builders fed with arbitrary field texts: the contact editor's INSERT and UPDATE,
// the appointment editor's INSERT and UPDATE, the to-do insert and update, and the import's two
// INSERTs. Each statement runs against a scratch database and must store exactly the text given,
// or the text cut where the program cuts it; no value may change a statement's shape.
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/frmLead.h"
#include "data/ContactFields.h"
#include "data/Database.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "fuzz/FuzzSupport.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QDateEdit>
#include <QLineEdit>
#include <QRadioButton>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

using namespace kestrel;
using fuzz::expectSame;

namespace {

QString text(FuzzedDataProvider& in, size_t maxBytes = 160)
{
    const std::string bytes = in.ConsumeRandomLengthString(maxBytes);
    QString s = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    // A NUL is refused by the data layer before any statement runs; that rule has its own target.
    s.remove(QChar(u'\0'));
    return s;
}

void run(const QString& connection, const QString& statement)
{
    try {
        Connection c(connection);
        c.execute(statement);
    } catch (const DbError& e) {
        std::fprintf(stderr, "statement refused: %s\n  %s\n", e.what(), statement.toUtf8().constData());
        std::abort();
    }
}

// The one row a query returns, every column as text (dates and times as the snapshot gives them).
QStringList row(const QString& connection, const QString& query)
{
    Connection c(connection);
    Snapshot rs(c, query);
    if (rs.rowCount() != 1) {
        std::fprintf(stderr, "%d rows for %s\n", rs.rowCount(), query.toUtf8().constData());
        std::abort();
    }
    QStringList out;
    for (int i = 0; i < rs.fieldCount(); ++i)
        out << rs.text(i);
    return out;
}

int lastId(const QString& connection, const QString& table, const QString& key)
{
    return row(connection, QStringLiteral("select max(%1) from %2").arg(key, table))[0].toInt();
}

struct Windows {
    frmLead newLead;
    frmLead editLead;
    frmAppt newAppt;
    frmAppt editAppt;
    Windows()
    {
        editLead.bEditMode = true;
        newLead.PopContactTypes();
        editLead.PopContactTypes();
        newAppt.Form_Load();
        editAppt.bEditMode = true;
        editAppt.Form_Load(); // appointment 0: nothing stored, the fields stay empty
    }
};

// Box index → the most the box takes (the contact editor's boxes 1 to 12).
constexpr int kLeadMax[13] = {0, 50, 50, 100, 50, 50, 20, 30, 30, 30, 10, 254, 100};
// The order the editor's SELECT names the columns, by box index, then the fields added later.
const char* const kLeadColumns = "id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,ext,email,company,"
                                 "active,contype,country,jobtitle,website,birthday,notes";

void contactEditor(Windows& w, FuzzedDataProvider& in)
{
    for (frmLead* editor : {&w.newLead, &w.editLead}) {
        QString typed[13];
        for (int i = 1; i <= 12; ++i) {
            typed[i] = text(in);
            if (i == 3) {
                // The address box of several lines refuses a text past its limit with a message
                // (which would end the run here), so it is given one that fits.
                editor->txtAddress->setPlainText(LeftChars(typed[i], kLeadMax[i]));
                continue;
            }
            editor->txtLead[i]->setText(typed[i]);
            // What the box keeps is what the user sees: cut at its length, never half a character.
            expectSame(QStringLiteral("contact box %1").arg(i), editor->txtLead[i]->text(),
                       LeftChars(typed[i], kLeadMax[i]));
        }
        QLineEdit* later[] = {editor->txtCountry, editor->txtJobTitle, editor->txtWebSite, editor->txtBirthday};
        const int laterMax[] = {50, 100, 500, 10};
        for (int i = 0; i < 4; ++i) {
            const QString t = text(in);
            later[i]->setText(t);
            expectSame(QStringLiteral("later box %1").arg(i), later[i]->text(), LeftChars(t, laterMax[i]));
        }
        editor->txtNotes->setPlainText(text(in));
        editor->cmbType->setCurrentIndex(in.ConsumeIntegralInRange(0, 3));
        (in.ConsumeBool() ? editor->optActive : editor->optInActive)->setChecked(true);
        if (editor->bEditMode)
            editor->txtLead[0]->setText(QString::number(lastId(sConnContacts, QStringLiteral("contacts"),
                                                                QStringLiteral("id"))));
        run(sConnContacts, editor->SaveStatement());
        const int id = lastId(sConnContacts, QStringLiteral("contacts"), QStringLiteral("id"));
        const QStringList stored =
            row(sConnContacts, QStringLiteral("select %1 from contacts where id=%2").arg(QLatin1String(kLeadColumns)).arg(id));
        for (int i = 1; i <= 12; ++i)
            expectSame(QStringLiteral("contact column %1").arg(i), stored[i],
                       i == 3 ? editor->txtAddress->toPlainText() : editor->txtLead[i]->text());
        expectSame(QStringLiteral("active"), stored[13], BoolWord(editor->optActive->isChecked()));
        expectSame(QStringLiteral("contype"), stored[14], editor->cmbType->currentText());
        expectSame(QStringLiteral("country"), stored[15], editor->txtCountry->text());
        expectSame(QStringLiteral("jobtitle"), stored[16], editor->txtJobTitle->text());
        expectSame(QStringLiteral("website"), stored[17], editor->txtWebSite->text());
        // A birthday is stored in its own form when it is a day (Save refuses it otherwise).
        expectSame(QStringLiteral("birthday"), stored[18],
                   parseBirthday(editor->txtBirthday->text()).value_or(editor->txtBirthday->text()));
        expectSame(QStringLiteral("notes"), stored[19], editor->txtNotes->toPlainText());
    }
    if (row(sConnContacts, QStringLiteral("select count(*) from contacts"))[0] != u"1")
        std::abort(); // the update touched more than its own row, or the insert added more than one
    run(sConnContacts, QStringLiteral("delete from contacts"));
}

void appointmentEditor(Windows& w, FuzzedDataProvider& in)
{
    for (frmAppt* editor : {&w.newAppt, &w.editAppt}) {
        for (int i = 0; i < 4; ++i) {
            // A value the editor is given (as one read from the file) is kept whole: a box's
            // length bounds only what is typed into it.
            const QString given = text(in, i == 2 ? 400 : 160);
            editor->setApptText(i, given);
            expectSame(QStringLiteral("appointment box %1").arg(i), editor->apptText(i), given);
        }
        const QDate date(in.ConsumeIntegralInRange(1800, 9999), in.ConsumeIntegralInRange(1, 12),
                         in.ConsumeIntegralInRange(1, 28));
        editor->DTPicker1->setDate(date);
        const int half = in.ConsumeIntegralInRange(0, 47);
        editor->cboTime->setCurrentIndex(half);
        if (editor->bEditMode)
            editor->lApptID = lastId(sConnContacts, QStringLiteral("appointments"), QStringLiteral("autoid"));
        run(sConnContacts, editor->SaveStatement());
        const int id = lastId(sConnContacts, QStringLiteral("appointments"), QStringLiteral("autoid"));
        Connection c(sConnContacts);
        Snapshot rs(c, QStringLiteral("SELECT name,address,apptdate,appttime,apptbrief,apptnotes FROM appointments "
                                      "where autoid=%1").arg(id));
        expectSame(QStringLiteral("name"), rs.text(0), editor->apptText(3));
        expectSame(QStringLiteral("address"), rs.text(1), editor->apptText(1));
        expectSame(QStringLiteral("apptbrief"), rs.text(4), editor->apptText(0));
        expectSame(QStringLiteral("apptnotes"), rs.text(5), editor->apptText(2));
        if (rs.field(2).toDate() != date || rs.field(3).toTime() != QTime(half / 2, half % 2 * 30))
            std::abort();
    }
    if (row(sConnContacts, QStringLiteral("select count(*) from appointments"))[0] != u"1")
        std::abort();
    run(sConnContacts, QStringLiteral("delete from appointments"));
}

void toDo(FuzzedDataProvider& in)
{
    const QString added = text(in, 60);
    run(sConnMain, ToDoInsertStatement(added));
    const int id = lastId(sConnMain, QStringLiteral("todo"), QStringLiteral("id"));
    expectSame(QStringLiteral("todo"), row(sConnMain, QStringLiteral("select todo from todo where id=%1").arg(id))[0],
               LeftChars(added, 25));
    const QString changed = text(in, 60);
    run(sConnMain, ToDoUpdateStatement(changed, id));
    expectSame(QStringLiteral("todo changed"),
               row(sConnMain, QStringLiteral("select todo from todo where id=%1").arg(id))[0], LeftChars(changed, 25));
    run(sConnMain, QStringLiteral("delete from todo"));
}

void import(FuzzedDataProvider& in)
{
    // Main's fields are sized as the shared field list says, in the order of the mapping targets.
    QStringList values;
    bool fits = true;
    for (int i = 0; i < cf::kMapped; ++i) {
        const int size = contactFields()[i].size;
        values << text(in, std::min(size + 8, 300));
        fits = fits && values.back().toUcs4().size() <= size;
    }
    const QString statement = MainInsertStatement(kMapTargets.join(u','), values);
    bool stored = true;
    try {
        Connection c(sConnTemp);
        c.execute(statement);
    } catch (const DbError& e) {
        stored = false;
        // Only a value longer than its field may make Main refuse a row.
        if (fits || !e.description().contains(QStringLiteral("holds at most"))) {
            std::fprintf(stderr, "Main refused a row: %s\n  %s\n", e.what(), statement.toUtf8().constData());
            std::abort();
        }
    }
    if (stored) {
        const QStringList back =
            row(sConnTemp, QStringLiteral("select %1 from main where id=%2")
                               .arg(kMapTargets.join(u','))
                               .arg(lastId(sConnTemp, QStringLiteral("main"), QStringLiteral("id"))));
        for (int i = 0; i < cf::kMapped; ++i)
            expectSame(QStringLiteral("Main.") + kMapTargets[i], back[i], values[i]);
        run(sConnTemp, QStringLiteral("delete from main"));
    }

    const QString type = kContactTypes[in.ConsumeIntegralInRange(0, 3)];
    run(sConnContacts, ImportInsertStatement(values, type));
    const QStringList back =
        row(sConnContacts, QStringLiteral("select %1,contype from contacts where id=%2")
                               .arg(kMapTargets.join(u','))
                               .arg(lastId(sConnContacts, QStringLiteral("contacts"), QStringLiteral("id"))));
    for (int i = 0; i < cf::kMapped; ++i)
        expectSame(QStringLiteral("imported ") + kMapTargets[i], back[i], values[i]);
    expectSame(QStringLiteral("imported type"), back[cf::kMapped], type);
    run(sConnContacts, QStringLiteral("delete from contacts"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        fuzz::makeApplication();
        fuzz::setUpProgramFolder();
        CreateTempDB();
        return true;
    }();
    (void)ready;
    static Windows windows;
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: contactEditor(windows, in); break;
    case 1: appointmentEditor(windows, in); break;
    case 2: toDo(in); break;
    default: import(in); break;
    }
    return 0;
}
