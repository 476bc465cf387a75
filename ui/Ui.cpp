#include "ui/Ui.h"

#include "ui/Accessible.h"
#include "ui/DatePicker.h"
#include "ui/TimeBox.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

namespace kestrel {

QWidget* Controls::operator[](const QString& name) const
{
    QWidget* w = byName_.value(name);
    // A misspelt name is the program's own fault: stop here with the name, in every build,
    // rather than at a null pointer far away.
    if (!w)
        qFatal("No control named \"%s\" in this window", qPrintable(name));
    return w;
}

int defaultHeight(ControlKind kind)
{
    switch (kind) {
    case ControlKind::TextBox: return 285;
    case ControlKind::Button: return 375;
    case ControlKind::ComboList: return 315;
    case ControlKind::CheckBox:
    case ControlKind::Option:
    case ControlKind::Label: return 255;
    case ControlKind::ProgressBar: return 255;
    case ControlKind::DatePicker:
    case ControlKind::TimeBox: return 315;
    default: return 1215;
    }
}

namespace {
QWidget* makeControl(ControlKind kind, const QString& caption, QWidget* parent)
{
    switch (kind) {
    case ControlKind::Label: {
        auto* l = new QLabel(caption, parent);
        l->setTextFormat(Qt::PlainText);
        return l;
    }
    case ControlKind::TextBox: {
        auto* e = new QLineEdit(parent);
        e->setText(caption);
        return e;
    }
    case ControlKind::MultiText: {
        auto* e = new QPlainTextEdit(parent);
        e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        e->setTabChangesFocus(true);
        return e;
    }
    case ControlKind::Button: {
        auto* b = new QPushButton(caption, parent);
        pressOnEnter(b);
        return b;
    }
    case ControlKind::ComboList: return new QComboBox(parent);
    case ControlKind::ListBox: return new QListWidget(parent);
    case ControlKind::CheckBox: return new QCheckBox(caption, parent);
    case ControlKind::Option: return new QRadioButton(caption, parent);
    case ControlKind::Frame: return new QGroupBox(caption, parent);
    case ControlKind::Tree: {
        auto* t = new QTreeWidget(parent);
        t->setHeaderHidden(true);
        t->setColumnCount(1);
        return t;
    }
    case ControlKind::Grid: {
        auto* g = new QTableView(parent);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->verticalHeader()->setDefaultSectionSize(18);
        return g;
    }
    case ControlKind::DatePicker: return new DatePicker(parent);
    case ControlKind::TimeBox: return new TimeBox(parent);
    case ControlKind::ProgressBar: {
        auto* b = new QProgressBar(parent);
        b->setTextVisible(false);
        return b;
    }
    }
    return new QWidget(parent);
}
} // namespace

namespace {
const char* const kTypedLimit = "kestrelTypedLimit";

// The maximum length bounds what the user types. A longer value put in by the program lifts the
// box's limit to its length; each edit lowers it again towards the designed one, so typing can
// shorten such a value but never lengthen it.
void limitTyping(QLineEdit* box, int limit)
{
    box->setProperty(kTypedLimit, limit);
    box->setMaxLength(limit);
    QObject::connect(box, &QLineEdit::textEdited, box, [box, limit](const QString& text) {
        box->setMaxLength(std::max(limit, int(text.size())));
    });
}

// A box cuts text at its length in UTF-16 units, which can leave half of an emoji behind; that
// half would be stored as a replacement character. The half is dropped as soon as it appears.
void keepWholeCharacters(QLineEdit* box)
{
    QObject::connect(box, &QLineEdit::textChanged, box, [box](const QString& text) {
        QString whole;
        whole.reserve(text.size());
        int cursor = box->cursorPosition();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            const bool paired = c.isHighSurrogate() ? i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
                                : c.isLowSurrogate() ? i > 0 && text.at(i - 1).isHighSurrogate()
                                                     : true;
            if (paired)
                whole += c;
            else if (i < cursor)
                --cursor;
        }
        if (whole.size() == text.size())
            return;
        box->setText(whole);
        box->setCursorPosition(cursor);
    });
}
} // namespace

namespace {
// Fits the captions of a window once, when it is first shown with every text in place.
class FitOnShow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            fitCaptions(static_cast<QWidget*>(watched));
            deleteLater();
        }
        return false;
    }
};
} // namespace

namespace {
bool needsLabel(ControlKind kind)
{
    switch (kind) {
    case ControlKind::TextBox:
    case ControlKind::MultiText:
    case ControlKind::ComboList:
    case ControlKind::ListBox:
    case ControlKind::Tree:
    case ControlKind::Grid:
    case ControlKind::DatePicker:
    case ControlKind::TimeBox: return true;
    default: return false;
    }
}

bool isList(ControlKind kind) { return kind == ControlKind::ListBox || kind == ControlKind::Tree || kind == ControlKind::Grid; }

// The naming rule of buildControls, over the controls just made (in table order).
void nameControls(const std::vector<const ControlSpec*>& specs, const std::vector<QWidget*>& made)
{
    std::vector<QWidget*> owners;
    std::vector<NamingRow> rows;
    for (size_t i = 0; i < specs.size(); ++i) {
        QWidget* owner = made[i]->parentWidget();
        auto at = std::find(owners.begin(), owners.end(), owner);
        if (at == owners.end())
            at = owners.insert(owners.end(), owner);
        const ControlKind kind = specs[i]->kind;
        rows.push_back({kind == ControlKind::Label ? NamingRow::Label
                        : needsLabel(kind)         ? NamingRow::NeedsLabel
                                                   : NamingRow::Other,
                        *specs[i]->caption != '\0', int(at - owners.begin())});
    }
    const std::vector<int> labelOf = labelRows(rows);
    std::vector<QWidget*> framesUsed;
    for (size_t i = 0; i < specs.size(); ++i) {
        QWidget* w = made[i];
        auto* label = labelOf[i] >= 0 ? qobject_cast<QLabel*>(made[size_t(labelOf[i])]) : nullptr;
        if (const char* name = specs[i]->accessibleName) {
            w->setAccessibleName(QString::fromUtf8(name));
            if (label)
                describeBy(w, label);
        } else if (label) {
            nameByLabel(w, label);
        } else if (auto* frame = qobject_cast<QGroupBox*>(w->parentWidget());
                   frame && isList(specs[i]->kind) && !frame->title().isEmpty() &&
                   std::find(framesUsed.begin(), framesUsed.end(), frame) == framesUsed.end()) {
            framesUsed.push_back(frame);
            w->setAccessibleName(spokenCaption(frame->title()));
        }
    }
    for (QWidget* owner : owners)
        readInTabOrder(owner);
}
} // namespace

Controls buildControls(QWidget* parent, std::initializer_list<ControlSpec> specs)
{
    Controls controls;
    std::vector<std::pair<int, QWidget*>> tabbed;
    std::vector<const ControlSpec*> rows;
    std::vector<QWidget*> made;
    for (const ControlSpec& s : specs) {
        QString name = QString::fromUtf8(s.name);
        QWidget* owner = parent;
        if (const qsizetype dot = name.indexOf(u'.'); dot > 0) {
            owner = controls[name.left(dot)];
            name = name.mid(dot + 1);
        }
        QWidget* w = makeControl(s.kind, QString::fromUtf8(s.caption), owner);
        w->setObjectName(name);
        const int h = s.height == kAuto ? defaultHeight(s.kind) : s.height;
        if (s.width == kAuto) {
            w->adjustSize();
            w->move(px(s.left), px(s.top));
            if (s.kind != ControlKind::Label)
                w->resize(w->width(), px(h));
        } else {
            w->setGeometry(px(s.left), px(s.top), px(s.width), px(h));
        }
        if (auto* e = qobject_cast<QLineEdit*>(w); e && s.maxLength > 0) {
            limitTyping(e, s.maxLength);
            keepWholeCharacters(e);
        }
        if (s.tab == kNotStop)
            w->setFocusPolicy(Qt::ClickFocus);
        else if (s.tab > 0)
            tabbed.emplace_back(s.tab, w);
        controls.insert(name, w);
        rows.push_back(&s);
        made.push_back(w);
    }
    if (!made.empty())
        nameControls(rows, made);
    if (QWidget* window = parent->window(); !window->property("kestrelFits").toBool()) {
        window->setProperty("kestrelFits", true);
        window->installEventFilter(new FitOnShow(window));
    }
    std::stable_sort(tabbed.begin(), tabbed.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tabbed.size(); ++i)
        QWidget::setTabOrder(tabbed[i - 1].second, tabbed[i].second);
    return controls;
}

void setupDialog(QDialog* dialog, const QString& caption, int widthTwips, int heightTwips, bool closeBox)
{
    dialog->setWindowTitle(caption);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
    if (closeBox)
        flags |= Qt::WindowCloseButtonHint;
    dialog->setWindowFlags(flags);
    dialog->setFixedSize(px(widthTwips), px(heightTwips));
    dialog->setModal(true);
}

void setBackground(QWidget* w, const QColor& c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractScrollArea*>(w))
        w->setAutoFillBackground(true);
}

void setStoredText(QLineEdit* box, const QString& text)
{
    const int limit = box->property(kTypedLimit).toInt();
    box->setMaxLength(std::max(limit > 0 ? limit : 32767, int(text.size())));
    box->setText(text);
}

namespace {
void selectWhole(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->selectAll();
    else if (auto* t = qobject_cast<QPlainTextEdit*>(w))
        t->selectAll();
}

class FocusColour : public QObject {
public:
    FocusColour(QWidget* box, QColor idle) : QObject(box), idle_(idle) { setBackground(box, idle); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* w = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::FocusIn: {
            setBackground(w, kFocusYellow);
            typed_ = false;
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Back from another window or a context menu, the user goes on where they were.
            const bool back = away_ && (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason);
            away_ = false;
            if (back)
                break;
            // Keys typed right behind a Tab may already be queued: select now, before they land.
            if (reason != Qt::MouseFocusReason) {
                selectWhole(w);
                break;
            }
            // The click places the cursor after focus-in; select once it has, unless the user
            // has typed in the meantime.
            QTimer::singleShot(0, w, [this, w] {
                if (!typed_ && w->hasFocus())
                    selectWhole(w);
            });
            break;
        }
        case QEvent::KeyPress:
        case QEvent::InputMethod:
            typed_ = true;
            break;
        case QEvent::FocusOut: {
            setBackground(w, idle_);
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            away_ = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    QColor idle_;
    bool typed_ = false;
    bool away_ = false; // lost the focus to another window or a popup, not to another control
};
} // namespace

void installFocusColour(QLineEdit* box, const QColor& idle) { box->installEventFilter(new FocusColour(box, idle)); }
void installFocusColour(QWidget* textEdit, const QColor& idle)
{
    textEdit->installEventFilter(new FocusColour(textEdit, idle));
}

void addLine(QListWidget* list, const QString& text, int value)
{
    // Its value set before it joins the list, so that filling a list raises no change per line.
    auto* item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, value);
    list->addItem(item);
}

int leftTwips(const QWidget* w) { return twips(w->x()); }
void setLeftTwips(QWidget* w, int left) { w->move(px(left), w->y()); }

CaptionRoom captionRoom(const QWidget* c)
{
    const QFontMetrics fm(c->font());
    if (const auto* l = qobject_cast<const QLabel*>(c); l && !l->text().isEmpty() && l->pixmap().isNull()) {
        const QRect room = l->contentsRect();
        const int flags = l->wordWrap() ? Qt::TextWordWrap : 0;
        const QRect text = fm.boundingRect(QRect(0, 0, l->wordWrap() ? room.width() : 100000, 100000), flags, l->text());
        return {text.size(), room.size()};
    }
    if (const auto* b = qobject_cast<const QPushButton*>(c); b && !b->text().isEmpty())
        return {QSize(fm.horizontalAdvance(QString(b->text()).remove(u'&')) + 8, fm.height()), b->size()};
    if (const auto* b = qobject_cast<const QAbstractButton*>(c); b && !b->text().isEmpty())
        return {QSize(b->sizeHint().width(), fm.height()), b->size()};
    return {};
}

void fitCaptions(QWidget* window)
{
    constexpr double kSmallest = 6.5; // below this a caption is no longer read at a glance
    for (QWidget* c : window->findChildren<QWidget*>()) {
        CaptionRoom room = captionRoom(c);
        QFont f = c->font();
        while ((room.needs.width() > room.has.width() || room.needs.height() > room.has.height()) &&
               f.pointSizeF() - 0.25 >= kSmallest) {
            f.setPointSizeF(f.pointSizeF() - 0.25);
            c->setFont(f);
            room = captionRoom(c);
        }
    }
}


void showOnly(QWidget* front, int frontLeft, std::initializer_list<QWidget*> panels)
{
    for (QWidget* panel : panels) {
        if (panel == front)
            continue;
        setLeftTwips(panel, kOutOfView);
        panel->hide();
    }
    if (!front)
        return;
    setLeftTwips(front, frontLeft);
    front->show();
    front->raise();
}

namespace {
class EnterPresses : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || mods != Qt::NoModifier)
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (button->isEnabled())
            button->click();
        return true;
    }
};
} // namespace

void pressOnEnter(QAbstractButton* button)
{
    if (auto* push = qobject_cast<QPushButton*>(button))
        push->setAutoDefault(false);
    button->installEventFilter(new EnterPresses(button));
}

void installFontSubstitutes()
{
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"),
                               {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"),
                               {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
}

QFont designFont(const QString& family, double points, bool bold)
{
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    if (family == u"Courier New")
        f.setStyleHint(QFont::TypeWriter);
    return f;
}

} // namespace kestrel
