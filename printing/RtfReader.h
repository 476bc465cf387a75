#pragma once
// Reads rich text (RTF) into a QTextDocument. Qt has no reader of its own, and the lead form is
// a file the user may have edited in any word processor, so this covers what such a program
// saves for a simple form: fonts and colours, character and paragraph formatting, tabs, line,
// paragraph and page breaks, encoded characters and simple tables. Everything else is skipped.
// Any input, however damaged, ends in bounded time with whatever could be read.
#include <QByteArray>
#include <QString>

class QTextDocument;

namespace kestrel {

class RtfReader {
public:
    // Replaces doc's content by the document in rtf. False (doc left empty) when rtf does not
    // begin as rich text; damage further on is read past, never reported.
    bool read(const QByteArray& rtf, QTextDocument* doc);
    // Reads a file; false, with errorString() telling why, when it is missing, unreadable or not
    // rich text.
    bool readFile(const QString& path, QTextDocument* doc);
    QString errorString() const { return error_; }

    // Groups nested deeper than this are read as part of their parent.
    static constexpr int kMaxDepth = 500;
    // The most columns a table row gets; further cells join the last one.
    static constexpr int kMaxColumns = 63;

private:
    QString error_;
};

} // namespace kestrel
