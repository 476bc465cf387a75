// The office database's schema: the steps that make it, version by version (table
// kestrel_schema), the grants that say what the office's members may do, and the check every
// copy of Kestrel makes when it first connects. Only kestrel --init-office (PgSetup.cpp), run by
// the server's administrator, makes or raises the schema; salespeople's copies never change it.
#include "data/PgSchema.h"

#include "data/PgEngine.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <set>

namespace kestrel::pg {

namespace {

// Texts are compared and ordered without regard to case, as the local files' NOCASE columns are,
// by a nondeterministic ICU collation (kestrel_nocase), so the program's statements stay as they
// are and the order does not hang on the server's locale. citext would do the same, but sorts
// four times slower (25,000 of 100,000 contacts, by name: 246 ms against 57 ms). PostgreSQL 15
// refuses LIKE on such a collation; the program's LIKE becomes the operator ~~~ instead, which
// folds accents as well as case, as the local files' LIKE does ("E%" finds Émile).
//
// The to-do list is per database user: todo is a view of the user's own rows of todo_items, so
// the program's "select id,todo from todo" and its insert, update and delete see and touch
// nothing else; an insert through the view takes the owner's default, current_user.
//
// Every change to contacts, appointments and to-do items is announced once per statement on the
// channel kestrel_changes with the table's name, after the change commits; the rows carry a row
// version that every update raises, so a save can tell that someone else changed the row since
// it was read.
//
// Version 1 is kept as the servers in use hold it (its grants to PUBLIC are taken back by
// version 2), so that a new schema and an upgraded one come out the same.
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

// The permission model. Everything belongs to kestrel_owner, a role that cannot log in; the
// office's group may only read and write rows (kOfficeGrants). To-do items are each user's own
// by row-level security, forced on the owner too, so neither the view nor the table shows or
// takes another user's items. Trigger functions run with a fixed search path and with the
// rights of whoever changed the row, never more.
constexpr const char* kVersion2 = R"sql(
CREATE EXTENSION IF NOT EXISTS unaccent;
CREATE OR REPLACE FUNCTION kestrel_like(t text, pattern text) RETURNS boolean LANGUAGE sql STABLE AS
  $$SELECT lower(public.unaccent(t) COLLATE public.kestrel_nocase) COLLATE "C" LIKE
           lower(public.unaccent(pattern) COLLATE public.kestrel_nocase) COLLATE "C" ESCAPE ''$$;
CREATE OR REPLACE FUNCTION kestrel_raise_rowver() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN NEW.rowver := OLD.rowver + 1; RETURN NEW; END$$;
CREATE OR REPLACE FUNCTION kestrel_announce() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN PERFORM pg_notify('kestrel_changes', TG_ARGV[0]); RETURN NULL; END$$;
ALTER TABLE todo_items ADD COLUMN IF NOT EXISTS rowver bigint NOT NULL DEFAULT 1;
CREATE OR REPLACE VIEW todo AS SELECT id, todo, rowver FROM todo_items WHERE owner = current_user;
ALTER TABLE todo_items ENABLE ROW LEVEL SECURITY;
ALTER TABLE todo_items FORCE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS todo_items_own ON todo_items;
CREATE POLICY todo_items_own ON todo_items FOR ALL USING (owner = current_user) WITH CHECK (owner = current_user);
CREATE OR REPLACE TRIGGER contacts_rowver BEFORE UPDATE ON contacts
  FOR EACH ROW EXECUTE FUNCTION kestrel_raise_rowver();
CREATE OR REPLACE TRIGGER appointments_rowver BEFORE UPDATE ON appointments
  FOR EACH ROW EXECUTE FUNCTION kestrel_raise_rowver();
CREATE OR REPLACE TRIGGER todo_items_rowver BEFORE UPDATE ON todo_items
  FOR EACH ROW EXECUTE FUNCTION kestrel_raise_rowver();
CREATE OR REPLACE TRIGGER contacts_changed AFTER INSERT OR UPDATE OR DELETE ON contacts
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('contacts');
CREATE OR REPLACE TRIGGER appointments_changed AFTER INSERT OR UPDATE OR DELETE ON appointments
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('appointments');
CREATE OR REPLACE TRIGGER todo_changed AFTER INSERT OR UPDATE OR DELETE ON todo_items
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('todo');
-- Each import's rows carry its key, so that taking it back touches nothing else; an import
-- is each user's own, as their to-do items are.
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS import_id bigint;
CREATE INDEX IF NOT EXISTS contacts_by_import ON contacts(import_id) WHERE import_id IS NOT NULL;
CREATE TABLE IF NOT EXISTS kestrel_imports(
  id bigserial PRIMARY KEY,
  owner name NOT NULL DEFAULT current_user,
  source text NOT NULL,
  total bigint NOT NULL,
  last_row bigint NOT NULL DEFAULT 0,
  scratch text,
  contype text,
  skip_dup boolean NOT NULL DEFAULT true,
  started timestamptz NOT NULL DEFAULT now(),
  state text NOT NULL DEFAULT 'running');
ALTER TABLE kestrel_imports ENABLE ROW LEVEL SECURITY;
ALTER TABLE kestrel_imports FORCE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS kestrel_imports_own ON kestrel_imports;
CREATE POLICY kestrel_imports_own ON kestrel_imports FOR ALL USING (owner = current_user) WITH CHECK (owner = current_user);
-- The office's daily tidying, done by one copy a day on the server's date.
CREATE TABLE IF NOT EXISTS kestrel_housekeeping(task text PRIMARY KEY, last_day date);
INSERT INTO kestrel_housekeeping(task) VALUES('purge appointments') ON CONFLICT DO NOTHING;
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

// Contacts get a uid each (the rows already there one apiece, new rows theirs by default), and
// the sync with a phone's address book and calendar keeps its state in tables of its own: per
// collection the server's sync token, per item its href, ETag, the server's text and the values
// both sides last agreed on; what a phone deleted waited in sync_removed (step 12 moves it to the trash).
// Self-contained: it makes what it needs whatever steps ran before it; its grants are in
// kOfficeGrants.
constexpr const char* kVersion4 = R"sql(
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS uid text COLLATE "C" DEFAULT gen_random_uuid()::text;
UPDATE contacts SET uid = gen_random_uuid()::text WHERE uid IS NULL;
CREATE UNIQUE INDEX IF NOT EXISTS contacts_by_uid ON contacts(uid);
CREATE TABLE IF NOT EXISTS sync_collections(
  collection text PRIMARY KEY,
  kind text NOT NULL,
  sync_token text,
  ctag text,
  lease_until bigint,
  lease_by text);
CREATE TABLE IF NOT EXISTS sync_items(
  collection text NOT NULL,
  href text NOT NULL,
  uid text,
  local_id bigint,
  etag text,
  card text,
  base text,
  PRIMARY KEY(collection, href));
CREATE INDEX IF NOT EXISTS sync_items_by_local ON sync_items(collection, local_id);
CREATE TABLE IF NOT EXISTS sync_removed(
  id serial PRIMARY KEY,
  tbl text NOT NULL,
  removed_at text NOT NULL,
  why text,
  record text NOT NULL);
)sql";

// The contacts' history, whole in one step (an office database may reach it from any earlier
// version): one entry per call, meeting, mail or note of a contact, found newest first by one
// index, each appointment written into it once. The server stamps who wrote an entry and when
// (the user a client claims to be, and its clock, count for nothing), keeps both through every
// change, raises the row version and announces each change as "history". Appointments gain the
// contact they were made for, the outcome the user marked, and whether the history holds them:
// only those may be purged. Self-contained; its grants are in kOfficeGrants (rows only, to the
// office's group: the notes of calls are the office's own).
constexpr const char* kVersion5 = R"sql(
CREATE TABLE IF NOT EXISTS history(
  id serial PRIMARY KEY,
  contact_id integer,
  kind text COLLATE kestrel_nocase NOT NULL DEFAULT 'Note',
  direction text COLLATE kestrel_nocase NOT NULL DEFAULT '',
  histdate date NOT NULL,
  histtime time(0),
  duration integer,
  subject text COLLATE kestrel_nocase NOT NULL DEFAULT '',
  note text COLLATE kestrel_nocase NOT NULL DEFAULT '',
  outcome text COLLATE kestrel_nocase NOT NULL DEFAULT '',
  author text NOT NULL DEFAULT current_user,
  created timestamp(0) NOT NULL DEFAULT localtimestamp(0),
  changed timestamp(0) NOT NULL DEFAULT localtimestamp(0),
  appt_id integer,
  contact_name text COLLATE kestrel_nocase,
  rowver bigint NOT NULL DEFAULT 1);
CREATE INDEX IF NOT EXISTS history_by_contact
  ON history(contact_id, histdate DESC NULLS LAST, histtime DESC NULLS LAST, id DESC NULLS LAST);
CREATE UNIQUE INDEX IF NOT EXISTS history_by_appt ON history(appt_id) WHERE appt_id IS NOT NULL;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS contact_id integer;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS outcome text COLLATE kestrel_nocase;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS recorded boolean NOT NULL DEFAULT false;
CREATE INDEX IF NOT EXISTS appointments_unrecorded ON appointments(apptdate) WHERE NOT recorded;
CREATE OR REPLACE FUNCTION kestrel_history_stamp() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN
    IF TG_OP = 'INSERT' THEN
      NEW.author := current_user;
      NEW.created := localtimestamp(0);
      NEW.rowver := 1;
    ELSE
      NEW.author := OLD.author;
      NEW.created := OLD.created;
      NEW.rowver := OLD.rowver + 1;
    END IF;
    NEW.changed := localtimestamp(0);
    RETURN NEW;
  END$$;
CREATE OR REPLACE TRIGGER history_stamp BEFORE INSERT OR UPDATE ON history
  FOR EACH ROW EXECUTE FUNCTION kestrel_history_stamp();
CREATE OR REPLACE TRIGGER history_changed AFTER INSERT OR UPDATE OR DELETE ON history
  FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('history');
)sql";

// The trash: a deleted contact, appointment or to-do item kept whole (its row as JSON) until it
// is restored under its own key or deleted for good. Who deleted it and when are the server's to
// say, never the member's: a trigger sets both on every insert and refuses any change to a row.
// Contacts and appointments are the whole office's, and so are their deleted rows; a deleted to-do
// item is its owner's alone, as the item was. Self-contained; its grants are in kOfficeGrants.
constexpr const char* kVersion6 = R"sql(
CREATE TABLE IF NOT EXISTS trash(
  id bigserial PRIMARY KEY,
  batch text NOT NULL,
  tbl text NOT NULL CHECK (tbl IN ('contacts', 'appointments', 'todo', 'history')),
  row_id bigint NOT NULL,
  label text NOT NULL DEFAULT '',
  deleted_at timestamptz NOT NULL DEFAULT now(),
  deleted_by name NOT NULL DEFAULT current_user,
  data jsonb NOT NULL);
CREATE INDEX IF NOT EXISTS trash_by_batch ON trash(batch);
CREATE INDEX IF NOT EXISTS trash_by_time ON trash(deleted_at);
CREATE OR REPLACE FUNCTION kestrel_trash_stamp() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN
    IF TG_OP = 'UPDATE' THEN
      RAISE EXCEPTION 'a row of the trash is never changed' USING ERRCODE = 'insufficient_privilege';
    END IF;
    NEW.deleted_at := now(); NEW.deleted_by := current_user; RETURN NEW;
  END$$;
CREATE OR REPLACE TRIGGER trash_stamp BEFORE INSERT OR UPDATE ON trash
  FOR EACH ROW EXECUTE FUNCTION kestrel_trash_stamp();
ALTER TABLE trash ENABLE ROW LEVEL SECURITY;
ALTER TABLE trash FORCE ROW LEVEL SECURITY;
DROP POLICY IF EXISTS trash_visible ON trash;
CREATE POLICY trash_visible ON trash FOR ALL USING (tbl <> 'todo' OR deleted_by = current_user)
  WITH CHECK (tbl <> 'todo' OR deleted_by = current_user);
)sql";

// Pairs of contacts a user said are not the same person, so Find Duplicates stops showing them.
// Self-contained; its grants are in kOfficeGrants.
constexpr const char* kVersion7 = R"sql(
CREATE TABLE IF NOT EXISTS not_duplicates(first_id integer NOT NULL, second_id integer NOT NULL,
  PRIMARY KEY(first_id, second_id));
)sql";

// Appointments as other calendars know them: an end (the last day, null when it is the first,
// and the clock time; rows from before take their 30 minutes), whole days, and cancelled ones
// kept in view. Self-contained; no grants beyond the appointments' own.
constexpr const char* kVersion8 = R"sql(
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS enddate date;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS endtime time(0);
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS allday boolean NOT NULL DEFAULT false;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS cancelled boolean NOT NULL DEFAULT false;
UPDATE appointments SET endtime = appttime + interval '30 minutes',
    enddate = CASE WHEN appttime >= time '23:30' THEN apptdate + 1 END
  WHERE endtime IS NULL AND apptdate IS NOT NULL AND appttime IS NOT NULL;
CREATE INDEX IF NOT EXISTS appointments_by_end ON appointments(enddate) WHERE enddate IS NOT NULL;
)sql";

// Repeating appointments: the rule as calendars write it (RRULE), the days left out of it (ISO
// dates, comma-separated), and on a row that moves one day of a series, the series and the day
// it moves. Self-contained; no grants beyond the appointments' own.
constexpr const char* kVersion9 = R"sql(
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS rrule text;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS exdates text;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS series_id integer;
ALTER TABLE appointments ADD COLUMN IF NOT EXISTS recurrence_date date;
CREATE INDEX IF NOT EXISTS appointments_repeating ON appointments(apptdate) WHERE rrule IS NOT NULL;
)sql";

// The date of a contact's newest history entry, kept on its row so that the grid sorts and shows
// it as any column. The history's triggers set it from the entries; the contact's own trigger sets
// it again from the entries whenever a row is inserted (a restore, an undone merge) or the column
// is written, so a member may write it but never make it say what the history does not. The
// triggers run with the rights of whoever changed the row, which a member has on both tables.
// Bookkeeping of the history alone raises no row version: an editor open on the card saves
// unasked. Self-contained but for the history (step 5); no grants beyond the contacts' own.
constexpr const char* kVersion10 = R"sql(
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS lastcontact date;
CREATE OR REPLACE FUNCTION kestrel_contact_lastcontact() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN
    IF TG_OP = 'UPDATE' THEN
      IF NEW.lastcontact IS NOT DISTINCT FROM OLD.lastcontact AND NEW.id = OLD.id THEN
        RETURN NEW;
      END IF;
    END IF;
    NEW.lastcontact := (SELECT max(histdate) FROM public.history WHERE contact_id = NEW.id);
    RETURN NEW;
  END$$;
CREATE OR REPLACE FUNCTION kestrel_contacts_rowver() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN
    IF NEW.lastcontact IS DISTINCT FROM OLD.lastcontact
       AND (to_jsonb(NEW) - 'lastcontact') = (to_jsonb(OLD) - 'lastcontact') THEN
      RETURN NEW;
    END IF;
    NEW.rowver := OLD.rowver + 1;
    RETURN NEW;
  END$$;
CREATE OR REPLACE FUNCTION kestrel_history_lastcontact() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$DECLARE
    ids integer[];
    cid integer;
  BEGIN
    IF TG_OP = 'INSERT' THEN
      ids := ARRAY[NEW.contact_id];
    ELSIF TG_OP = 'DELETE' THEN
      ids := ARRAY[OLD.contact_id];
    ELSE
      ids := ARRAY[OLD.contact_id, NEW.contact_id];
    END IF;
    FOREACH cid IN ARRAY ids LOOP
      CONTINUE WHEN cid IS NULL;
      UPDATE public.contacts SET lastcontact = h.last
        FROM (SELECT max(histdate) AS last FROM public.history WHERE contact_id = cid) h
        WHERE id = cid AND lastcontact IS DISTINCT FROM h.last;
    END LOOP;
    RETURN NULL;
  END$$;
CREATE OR REPLACE TRIGGER contacts_lastcontact BEFORE INSERT OR UPDATE ON contacts
  FOR EACH ROW EXECUTE FUNCTION kestrel_contact_lastcontact();
CREATE OR REPLACE TRIGGER contacts_rowver BEFORE UPDATE ON contacts
  FOR EACH ROW EXECUTE FUNCTION kestrel_contacts_rowver();
CREATE OR REPLACE TRIGGER history_lastcontact AFTER INSERT OR DELETE OR UPDATE OF contact_id, histdate ON history
  FOR EACH ROW EXECUTE FUNCTION kestrel_history_lastcontact();
UPDATE contacts SET lastcontact = h.last
  FROM (SELECT contact_id, max(histdate) AS last FROM history GROUP BY contact_id) h
  WHERE h.contact_id = contacts.id AND contacts.lastcontact IS DISTINCT FROM h.last;
)sql";

// The lists that show a million contacts a page at a time: the tree counts its letters and reads
// one letter's names in order from this index alone. Self-contained; no grants.
constexpr const char* kVersion11 = R"sql(
CREATE INDEX IF NOT EXISTS contacts_by_initial ON contacts(upper(substr(lastname,1,1)),
  lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST, id);
)sql";

// The trash and the sync as one: what a phone deleted, which earlier versions kept in a table of the
// sync's own, moves into the trash (named as deleted on the phone) and that table goes. And a
// history entry put back from the trash keeps who wrote it and when: the server remembers both of
// every deleted entry where no member may write (history_kept, filled by a trigger with the
// owner's rights), and the stamp on insert lets an entry keep them only when they are exactly the
// remembered ones of a deleted entry of that key, taken once. An ordinary insert is stamped with
// its member and the server's clock as before. Self-contained; its grants are in kOfficeGrants.
constexpr const char* kVersion12 = R"sql(
CREATE TABLE IF NOT EXISTS trash(
  id bigserial PRIMARY KEY,
  batch text NOT NULL,
  tbl text NOT NULL CHECK (tbl IN ('contacts', 'appointments', 'todo', 'history')),
  row_id bigint NOT NULL,
  label text NOT NULL DEFAULT '',
  deleted_at timestamptz NOT NULL DEFAULT now(),
  deleted_by name NOT NULL DEFAULT current_user,
  data jsonb NOT NULL);
DO $$BEGIN
  IF to_regclass('public.sync_removed') IS NOT NULL THEN
    INSERT INTO trash(batch, tbl, row_id, label, data)
      SELECT gen_random_uuid()::text, r.tbl,
        (r.record::jsonb ->> CASE WHEN r.tbl = 'appointments' THEN 'autoid' ELSE 'id' END)::bigint,
        CASE WHEN r.tbl = 'appointments' THEN coalesce(r.record::jsonb ->> 'apptbrief', '')
             WHEN coalesce(r.record::jsonb ->> 'lastname', '') <> '' AND coalesce(r.record::jsonb ->> 'firstname', '') <> ''
               THEN (r.record::jsonb ->> 'lastname') || ', ' || (r.record::jsonb ->> 'firstname')
             ELSE coalesce(nullif(coalesce(r.record::jsonb ->> 'lastname', '') || coalesce(r.record::jsonb ->> 'firstname', ''), ''),
                           r.record::jsonb ->> 'company', '') END
          || ' (' || coalesce(nullif(r.why, ''), 'deleted on the phone') || ')',
        r.record::jsonb
      FROM public.sync_removed r WHERE r.tbl IN ('contacts', 'appointments') ORDER BY r.id;
    DROP TABLE public.sync_removed;
  END IF;
END$$;
CREATE TABLE IF NOT EXISTS history_kept(
  id integer PRIMARY KEY,
  author text NOT NULL,
  created timestamp(0) NOT NULL,
  changed timestamp(0) NOT NULL);
CREATE OR REPLACE FUNCTION kestrel_history_keep() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN
    INSERT INTO public.history_kept(id, author, created, changed) VALUES (OLD.id, OLD.author, OLD.created, OLD.changed)
      ON CONFLICT (id) DO UPDATE SET author = EXCLUDED.author, created = EXCLUDED.created, changed = EXCLUDED.changed;
    RETURN OLD;
  END$$;
CREATE OR REPLACE TRIGGER history_keep AFTER DELETE ON history
  FOR EACH ROW EXECUTE FUNCTION kestrel_history_keep();
CREATE OR REPLACE FUNCTION kestrel_history_restored(p_id integer, p_author text, p_created timestamp)
  RETURNS timestamp LANGUAGE sql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS
  $$DELETE FROM public.history_kept WHERE id = p_id AND author = p_author AND created = p_created RETURNING changed$$;
CREATE OR REPLACE FUNCTION kestrel_history_stamp() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$DECLARE kept timestamp;
  BEGIN
    IF TG_OP = 'INSERT' THEN
      kept := public.kestrel_history_restored(NEW.id, NEW.author, NEW.created);
      IF kept IS NOT NULL THEN
        NEW.changed := kept;
        NEW.rowver := greatest(coalesce(NEW.rowver, 1), 1);
        RETURN NEW;
      END IF;
      NEW.author := current_user;
      NEW.created := localtimestamp(0);
      NEW.rowver := 1;
    ELSE
      NEW.author := OLD.author;
      NEW.created := OLD.created;
      NEW.rowver := OLD.rowver + 1;
    END IF;
    NEW.changed := localtimestamp(0);
    RETURN NEW;
  END$$;
)sql";

// The grid sorted by company or by the last contact reads a page as a range of one of these
// indexes, whatever the table's size. Self-contained (the column is step 10's, kept by its
// triggers); no grants.
constexpr const char* kVersion13 = R"sql(
CREATE INDEX IF NOT EXISTS contacts_by_company ON contacts(company NULLS FIRST, id);
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS lastcontact date;
CREATE INDEX IF NOT EXISTS contacts_by_lastcontact ON contacts(lastcontact NULLS FIRST, id);
)sql";

// Find on a million contacts: the server keeps each contact's search text folded as the program
// folds it (decomposed, case folded, accents off; phones and the birthday as their digits; one
// field a line) in findtext, set by a trigger on every insert and update whoever writes the row, and a trigram
// index over it answers a "contains" for each typed word; the program checks every match whole
// again. Filling the column for the rows already there raises no row version (nothing a person
// sees changed). pg_trgm is trusted, so the database's owner makes it. Self-contained; its grants
// are in kOfficeGrants.
constexpr const char* kVersion14 = R"sql(
CREATE EXTENSION IF NOT EXISTS unaccent;
CREATE EXTENSION IF NOT EXISTS pg_trgm;
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS country text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS jobtitle text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS website text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS birthday text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS notes text COLLATE kestrel_nocase DEFAULT '';
ALTER TABLE contacts ADD COLUMN IF NOT EXISTS findtext text COLLATE "C";
CREATE OR REPLACE FUNCTION kestrel_fold(t text) RETURNS text LANGUAGE sql STABLE
  SET search_path = pg_catalog, pg_temp AS
  $$SELECT translate(lower(public.unaccent(lower(normalize(coalesce(t, ''), NFKD) COLLATE public.kestrel_nocase))
      COLLATE public.kestrel_nocase), 'ς', 'σ') COLLATE "C"$$;
CREATE OR REPLACE FUNCTION kestrel_contact_findtext() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$DECLARE r jsonb := to_jsonb(NEW); b text COLLATE "C" := coalesce(r ->> 'birthday', '');
  BEGIN
    NEW.findtext := concat_ws(E'\n', public.kestrel_fold(r ->> 'lastname'), public.kestrel_fold(r ->> 'firstname'),
      public.kestrel_fold(r ->> 'company'), public.kestrel_fold(r ->> 'city'), public.kestrel_fold(r ->> 'email'),
      regexp_replace(coalesce(r ->> 'homeph', '') COLLATE "C", '[^0-9]', '', 'g'),
      regexp_replace(coalesce(r ->> 'cellph', '') COLLATE "C", '[^0-9]', '', 'g'),
      regexp_replace(coalesce(r ->> 'workph', '') COLLATE "C", '[^0-9]', '', 'g'), public.kestrel_fold(r ->> 'country'),
      public.kestrel_fold(r ->> 'jobtitle'), public.kestrel_fold(r ->> 'website'),
      CASE WHEN b ~ '^([0-9]{4}-|--)[0-9]{2}-[0-9]{2}$' THEN
        substr(b, length(b) - 4, 2)::int::text || substr(b, length(b) - 1, 2)::int::text ||
        CASE WHEN left(b, 2) = '--' OR left(b, 4)::int = 0 THEN '' ELSE left(b, 4)::int::text END
      ELSE regexp_replace(b, '[^0-9]', '', 'g') END,
      public.kestrel_fold(r ->> 'notes'));
    RETURN NEW;
  END$$;
CREATE OR REPLACE TRIGGER contacts_findtext BEFORE INSERT OR UPDATE ON contacts
  FOR EACH ROW EXECUTE FUNCTION kestrel_contact_findtext();
DO $$BEGIN
  IF EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = 'public.contacts'::regclass AND tgname = 'contacts_rowver') THEN
    ALTER TABLE contacts DISABLE TRIGGER contacts_rowver;
    UPDATE contacts SET findtext = NULL WHERE findtext IS NULL;
    ALTER TABLE contacts ENABLE TRIGGER contacts_rowver;
  ELSE
    UPDATE contacts SET findtext = NULL WHERE findtext IS NULL;
  END IF;
END$$;
CREATE INDEX IF NOT EXISTS contacts_by_findtext ON contacts USING gin (findtext gin_trgm_ops);
)sql";

// The grid filtered by a type counts each letter and reads its pages as one range of this index
// (the type alone leaves a quarter of a million contacts to group by initial). Self-contained; no
// grants (an index is read only through the table's own).
constexpr const char* kVersion15 = R"sql(
CREATE INDEX IF NOT EXISTS contacts_by_type_initial ON contacts(contype, upper(substr(lastname,1,1)),
  lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST, id);
)sql";

// Find reaches a contact by the subjects and notes of its history, as the local file's index
// does: the contact's search text ends with them (each entry's subject and note a line each,
// folded), so that the trigram index answers for them too and a keystroke never reads the
// history. The history's trigger keeps the text of the contacts it touches; as with the last
// contact (step 10), that bookkeeping raises no row version, so an editor open on the card saves
// unasked, and only a text that changed is written. The contacts already there with history get
// theirs here, their versions untouched. The triggers run with the rights of whoever changed the
// row. Self-contained but for the history (step 5) and the search text (step 14); its grants are
// in kOfficeGrants.
constexpr const char* kVersion16 = R"sql(
CREATE OR REPLACE FUNCTION kestrel_findtext(r jsonb) RETURNS text LANGUAGE plpgsql STABLE
  SET search_path = pg_catalog, pg_temp AS
  $$DECLARE b text COLLATE "C" := coalesce(r ->> 'birthday', ''); h text COLLATE "C";
  BEGIN
    SELECT string_agg(concat_ws(E'\n', nullif(subject COLLATE "C", ''), nullif(note COLLATE "C", '')), E'\n' ORDER BY id)
      INTO h FROM public.history
      WHERE contact_id = (r ->> 'id')::integer AND (subject COLLATE "C" <> '' OR note COLLATE "C" <> '');
    RETURN concat_ws(E'\n', public.kestrel_fold(r ->> 'lastname'), public.kestrel_fold(r ->> 'firstname'),
      public.kestrel_fold(r ->> 'company'), public.kestrel_fold(r ->> 'city'), public.kestrel_fold(r ->> 'email'),
      regexp_replace(coalesce(r ->> 'homeph', '') COLLATE "C", '[^0-9]', '', 'g'),
      regexp_replace(coalesce(r ->> 'cellph', '') COLLATE "C", '[^0-9]', '', 'g'),
      regexp_replace(coalesce(r ->> 'workph', '') COLLATE "C", '[^0-9]', '', 'g'), public.kestrel_fold(r ->> 'country'),
      public.kestrel_fold(r ->> 'jobtitle'), public.kestrel_fold(r ->> 'website'),
      CASE WHEN b ~ '^([0-9]{4}-|--)[0-9]{2}-[0-9]{2}$' THEN
        substr(b, length(b) - 4, 2)::int::text || substr(b, length(b) - 1, 2)::int::text ||
        CASE WHEN left(b, 2) = '--' OR left(b, 4)::int = 0 THEN '' ELSE left(b, 4)::int::text END
      ELSE regexp_replace(b, '[^0-9]', '', 'g') END,
      public.kestrel_fold(r ->> 'notes'),
      CASE WHEN h IS NOT NULL THEN public.kestrel_fold(h) END);
  END$$;
CREATE OR REPLACE FUNCTION kestrel_contact_findtext() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN NEW.findtext := public.kestrel_findtext(to_jsonb(NEW)); RETURN NEW; END$$;
CREATE OR REPLACE TRIGGER contacts_findtext BEFORE INSERT OR UPDATE ON contacts
  FOR EACH ROW EXECUTE FUNCTION kestrel_contact_findtext();
CREATE OR REPLACE FUNCTION kestrel_contacts_rowver() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$BEGIN
    IF (NEW.lastcontact IS DISTINCT FROM OLD.lastcontact OR NEW.findtext IS DISTINCT FROM OLD.findtext)
       AND (to_jsonb(NEW) - 'lastcontact' - 'findtext') = (to_jsonb(OLD) - 'lastcontact' - 'findtext') THEN
      RETURN NEW;
    END IF;
    NEW.rowver := OLD.rowver + 1;
    RETURN NEW;
  END$$;
CREATE OR REPLACE FUNCTION kestrel_history_findtext() RETURNS trigger LANGUAGE plpgsql
  SET search_path = pg_catalog, pg_temp AS
  $$DECLARE
    ids integer[];
    cid integer;
  BEGIN
    IF TG_OP = 'INSERT' THEN
      ids := ARRAY[NEW.contact_id];
    ELSIF TG_OP = 'DELETE' THEN
      ids := ARRAY[OLD.contact_id];
    ELSIF NEW.contact_id IS DISTINCT FROM OLD.contact_id THEN
      ids := ARRAY[OLD.contact_id, NEW.contact_id];
    ELSIF NEW.subject COLLATE "C" = OLD.subject COLLATE "C" AND NEW.note COLLATE "C" = OLD.note COLLATE "C" THEN
      RETURN NULL;
    ELSE
      ids := ARRAY[NEW.contact_id];
    END IF;
    FOREACH cid IN ARRAY ids LOOP
      CONTINUE WHEN cid IS NULL;
      UPDATE public.contacts c SET findtext = NULL
        WHERE c.id = cid AND c.findtext IS DISTINCT FROM public.kestrel_findtext(to_jsonb(c));
    END LOOP;
    RETURN NULL;
  END$$;
CREATE OR REPLACE TRIGGER history_findtext AFTER INSERT OR DELETE OR UPDATE OF contact_id, subject, note ON history
  FOR EACH ROW EXECUTE FUNCTION kestrel_history_findtext();
UPDATE contacts c SET findtext = NULL
  WHERE c.id IN (SELECT contact_id FROM history) AND c.findtext IS DISTINCT FROM kestrel_findtext(to_jsonb(c));
)sql";

constexpr SchemaStep kSteps[] = {{1, kVersion1},   {2, kVersion2},   {3, kVersion3},   {4, kVersion4},
                                 {5, kVersion5},   {6, kVersion6},   {7, kVersion7},   {8, kVersion8},
                                 {9, kVersion9},   {10, kVersion10}, {11, kVersion11}, {12, kVersion12},
                                 {13, kVersion13}, {14, kVersion14}, {15, kVersion15},
                                 {16, kVersion16}};
static_assert(kSteps[std::size(kSteps) - 1].version == kSchemaVersion);

} // namespace

std::span<const SchemaStep> schemaSteps() { return kSteps; }

// What the office's group may do, given anew by every kestrel --init-office after every other
// grant on Kestrel's objects was taken back: rows only, on what the program uses. No TRUNCATE,
// REFERENCES or TRIGGER, nothing on todo_items but through its view. A step that adds a table
// names its grant here.
const char* const kOfficeGrants = R"sql(
GRANT SELECT, INSERT, UPDATE, DELETE ON contacts, appointments, todo, ical_uids, kestrel_imports TO kestrel_office;
GRANT SELECT ON exchange_identity, kestrel_schema TO kestrel_office;
GRANT SELECT, INSERT ON kestrel_copied TO kestrel_office;
GRANT SELECT, UPDATE ON kestrel_housekeeping TO kestrel_office;
GRANT USAGE ON SEQUENCE contacts_id_seq, appointments_autoid_seq, todo_items_id_seq, kestrel_imports_id_seq TO kestrel_office;
REVOKE ALL ON FUNCTION kestrel_like(text, text), kestrel_raise_rowver(), kestrel_announce() FROM PUBLIC;
GRANT EXECUTE ON FUNCTION kestrel_like(text, text) TO kestrel_office;
GRANT SELECT, INSERT, UPDATE, DELETE ON sync_collections, sync_items TO kestrel_office;
GRANT SELECT, INSERT, UPDATE, DELETE ON history TO kestrel_office;
GRANT USAGE ON SEQUENCE history_id_seq TO kestrel_office;
REVOKE ALL ON FUNCTION kestrel_history_stamp() FROM PUBLIC;
GRANT SELECT, INSERT, DELETE ON trash TO kestrel_office;
GRANT USAGE ON SEQUENCE trash_id_seq TO kestrel_office;
REVOKE ALL ON FUNCTION kestrel_trash_stamp() FROM PUBLIC;
REVOKE ALL ON history_kept FROM PUBLIC;
REVOKE ALL ON FUNCTION kestrel_history_keep() FROM PUBLIC;
REVOKE ALL ON FUNCTION kestrel_history_restored(integer, text, timestamp) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION kestrel_history_restored(integer, text, timestamp) TO kestrel_office;
GRANT SELECT, INSERT, DELETE ON not_duplicates TO kestrel_office;
REVOKE ALL ON FUNCTION kestrel_contact_lastcontact(), kestrel_contacts_rowver(), kestrel_history_lastcontact() FROM PUBLIC;
REVOKE ALL ON FUNCTION kestrel_contact_findtext() FROM PUBLIC;
REVOKE ALL ON FUNCTION kestrel_fold(text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION kestrel_fold(text) TO kestrel_office;
REVOKE ALL ON FUNCTION kestrel_findtext(jsonb), kestrel_history_findtext() FROM PUBLIC;
GRANT EXECUTE ON FUNCTION kestrel_findtext(jsonb) TO kestrel_office;
)sql";

int installedSchemaVersion(PGconn* c)
{
    // A role that may not read the table (outside the office) learns no more than "none".
    PGresult* r = PQexec(c, "SELECT CASE WHEN to_regclass('public.kestrel_schema') IS NULL THEN 0"
                            " WHEN NOT has_table_privilege('public.kestrel_schema', 'SELECT') THEN -1 ELSE 1 END");
    const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
    const int state = ok ? std::atoi(PQgetvalue(r, 0, 0)) : 0;
    PQclear(r);
    if (!ok)
        throw errorOf(c);
    if (state <= 0)
        return state;
    r = PQexec(c, "SELECT DISTINCT version FROM public.kestrel_schema");
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        const DbError e = errorOf(c, r);
        PQclear(r);
        throw e;
    }
    std::set<int> recorded;
    for (int i = 0; i < PQntuples(r); ++i)
        recorded.insert(std::atoi(PQgetvalue(r, i, 0)));
    PQclear(r);
    return completeVersion(recorded);
}

int completeVersion(const std::set<int>& recorded)
{
    // Steps are made on different branches of work and may reach a server out of order: a server
    // counts as holding a version only when every step up to it was run there.
    int complete = 0;
    for (const SchemaStep& step : kSteps) {
        if (!recorded.count(step.version))
            break;
        complete = step.version;
    }
    return complete;
}

QString schemaProblem(int installed)
{
    if (installed >= kSchemaVersion)
        return {};
    if (installed < 0)
        return QStringLiteral("this database user is not a member of the office's group kestrel_office");
    if (installed == 0)
        return QStringLiteral("it is not set up for Kestrel yet");
    return QStringLiteral("it is set up for an older version of Kestrel (schema %1; this Kestrel needs %2)")
        .arg(installed)
        .arg(kSchemaVersion);
}

void checkSchema(PGconn* c, const QString& server)
{
    const QString problem = schemaProblem(installedSchemaVersion(c));
    if (problem.isEmpty())
        return;
    throw DbError(0, QStringLiteral("Kestrel cannot use the office database %1: %2").arg(server, problem),
                  Fault::NotSetUp);
}

} // namespace kestrel::pg
