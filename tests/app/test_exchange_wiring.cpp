// The import and export commands of the Contacts menu.
#include "app/frmKestrel.h"
#include "data/Globals.h"
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "tests/support/Fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class ExchangeWiringTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        w = std::make_unique<frmKestrel>();
    }
    void TearDown() override
    {
        w.reset();
        KestrelTest::TearDown();
    }
    std::unique_ptr<frmKestrel> w;
};

TEST_F(ExchangeWiringTest, ImportContactsOpensTheImportWindowModally)
{
    desk.onModal(QStringLiteral("frmImport"), [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Import Leads"));
        EXPECT_TRUE(d.isModal());
    });
    w->mnuConImport->trigger();
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].text, QStringLiteral("frmImport"));
}

TEST_F(ExchangeWiringTest, ExportContactsWritesTheChosenColumns)
{
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                       "workph,ext,email,active,contype)values('Lee','Ann','','','','','','','','','',"
                                       "'ann@x.com',True,'Lead')"));
    desk.onModal(QStringLiteral("frmLeadCSV"), [&](QDialog& d) {
        auto& f = static_cast<frmLeadCSV&>(d);
        desk.answerSaveFile(path);
        QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
        f.chkField[9]->setChecked(true);
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
    });
    w->mnuConExport->trigger();
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), QByteArray("lastname,email\r\nLee,ann@x.com\r\n"));
}

} // namespace
