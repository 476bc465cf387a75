#pragma once
// Small helpers shared by the contact tests.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace kestrel::test {

// One designed control: twips; height -1 when the kind decides; caption checked for labels and buttons.
struct Placed {
    const char* name;
    int left, top, width, height;
    const char* caption = nullptr;
    int maxLength = 0;
};

inline void expectPlaced(QWidget* root, std::initializer_list<Placed> table)
{
    for (const Placed& p : table) {
        QWidget* c = root->findChild<QWidget*>(QString::fromUtf8(p.name));
        ASSERT_TRUE(c) << p.name;
        EXPECT_EQ(c->pos(), QPoint(p.left / 15, p.top / 15)) << p.name;
        if (p.width > 0) {
            EXPECT_EQ(c->width(), p.width / 15) << p.name;
        }
        if (p.height > 0) {
            EXPECT_EQ(c->height(), p.height / 15) << p.name;
        }
        const QString caption = QString::fromUtf8(p.caption ? p.caption : "");
        if (auto* l = qobject_cast<QLabel*>(c)) {
            EXPECT_EQ(l->text(), caption) << p.name;
        }
        if (auto* b = qobject_cast<QPushButton*>(c)) {
            EXPECT_EQ(b->text(), caption) << p.name;
        }
        if (auto* e = qobject_cast<QLineEdit*>(c); e && p.maxLength) {
            EXPECT_EQ(e->maxLength(), p.maxLength) << p.name;
        }
    }
}

// The user picks an entry of a drop-down list.
inline void choose(QComboBox* box, const QString& text)
{
    const int i = box->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    box->setCurrentIndex(i);
    Q_EMIT box->activated(i);
}

inline QString entries(const QComboBox* box)
{
    QStringList t;
    for (int i = 0; i < box->count(); ++i)
        t << box->itemText(i);
    return t.join(u',') + u'=' + box->currentText();
}

// Object names met by pressing Tab from `from`, `count` widgets in all.
inline QString tabWalk(QWidget* from, int count)
{
    QStringList order;
    QWidget* w = from;
    for (int i = 0; i < count; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    }
    return order.join(u',');
}

} // namespace kestrel::test
