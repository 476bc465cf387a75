#pragma once
// What assistive software (a screen reader, voice control) finds on the desktop's accessibility
// bus: the names and descriptions of controls, the order a window is read in, the roles of the
// few widgets that stand for something else, and announcements spoken without moving the focus.
// buildControls applies the naming rule to every control table; windows add only what a table
// cannot say.
#include <QAccessible>
#include <QString>

#include <functional>
#include <vector>

class QAbstractItemView;
class QLabel;
class QModelIndex;
class QWidget;

namespace kestrel {

// A caption as a spoken name: without its access-key marker ("&&" stays one "&"), without a
// closing colon or full stop, blanks run together.
QString spokenCaption(const QString& caption);

// One row of a control table as the naming rule sees it.
struct NamingRow {
    enum Kind { Label, NeedsLabel, Other };
    Kind kind;
    bool captioned; // a label with a caption in the table (labels filled in later name nothing)
    int owner;      // rows of one parent share a number
};
// For each row, the row of the label that names it, or -1. A label names the control that
// follows it in its table (within the same parent): the nearest label before it, or, where a row
// of n labels stands over a row of n boxes, the k-th label the k-th box.
std::vector<int> labelRows(const std::vector<NamingRow>& rows);

// Names control by label: the label's caption as its name, and the label as its buddy, which
// the bus reports as the control's label.
void nameByLabel(QWidget* control, QLabel* label);
// The text of hint describes control: as it reads when the window shows and whenever the
// control takes the focus (a hint that changes on the way is read as it then stands).
void describeBy(QWidget* control, QLabel* hint);

// The role assistive software is told for w, where its kind of widget says something else (a
// window that alerts, the status bar, a label that acts as a button).
void setAccessibleRole(QWidget* w, QAccessible::Role role);
// The children of container are read in the window's tab order, each label just before the
// control it names, the rest where they stand among them.
void readInTabOrder(QWidget* container);
// w acts on a click: assistive software may press it too, which runs press.
void makePressable(QWidget* w, QAccessible::Role role, std::function<void()> press);

// A line chosen through the accessibility bus (selected without the cursor moving to it, which
// neither the mouse nor the keys do) runs pick, as a double click or Enter would.
void pickOnAccessibleSelect(QAbstractItemView* view, std::function<void(const QModelIndex&)> pick);

// Says text through the window of from without taking the focus: a screen reader speaks it as a
// notification.
void announce(QWidget* from, const QString& text);

// The reading order of container's children (exposed for tests).
std::vector<QWidget*> readingOrder(const QWidget* container);

} // namespace kestrel
