// The office database's schema, made by the first copy of Kestrel that connects and raised by
// version (table kestrel_schema) when a later one needs more.
#include "data/PgEngine.h"

#include "data/Office.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace kestrel::pg {

namespace {

// Texts are compared and ordered without regard to case, as the local files' NOCASE columns are,
// by a nondeterministic ICU collation (kestrel_nocase), so the program's statements stay as they
// are and the order does not hang on the server's locale. citext would do the same, but sorts
// four times slower (25,000 of 100,000 contacts, by name: 246 ms against 57 ms). PostgreSQL 15
// refuses LIKE on such a collation; the program's LIKE becomes the operator ~~~ instead, which
// folds accents as well as case, as the local files' LIKE does ("E%" finds Émile).
//
// Whoever may connect to the database (its CONNECT privilege) works with the office's contacts and
// appointments. The to-do list is per database user: todo is a view of the user's own rows of todo_items, so
// the program's "select id,todo from todo" and its insert, update and delete see and touch
// nothing else; an insert through the view takes the owner's default, current_user.
//
// Every change to contacts, appointments and to-do items is announced once per statement on the
// channel kestrel_changes with the table's name, after the change commits; contacts and
// appointments carry a row version that every update raises, so a save can tell that someone
// else changed the row since it was read.
constexpr const char* kVersion1 = R"sql(
CREATE EXTENSION IF NOT EXISTS unaccent;
CREATE COLLATION IF NOT EXISTS kestrel_nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
CREATE OR REPLACE FUNCTION kestrel_like(t text, pattern text) RETURNS boolean LANGUAGE sql STABLE AS
  $$SELECT lower(unaccent(t) COLLATE kestrel_nocase) COLLATE "C" LIKE
           lower(unaccent(pattern) COLLATE kestrel_nocase) COLLATE "C" ESCAPE ''$$;
CREATE OPERATOR ~~~ (FUNCTION = kestrel_like, LEFTARG = text, RIGHTARG = text);
CREATE TABLE IF NOT EXISTS contacts(
  id serial PRIMARY KEY,
  lastname text COLLATE kestrel_nocase,
  firstname text COLLATE kestrel_nocase,
  company text COLLATE kestrel_nocase,
  address text COLLATE kestrel_nocase,
  city text COLLATE kestrel_nocase,
  st text COLLATE kestrel_nocase,
  zip text COLLATE kestrel_nocase,
  homeph text COLLATE kestrel_nocase,
  cellph text COLLATE kestrel_nocase,
  workph text COLLATE kestrel_nocase,
  ext text COLLATE kestrel_nocase,
  email text COLLATE kestrel_nocase,
  active boolean DEFAULT true,
  contype text COLLATE kestrel_nocase,
  rowver bigint NOT NULL DEFAULT 1);
CREATE INDEX IF NOT EXISTS contacts_by_name
  ON contacts(lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST);
CREATE INDEX IF NOT EXISTS contacts_by_type
  ON contacts(contype, lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST);
CREATE TABLE IF NOT EXISTS appointments(
  autoid serial PRIMARY KEY,
  name text COLLATE kestrel_nocase,
  address text COLLATE kestrel_nocase,
  apptdate date,
  appttime time(0),
  apptbrief text COLLATE kestrel_nocase,
  apptnotes text COLLATE kestrel_nocase,
  rowver bigint NOT NULL DEFAULT 1);
CREATE INDEX IF NOT EXISTS appointments_by_date ON appointments(apptdate NULLS FIRST, appttime NULLS FIRST);
CREATE TABLE IF NOT EXISTS todo_items(
  id serial PRIMARY KEY,
  owner name NOT NULL DEFAULT current_user,
  todo text COLLATE kestrel_nocase);
CREATE INDEX IF NOT EXISTS todo_items_by_owner ON todo_items(owner, id);
CREATE OR REPLACE VIEW todo AS SELECT id, todo FROM todo_items WHERE owner = current_user;
CREATE TABLE IF NOT EXISTS exchange_identity(identity text NOT NULL);
-- Made here, under the lock, so that two copies exporting at once never make two.
INSERT INTO exchange_identity(identity) SELECT gen_random_uuid()::text WHERE NOT EXISTS (SELECT 1 FROM exchange_identity);
CREATE TABLE IF NOT EXISTS ical_uids(uid text PRIMARY KEY, autoid integer NOT NULL);
-- Which rows kestrel --copy-to-office took from which local file, so that a repeat adds only the rest.
CREATE TABLE IF NOT EXISTS kestrel_copied(source varchar(64) NOT NULL, tbl varchar(32) NOT NULL,
  local_id bigint NOT NULL, PRIMARY KEY(source, tbl, local_id));
REVOKE ALL ON todo_items FROM PUBLIC;
GRANT SELECT, INSERT, UPDATE, DELETE ON contacts, appointments, todo, ical_uids, exchange_identity TO PUBLIC;
GRANT SELECT, INSERT ON kestrel_copied TO PUBLIC;
GRANT USAGE ON SEQUENCE contacts_id_seq, appointments_autoid_seq, todo_items_id_seq TO PUBLIC;
GRANT SELECT ON kestrel_schema TO PUBLIC;
CREATE OR REPLACE FUNCTION kestrel_raise_rowver() RETURNS trigger LANGUAGE plpgsql AS
  $$BEGIN NEW.rowver := OLD.rowver + 1; RETURN NEW; END$$;
CREATE OR REPLACE FUNCTION kestrel_announce() RETURNS trigger LANGUAGE plpgsql AS
  $$BEGIN PERFORM pg_notify('kestrel_changes', TG_ARGV[0]); RETURN NULL; END$$;
CREATE OR REPLACE TRIGGER contacts_rowver BEFORE UPDATE ON contacts
  FOR EACH ROW EXECUTE FUNCTION kestrel_raise_rowver();
CREATE OR REPLACE TRIGGER appointments_rowver BEFORE UPDATE ON appointments
  FOR EACH ROW EXECUTE FUNCTION kestrel_raise_rowver();
CREATE OR REPLACE TRIGGER contacts_changed AFTER INSERT OR UPDATE OR DELETE ON contacts
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('contacts');
CREATE OR REPLACE TRIGGER appointments_changed AFTER INSERT OR UPDATE OR DELETE ON appointments
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('appointments');
CREATE OR REPLACE TRIGGER todo_changed AFTER INSERT OR UPDATE OR DELETE ON todo_items
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('todo');
)sql";

// The fields a contact gained after the first schema: country, job title, web site, birthday
// (as text: a day and month may stand without a year) and notes. Rows written by an older
// Kestrel, which names only the columns it knows, hold the empty text in them.
constexpr const char* kVersion3 = R"sql(
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS country text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS jobtitle text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS website text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS birthday text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS notes text COLLATE kestrel_nocase DEFAULT '';
)sql";

// Pairs of contacts a user said are not the same person, so Find Duplicates stops showing them.
// Step 7: the numbers between stand for the sync uid, history and trash steps made apart from this one.
constexpr const char* kVersion7 = R"sql(
CREATE TABLE IF NOT EXISTS not_duplicates(first_id integer NOT NULL, second_id integer NOT NULL,
  PRIMARY KEY(first_id, second_id));
GRANT SELECT, INSERT, DELETE ON not_duplicates TO PUBLIC;
)sql";

struct Step {
    int version;
    const char* sql;
};
constexpr Step kSteps[] = {{1, kVersion1}, {3, kVersion3}, {7, kVersion7}};
static_assert(kSteps[std::size(kSteps) - 1].version == kSchemaVersion);

int versionOf(PGconn* c)
{
    PGresult* r = PQexec(c, "SELECT coalesce(max(version), 0) FROM kestrel_schema");
    const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
    const int v = ok ? std::atoi(PQgetvalue(r, 0, 0)) : 0;
    PQclear(r);
    return v;
}

} // namespace

void ensureSchema(PGconn* c)
{
    // The usual case, a schema already made, costs one query.
    if (versionOf(c) >= kSchemaVersion)
        return;
    // Two copies starting together: the second waits on the lock, then finds the work done.
    // The schema belongs to the database's owner (the office's group role) when the user who
    // happens to connect first is a member of it, so that any member may raise it later.
    execScript(c, "BEGIN; SELECT pg_advisory_xact_lock(hashtext('kestrel_schema')::bigint);"
                  "DO $$DECLARE o name; BEGIN"
                  "  SELECT pg_get_userbyid(datdba) INTO o FROM pg_database WHERE datname = current_database();"
                  "  IF o <> current_user AND pg_has_role(current_user, o, 'MEMBER') THEN"
                  "    EXECUTE format('SET LOCAL ROLE %I', o);"
                  "  END IF;"
                  "END$$;"
                  "CREATE TABLE IF NOT EXISTS kestrel_schema(version integer NOT NULL)");
    try {
        const int have = versionOf(c);
        for (const Step& s : kSteps) {
            if (s.version <= have)
                continue;
            execScript(c, s.sql);
            execScript(c, QByteArray("INSERT INTO kestrel_schema(version) VALUES(" + QByteArray::number(s.version) + ")").constData());
        }
        execScript(c, "COMMIT");
    } catch (...) {
        PQclear(PQexec(c, "ROLLBACK"));
        throw;
    }
}

} // namespace kestrel::pg
