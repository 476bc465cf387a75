#include "printing/RtfReader.h"

#include "printing/RtfParser.h"

#include <QFile>
#include <QFileInfo>
#include <QTextCursor>
#include <QTextDocument>

namespace kestrel {

namespace {

bool looksLikeRtf(const QByteArray& data)
{
    qsizetype i = 0;
    // A byte-order mark or blank lines before the first brace are forgiven.
    if (data.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t'))
        ++i;
    return data.mid(i, 5) == "{\\rtf";
}

} // namespace

bool RtfReader::read(const QByteArray& rtf, QTextDocument* doc, PageParts* parts)
{
    doc->clear();
    if (parts)
        *parts = PageParts{};
    error_.clear();
    if (!looksLikeRtf(rtf)) {
        error_ = QStringLiteral("it is not a rich-text file");
        return false;
    }
    // One edit block for the whole file: the document otherwise rescans all its text for frames
    // after every table it is given, which made reading grow with the square of the length.
    // Nothing reads a loaded template back step by step, so no undo history is kept either.
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    QTextCursor block(doc);
    block.beginEditBlock();
    rtf::Parser parser(rtf, doc, parts);
    parser.run();
    block.endEditBlock();
    doc->setUndoRedoEnabled(undo);
    return true;
}

bool RtfReader::readFile(const QString& path, QTextDocument* doc, PageParts* parts)
{
    if (parts)
        *parts = PageParts{};
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        doc->clear();
        error_ = QStringLiteral("the file does not exist");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        doc->clear();
        error_ = file.errorString();
        return false;
    }
    return read(file.readAll(), doc, parts);
}

} // namespace kestrel
