#pragma once
// The main window's contact panel: the A-Z tree, the read-only detail panel, the display filter
// and the buttons under the detail panel.
#include "ui/Ui.h"

#include <QObject>

#include <array>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {

// The height of the contact panel, grown downward for the fields and the history added later (twips).
constexpr int kLeadPanelHeight = 10845;

class LeadPanel : public QObject {
    Q_OBJECT
public:
    // Builds every control inside fraLead and registers itself as the panel the tree routines fill.
    LeadPanel(QGroupBox* fraLead, QObject* parent);
    ~LeadPanel() override;

    // Offers the five display filters and shows "All".
    void PopDisplay();

    void cmbDisplay_Click();
    void tvLead_NodeClick(QTreeWidgetItem* node);
    void cmdEditLead_Click();
    void cmdEmail_Click();
    void cmdWebSite_Click();

    QGroupBox* fraLead;
    Controls controls;
    QTreeWidget* tvLead = nullptr;
    QLineEdit* txtLead[14] = {};
    QPushButton* cmdEditLead = nullptr;
    QPushButton* cmdEmail = nullptr;
    QPushButton* cmdScheduleAppointment = nullptr;
    QComboBox* cmbDisplay = nullptr;
    // The fields added later, below the first ones; shown as txtLead is, by ShowLead.
    QLineEdit* txtCountry = nullptr;
    QLineEdit* txtJobTitle = nullptr;
    QLineEdit* txtBirthday = nullptr;
    QLineEdit* txtWebSite = nullptr;
    QPlainTextEdit* txtNotes = nullptr;
    QPushButton* cmdWebSite = nullptr;
    // The contact's history: "Log..." beside Edit, and under the card the last contact, the
    // latest entries and "History...". The main window answers their clicks (they open windows
    // built on this panel).
    QPushButton* cmdLog = nullptr;
    QPushButton* cmdHistory = nullptr;
    QLabel* lblLastContact = nullptr;
    QListWidget* lstHistory = nullptr;
    std::array<QLineEdit*, 4> laterBoxes() const { return {txtCountry, txtJobTitle, txtBirthday, txtWebSite}; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static bool contactStored(int id);
    bool mousePressed_ = false;
};

} // namespace kestrel
