"""What the crash harness expects: the operations it gives the worker, the values each version
of a row holds, the model of what must be stored, and the local files read back with Python's own
sqlite3 (a reader independent of Kestrel)."""
import csv
import datetime
import functools
import json
import os
import re
import sqlite3

CONTACT_TYPES = ["Lead", "Cust", "Contact", "Personal"]
CONTACT_COLUMNS = ["lastname", "firstname", "company", "address", "city", "st", "zip", "homeph", "cellph",
                   "workph", "ext", "email"]
# The import's header, in the order the worker maps each field to itself.
IMPORT_HEADER = ["LastName", "FirstName", "Company", "Address", "City", "ST", "Zip", "CellPh", "HomePh", "WorkPh",
                 "Ext", "Email"]


def contact_values(tag, v):
    """Every field of version v of the contact tag (the last name): a row that mixes two versions
    was half written."""
    return [tag, f"v{v}", f"O'Co {tag} {v}"[:25], f"{v} Main St {tag}"[:25], f"Zürich {v}", ("NY", "CA")[v % 2],
            str(10000 + v % 90000), f"555-{v % 10000:04d}", f"556-{v % 10000:04d}", f"557-{v % 10000:04d}",
            str(v), f"{tag.lower()}.v{v}@example.com"]


@functools.lru_cache(maxsize=None)
def contact_row(tag, v):
    """The stored row: the values, whether active, the type."""
    return tuple(contact_values(tag, v)) + (v % 2 == 0, CONTACT_TYPES[v % 4])


def half_hours():
    out = []
    for m in range(0, 24 * 60, 30):
        h = m // 60
        out.append(f"{12 if h % 12 == 0 else h % 12}:{m % 60:02d} {'AM' if h < 12 else 'PM'}")
    return out


HALF_HOURS = half_hours()


def appt_values(tag, v):
    """brief, where, notes, date, time (as the editor's list shows it) of version v. The notes grow
    to several pages of the file, so one save spans many pages."""
    length = 40 + (v * 1237 + sum(map(ord, tag))) % 6000
    line = f"{tag} v{v} notes ß€ "
    notes = ""
    k = 0
    while len(notes) < length:
        notes += f"{line}{k}\n"
        k += 1
    day = datetime.date(2027, 1, 1) + datetime.timedelta(days=(v * 37) % 700)
    return {"brief": f"Meet {tag} v{v}", "where": f"Room {v} {tag}", "notes": notes, "date": day.isoformat(),
            "time": HALF_HOURS[(v * 7) % 48]}


def stored_time(shown):
    """'9:30 AM' as the databases store it: 09:30:00."""
    hm, half = shown.split()
    h, m = map(int, hm.split(":"))
    h = h % 12 + (12 if half == "PM" else 0)
    return f"{h:02d}:{m:02d}:00"


@functools.lru_cache(maxsize=None)
def appt_row(tag, v):
    a = appt_values(tag, v)
    return (tag, a["where"], a["date"], stored_time(a["time"]), a["brief"], a["notes"])


def todo_text(tag, v):
    return f"{tag} v{v}"


VERSION = re.compile(r"v(\d+)$")


class State:
    """What one engine holds after a kill: rows as tuples in the order of contact_row, appt_row,
    and to-do texts."""

    def __init__(self, contacts, appts, todos):
        self.contacts, self.appts, self.todos = contacts, appts, todos

    def rows(self):
        return len(self.contacts) + len(self.appts) + len(self.todos)


def versions(rows, table, expected_row, tag_of, version_text_of, problems, told_about=lambda tag: ""):
    """tag -> version for rows that are whole; half-written, unknown and doubled rows are problems."""
    out = {}
    for row in rows:
        tag = tag_of(row)
        m = VERSION.search(version_text_of(row) or "")
        if not m:
            problems.append(f"{table}: a row that no version of any operation holds: {str(row)[:200]}")
            continue
        v = int(m.group(1))
        want = expected_row(tag, v)
        if tuple(row) != want:
            diff = [f"{i}: {g!r:.60} where version {v} has {w!r:.60}" for i, (g, w) in enumerate(zip(row, want)) if g != w]
            problems.append(f"{table}: {tag} is half written ({'; '.join(diff[:3])})")
            continue
        if tag in out:
            problems.append(f"{table}: {tag} is stored twice{told_about(tag)}")
        out[tag] = v
    return out


class Model:
    """tag -> version of every contact, appointment and to-do item that must be stored."""

    def __init__(self):
        self.contacts, self.appts, self.todos = {}, {}, {}
        # import tag -> the tags of its rows, in file order (a per-row check of each import).
        self.imports = {}

    def table(self, kind):
        return {"contact": self.contacts, "appt": self.appts, "todo": self.todos}[kind]

    def plan(self, rng, run, count, home):
        """count operations for run, chosen against the state they would leave if all succeeded."""
        planned = {k: dict(self.table(k)) for k in ("contact", "appt", "todo")}
        ops = []
        weights = [("add-contact", 16), ("edit-contact", 20), ("del-contact", 6), ("add-appt", 10),
                   ("edit-appt", 12), ("del-appt", 4), ("add-todo", 8), ("edit-todo", 6), ("del-todo", 4),
                   ("import", 3), ("find", 6)]
        names, cum = [w[0] for w in weights], []
        total = 0
        for _, w in weights:
            total += w
            cum.append(total)
        for n in range(1, count + 1):
            draw = rng.uniform(0, total)
            kind = names[next(i for i, c in enumerate(cum) if draw <= c)]
            verb, _, what = kind.partition("-")
            op = {"i": n, "op": kind}
            if kind == "import":
                tag = f"I{run:04d}{n:03d}"
                rows = [f"{tag}{k:04d}" for k in range(rng.randint(20, 600))]
                path = os.path.join(home, f"import-{run}-{n}.csv")
                with open(path, "w", newline="", encoding="utf-8") as f:
                    w = csv.writer(f)
                    w.writerow(IMPORT_HEADER)
                    for r in rows:
                        v = dict(zip(CONTACT_COLUMNS, contact_values(r, 0)))
                        w.writerow([v[h.lower()] for h in IMPORT_HEADER])
                op.update(tag=tag, file=path, rows=len(rows), _rows=rows)
                for r in rows:
                    planned["contact"][r] = 0
                ops.append(op)
                continue
            if kind == "find":
                pool = list(planned["contact"]) or ["C00000000"]
                op["tag"] = rng.choice(pool)
                ops.append(op)
                continue
            table = planned[what]
            if verb != "add" and not table:
                verb = "add"
                op["op"] = kind = f"add-{what}"
            if verb == "add":
                tag = f"{what[0].upper()}{run:04d}{n:04d}"
                v = 0
            else:
                tag = rng.choice(sorted(table))
                v = table[tag] + 1
            op["tag"] = tag
            if verb == "del":
                del table[tag]
                ops.append(op)
                continue
            table[tag] = v
            op["_v"] = v
            if what == "contact":
                op.update(f=contact_values(tag, v), active=v % 2 == 0, type=v % 4)
            elif what == "appt":
                op.update(appt_values(tag, v))
            else:
                op["text"] = todo_text(tag, v)
            ops.append(op)
        return ops

    def after(self, op):
        """(kind, tag) -> version (None: deleted) that op leaves when it is done."""
        kind = op["op"]
        if kind == "import":
            return {("contact", r): 0 for r in op["_rows"]}
        if kind == "find":
            return {}
        verb, _, what = kind.partition("-")
        return {(what, op["tag"]): None if verb == "del" else op["_v"]}

    def apply(self, op, complete=True):
        for (what, tag), v in self.after(op).items():
            table = self.table(what)
            if v is None:
                table.pop(tag, None)
            else:
                table[tag] = v
        if op["op"] == "import":
            self.imports[op["tag"]] = op["_rows"]

    def compare(self, state, pending, failed, unsure=(), ran=()):
        """Problems: acknowledged changes missing, unacknowledged ones present, half-written rows."""
        problems = []

        def told_about(tag):
            said = [f"operation {op['i']} ({op['op']}) told: " + " | ".join(op["_told"]) for op in ran
                    if op.get("tag") == tag and op.get("_told")]
            return ("; " + "; ".join(said))[:600] if said else ""

        got = {
            "contact": versions(state.contacts, "contacts", contact_row, lambda r: r[0], lambda r: r[1], problems,
                                told_about),
            "appt": versions(state.appts, "appointments", appt_row, lambda r: r[0], lambda r: r[4], problems,
                             told_about),
            "todo": versions([(t,) for t in state.todos], "to-do", lambda tag, v: (todo_text(tag, v),),
                             lambda r: r[0].rsplit(" ", 1)[0], lambda r: r[0], problems, told_about),
        }
        # What an operation under way at the kill, or one whose outcome the user was not told
        # (the list refill after it failed), may have left.
        maybe = {}
        for op in ([pending] if pending else []) + list(unsure):
            for key, v in self.after(op).items():
                maybe.setdefault(key, set()).add(v)
        told_failed = {}
        for op in failed:
            for key in self.after(op):
                told_failed[key] = op
        stored_after_failure = {}  # operation index -> the rows it stored though it was told failed
        # Rows of an import that said it was done are checked row by row below.
        done_imports = [op for op in ran if op["op"] == "import" and op.get("_outcome") == "ack"]
        checked_rows = {r for op in done_imports for r in op["_rows"]}
        import_rows = {}  # (import, what went wrong) -> its rows: one line per import, not per row

        def note(what, tag, text):
            if what == "contact" and tag.startswith("I"):
                import_rows.setdefault((tag[:8], text), []).append(tag)
            else:
                problems.append(f"{what} {tag}: {text}")

        for what in ("contact", "appt", "todo"):
            want, have = self.table(what), got[what]
            for tag in sorted(set(want) | set(have)):
                w, g = want.get(tag), have.get(tag)
                if w == g or g in maybe.get((what, tag), ()):
                    continue
                op = told_failed.get((what, tag))
                if op is not None:
                    stored_after_failure.setdefault(op["i"], (op, []))[1].append(tag)
                elif w is None:
                    note(what, tag, f"stored (version {g}) though no operation that was acknowledged or under way "
                                    f"made it")
                elif g is None:
                    if tag not in checked_rows:
                        note(what, tag, f"acknowledged version {w} is not stored")
                else:
                    note(what, tag, f"version {g} stored where version {w} was acknowledged")
        for (imported, text), tags in import_rows.items():
            problems.append(f"import {imported}: {len(tags)} rows (first {tags[0]}): {text}")
        # A row of a finished import that a later operation deleted (or may have) is not missed.
        kept = {r for r in checked_rows if r in self.contacts and None not in maybe.get(("contact", r), ())}
        for op in done_imports:
            problems += check_import_rows(op, got["contact"], complete=True, kept=kept)
        for op, tags in stored_after_failure.values():
            rows = f"{len(tags)} of its {len(self.after(op))} rows are" if op["op"] == "import" else f"{tags[0]} is"
            problems.append(f"operation {op['i']} ({op['op']} {op['tag']}): the user was told it failed, yet {rows} "
                            f"stored; told: {' | '.join(op.get('_told', []))[:400]}")
        if pending and pending["op"] == "import":
            problems += check_import_rows(pending, got["contact"], complete=False)
        self.stored = got
        return problems

    def adopt(self):
        """After a kill the operation under way either happened or not: what compare() found stored
        (and checked to be one of the two) is the model from now on."""
        self.contacts, self.appts, self.todos = self.stored["contact"], self.stored["appt"], self.stored["todo"]


def check_import_rows(op, stored, complete, kept=None):
    """Per row of one import: each row is stored whole or not at all (versions() has checked every
    stored row), and the stored rows are the first rows of the file (the import commits in file
    order). complete: the import said it was done, so every row it added that nothing deleted
    since (kept) must be there. A check of the import's own record of its rows (which rows came
    from which import) belongs here, row by row."""
    problems = []
    rows = op["_rows"]
    present = [r in stored for r in rows]
    if complete:
        missing = [r for r, here in zip(rows, present) if not here and r in kept]
        if missing:
            problems.append(f"import {op['tag']}: {len(missing)} of {len(rows)} rows missing after it said done "
                            f"(first {missing[0]})")
        return problems
    first_missing = present.index(False) if False in present else len(present)
    if any(present[first_missing:]):
        problems.append(f"import {op['tag']}: rows after row {first_missing} stored while row {first_missing} is not")
    return problems


def write_ops(path, ops):
    with open(path, "w", encoding="utf-8") as f:
        for op in ops:
            f.write(json.dumps({k: v for k, v in op.items() if not k.startswith("_")}, ensure_ascii=False) + "\n")


class LocalFiles:
    """The data folder's SQLite files, read with Python's sqlite3."""

    conninfo = None

    def __init__(self, folder):
        self.folder = folder

    def plan_drops(self, rng, delay):
        return []

    def drop(self, how):
        pass

    def settle(self):
        pass

    def reset(self):
        for name in os.listdir(self.folder):
            os.unlink(os.path.join(self.folder, name))

    # The files a running Kestrel keeps in its data folder; anything else was left by a kill.
    KNOWN = re.compile(r"^(contacts|kestrel|tempdb)\.mdb(-wal|-shm|-journal|\.lock)?$", re.I)

    def left_behind(self):
        return [name for name in os.listdir(self.folder) if not self.KNOWN.match(name)]

    def close(self):
        pass

    def read(self):
        problems = []
        contacts, appts, todos = [], [], []
        for name in ("contacts.mdb", "kestrel.mdb"):
            path = os.path.join(self.folder, name)
            if not os.path.exists(path):
                continue
            db = sqlite3.connect(f"file:{path}?mode=rw", uri=True)
            try:
                verdict = [r[0] for r in db.execute("PRAGMA integrity_check")]
                if verdict != ["ok"]:
                    problems.append(f"{name}: PRAGMA integrity_check says {'; '.join(verdict)[:300]}")
                if name == "contacts.mdb":
                    contacts = [tuple(r[:12]) + (bool(r[12]), r[13]) for r in db.execute(
                        f"select {','.join(CONTACT_COLUMNS)},active,contype from contacts")]
                    appts = [tuple(r) for r in db.execute(
                        "select name,address,apptdate,appttime,apptbrief,apptnotes from appointments")]
                    problems += search_index_problems(db)
                else:
                    todos = [r[0] for r in db.execute("select todo from todo")]
            finally:
                db.close()
        return problems, State(contacts, appts, todos)


def search_index_problems(db):
    """Every contact is either in Find's index or noted as waiting to be folded into it."""
    tables = {r[0] for r in db.execute("select name from sqlite_master where type='table'")}
    if not {"contact_find4", "contact_find4_stale"} <= tables:
        return []
    lost = db.execute("select count(*) from contacts where id not in (select id from contact_find4) "
                      "and id not in (select id from contact_find4_stale)").fetchone()[0]
    ghosts = db.execute("select count(*) from contact_find4 where id not in (select id from contacts) "
                        "and id not in (select id from contact_find4_stale)").fetchone()[0]
    out = []
    if lost:
        out.append(f"contacts.mdb: {lost} contacts are neither in Find's index nor waiting for it")
    if ghosts:
        out.append(f"contacts.mdb: Find's index holds {ghosts} deleted contacts not waiting to be removed")
    return out
