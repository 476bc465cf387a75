#pragma once
// Helpers the tests share: readable QString failures, showing a window the way its openers do,
// and query results as one text.
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"
#include "ui/Desktop.h"

#include <QTest>
#include <QtWidgets>

#include <functional>

namespace kestrel::test {

// Shows a fresh W modally after `prepare` has set its modes; `script` runs while it is shown.
template <class W>
void showModal(ScriptedPlatform& desk, const std::function<void(W&)>& prepare, const std::function<void(W&)>& script)
{
    W window;
    prepare(window);
    desk.onModal(window.objectName(), [&](QDialog& d) { script(static_cast<W&>(d)); });
    desktop().runModal(window);
}

// Brings a shown window to the front, as a click on it would.
inline bool activated(QWidget* window)
{
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// Alt+access on window's menu bar, then item in the menu that drops; returns once every scripted
// answer the choice was to take has been taken.
inline void chooseFromMenu(ScriptedPlatform& desk, QWidget* window, QMenu* menu, Qt::Key access, Qt::Key item)
{
    QTest::keyClick(window, access, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }));
    QTest::keyClick(menu, item);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.pending(); }));
}

// Rows as "cell|cell/cell|cell".
inline QString joined(const std::vector<QStringList>& rows)
{
    QStringList out;
    for (const QStringList& r : rows)
        out << r.join(u'|');
    return out.join(u'/');
}

} // namespace kestrel::test
