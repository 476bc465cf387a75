#pragma once
// The main window shown on a program folder of its own, and what its lists show.
#include "ui/Ui.h"
#include "app/frmKestrel.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmFind.h"
#include "contacts/frmLead.h"
#include "data/Globals.h"
#include "tests/contacts/Common.h"

#include <QtWidgets>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

class MainWindowTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        w = std::make_unique<frmKestrel>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        ASSERT_TRUE(activated(w.get()));
    }
    void TearDown() override { w.reset(), KestrelTest::TearDown(); }
    // The contact nodes of the tree, in order.
    QStringList listed() const
    {
        QStringList out;
        for (QTreeWidgetItem* node : w->lead->tvLead->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive))
            if (node->parent())
                out << node->text(0);
        return out;
    }
    // A key pressed where the focus of window is; a button's access key acts a moment later.
    static void press(QWidget* window, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key(key), mods);
        if (mods & Qt::AltModifier)
            QTest::qWait(150);
        QCoreApplication::processEvents();
    }
    // A window shown in a modal's stead keeps the activation when it closes: give it back.
    void backToMain() { ASSERT_TRUE(activated(w.get())); }
    // The tree's selection moved with the keys to the contact whose line starts with text.
    bool chooseNode(const QString& text)
    {
        QTreeWidget* tv = w->lead->tvLead;
        const auto there = [&] { return tv->currentItem() && tv->currentItem()->text(0).startsWith(text); };
        tv->setFocus(Qt::TabFocusReason);
        press(tv, Qt::Key_Home);
        for (int guard = 0; guard < 80 && !there(); ++guard)
            press(tv, tv->currentItem() && tv->currentItem()->childCount() && !tv->currentItem()->isExpanded() ? Qt::Key_Right
                                                                                                               : Qt::Key_Down);
        return there();
    }
    QString weekLine(int i) const { return i < w->remind->lstWeek->count() ? w->remind->lstWeek->item(i)->text() : QString(); }
    // Which panels stand where: "lead,cal,remind" lefts in twips.
    QString lefts() const
    {
        return QStringLiteral("%1,%2,%3").arg(leftTwips(w->fraLead)).arg(leftTwips(w->fraCal)).arg(leftTwips(w->fraRemind));
    }
    std::unique_ptr<frmKestrel> w;
};
