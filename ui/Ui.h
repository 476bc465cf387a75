#pragma once
// Shared widget helpers: window controls declared as tables in twips (15 to a pixel), the focus
// colouring of editing boxes, and the fonts the windows are designed for.
#include <QColor>
#include <QHash>
#include <QString>
#include <QWidget>

#include <initializer_list>

class QAbstractButton;
class QDialog;
class QLineEdit;
class QListWidget;

namespace kestrel {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) { return twips / kTwipsPerPixel; }
constexpr int twips(int pixels) { return pixels * kTwipsPerPixel; }

enum class ControlKind { Label, TextBox, MultiText, Button, ComboList, ListBox, CheckBox, Option, Frame, Tree, Grid, DatePicker,
                         TimeBox, ProgressBar };

constexpr int kAuto = -1;      // size left to the control's kind
constexpr int kNoTab = -1;     // takes the focus only from the mouse, if at all
constexpr int kNotStop = -2;   // never takes the focus by Tab

// One control of a window: name, kind, caption, twip rectangle within its parent, tab position
// (1-based, ascending), maximum length of a text box (0: none), and the name assistive software
// reads for it where no label of the table names it (a label that would have named it then
// describes it).
struct ControlSpec {
    const char* name;
    ControlKind kind;
    const char* caption;
    int left, top, width, height;
    int tab = kNoTab;
    int maxLength = 0;
    const char* accessibleName = nullptr;
};

class Controls {
public:
    QWidget* operator[](const QString& name) const;
    template <class T> T* get(const QString& name) const { return qobject_cast<T*>((*this)[name]); }
    bool contains(const QString& name) const { return byName_.contains(name); }
    void insert(const QString& name, QWidget* w) { byName_.insert(name, w); }

private:
    QHash<QString, QWidget*> byName_;
};

// Creates each control of the table as a child of parent (of a frame named in `within` when the
// name contains a dot: "fraMap.lstFrom" is placed inside fraMap) and chains the tab order.
// Every control without a caption of its own (boxes, lists, trees, grids, date boxes) is named
// for assistive software by its table: its explicit accessible name, else its label (labelRows in
// ui/Accessible.h: the nearest label before it, or the k-th of a row of labels over a row of
// boxes), else, for a list, tree or grid, the caption of the frame it is in. The window is read
// in its tab order.
Controls buildControls(QWidget* parent, std::initializer_list<ControlSpec> specs);

// Default height in twips for a kind when the table gives none.
int defaultHeight(ControlKind kind);

// Client area in twips, caption; no minimise or maximise; closeBox controls the close button.
void setupDialog(QDialog* dialog, const QString& caption, int widthTwips, int heightTwips, bool closeBox);

// Light yellow with the whole text selected while a box has the focus, idle colour otherwise.
inline const QColor kFocusYellow{255, 255, 192};
inline const QColor kLightGrey{224, 224, 224};
void installFocusColour(QLineEdit* box, const QColor& idle);
void installFocusColour(QWidget* textEdit, const QColor& idle); // QPlainTextEdit
void setBackground(QWidget* w, const QColor& c);

// Puts a stored value into a box whole, even when it is longer than the box lets the user type.
void setStoredText(QLineEdit* box, const QString& text);

// A line of a list box with its item value: the key of the row it stands for, 0 for headings,
// separators and hints.
void addLine(QListWidget* list, const QString& text, int value);

int leftTwips(const QWidget* w);
void setLeftTwips(QWidget* w, int left);

// Panels that share one place: the one at its front position is shown, the others stand at
// kOutOfView and are hidden too, so that no key and no Tab reaches a control out of view. A null
// front puts every panel out of view.
constexpr int kOutOfView = -12000;
void showOnly(QWidget* front, int frontLeft, std::initializer_list<QWidget*> panels);

// Enter presses the focused button, as Space does. buildControls gives every button of a table
// this; no button becomes a default that Enter in a text box would press.
void pressOnEnter(QAbstractButton* button);

// The room a caption needs in its control at the control's font, and the room it has: a label's
// text (wrapped when the label wraps), a button's text with its bevel, a check box or option
// button with its indicator. Empty sizes for other controls and empty captions.
struct CaptionRoom {
    QSize needs, has;
};
CaptionRoom captionRoom(const QWidget* control);

// Where the design font is not installed its substitute can run a pixel or two wider: each
// caption that does not fit its control is set a little smaller until it does. buildControls
// has this run over the whole window when it is first shown.
void fitCaptions(QWidget* window);

// Maps the design fonts (Verdana, Courier New, Times New Roman) onto installed faces.
void installFontSubstitutes();
QFont designFont(const QString& family, double points, bool bold = false);

} // namespace kestrel
