#include "ui/Accessible.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFocusFrame>
#include <QGroupBox>
#include <QHash>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace kestrel {

QString spokenCaption(const QString& caption)
{
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&') {
            if (i + 1 < caption.size() && caption.at(i + 1) == u'&')
                out += u'&', ++i;
            continue;
        }
        out += caption.at(i);
    }
    out = out.simplified();
    while (out.endsWith(u':') || out.endsWith(u'.'))
        out = out.chopped(1).trimmed();
    return out;
}

std::vector<int> labelRows(const std::vector<NamingRow>& rows)
{
    std::vector<int> labelOf(rows.size(), -1);
    // Each parent's rows are read on their own: a frame's controls never take the window's labels.
    std::vector<int> owners;
    for (const NamingRow& r : rows)
        if (std::find(owners.begin(), owners.end(), r.owner) == owners.end())
            owners.push_back(r.owner);
    for (const int owner : owners) {
        std::vector<int> labels, boxes;
        const auto pair = [&] {
            if (!labels.empty() && labels.size() == boxes.size()) {
                for (size_t k = 0; k < boxes.size(); ++k)
                    labelOf[size_t(boxes[k])] = labels[k];
            } else if (!labels.empty() && !boxes.empty()) {
                labelOf[size_t(boxes.front())] = labels.back();
            }
            labels.clear();
            boxes.clear();
        };
        for (int i = 0; i < int(rows.size()); ++i) {
            const NamingRow& r = rows[size_t(i)];
            if (r.owner != owner || (r.kind == NamingRow::Label && !r.captioned))
                continue;
            if (r.kind == NamingRow::Label) {
                // A label after boxes begins the next run.
                if (!boxes.empty())
                    pair();
                labels.push_back(i);
            } else if (r.kind == NamingRow::NeedsLabel) {
                boxes.push_back(i);
            }
        }
        pair();
    }
    return labelOf;
}

namespace {
const char* const kRole = "kestrelAccessibleRole";
const char* const kOrdered = "kestrelReadInTabOrder";
const QString kPressName = QStringLiteral("kestrelPress");
const QString kAnnouncer = QStringLiteral("kestrelAnnouncer");

class PressHolder : public QObject {
public:
    PressHolder(QObject* owner, std::function<void()> press) : QObject(owner), press_(std::move(press))
    {
        setObjectName(kPressName);
    }
    void press() const { press_(); }

private:
    std::function<void()> press_;
};

const PressHolder* pressOf(const QWidget* w)
{
    return static_cast<const PressHolder*>(w->findChild<QObject*>(kPressName, Qt::FindDirectChildrenOnly));
}

// The interface of every widget given a role, a reading order or a press here; the rest keep
// Qt's own.
class KestrelAccessible : public QAccessibleWidget {
public:
    explicit KestrelAccessible(QWidget* w) : QAccessibleWidget(w, defaultRole(w)) {}

    QAccessible::Role role() const override
    {
        const QVariant r = widget()->property(kRole);
        return r.isValid() ? QAccessible::Role(r.toInt()) : QAccessibleWidget::role();
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            if (const auto* box = qobject_cast<const QGroupBox*>(widget()))
                return spokenCaption(box->title());
        return QAccessibleWidget::text(t);
    }

    int childCount() const override
    {
        return ordered() ? int(readingOrder(widget()).size()) : QAccessibleWidget::childCount();
    }
    QAccessibleInterface* child(int index) const override
    {
        if (!ordered())
            return QAccessibleWidget::child(index);
        const std::vector<QWidget*> order = readingOrder(widget());
        return index >= 0 && index < int(order.size()) ? QAccessible::queryAccessibleInterface(order[size_t(index)])
                                                       : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!ordered())
            return QAccessibleWidget::indexOfChild(child);
        const std::vector<QWidget*> order = readingOrder(widget());
        const auto at = std::find(order.begin(), order.end(), child ? child->object() : nullptr);
        return at == order.end() ? -1 : int(at - order.begin());
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (pressOf(widget()))
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction()) {
            if (const PressHolder* p = pressOf(widget()); p && widget()->isEnabled())
                // After the bus has its answer: a press may open a modal window.
                QTimer::singleShot(0, widget(), [w = QPointer<QWidget>(widget())] {
                    if (w)
                        if (const PressHolder* held = pressOf(w))
                            held->press();
                });
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    bool ordered() const { return widget()->property(kOrdered).toBool(); }

    static QAccessible::Role defaultRole(const QWidget* w)
    {
        if (w->isWindow())
            return qobject_cast<const QDialog*>(w) ? QAccessible::Dialog : QAccessible::Window;
        if (qobject_cast<const QGroupBox*>(w))
            return QAccessible::Grouping;
        return QAccessible::Client;
    }
};

QAccessibleInterface* kestrelFactory(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* w = static_cast<QWidget*>(object);
    if (w->property(kRole).isValid() || w->property(kOrdered).toBool() || pressOf(w))
        return new KestrelAccessible(w);
    return nullptr;
}

// The factory is asked when an interface is first made; one made before w was marked is dropped,
// so the next question gets the marked one.
void useKestrelInterface(QWidget* w)
{
    static const bool installed = [] {
        QAccessible::installFactory(kestrelFactory);
        return true;
    }();
    Q_UNUSED(installed);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    if (iface && !dynamic_cast<KestrelAccessible*>(iface))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

// The children Qt's own interfaces list for a widget.
std::vector<QWidget*> childWidgets(const QWidget* w)
{
    std::vector<QWidget*> kids;
    for (QObject* o : w->children()) {
        auto* kid = qobject_cast<QWidget*>(o);
        if (!kid || kid->isWindow() || qobject_cast<QFocusFrame*>(kid) || qobject_cast<QMenu*>(kid) ||
            kid->objectName() == u"qt_rubberband" || kid->objectName() == u"qt_spinbox_lineedit")
            continue;
        kids.push_back(kid);
    }
    return kids;
}

class HintFilter : public QObject {
public:
    HintFilter(QWidget* control, QLabel* hint) : QObject(control), control_(control), hint_(hint) { refresh(); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::Show)
            refresh();
        return false;
    }
    void refresh()
    {
        const QString text = hint_ ? hint_->text().simplified() : QString();
        if (control_->accessibleDescription() != text)
            control_->setAccessibleDescription(text);
    }

private:
    QWidget* control_;
    QPointer<QLabel> hint_;
};
} // namespace

void nameByLabel(QWidget* control, QLabel* label)
{
    label->setBuddy(control);
    control->setAccessibleName(spokenCaption(label->text()));
    // An editable list's typing box is a control of its own to a screen reader, which would
    // otherwise meet it without a name.
    if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit())
        combo->lineEdit()->setAccessibleName(control->accessibleName());
}

void describeBy(QWidget* control, QLabel* hint) { control->installEventFilter(new HintFilter(control, hint)); }

void setAccessibleRole(QWidget* w, QAccessible::Role role)
{
    w->setProperty(kRole, int(role));
    useKestrelInterface(w);
}

void readInTabOrder(QWidget* container)
{
    if (container->property(kOrdered).toBool())
        return;
    container->setProperty(kOrdered, true);
    useKestrelInterface(container);
}

void makePressable(QWidget* w, QAccessible::Role role, std::function<void()> press)
{
    delete w->findChild<QObject*>(kPressName, Qt::FindDirectChildrenOnly);
    new PressHolder(w, std::move(press));
    setAccessibleRole(w, role);
}

std::vector<QWidget*> readingOrder(const QWidget* container)
{
    const std::vector<QWidget*> kids = childWidgets(container);
    const QWidget* window = container->window();
    QHash<const QWidget*, int> tabPosition;
    int position = 0;
    for (QWidget* w = window->nextInFocusChain(); w && w != window && position < 1000000;
         w = w->nextInFocusChain(), ++position)
        if (w->focusPolicy() & Qt::TabFocus)
            tabPosition.insert(w, position);

    // A child's own place: where it, or the first of its controls, stands in the tab order.
    const int n = int(kids.size());
    std::vector<int> own(kids.size(), INT_MAX);
    for (int i = 0; i < n; ++i) {
        QWidget* kid = kids[size_t(i)];
        int best = tabPosition.value(kid, INT_MAX);
        for (const QWidget* d : kid->findChildren<QWidget*>())
            best = std::min(best, tabPosition.value(d, INT_MAX));
        own[size_t(i)] = best;
    }
    // The others stand just before the next child that has a place.
    std::vector<int> primary(kids.size());
    int next = INT_MAX;
    for (int i = n - 1; i >= 0; --i) {
        if (own[size_t(i)] != INT_MAX)
            next = own[size_t(i)];
        primary[size_t(i)] = own[size_t(i)] != INT_MAX ? own[size_t(i)] : next;
    }
    struct Entry {
        int primary, anchor, sub, index;
    };
    std::vector<Entry> entries;
    entries.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        Entry e{primary[size_t(i)], i, 1, i};
        if (const auto* label = qobject_cast<const QLabel*>(kids[size_t(i)]); label && label->buddy()) {
            const auto at = std::find(kids.begin(), kids.end(), label->buddy());
            if (at != kids.end()) {
                const int b = int(at - kids.begin());
                e = {primary[size_t(b)], b, 0, i};
            }
        }
        entries.push_back(e);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.primary, a.anchor, a.sub, a.index) < std::tie(b.primary, b.anchor, b.sub, b.index);
    });
    std::vector<QWidget*> order;
    order.reserve(size_t(n));
    for (const Entry& e : entries)
        order.push_back(kids[size_t(e.index)]);
    return order;
}

void pickOnAccessibleSelect(QAbstractItemView* view, std::function<void(const QModelIndex&)> pick)
{
    QItemSelectionModel* selection = view->selectionModel();
    if (!selection)
        return;
    // Checked once the event that changed the selection has ended: the mouse and the keys move
    // the cursor with the selection, only the bus selects a line and leaves the cursor behind.
    QObject::connect(selection, &QItemSelectionModel::selectionChanged, view, [view, pick] {
        QTimer::singleShot(0, view, [view, pick] {
            const QModelIndexList rows = view->selectionModel()->selectedRows();
            if (rows.size() != 1)
                return;
            const QModelIndex current = view->currentIndex();
            if (current.isValid() && current.row() == rows.first().row() && current.parent() == rows.first().parent())
                return;
            pick(rows.first());
        });
    });
}

void announce(QWidget* from, const QString& text)
{
    if (!from || text.isEmpty())
        return;
    QWidget* window = from->window();
    auto* notice = window->findChild<QWidget*>(kAnnouncer, Qt::FindDirectChildrenOnly);
    if (!notice) {
        // A one-pixel widget that paints nothing and takes no click: it exists to be shown.
        notice = new QWidget(window);
        notice->setObjectName(kAnnouncer);
        notice->setAttribute(Qt::WA_TransparentForMouseEvents);
        notice->setFocusPolicy(Qt::NoFocus);
        notice->setGeometry(0, 0, 1, 1);
        setAccessibleRole(notice, QAccessible::Notification);
    }
    notice->setAccessibleName(text);
    // A screen reader speaks a notification as it comes into view, whatever has the focus.
    notice->hide();
    notice->show();
    notice->lower();
}

} // namespace kestrel
