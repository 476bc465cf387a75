#pragma once
// Additions to a file that only make it faster (an index, the grid's kept counts), made once.
// A small file gains them as it opens; a large one (seconds each at a million contacts) behind
// the window, each in a transaction of its own, so that a file closed or killed half-way holds
// each one whole or not at all and gains the rest when next opened. Until then it is read without
// them: slower, never wrong. Included only by data/ sources.
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct sqlite3;

namespace kestrel {

struct SpeedUp {
    const char* missing; // a query that gives a row while the file lacks it
    const char* make;    // the statements that make it, in one transaction
};

// Those of a contacts file, in the order they are made: the grid's first (the lists are what
// the window shows first), then Find's (modData.cpp).
const std::vector<SpeedUp>& contactsFileSpeedUps();

// The most contacts a file may hold for its speed-ups to be made as it opens (a few hundredths
// of a second); tests set none, so that a small file waits for them as a large one does.
std::int64_t speedUpsAtOnceRows();
void setSpeedUpsAtOnceRows(std::int64_t rows);

// Makes the speed-ups a file that may be written lacks, when its contacts are few enough. Throws DbError.
void makeSpeedUpsIfSmall(sqlite3* db, bool readOnly, const std::vector<SpeedUp>& ups);
// Whether the file lacks the speed-up, and will gain it behind the window: it may be written and
// holds more contacts than speedUpsAtOnceRows.
bool speedUpComing(sqlite3* db, const SpeedUp& up);

struct SpeedUpProgress {
    int done = 0, total = 0; // speed-ups made, of those the file lacked
};
// Makes every speed-up the file lacks, on a connection of its own: progress before each and at
// the end. stop ends the work, the one under way rolled back. One under way gives way to a write
// of the window's (rolled back, and made again once the window has written), which would
// otherwise wait seconds for it. Returns true when the file lacks none; false when stopped or the
// file may not be written (or is the office server's). Throws DbError.
bool makeSpeedUps(const QString& connectionText, const std::vector<SpeedUp>& ups,
                  const std::function<void(SpeedUpProgress)>& progress, const std::atomic<bool>& stop);

// Tests: told, on the thread that makes them, the index (in ups) of each speed-up every hundred
// steps of the engine while its statements run, with how many times it was told so far for it and
// the stop it was given; may hold it there (a kill then falls that far into its transaction).
void setSpeedUpWatcher(std::function<void(int, int, const std::atomic<bool>&)> watcher);

} // namespace kestrel
