// The import and export commands of the Contacts menu.
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "tests/app/Helpers.h"

TEST_F(MainWindowTest, ImportOpensModallyAndExportWritesTheChosenColumns)
{
    // Alt+C opens the Contacts menu, I picks Import Contacts.
    desk.onModal("frmImport", [](QDialog& d) { EXPECT_TRUE(d.isModal() && d.windowTitle() == "Import Leads"); });
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(w->mnuCon->isVisible());
    QTest::keyClick(w->mnuCon, Qt::Key_I);
    QTRY_VERIFY(!desk.prompts.empty());
    EXPECT_EQ(desk.prompts.front().text, QStringLiteral("frmImport"));
    exec(sConnContacts, "INSERT into contacts(lastname,email,contype)values('Lee','ann@x.com','Lead')");
    const QString path = dir.filePath("out.csv");
    desk.onModal("frmLeadCSV", [&](QDialog& d) {
        auto& f = static_cast<frmLeadCSV&>(d);
        desk.answerSaveFile(path);
        QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
        f.chkField[9]->setChecked(true);
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
    });
    w->mnuConExport->trigger();
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), QByteArray("\xEF\xBB\xBFlastname,email\r\nLee,ann@x.com\r\n"));
}
