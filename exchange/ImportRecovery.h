#pragma once
// At start: an import that stopped half way (the program killed, the power cut) is found and the
// user chooses what becomes of it.
#include <QString>

namespace kestrel {

struct ImportRun;

// "An import of 300,000 contacts from leads.csv stopped after 238,433. Finish it, take it back,
// or keep what came in?" (without a way to finish when the rows it still had to add are gone).
QString stoppedImportQuestion(const ImportRun& run, bool canFinish);

// Asks about every import of this user that stopped, and finishes it, takes it back or keeps
// what came in, as answered; closing the question asks again at the next start. An import
// running in another copy (on this computer or, for the office server, another) is left alone.
void offerUnfinishedImports();

} // namespace kestrel
