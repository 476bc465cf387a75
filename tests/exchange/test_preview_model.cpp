// The import's preview reads Main a page at a time: what it shows must be what a full read of
// Main shows, row for row, across page boundaries and after rows are deleted.
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "exchange/PreviewModel.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "tests/support/Fixture.h"

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class PreviewModelTest : public KestrelTest {};

// Every cell and tick of the model against Main read whole.
void expectSameAsMain(const PreviewModel& model)
{
    Connection temp(sConnTemp);
    Snapshot all(temp, QString(kPreviewSelect).replace(QStringLiteral(" from main"), QStringLiteral(",dup from main order by id")));
    ASSERT_EQ(model.rowCount(), all.rowCount());
    for (int r = 0; r < all.rowCount(); ++r) {
        for (int c = 0; c < model.columnCount(); ++c)
            ASSERT_EQ(model.data(model.index(r, c), Qt::ToolTipRole).toString(), all.textAt(r, c)) << "row " << r << " column " << c;
        const int dup = all.value(r, model.columnCount()).toInt();
        EXPECT_EQ(model.isTickable(r), dup == 2 || dup == 3) << r;
        EXPECT_EQ(model.isTicked(r), dup == 2) << r;
    }
}

TEST_F(PreviewModelTest, ShowsMainRowForRowAcrossPagesAfterDeletesAndKeepsTicks)
{
    CreateTempDB();
    const int rows = 3 * PreviewModel::kPageRows + 17;
    {
        Connection temp(sConnTemp);
        Transaction tx(temp);
        Statement add(temp, QStringLiteral("insert into Main(LastName,FirstName,Line,Note,Dup)values(?,?,?,?,?)"),
                      Statement::Dialect::Native);
        for (int i = 0; i < rows; ++i) {
            add.bind(1, QStringLiteral("Last %1").arg(i));
            add.bind(2, i % 5 ? QString() : QStringLiteral("First\n%1").arg(i));
            add.bind(3, std::int64_t(i + 2));
            add.bind(4, i % 7 ? QString() : QStringLiteral("possibly the same"));
            add.bind(5, std::int64_t(i % 7 ? 0 : 2));
            add.run();
        }
        tx.commit();
    }
    PreviewModel model;
    model.open();
    expectSameAsMain(model);
    EXPECT_EQ(model.data(model.index(5, 1), Qt::DisplayRole).toString(), QStringLiteral("First, 5")); // one line
    // Rows deleted on both sides of a page boundary, and from the last page.
    const std::vector<int> gone{0, PreviewModel::kPageRows - 1, PreviewModel::kPageRows, rows - 1};
    QStringList ids;
    for (int r : gone)
        ids << QString::number(model.idAt(r));
    exec(sConnTemp, QStringLiteral("delete from Main where id in (%1)").arg(ids.join(u',')));
    model.removeRowsAt(gone);
    expectSameAsMain(model);
    // A tick taken off is kept by the model as Main keeps it, past the cache.
    const int ticked = 6; // Main's row 7
    ASSERT_TRUE(model.isTicked(ticked));
    EXPECT_TRUE(model.setData(model.index(ticked, PreviewModel::kTickColumn), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model.isTicked(ticked));
    exec(sConnTemp, QStringLiteral("update Main set dup=3 where id=%1").arg(model.idAt(ticked)));
    for (int r = model.rowCount() - 1; r > 0; r -= PreviewModel::kPageRows) // other pages push it out
        model.data(model.index(r, 0), Qt::DisplayRole);
    expectSameAsMain(model);
    // Opened again on a file with gaps in its keys.
    model.open();
    expectSameAsMain(model);
}

} // namespace
