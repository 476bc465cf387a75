// A read-only snapshot: every row of a query copied once into one arena, then read by row and
// column with the program's types (dates, times and yes/no by the declared column type).
#include "data/Database.h"

#include "data/PgEngine.h"
#include "data/Statement.h"

#include <QDate>
#include <QStringDecoder>
#include <QTime>

#include <sqlite3.h>

#include <algorithm>

namespace kestrel {

namespace {
// The office server's rows, stored as SQLite's fundamental types so both engines read alike.
std::uint8_t storageOf(pg::Cursor::Kind kind)
{
    switch (kind) {
    case pg::Cursor::Kind::Bool:
    case pg::Cursor::Kind::Integer:
        return SQLITE_INTEGER;
    case pg::Cursor::Kind::Real:
        return SQLITE_FLOAT;
    default:
        return SQLITE_TEXT;
    }
}
} // namespace

void Snapshot::readServer(Statement& st)
{
    pg::Cursor& c = *st.server();
    const int columns = st.columnCount();
    std::vector<std::uint8_t> storage;
    for (int i = 0; i < columns; ++i) {
        names_.push_back(st.columnName(i));
        const pg::Cursor::Kind k = c.kind(i);
        kinds_.push_back(k == pg::Cursor::Kind::Date ? Kind::Date
                         : k == pg::Cursor::Kind::Time ? Kind::Time
                         : k == pg::Cursor::Kind::Bool ? Kind::Bool
                                                       : Kind::Plain);
        storage.push_back(storageOf(k));
    }
    while (st.step()) {
        for (int i = 0; i < columns; ++i) {
            Cell cell{};
            cell.type = c.isNull(i) ? std::uint8_t(SQLITE_NULL) : storage[size_t(i)];
            if (cell.type == SQLITE_INTEGER) {
                cell.i = c.integer(i);
            } else if (cell.type == SQLITE_FLOAT) {
                cell.d = c.real(i);
            } else if (cell.type == SQLITE_TEXT) {
                std::string_view b = c.bytes(i);
                // Times are kept to the second, as the local files keep them.
                if (kinds_[size_t(i)] == Kind::Time)
                    b = b.substr(0, 8);
                cell.length = std::uint32_t(b.size());
                cell.offset = arena_.size();
                arena_.append(b.data(), b.size());
            }
            cells_.push_back(cell);
        }
        ++rows_;
    }
}

Snapshot::Snapshot(Connection& connection, const QString& statement)
{
    Statement st(connection, statement);
    if (st.server()) {
        readServer(st);
        return;
    }
    const int columns = st.columnCount();
    names_.reserve(columns);
    kinds_.reserve(columns);
    for (int c = 0; c < columns; ++c) {
        names_.push_back(st.columnName(c));
        const char* decl = sqlite3_column_decltype(st.handle(), c);
        Kind k = Kind::Plain;
        if (decl) {
            if (sqlite3_stricmp(decl, "DATE") == 0)
                k = Kind::Date;
            else if (sqlite3_stricmp(decl, "TIME") == 0)
                k = Kind::Time;
            else if (sqlite3_stricmp(decl, "BOOLEAN") == 0)
                k = Kind::Bool;
        }
        kinds_.push_back(k);
    }
    sqlite3_stmt* raw = st.handle();
    while (st.step()) {
        for (int c = 0; c < columns; ++c) {
            Cell cell{};
            cell.type = std::uint8_t(sqlite3_column_type(raw, c));
            switch (cell.type) {
            case SQLITE_INTEGER:
                cell.i = sqlite3_column_int64(raw, c);
                break;
            case SQLITE_FLOAT:
                cell.d = sqlite3_column_double(raw, c);
                break;
            case SQLITE_TEXT:
            case SQLITE_BLOB: {
                const void* p = cell.type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(raw, c))
                                                         : sqlite3_column_blob(raw, c);
                cell.length = std::uint32_t(sqlite3_column_bytes(raw, c));
                cell.offset = arena_.size();
                if (cell.length)
                    arena_.append(static_cast<const char*>(p), cell.length);
                break;
            }
            default:
                break;
            }
            cells_.push_back(cell);
        }
        ++rows_;
    }
}

int Snapshot::fieldIndex(const QString& name) const
{
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QVariant Snapshot::field(const QString& name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DbError(SQLITE_ERROR, QStringLiteral("Item cannot be found in the collection corresponding to the "
                                                   "requested name or ordinal (%1)").arg(name));
    return field(i);
}

const Snapshot::Cell& Snapshot::cell(int row, int column) const
{
    if (row < 0 || row >= rows_)
        throw DbError(SQLITE_ERROR, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    if (column < 0 || column >= fieldCount())
        throw DbError(SQLITE_ERROR, QStringLiteral("Item cannot be found in the collection corresponding to the "
                                                   "requested name or ordinal (%1)").arg(column));
    return cells_[size_t(row) * names_.size() + size_t(column)];
}

bool Snapshot::isNull(int row, int column) const { return cell(row, column).type == SQLITE_NULL; }

QVariant Snapshot::value(int row, int column) const
{
    const Cell& c = cell(row, column);
    const Kind kind = kinds_[size_t(column)];
    switch (c.type) {
    case SQLITE_INTEGER:
        if (kind == Kind::Bool)
            return QVariant(c.i != 0);
        if (c.i >= INT32_MIN && c.i <= INT32_MAX)
            return QVariant(int(c.i));
        return QVariant(qlonglong(c.i));
    case SQLITE_FLOAT:
        return QVariant(c.d);
    case SQLITE_TEXT: {
        const QString s = exactUtf8(arena_.data() + c.offset, qsizetype(c.length));
        if (kind == Kind::Date) {
            const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
            if (d.isValid())
                return d;
        } else if (kind == Kind::Time) {
            const QTime t = QTime::fromString(s, QStringLiteral("HH:mm:ss"));
            if (t.isValid())
                return t;
        }
        return s;
    }
    case SQLITE_BLOB:
        return QByteArray(arena_.data() + c.offset, qsizetype(c.length));
    default:
        return {};
    }
}

QString Snapshot::textAt(int row, int column) const
{
    const Cell& c = cell(row, column);
    if (c.type == SQLITE_TEXT && kinds_[size_t(column)] == Kind::Plain)
        return exactUtf8(arena_.data() + c.offset, qsizetype(c.length));
    return variantText(value(row, column));
}

QString exactUtf8(const char* bytes, qsizetype size)
{
    // Most stored text is plain ASCII, whose bytes are its characters: a list of a few hundred
    // names is then read without the decoder's bookkeeping for each field.
    if (size > 0 && std::all_of(bytes, bytes + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes, size);
    thread_local QStringDecoder decoder(QStringConverter::Utf8,
                                        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    return decoder.decode(QByteArrayView(bytes, size));
}

QString variantText(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDate: {
        const QDate d = v.toDate();
        return QStringLiteral("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year());
    }
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("h:mm:ss AP"));
    default:
        return v.toString();
    }
}

} // namespace kestrel
