#pragma once
// Helpers the tests share: readable QString failures, showing a window the way its openers do,
// and query results as one text.
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"
#include "ui/Desktop.h"

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

// Rows as "cell|cell/cell|cell".
inline QString joined(const std::vector<QStringList>& rows)
{
    QStringList out;
    for (const QStringList& r : rows)
        out << r.join(u'|');
    return out.join(u'/');
}

} // namespace kestrel::test
