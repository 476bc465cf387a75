#pragma once
// The widget side of the desktop seam: modal windows and the print dialog. Kept apart from
// platform() so the core library names no widget; the same object usually serves both, and tests
// answer both from one script.
class QDialog;
class QPrinter;

namespace kestrel {

class Desktop {
public:
    virtual ~Desktop() = default;
    // Shows the print dialog for printer; false when the user cancelled.
    virtual bool printDialog(QPrinter& printer, bool hasSelection) = 0;
    // Runs a modal window to its end and returns its result code.
    virtual int runModal(QDialog& dialog) = 0;
};

// The installed platform() when it is a Desktop too; otherwise one that shows nothing, cancels
// every print dialog and runs no window (helper processes and benchmarks without a screen).
Desktop& desktop();

} // namespace kestrel
