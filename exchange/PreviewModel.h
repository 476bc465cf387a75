#pragma once
// The import's preview over the scratch file's Main: it knows the rows' keys and reads their
// cells a page at a time as the grid shows them, so a file of a million rows opens at once and
// holds only the few pages around what is on screen.
#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kestrel {

class PreviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PreviewModel(QObject* parent = nullptr);

    // Shows the rows Main holds now, under these headings. Throws DbError.
    void open(const QStringList& headings = {});
    void close();
    // The row's key in Main.
    qint64 idAt(int row) const { return ids_[size_t(row)]; }
    // Takes rows (ascending view indexes) out of the view, as they were deleted from Main.
    void removeRowsAt(const std::vector<int>& rows);
    // Rows possibly matching a stored contact carry a tick in the note column: imported unless unticked.
    bool isTickable(int row) const;
    bool isTicked(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    static constexpr int kPageRows = 256;
    static constexpr int kTickColumn = 14;

Q_SIGNALS:
    void tickToggled(int row, bool ticked);

private:
    struct Page {
        int first = -1;              // view row of its first row
        std::vector<QString> cells;  // rows × columns
        std::vector<std::int8_t> dup; // per row, Main's Dup mark
        std::uint64_t used = 0;
    };
    Page& pageOf(int row) const;

    std::vector<qint64> ids_; // view row → key, ascending
    QStringList headings_;
    int columns_ = 0;
    mutable std::vector<Page> pages_;
    mutable std::uint64_t clock_ = 0;
};

} // namespace kestrel
