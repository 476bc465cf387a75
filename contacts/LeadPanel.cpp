#include "contacts/LeadPanel.h"

#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Accessible.h"
#include "ui/Desktop.h"
#include "ui/Report.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>

namespace kestrel {

LeadPanel::LeadPanel(QGroupBox* fra, QObject* parent) : QObject(parent), fraLead(fra)
{
    controls = buildControls(fraLead, {
        {"tvLead", ControlKind::Tree, "", 120, 240, 4695, kLeadPanelHeight - 360, 1, 0, "Contacts"},
        {"lbl1", ControlKind::Label, "ID:", 5400, 240, kAuto, kAuto},
        {"txtLead0", ControlKind::TextBox, "", 5760, 240, 975, 240, kNotStop}, // clear of the label below it
        {"cmdEditLead", ControlKind::Button, "Edit", 9360, 240, 1455, 375, 2},
        {"cmdLog", ControlKind::Button, "Log...", 9360, 675, 1455, 375, 3},
        {"lblLName", ControlKind::Label, "Last Name:", 5400, 480, kAuto, kAuto},
        {"lblFName", ControlKind::Label, "First Name:", 7320, 480, kAuto, kAuto},
        {"txtLead1", ControlKind::TextBox, "", 5640, 720, 1695, 285, kNotStop},
        {"txtLead2", ControlKind::TextBox, "", 7560, 720, 1695, 285, kNotStop},
        {"Label3", ControlKind::Label, "Company:", 5400, 1080, kAuto, kAuto},
        {"txtLead12", ControlKind::TextBox, "", 5640, 1320, 3960, 285, kNotStop},
        {"lblAdd", ControlKind::Label, "Address:", 5400, 1680, kAuto, kAuto},
        {"txtLead3", ControlKind::TextBox, "", 5640, 1920, 3960, 285, kNotStop},
        {"lblC", ControlKind::Label, "City:", 5400, 2280, kAuto, kAuto},
        {"lblState", ControlKind::Label, "State:", 7320, 2280, kAuto, kAuto},
        {"lblZ", ControlKind::Label, "Zip:", 8040, 2280, kAuto, kAuto},
        {"txtLead4", ControlKind::TextBox, "", 5640, 2520, 1695, 285, kNotStop},
        {"txtLead5", ControlKind::TextBox, "", 7440, 2520, 375, 285, kNotStop},
        {"txtLead6", ControlKind::TextBox, "", 7920, 2520, 1695, 285, kNotStop},
        {"lblHPhone", ControlKind::Label, "Home Phone:", 5400, 2880, kAuto, kAuto},
        {"lblCellPh", ControlKind::Label, "Cell Phone:", 7320, 2880, kAuto, kAuto},
        {"txtLead7", ControlKind::TextBox, "", 5640, 3120, 1680, 285, kNotStop},
        {"txtLead8", ControlKind::TextBox, "", 7440, 3120, 1680, 285, kNotStop},
        {"lblWPhone", ControlKind::Label, "Work Phone:", 5400, 3480, kAuto, kAuto},
        {"lblE", ControlKind::Label, "Ext:", 7320, 3480, kAuto, kAuto},
        {"txtLead9", ControlKind::TextBox, "", 5640, 3720, 1680, 285, kNotStop},
        {"txtLead10", ControlKind::TextBox, "", 7440, 3720, 735, 285, kNotStop},
        {"lblEmail", ControlKind::Label, "Email:", 5400, 4080, kAuto, kAuto},
        {"txtLead11", ControlKind::TextBox, "", 5640, 4320, 3975, 285, kNotStop},
        {"Label4", ControlKind::Label, "Type:", 5400, 4680, kAuto, kAuto},
        {"txtLead13", ControlKind::TextBox, "", 5640, 4920, 1695, 285, kNotStop},
        {"cmdScheduleAppointment", ControlKind::Button, "Schedule an appointment ", 5520, 5400, 2535, 375, 4},
        {"cmdEmail", ControlKind::Button, "Email", 8280, 5400, 1335, 375, 5},
        {"Label2", ControlKind::Label, "Filter the contacts you wish displayed.", 5400, 5880, 3495, 255},
        {"cmbDisplay", ControlKind::ComboList, "", 6000, 6240, 1935, kAuto, 6},
        // The fields added later, below the first ones.
        {"lblCountry", ControlKind::Label, "Country:", 5400, 6840, kAuto, kAuto},
        {"lblJobTitle", ControlKind::Label, "Job Title:", 7320, 6840, kAuto, kAuto},
        {"txtCountry", ControlKind::TextBox, "", 5640, 7080, 1680, 285, kNotStop},
        {"txtJobTitle", ControlKind::TextBox, "", 7440, 7080, 2175, 285, kNotStop},
        {"lblBirthday", ControlKind::Label, "Birthday:", 5400, 7440, kAuto, kAuto},
        {"lblWebSite", ControlKind::Label, "Web Site:", 7320, 7440, kAuto, kAuto},
        {"txtBirthday", ControlKind::TextBox, "", 5640, 7680, 1680, 285, kNotStop},
        {"txtWebSite", ControlKind::TextBox, "", 7440, 7680, 2175, 285, kNotStop},
        {"cmdWebSite", ControlKind::Button, "Web Site", 9720, 7635, 1095, 375, 7},
        {"lblNotes", ControlKind::Label, "Notes:", 5400, 8040, kAuto, kAuto},
        {"txtNotes", ControlKind::MultiText, "", 5640, 8280, 5175, 795, kNotStop},
        // The contact's latest history under its card, newest first.
        {"lblLastContact", ControlKind::Label, "", 6240, 9180, 3375, 255},
        {"cmdHistory", ControlKind::Button, "History...", 9720, 9105, 1095, 375, 8},
        {"lblHistory", ControlKind::Label, "History:", 5400, 9180, kAuto, kAuto},
        {"lstHistory", ControlKind::ListBox, "", 5640, 9540, 5175, 1185, 9, 0, "Latest history"},
    });

    tvLead = controls.get<QTreeWidget>(QStringLiteral("tvLead"));
    tvLead->setToolTip(QStringLiteral("Click contact name to display to the right"));
    tvLead->setRootIsDecorated(true);
    tvLead->setUniformRowHeights(true); // keeps a 100,000-node tree quick to lay out
    const QColor face = fraLead->palette().color(QPalette::Button);
    for (int i = 0; i < 14; ++i) {
        txtLead[i] = controls.get<QLineEdit>(QStringLiteral("txtLead%1").arg(i));
        txtLead[i]->setReadOnly(true);
        setBackground(txtLead[i], face);
    }
    txtCountry = controls.get<QLineEdit>(QStringLiteral("txtCountry"));
    txtJobTitle = controls.get<QLineEdit>(QStringLiteral("txtJobTitle"));
    txtBirthday = controls.get<QLineEdit>(QStringLiteral("txtBirthday"));
    txtWebSite = controls.get<QLineEdit>(QStringLiteral("txtWebSite"));
    txtNotes = controls.get<QPlainTextEdit>(QStringLiteral("txtNotes"));
    for (QLineEdit* box : laterBoxes()) {
        box->setReadOnly(true);
        setBackground(box, face);
    }
    txtNotes->setReadOnly(true);
    setBackground(txtNotes, face);
    cmdWebSite = controls.get<QPushButton>(QStringLiteral("cmdWebSite"));
    cmdEditLead = controls.get<QPushButton>(QStringLiteral("cmdEditLead"));
    cmdLog = controls.get<QPushButton>(QStringLiteral("cmdLog"));
    cmdLog->setToolTip(QStringLiteral("Log a call, meeting, mail or note with this contact (Ctrl+L)"));
    cmdHistory = controls.get<QPushButton>(QStringLiteral("cmdHistory"));
    cmdHistory->setToolTip(QStringLiteral("This contact's whole history (Ctrl+H)"));
    lblLastContact = controls.get<QLabel>(QStringLiteral("lblLastContact"));
    lstHistory = controls.get<QListWidget>(QStringLiteral("lstHistory"));
    lstHistory->setUniformItemSizes(true);
    lstHistory->setToolTip(QStringLiteral("Double click an entry to open it"));
    cmdEmail = controls.get<QPushButton>(QStringLiteral("cmdEmail"));
    cmdScheduleAppointment = controls.get<QPushButton>(QStringLiteral("cmdScheduleAppointment"));
    cmbDisplay = controls.get<QComboBox>(QStringLiteral("cmbDisplay"));
    cmbDisplay->setToolTip(QStringLiteral("Select to filter tree list"));

    // activated: only a choice of the user's filters, never the program's own PopDisplay.
    connect(cmbDisplay, &QComboBox::activated, this, [this] { cmbDisplay_Click(); });
    connect(tvLead, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) { tvLead_NodeClick(node); });
    // The keys move the selection without a click: the move is the node click then. A mouse
    // press moves it too, but its click follows; a fill moves it only to clear the tree.
    tvLead->viewport()->installEventFilter(this);
    tvLead->installEventFilter(this);
    connect(tvLead, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (!mousePressed_ && !treeFilling())
            tvLead_NodeClick(node);
        TreeViewMoved();
    });
    // A letter's contacts are read as it opens, and page by page as the view comes near their end.
    connect(tvLead, &QTreeWidget::itemExpanded, this, [](QTreeWidgetItem* letter) { TreeLetterOpened(letter); });
    connect(tvLead->verticalScrollBar(), &QScrollBar::valueChanged, this, [] { TreeViewMoved(); });
    pickOnAccessibleSelect(tvLead, [this](const QModelIndex& node) { tvLead->setCurrentIndex(node); });
    connect(cmdEditLead, &QPushButton::clicked, this, [this] { cmdEditLead_Click(); });
    connect(cmdEmail, &QPushButton::clicked, this, [this] { cmdEmail_Click(); });
    connect(cmdWebSite, &QPushButton::clicked, this, [this] { cmdWebSite_Click(); });

    setLeadPanel(this);
}

LeadPanel::~LeadPanel()
{
    if (leadPanel() == this)
        setLeadPanel(nullptr);
}

void LeadPanel::PopDisplay()
{
    cmbDisplay->clear();
    cmbDisplay->addItems({QStringLiteral("All"), QStringLiteral("Cust"), QStringLiteral("Lead"), QStringLiteral("Contact"),
                          QStringLiteral("Personal")});
    cmbDisplay->setCurrentIndex(0);
}

void LeadPanel::cmbDisplay_Click() { PopTree(cmbDisplay->currentText()); }

bool LeadPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tvLead && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        tvLead_KeyDown(Qt::Key_Delete);
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        mousePressed_ = true;
    else if (event->type() == QEvent::MouseButtonRelease)
        mousePressed_ = false;
    return QObject::eventFilter(watched, event);
}

void LeadPanel::tvLead_NodeClick(QTreeWidgetItem* node)
{
    if (!node)
        return;
    const QString key = nodeKey(node);
    if (key.size() <= 1) // an initial, not a contact
        return;
    try {
        lLeadID = key.mid(2).toInt();
        ShowLead();
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("tvLead_NodeClick"), Owner::Form, QStringLiteral("frmKestrel"), ReportAs::Bug);
    }
}

void LeadPanel::tvLead_KeyDown(int key)
{
    // Delete on a contact's line: the same question and trash as the editor's Delete button.
    const QTreeWidgetItem* node = tvLead->currentItem();
    if (key != Qt::Key_Delete || !node || nodeKey(node).size() <= 1 || txtLead[0]->text().isEmpty())
        return;
    const int id = txtLead[0]->text().toInt();
    if (!TrashContact(id, txtLead[1]->text(), txtLead[2]->text(), QStringLiteral("tvLead_KeyDown"), QStringLiteral("frmKestrel")))
        return;
    // The neighbour takes its place, as after a delete in the editor.
    PopTree(treeFilter());
}

void LeadPanel::cmdEditLead_Click()
{
    if (txtLead[0]->text().isEmpty())
        return;
    const int id = lLeadID = txtLead[0]->text().toInt();
    {
        frmLead editor(fraLead->window());
        editor.bEditMode = true;
        desktop().runModal(editor);
        editor.bEditMode = false;
    }
    // The refill keeps the filter and shows the contact again where it was, or its neighbour if
    // it was deleted. One that the edit took out of the filter is shown among all contacts.
    PopTree(treeFilter());
    if (lLeadID != id && contactStored(id))
        GoToLead(id);
}

bool LeadPanel::contactStored(int id)
{
    try {
        Connection connection(sConnContacts);
        return !Snapshot(connection, QStringLiteral("SELECT id FROM contacts where id=") + QString::number(id)).eof();
    } catch (const std::exception&) {
        return false; // the refill has said what is wrong with the database
    }
}

void LeadPanel::cmdEmail_Click()
{
    EmailLead(txtLead[11]->text());
}

void LeadPanel::cmdWebSite_Click() { OpenWebSite(txtWebSite->text()); }

} // namespace kestrel
