#pragma once
// "History": the whole timeline of one contact, newest first, filtered by kind; or the entries of
// contacts deleted with their history kept ("Deleted contacts"). Enter or a double click opens an
// entry to be changed; Delete removes one, asked first.
#include "ui/Ui.h"

#include <QDialog>

class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace kestrel {

inline const QString kDeletedContacts = QStringLiteral("Deleted contacts");
inline const QString kAllKinds = QStringLiteral("All kinds");

class frmHistory : public QDialog {
    Q_OBJECT
public:
    // The history of contactId (0: the deleted contacts' first).
    explicit frmHistory(int contactId, QWidget* parent = nullptr);

    // Refills the list for the contact and kind chosen.
    void PopHistory();
    // Handlers, public so tests reach the same code the keys and the mouse do.
    void cboWhose_Click();
    void cboKind_Click();
    void lstHistory_Click();
    void lstHistory_DblClick();
    void cmdDelete_Click();

    // Whether an entry was changed or deleted here (the opener refills what it shows).
    bool changed() const { return changed_; }

    Controls controls;
    QComboBox* cboWhose = nullptr;
    QComboBox* cboKind = nullptr;
    QListWidget* lstHistory = nullptr;
    QPlainTextEdit* txtNote = nullptr;
    QPushButton* cmdOpen = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdClose = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int shownContact() const;
    int contactId_ = 0;
    bool changed_ = false;
};

} // namespace kestrel
