#include "dialogs/ChmFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <chm_lib.h>

namespace kestrel {

namespace {

QByteArray normalised(const QString& path)
{
    QString p = path;
    if (!p.startsWith(u'/'))
        p.prepend(u'/');
    return p.toUtf8();
}

QString decodeEntities(const QString& text)
{
    if (!text.contains(u'&'))
        return text;
    return QTextDocumentFragment::fromHtml(text).toPlainText();
}

quint16 le16(const QByteArray& b, qsizetype at) { return quint16(uchar(b[at]) | (uchar(b[at + 1]) << 8)); }

} // namespace

ChmFile::~ChmFile() { close(); }

bool ChmFile::open(const QString& path)
{
    close();
    file_ = chm_open(QFile::encodeName(path).constData());
    if (!file_)
        return false;
    readSystem();
    if (defaultTopic_.isEmpty())
        defaultTopic_ = !contents_.isEmpty() ? contents_.first().local : QStringLiteral("index.html");
    return true;
}

void ChmFile::close()
{
    if (file_)
        chm_close(file_);
    file_ = nullptr;
    title_.clear();
    defaultTopic_.clear();
    contents_.clear();
}

QByteArray ChmFile::read(const QString& path) const
{
    if (!file_)
        return {};
    chmUnitInfo ui;
    if (chm_resolve_object(file_, normalised(path).constData(), &ui) != CHM_RESOLVE_SUCCESS)
        return {};
    if (ui.length == 0 || ui.length > LONGUINT64(kMaxObject))
        return {};
    QByteArray data(qsizetype(ui.length), Qt::Uninitialized);
    const LONGUINT64 got = chm_retrieve_object(file_, &ui, reinterpret_cast<unsigned char*>(data.data()), 0,
                                               LONGINT64(ui.length));
    data.resize(qsizetype(got));
    return data;
}

bool ChmFile::contains(const QString& path) const
{
    chmUnitInfo ui;
    return file_ && chm_resolve_object(file_, normalised(path).constData(), &ui) == CHM_RESOLVE_SUCCESS;
}

QStringList ChmFile::files() const
{
    QStringList out;
    if (!file_)
        return out;
    chm_enumerate(
        file_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
        [](chmFile*, chmUnitInfo* ui, void* context) -> int {
            static_cast<QStringList*>(context)->append(QString::fromUtf8(ui->path));
            return CHM_ENUMERATOR_CONTINUE;
        },
        &out);
    out.sort();
    return out;
}

void ChmFile::readSystem()
{
    // #SYSTEM: a version word, then records of code, length and data. Code 0 names the table of
    // contents, 2 the default topic, 3 the title.
    const QByteArray system = read(QStringLiteral("/#SYSTEM"));
    QString contentsFile;
    qsizetype at = 4;
    while (at + 4 <= system.size()) {
        const quint16 code = le16(system, at);
        const quint16 length = le16(system, at + 2);
        at += 4;
        if (at + length > system.size())
            break;
        QByteArray value = system.mid(at, length);
        if (const qsizetype nul = value.indexOf('\0'); nul >= 0)
            value.truncate(nul);
        const QString text = QString::fromLatin1(value);
        if (code == 0)
            contentsFile = text;
        else if (code == 2)
            defaultTopic_ = text;
        else if (code == 3)
            title_ = text;
        at += length;
    }
    if (contentsFile.isEmpty())
        return;
    contents_ = parseSitemap(QString::fromUtf8(read(contentsFile)));
}

QList<ChmFile::Topic> ChmFile::parseSitemap(const QString& html)
{
    // <UL> opens a level; each <OBJECT type="text/sitemap"> carries a Name and a Local param.
    static const QRegularExpression tag(
        QStringLiteral(R"re(<(/?)(ul|object|param)\b([^>]*)>)re"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attr(QStringLiteral(R"re((\w+)\s*=\s*"([^"]*)")re"));
    QList<Topic> out;
    int depth = 0;
    bool inSitemap = false;
    Topic current;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        const bool closing = !m.captured(1).isEmpty();
        const QString name = m.captured(2).toLower();
        QString paramName, paramValue, type;
        for (auto a = attr.globalMatch(m.captured(3)); a.hasNext();) {
            const auto am = a.next();
            const QString key = am.captured(1).toLower();
            if (key == u"name")
                paramName = am.captured(2).toLower();
            else if (key == u"value")
                paramValue = decodeEntities(am.captured(2));
            else if (key == u"type")
                type = am.captured(2).toLower();
        }
        if (name == u"ul") {
            depth = std::max(0, depth + (closing ? -1 : 1));
        } else if (name == u"object") {
            if (!closing) {
                inSitemap = type == u"text/sitemap";
                current = Topic{};
                current.depth = std::max(1, depth);
            } else if (inSitemap) {
                if (!current.name.isEmpty())
                    out.append(current);
                inSitemap = false;
            }
        } else if (inSitemap) {
            if (paramName == u"name" && current.name.isEmpty())
                current.name = paramValue;
            else if (paramName == u"local" && current.local.isEmpty())
                current.local = paramValue;
        }
    }
    return out;
}

} // namespace kestrel
