#include "contacts/frmLead.h"

#include "contacts/NotesBox.h"
#include "contacts/modTree.h"
#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/RowGuard.h"
#include "data/modData.h"
#include "formats/ImportRules.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>

namespace kestrel {

frmLead::frmLead(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmLead"));
    // Grown downward for the fields added later; the first ones stay where they were.
    setupDialog(this, QStringLiteral("Contacts"), 6855, 7815, false);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    controls = buildControls(this, {
        {"lbl1", ControlKind::Label, "ID:", 240, 240, kAuto, kAuto},
        {"txtLead0", ControlKind::TextBox, "", 600, 240, 975, 240, kNotStop}, // clear of the label below it
        {"Label1", ControlKind::Label, "Type:", 4440, 240, kAuto, kAuto},
        {"cmbType", ControlKind::ComboList, "", 4680, 480, 1935, kAuto, 16},
        {"lblLName", ControlKind::Label, "Last Name:", 240, 480, kAuto, kAuto},
        {"txtLead1", ControlKind::TextBox, "", 480, 720, 1695, 285, 1, 50},
        {"lblFName", ControlKind::Label, "First Name:", 2160, 480, kAuto, kAuto},
        {"txtLead2", ControlKind::TextBox, "", 2400, 720, 1695, 285, 2, 50},
        {"Label3", ControlKind::Label, "Company:", 240, 1080, kAuto, kAuto},
        {"txtLead12", ControlKind::TextBox, "", 480, 1320, 3960, 285, 3, 100},
        {"optActive", ControlKind::Option, "Active", 4680, 1080, 855, 255, 17},
        {"optInActive", ControlKind::Option, "Inactive", 5640, 1080, 975, 255, 18},
        {"lblAdd", ControlKind::Label, "Address:", 240, 1680, kAuto, kAuto},
        // Two lines: an address may hold a line break, typed with Enter; the rows below moved down for it.
        {"txtLead3", ControlKind::MultiText, "", 480, 1920, 3960, 510, 4},
        {"lblC", ControlKind::Label, "City:", 240, 2520, kAuto, kAuto},
        {"txtLead4", ControlKind::TextBox, "", 480, 2760, 1695, 285, 5, 50},
        {"lblState", ControlKind::Label, "State:", 2160, 2520, kAuto, kAuto},
        {"txtLead5", ControlKind::TextBox, "", 2280, 2760, 375, 285, 6, 50},
        {"lblZ", ControlKind::Label, "Zip:", 2880, 2520, kAuto, kAuto},
        {"txtLead6", ControlKind::TextBox, "", 2760, 2760, 1695, 285, 7, 20},
        {"lblHPhone", ControlKind::Label, "Home Phone:", 240, 3120, kAuto, kAuto},
        {"txtLead7", ControlKind::TextBox, "", 480, 3360, 1680, 285, 8, 30},
        {"lblCellPh", ControlKind::Label, "Cell Phone:", 2160, 3120, kAuto, kAuto},
        {"txtLead8", ControlKind::TextBox, "", 2280, 3360, 1680, 285, 9, 30},
        {"lblWPhone", ControlKind::Label, "Work Phone:", 240, 3720, kAuto, kAuto},
        {"txtLead9", ControlKind::TextBox, "", 480, 3960, 1680, 285, 10, 30},
        {"lblE", ControlKind::Label, "Ext:", 2160, 3720, kAuto, kAuto},
        {"txtLead10", ControlKind::TextBox, "", 2280, 3960, 735, 285, 11, 10},
        {"lblEmail", ControlKind::Label, "Email:", 240, 4320, kAuto, kAuto},
        {"txtLead11", ControlKind::TextBox, "", 480, 4560, 3975, 285, 12, 254},
        {"cmdSave", ControlKind::Button, "Save", 5040, 2280, 1335, 375, 13},
        {"cmdDelete", ControlKind::Button, "Delete", 5040, 2880, 1335, 375, 14},
        {"cmdCloseLead", ControlKind::Button, "Close/Cancel", 5040, 3480, 1335, 375, 15},
        // The fields added later, below the first ones; the tab order goes on after them.
        {"lblCountry", ControlKind::Label, "Country:", 240, 4920, kAuto, kAuto},
        {"txtCountry", ControlKind::TextBox, "", 480, 5160, 1680, 285, 19, 50},
        {"lblJobTitle", ControlKind::Label, "Job Title:", 2160, 4920, kAuto, kAuto},
        {"txtJobTitle", ControlKind::TextBox, "", 2280, 5160, 2175, 285, 20, 100},
        {"lblBirthday", ControlKind::Label, "Birthday:", 4680, 4920, kAuto, kAuto},
        {"txtBirthday", ControlKind::TextBox, "", 4680, 5160, 1335, 285, 21, 10},
        {"lblWebSite", ControlKind::Label, "Web Site:", 240, 5520, kAuto, kAuto},
        {"txtWebSite", ControlKind::TextBox, "", 480, 5760, 3975, 285, 22, 500},
        {"lblNotes", ControlKind::Label, "Notes:", 240, 6120, kAuto, kAuto},
        {"txtNotes", ControlKind::MultiText, "", 480, 6360, 6135, 1215, 23},
    });

    for (int i = 0; i < 13; ++i) {
        if (i == 3)
            continue;
        txtLead[i] = controls.get<QLineEdit>(QStringLiteral("txtLead%1").arg(i));
        installFocusColour(txtLead[i], kLightGrey);
    }
    txtAddress = controls.get<QPlainTextEdit>(QStringLiteral("txtLead3"));
    txtAddress->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    installFocusColour(txtAddress, kLightGrey);
    limitNotes(txtAddress, contactFields()[cf::Address].size, addressLimitText);
    txtCountry = controls.get<QLineEdit>(QStringLiteral("txtCountry"));
    txtJobTitle = controls.get<QLineEdit>(QStringLiteral("txtJobTitle"));
    txtBirthday = controls.get<QLineEdit>(QStringLiteral("txtBirthday"));
    txtWebSite = controls.get<QLineEdit>(QStringLiteral("txtWebSite"));
    for (QLineEdit* box : {txtCountry, txtJobTitle, txtBirthday, txtWebSite})
        installFocusColour(box, kLightGrey);
    txtBirthday->setToolTip(QStringLiteral("Month/day/year, or month/day without the year"));
    txtNotes = controls.get<QPlainTextEdit>(QStringLiteral("txtNotes"));
    installFocusColour(txtNotes, kLightGrey);
    limitNotes(txtNotes, contactFields()[cf::Notes].size);
    // The UPDATE takes its key from the id box, so it only ever shows the loaded id.
    txtLead[0]->setReadOnly(true);
    setBackground(txtLead[0], palette().color(QPalette::Button));

    cmbType = controls.get<QComboBox>(QStringLiteral("cmbType"));
    optActive = controls.get<QRadioButton>(QStringLiteral("optActive"));
    optInActive = controls.get<QRadioButton>(QStringLiteral("optInActive"));
    optActive->setChecked(true);
    cmdSave = controls.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdDelete = controls.get<QPushButton>(QStringLiteral("cmdDelete"));
    cmdCloseLead = controls.get<QPushButton>(QStringLiteral("cmdCloseLead"));
    // Enter in a box must not press a button the user never chose.
    for (QPushButton* b : {cmdSave, cmdDelete, cmdCloseLead})
        b->setAutoDefault(false);

    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdDelete, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    connect(cmdCloseLead, &QPushButton::clicked, this, [this] { cmdCloseLead_Click(); });
    // Ctrl+S saves from any box, as Save does.
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, [this] { cmdSave_Click(); });
}

void frmLead::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!loaded_) {
        loaded_ = true;
        Form_Load();
    }
}

void frmLead::keyPressEvent(QKeyEvent* event)
{
    // The editor ends only through its three buttons.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmLead::PopContactTypes()
{
    cmbType->clear();
    cmbType->addItems(kContactTypes);
    cmbType->setCurrentIndex(0);
}

void frmLead::Form_Load()
{
    PopContactTypes();
    txtLead[1]->setFocus();
    if (!bEditMode) {
        cmdDelete->setEnabled(false);
        return;
    }
    cmdDelete->setEnabled(true);
    try {
        // The version first: a change landing between the two reads then makes the save ask,
        // where the other order would let it overwrite that change unseen.
        seenVersion_ = rowVersion(sConnContacts, row());
        Connection connection(sConnContacts);
        Snapshot rs(connection, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,"
                                               "ext,email,company,active,contype,country,jobtitle,birthday,website,notes "
                                               "FROM contacts where id=") +
                                    QString::number(lLeadID));
        if (rs.eof()) {
            // Deleted since the tree was filled: nothing to edit, and saving would store nothing.
            platform().msgBox(QStringLiteral("This contact is no longer stored."));
            QTimer::singleShot(0, this, [this] { cmdCloseLead_Click(); });
            return;
        }
        for (int i = 0; i <= 12; ++i)
            if (i != 3)
                setStoredText(txtLead[i], rs.text(i));
        loadedAddress_ = rs.text(3);
        setNotesText(txtAddress, loadedAddress_);
        const QVariant active = rs.field(13);
        if (active.isValid() && !active.isNull() && active.toBool())
            optActive->setChecked(true);
        else
            optInActive->setChecked(true);
        const qsizetype type = kContactTypes.indexOf(rs.text(14));
        cmbType->setCurrentIndex(type < 0 ? 0 : int(type));
        setStoredText(txtCountry, rs.text(15));
        setStoredText(txtJobTitle, rs.text(16));
        setStoredText(txtBirthday, birthdayText(rs.text(17)));
        setStoredText(txtWebSite, rs.text(18));
        setNotesText(txtNotes, rs.text(19));
    } catch (const std::exception& e) {
        // Without the stored row the window would save over the contact with empty boxes.
        ReportFailure(e, QStringLiteral("Form_Load"), Owner::Form, QStringLiteral("frmLead"));
        QTimer::singleShot(0, this, [this] { cmdCloseLead_Click(); });
    }
}

QString frmLead::SaveStatement() const
{
    auto v = [this](int i) { return Quoted(i == 3 ? storedAddress() : txtLead[i]->text()); };
    const QString active = BoolWord(optActive->isChecked());
    const QString type = Quoted(cmbType->currentText());
    if (bEditMode) {
        return QStringLiteral("UPDATE contacts ") + QStringLiteral("set lastname='") + v(1) + QStringLiteral("',") +
               QStringLiteral(" firstname='") + v(2) + QStringLiteral("',") + QStringLiteral(" company='") + v(12) +
               QStringLiteral("',") + QStringLiteral(" address='") + v(3) + QStringLiteral("',") +
               QStringLiteral(" city='") + v(4) + QStringLiteral("',") + QStringLiteral(" st='") + v(5) +
               QStringLiteral("',") + QStringLiteral(" zip='") + v(6) + QStringLiteral("',") +
               QStringLiteral(" homeph='") + v(7) + QStringLiteral("',") + QStringLiteral(" cellph='") + v(8) +
               QStringLiteral("',") + QStringLiteral(" workph='") + v(9) + QStringLiteral("',") +
               QStringLiteral(" ext='") + v(10) + QStringLiteral("',") + QStringLiteral(" email='") + v(11) +
               QStringLiteral("',") + QStringLiteral(" active=") + active + QStringLiteral(",") +
               QStringLiteral(" ConType='") + type + QStringLiteral("'") + laterAssignments() +
               QStringLiteral(" where ID=") + txtLead[0]->text();
    }
    return QStringLiteral("INSERT into contacts") +
           QStringLiteral("(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype,"
                          "country,jobtitle,website,birthday,notes)") +
           QStringLiteral("values('") + v(1) + QStringLiteral("','") + v(2) + QStringLiteral("','") + v(12) +
           QStringLiteral("','") + v(3) + QStringLiteral("','") + v(4) + QStringLiteral("','") + v(5) +
           QStringLiteral("','") + v(6) + QStringLiteral("','") + v(7) + QStringLiteral("','") + v(8) +
           QStringLiteral("','") + v(9) + QStringLiteral("','") + v(10) + QStringLiteral("','") + v(11) +
           QStringLiteral("',") + active + QStringLiteral(",'") + type + QStringLiteral("','") +
           Quoted(txtCountry->text()) + QStringLiteral("','") + Quoted(txtJobTitle->text()) + QStringLiteral("','") +
           Quoted(txtWebSite->text()) + QStringLiteral("','") + Quoted(storedBirthday()) + QStringLiteral("','") +
           Quoted(txtNotes->toPlainText()) + QStringLiteral("')");
}

QString frmLead::laterAssignments() const
{
    return QStringLiteral(", country='") + Quoted(txtCountry->text()) + QStringLiteral("', jobtitle='") +
           Quoted(txtJobTitle->text()) + QStringLiteral("', website='") + Quoted(txtWebSite->text()) +
           QStringLiteral("', birthday='") + Quoted(storedBirthday()) + QStringLiteral("', notes='") +
           Quoted(txtNotes->toPlainText()) + u'\'';
}

QString frmLead::storedAddress() const
{
    const QString typed = txtAddress->toPlainText();
    QString loaded = loadedAddress_;
    loaded.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return typed == loaded ? loadedAddress_ : typed;
}

QString frmLead::storedBirthday() const { return parseBirthday(txtBirthday->text()).value_or(txtBirthday->text()); }

void frmLead::cmdSave_Click()
{
    if (txtLead[1]->text().isEmpty() || txtLead[2]->text().isEmpty()) {
        platform().msgBox(QStringLiteral("First and Last Names must contain entries."));
        (txtLead[1]->text().isEmpty() ? txtLead[1] : txtLead[2])->setFocus();
        return;
    }
    if (!parseBirthday(txtBirthday->text())) {
        // The words of the appointment editor's date, which a birthday is typed like.
        platform().msgBox(QStringLiteral("The date must be a day of the calendar, typed as month/day/year "
                                         "(for example 3/7/2027)."));
        txtBirthday->setFocus();
        txtBirthday->selectAll();
        return;
    }
    // A US state written out is filed by its code, where the contact is in the US or no country is given.
    if (const QString code = stateCode(txtLead[5]->text().trimmed(), txtCountry->text()); !code.isEmpty())
        setStoredText(txtLead[5], code);
    // A rejected statement has been reported; keeping the window keeps what the user typed.
    SaveOutcome outcome = SaveOutcome::Saved;
    if (bEditMode)
        outcome = SaveEditedRow(sConnContacts, row(), seenVersion_, SaveStatement(), QStringLiteral("contact"));
    else if (ActionQueryCount(SaveStatement(), sConnContacts) < 0)
        outcome = SaveOutcome::Failed;
    if (outcome == SaveOutcome::Failed || outcome == SaveOutcome::Changed)
        return;
    if (outcome == SaveOutcome::Deleted) {
        if (!platform().askYesNo(QStringLiteral("This contact was deleted or changed elsewhere after this window "
                                                "opened, so your changes were not saved.\n\n"
                                                "Save what you typed as a new contact?")))
            return;
        bEditMode = false;
        txtLead[0]->clear();
        cmdDelete->setEnabled(false);
        cmdSave_Click();
        return;
    }
    platform().doEvents();
    bEditMode = false;
    accept();
}

RowKey frmLead::row() const { return {QStringLiteral("contacts"), QStringLiteral("id"), lLeadID}; }

void frmLead::cmdDelete_Click()
{
    if (!platform().askYesNo(QStringLiteral("Delete this contact? Its appointments are kept."),
                             QStringLiteral("Delete Contact"))) {
        reject();
        return;
    }
    // The history is the user's record of what was said: it goes only when the user says so.
    const int id = lLeadID;
    int entries = 0;
    if (!RunAction(sConnContacts, [&] { entries = historyCount(sConnContacts, id); }, QStringLiteral("cmdDelete_Click"),
                   Owner::Form, QStringLiteral("frmLead"))) {
        reject();
        return;
    }
    const bool withHistory =
        entries > 0 &&
        platform().askYesNo(QStringLiteral("This contact has %1 in its history.\n\nDelete the history too? (No keeps it: "
                                           "the History window shows it under \"Deleted contacts\".)")
                                .arg(entries == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(entries)),
                            QStringLiteral("Delete Contact"));
    int deleted = -1;
    if (RunAction(sConnContacts, [&] { deleted = DeleteContact(sConnContacts, id, withHistory); },
                  QStringLiteral("cmdDelete_Click"), Owner::Form, QStringLiteral("frmLead")) &&
        deleted == 0)
        platform().msgBox(QStringLiteral("This contact had already been deleted elsewhere; nothing was deleted."));
    reject();
}

void frmLead::cmdCloseLead_Click() { reject(); }

void frmLead::done(int result)
{
    QDialog::done(result);
    if (unloaded_)
        return;
    unloaded_ = true;
    // The tree stays as its display filter says.
    PopTree(treeFilter());
}

} // namespace kestrel
