#pragma once
// Helpers the contact and calendar tests share: the designed-layout check, showing
// a window the way its openers do, and query results as one text.
#include "tests/support/Fixture.h"

#include <QtWidgets>

#include <functional>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace kestrel::test {

// One designed control in twips; a size of -1 is left to the kind. Labels and buttons show the
// caption; a maximum length is checked when one is given.
struct Placed { const char *name, *caption; int left, top, width = -1, height = -1, maxLength = 0; };

inline void expectPlaced(QWidget* root, std::initializer_list<Placed> table)
{
    for (const Placed& p : table) {
        auto* c = root->findChild<QWidget*>(QString::fromUtf8(p.name));
        ASSERT_TRUE(c) << p.name;
        const QSize size(p.width > 0 ? p.width / 15 : c->width(), p.height > 0 ? p.height / 15 : c->height());
        EXPECT_EQ(c->geometry(), QRect(QPoint(p.left / 15, p.top / 15), size)) << p.name;
        if (qobject_cast<QLabel*>(c) || qobject_cast<QAbstractButton*>(c))
            EXPECT_EQ(c->property("text").toString(), QString::fromUtf8(p.caption)) << p.name;
        if (p.maxLength)
            EXPECT_EQ(c->property("maxLength").toInt(), p.maxLength) << p.name;
    }
}

// Shows a fresh W modally after `prepare` has set its modes; `script` runs while it is shown.
template <class W>
void showModal(ScriptedPlatform& desk, const std::function<void(W&)>& prepare, const std::function<void(W&)>& script)
{
    W window;
    prepare(window);
    desk.onModal(window.objectName(), [&](QDialog& d) { script(static_cast<W&>(d)); });
    platform().runModal(window);
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
