#pragma once
// Fills a fresh program folder's databases with realistic contacts and appointments.
#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrel::bench {

// Points the program at a new scratch folder (removed when the process ends) and builds the
// connection texts.
QString freshProgramDir();
void generateContacts(int count);
// Line i of a contacts CSV as a common address book exports it (13 fields, quotes, a comma
// inside a field, a non-ASCII name), ending in CRLF.
QByteArray sampleCsvRow(int i);
// The columns generateContacts fills, and its rows as plain texts in that order (the same rows
// every time: a local file and the office server hold the same contacts).
inline constexpr char kContactColumns[] =
    "lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype";
std::vector<QStringList> contactRows(int count);
inline constexpr int kActiveColumn = 12; // yes/no, not a text
void generateAppointments(int count, const QDate& first, int days);
void generateTodos(int count);

// One 4 KiB block rewritten in place and synced: the cost of the least a durable change can do,
// the measure a durable statement is compared with.
class SyncedBlock {
public:
    explicit SyncedBlock(const QString& folder)
        : fd_(::open(QFile::encodeName(folder + QStringLiteral("/block.bin")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        std::memset(block_, 'k', sizeof block_);
        write();
    }
    ~SyncedBlock() { ::close(fd_); }
    SyncedBlock(const SyncedBlock&) = delete;
    SyncedBlock& operator=(const SyncedBlock&) = delete;
    bool write() { return ::pwrite(fd_, block_, sizeof block_, 0) == ssize_t(sizeof block_) && ::fsync(fd_) == 0; }

private:
    int fd_;
    char block_[4096];
};

} // namespace kestrel::bench
