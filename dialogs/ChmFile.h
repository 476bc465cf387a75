#pragma once
// Reads a compiled help file (.chm) through chmlib: its topics, its table of contents, its
// title and default topic.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct chmFile;

namespace kestrel {

class ChmFile {
public:
    struct Topic {
        QString name;  // as the table of contents shows it
        QString local; // path inside the file, without a leading slash
        int depth = 1;
    };

    ChmFile() = default;
    ~ChmFile();
    ChmFile(const ChmFile&) = delete;
    ChmFile& operator=(const ChmFile&) = delete;

    bool open(const QString& path);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    // The content of a file inside, by its path ("/index.html" or "index.html"); empty when
    // there is no such file.
    QByteArray read(const QString& path) const;
    bool contains(const QString& path) const;
    // Every stored file's path (with a leading slash), internal ones excepted.
    QStringList files() const;

    QString title() const { return title_; }
    QString defaultTopic() const { return defaultTopic_; }
    QList<Topic> contents() const { return contents_; }

    // The largest single file read; help pages are far smaller.
    static constexpr qint64 kMaxObject = 32 * 1024 * 1024;

private:
    void readSystem();
    static QList<Topic> parseSitemap(const QString& html);

    chmFile* file_ = nullptr;
    QString title_;
    QString defaultTopic_;
    QList<Topic> contents_;
};

} // namespace kestrel
