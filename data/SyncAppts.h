#pragma once
// The appointments' side of the sync's store (data/SyncStore.h), within its connection and
// transaction: every appointment but the rows of days of a series (they travel in their series'
// values), and the same written back, rows of days made, changed or put in the trash.
#include "data/SyncStore.h"

#include <memory>

namespace kestrel {

class Connection;
class Statement;

// Values as the sync compares them: dates and times in one form on both engines, null as empty.
QString syncValueText(const Statement& q, int column, const QString& name);

// Puts a row the sync removes into the trash, saying why (data/SyncStore.cpp).
void removeSyncedRow(Connection& c, SyncKind kind, std::int64_t id, const QString& why);

// Every appointment to sync, keyed by its remembered event key or else one made from identity.
std::vector<SyncRow> loadApptSyncRows(Connection& c, const QString& identity);

class ApptWriterImpl;
class ApptSyncWriter {
public:
    explicit ApptSyncWriter(Connection& c);
    ~ApptSyncWriter();
    // The appointment as it is now; empty when it is not there.
    QStringList current(std::int64_t id);
    std::int64_t insert(const QStringList& values);
    void update(std::int64_t id, const QStringList& values);
    // The appointment and the rows of its days, into the trash.
    void remove(std::int64_t id, const QString& why);

private:
    std::unique_ptr<ApptWriterImpl> impl_;
};

} // namespace kestrel
