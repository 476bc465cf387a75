#pragma once
// The import window: pick a CSV file, map its header fields, preview the rows in Main, import.
#include "ui/Ui.h"
#include "exchange/modImport.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTableView;

namespace kestrel {

class PreviewModel;

class frmImport : public QDialog {
    Q_OBJECT
public:
    explicit frmImport(QWidget* parent = nullptr);
    ~frmImport() override;

    // Where the two stage panels stand when shown and when out of view.
    static constexpr int kPanelShown = 120;
    static constexpr int kPanelHidden = kOutOfView;

    void Form_Load();
    void cmdBrowse_Click();
    void cmdMap_Click();
    void lstFrom_Click(int index);
    void cmdDone_Click();
    // Binds the preview grid to Main; false when Main could not be read (reported).
    bool popTempGrid();
    // A row possibly matching a stored contact was ticked (imported) or unticked (skipped).
    void dgTemp_TickToggle(int row, bool ticked);
    // Removes the selected preview rows from Main at once.
    void dgTemp_DeleteRows();
    void cmdImport_Click();
    // Maps every field whose name is a known name of a contact field, then offers to mark the
    // others DELETE.
    void cmdMapByName_Click();
    void cmdCancel_Click();
    void cmdSaveKept_Click();
    // Opens at the preview with records another reader has read (a vCard file at path): they
    // go into Main by the same rules as the rows of a CSV file; the file cannot be changed or
    // mapped here. keptFilter is the file dialog's filter for saving the records kept out.
    // False when they could not be loaded (reported).
    bool loadRecords(const QString& path, const std::vector<ImportRecord>& records, const QStringList& sourceNames,
                     const QString& keptFilter);
    // The mapping of one entry: a target, "DELETE", or "" to undo it.
    void setEntry(int index, const QString& target);
    QString entryTarget(int index) const;

    // Set by the mapping dialog when it was closed from its frame; cleared after reading it.
    bool bCancelMapField = false;
    // Target chosen in the mapping dialog; "" means delete.
    QString sMapTo;
    QString sCsvPath;
    QStringList sHeaderFields;
    bool bGridLoaded = false;
    // Rows are being read or written; Cancel sets bCancelWork.
    bool bWorking = false;
    bool bCancelWork = false;

    Controls controls;
    QLabel* Label1 = nullptr;
    QLabel* lblPath = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QPushButton* cmdMap = nullptr;
    QGroupBox* fraMap = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QListWidget* lstFrom = nullptr;
    QPushButton* cmdDone = nullptr;
    QGroupBox* fraImport = nullptr;
    QTableView* dgTemp = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cboType = nullptr;
    QLabel* lblMessage = nullptr;
    QPushButton* cmdImport = nullptr;
    QLabel* lblProgress = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdMapByName = nullptr;
    QListWidget* lstKept = nullptr;
    QPushButton* cmdSaveKept = nullptr;
    QCheckBox* chkSkipDup = nullptr;
    PreviewModel* rsTemp = nullptr;

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Brings one stage panel (or none) into view and moves the other out.
    void showStage(QGroupBox* panel);
    void unloadGrid();
    // The scratch tables were gone at Import: says so and loads the file anew.
    void loadAgain();
    void showKeptOut();
    void beginWork(const QString& what);
    bool workProgress(qint64 done, qint64 total);
    void endWork();

    ImportSummary summary_;
    // Loads the rows again, as the last load did (the file mapped, or the records read).
    std::function<bool()> reload_;
    QString sWork;
    // The last quarter of the work said aloud (0 to 4).
    int saidQuarter_ = 0;
    QString sKeptFilter = QStringLiteral("CSV (*.csv)|*.csv");
};

} // namespace kestrel
