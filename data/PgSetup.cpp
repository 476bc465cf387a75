// kestrel --init-office: the server's administrator sets up the office database, or brings an
// older one up to date, in one transaction. Kestrel's objects go to kestrel_owner (a role that
// cannot log in), the office's group kestrel_office may only read and write rows, PUBLIC may do
// nothing, and whatever an earlier version let the group do to the schema itself is taken back.
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/PgSchema.h"

#include <libpq-fe.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrel {

namespace {

struct PgClose {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, PgClose>;

// The first column of every row of a query with parameters. Throws DbError.
QStringList column(PGconn* c, const char* sql, const QStringList& params = {})
{
    std::vector<QByteArray> bytes;
    std::vector<const char*> values;
    for (const QString& p : params)
        bytes.push_back(p.toUtf8());
    for (const QByteArray& b : bytes)
        values.push_back(b.constData());
    PGresult* r = PQexecParams(c, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        const DbError e = pg::errorOf(c, r);
        PQclear(r);
        throw e;
    }
    QStringList out;
    for (int i = 0; i < PQntuples(r); ++i)
        out << QString::fromUtf8(PQgetvalue(r, i, 0));
    PQclear(r);
    return out;
}

QString one(PGconn* c, const char* sql, const QStringList& params = {}) { return column(c, sql, params).value(0); }

void exec(PGconn* c, const QString& sql) { pg::execScript(c, sql.toUtf8().constData()); }

QString ident(PGconn* c, const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    char* quoted = PQescapeIdentifier(c, utf8.constData(), size_t(utf8.size()));
    const QString out = QString::fromUtf8(quoted ? quoted : "\"\"");
    PQfreemem(quoted);
    return out;
}

const QString kOwner = QStringLiteral("kestrel_owner");
const QString kGroup = QStringLiteral("kestrel_office");

// Kestrel's own objects, by kind; a newer step that adds one names it here.
const char* const kTables = "'contacts','appointments','todo_items','todo','exchange_identity','ical_uids',"
                            "'kestrel_copied','kestrel_schema','kestrel_imports','kestrel_housekeeping','history','trash',"
                            "'not_duplicates','history_kept','sync_collections','sync_items','sync_removed'";
const char* const kSequences = "'contacts_id_seq','appointments_autoid_seq','todo_items_id_seq','kestrel_imports_id_seq',"
                               "'history_id_seq','trash_id_seq'";
const char* const kTriggers = "'contacts_rowver','appointments_rowver','todo_items_rowver','contacts_changed',"
                              "'appointments_changed','todo_changed','history_stamp','history_changed','trash_stamp',"
                              "'history_keep','contacts_lastcontact','history_lastcontact','contacts_findtext',"
                              "'history_findtext'";

// Makes a role that cannot log in when it is missing; true when made. Two set-ups at once (two
// databases on one server) may race to make it: the loser finds it made.
bool makeRole(PGconn* c, const QString& role)
{
    if (!column(c, "SELECT 1 FROM pg_roles WHERE rolname = $1", {role}).isEmpty())
        return false;
    exec(c, QStringLiteral("DO $$BEGIN CREATE ROLE %1 NOLOGIN; EXCEPTION WHEN duplicate_object OR unique_violation "
                           "THEN NULL; END$$")
                .arg(ident(c, role)));
    return true;
}

// Every grant on the objects the query lists ("kind name", owner oid, acl) is taken back, but
// the owner's own.
void revokeAllGrants(PGconn* c, const char* objects)
{
    exec(c, QStringLiteral("DO $$DECLARE r record; BEGIN FOR r IN SELECT o.kind, o.name, a.grantee FROM (%1) AS "
                           "o(kind, name, owner, acl), aclexplode(o.acl) a WHERE a.grantee <> o.owner LOOP "
                           "EXECUTE format('REVOKE ALL ON %s %s FROM %s', r.kind, r.name, CASE WHEN r.grantee = 0 "
                           "THEN 'PUBLIC' ELSE quote_ident(pg_get_userbyid(r.grantee)) END); END LOOP; END$$")
                .arg(QString::fromLatin1(objects)));
}

} // namespace

OfficeSetUp setUpOfficeDatabase(const QString& conninfo)
{
    OfficeSetUp done;
    // Roles belong to the whole server and a missing database cannot be made from inside it: the
    // server's own maintenance database serves for both.
    QString database;
    {
        const QByteArray info = conninfo.toUtf8();
        const char* const keys[] = {"dbname", nullptr};
        const char* const values[] = {info.constData(), nullptr};
        // Not connected: only the database's name is wanted, as libpq resolves it (a service file).
        PGconn* probe = PQconnectStartParams(keys, values, 1);
        database = probe ? QString::fromUtf8(PQdb(probe)) : QString();
        PQfinish(probe);
    }
    const Conn admin([&] {
        try {
            return pg::openUnchecked(conninfo, QStringLiteral("postgres"));
        } catch (const DbError&) {
            return pg::openUnchecked(conninfo, QStringLiteral("template1"));
        }
    }());
    PGconn* a = admin.get();
    const QString who = one(a, "SELECT current_user");
    const QString server = pg::serverName(serverConnectionText(conninfo));
    if (one(a, "SELECT rolsuper FROM pg_roles WHERE rolname = current_user") != u"t") {
        done.refused = QStringLiteral("kestrel --init-office must be run by a superuser of the server (such as "
                                      "postgres). Kestrel reached %1 as %2, who is not one. Nothing was changed.")
                           .arg(server, who);
        return done;
    }
    if (makeRole(a, kOwner))
        done.said << QStringLiteral("Made the role kestrel_owner, which owns Kestrel's tables and cannot log in.");
    if (makeRole(a, kGroup))
        done.said << QStringLiteral("Made the group role kestrel_office, the office's members.");
    // The owner may do nothing but own. Changed only when needed: two set-ups changing one role
    // at once would collide.
    if (one(a, "SELECT rolcanlogin OR rolsuper OR rolcreatedb OR rolcreaterole OR rolreplication OR rolbypassrls "
               "FROM pg_roles WHERE rolname = 'kestrel_owner'") == u"t") {
        exec(a, QStringLiteral("ALTER ROLE kestrel_owner NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION "
                               "NOBYPASSRLS"));
        done.said << QStringLiteral("kestrel_owner can no longer log in or hold any other right of its own.");
    }
    for (const QString& member : column(a, "SELECT pg_get_userbyid(member) FROM pg_auth_members WHERE roleid = "
                                           "'kestrel_owner'::regrole")) {
        exec(a, QStringLiteral("REVOKE kestrel_owner FROM %1").arg(ident(a, member)));
        done.said << QStringLiteral("%1 is no longer a member of kestrel_owner, whose rights it had.").arg(member);
    }
    if (column(a, "SELECT 1 FROM pg_database WHERE datname = $1", {database}).isEmpty()) {
        exec(a, QStringLiteral("CREATE DATABASE %1 OWNER kestrel_owner").arg(ident(a, database)));
        done.said << QStringLiteral("Made the database %1.").arg(database);
    }

    const Conn target(pg::openUnchecked(conninfo));
    PGconn* c = target.get();
    exec(c, QStringLiteral("BEGIN; SET LOCAL lock_timeout = 0;"
                           "SELECT pg_advisory_xact_lock(hashtext('kestrel_schema')::bigint)"));
    const QString db = ident(c, one(c, "SELECT current_database()"));
    // The database's owner may drop it and owns its schema public: that was the group, whose
    // every member had those rights, in the set-up of earlier versions.
    const QString dbOwner = one(c, "SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = current_database()");
    if (dbOwner != kOwner) {
        exec(c, QStringLiteral("ALTER DATABASE %1 OWNER TO kestrel_owner").arg(db));
        done.said << QStringLiteral("The database %1 now belongs to kestrel_owner instead of %2.").arg(database, dbOwner);
    }
    revokeAllGrants(c, "SELECT 'DATABASE', quote_ident(datname), datdba, datacl FROM pg_database "
                       "WHERE datname = current_database()");
    exec(c, QStringLiteral("REVOKE ALL ON DATABASE %1 FROM PUBLIC; GRANT CONNECT ON DATABASE %1 TO kestrel_office;"
                           "ALTER SCHEMA public OWNER TO kestrel_owner")
                .arg(db));
    revokeAllGrants(c, "SELECT 'SCHEMA', 'public', nspowner, nspacl FROM pg_namespace WHERE nspname = 'public'");
    exec(c, QStringLiteral("REVOKE ALL ON SCHEMA public FROM PUBLIC; GRANT USAGE ON SCHEMA public TO kestrel_office"));

    const int installed = pg::installedSchemaVersion(c);
    if (installed > 0) {
        // Everything an earlier version made goes to kestrel_owner.
        exec(c, QStringLiteral(
            "DO $$DECLARE r record; BEGIN"
            " FOR r IN SELECT CASE c.relkind WHEN 'v' THEN 'VIEW' WHEN 'S' THEN 'SEQUENCE' ELSE 'TABLE' END AS kind,"
            "   c.oid::regclass::text AS name FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace"
            "   AND c.relname IN (%1) AND c.relowner <> 'kestrel_owner'::regrole LOOP"
            "  EXECUTE format('ALTER %s %s OWNER TO kestrel_owner', r.kind, r.name); END LOOP;"
            " FOR r IN SELECT p.oid::regprocedure::text AS name FROM pg_proc p WHERE p.pronamespace = 'public'::regnamespace"
            "   AND p.proname IN ('kestrel_like','kestrel_raise_rowver','kestrel_announce',"
            "   'kestrel_history_stamp','kestrel_trash_stamp','kestrel_history_keep','kestrel_history_restored',"
            "   'kestrel_contact_lastcontact','kestrel_contacts_rowver','kestrel_history_lastcontact',"
            "   'kestrel_fold','kestrel_contact_findtext','kestrel_findtext','kestrel_history_findtext')"
            "   AND p.proowner <> 'kestrel_owner'::regrole LOOP"
            "  EXECUTE format('ALTER FUNCTION %s OWNER TO kestrel_owner', r.name); END LOOP;"
            " IF EXISTS (SELECT 1 FROM pg_operator WHERE oprname = '~~~' AND oprnamespace = 'public'::regnamespace) THEN"
            "  ALTER OPERATOR public.~~~ (text, text) OWNER TO kestrel_owner; END IF;"
            " IF EXISTS (SELECT 1 FROM pg_collation WHERE collname = 'kestrel_nocase') THEN"
            "  ALTER COLLATION public.kestrel_nocase OWNER TO kestrel_owner; END IF;"
            "END$$")
                    .arg(QString::fromLatin1(kTables)));
        // An extension's owner may drop it; the functions that use it name it at each call, so it
        // is made again below, belonging to kestrel_owner.
        // pg_trgm is Kestrel's from step 14 on; one a member made earlier (when the group owned the
        // database) goes with whatever of theirs uses it, before that step makes it anew.
        for (const QString& ext : {QStringLiteral("unaccent"), QStringLiteral("pg_trgm")}) {
            const QString extOwner = one(c, "SELECT pg_get_userbyid(extowner) FROM pg_extension WHERE extname = $1", {ext});
            if (!extOwner.isEmpty() && extOwner != kOwner &&
                one(c, "SELECT rolsuper FROM pg_roles WHERE rolname = $1", {extOwner}) != u"t" &&
                (ext == u"unaccent" || installed < 14))
                exec(c, QStringLiteral("DROP EXTENSION %1%2").arg(ext, ext == u"unaccent" ? QString() : QStringLiteral(" CASCADE")));
        }
        // Triggers and rules that Kestrel did not make: a member who owned the tables could
        // have added them (a trigger function that runs with the rights of whoever changes a row).
        const QStringList foreign = column(
            c, QStringLiteral("SELECT format('TRIGGER %s ON %s', quote_ident(t.tgname), t.tgrelid::regclass) FROM "
                              "pg_trigger t JOIN pg_class r ON r.oid = t.tgrelid WHERE NOT t.tgisinternal AND "
                              "r.relnamespace = 'public'::regnamespace AND r.relname IN (%1) AND t.tgname NOT IN (%2) "
                              "UNION ALL SELECT format('RULE %s ON %s', quote_ident(w.rulename), w.ev_class::regclass) "
                              "FROM pg_rewrite w JOIN pg_class r ON r.oid = w.ev_class WHERE w.rulename <> '_RETURN' "
                              "AND r.relnamespace = 'public'::regnamespace AND r.relname IN (%1)")
                   .arg(QString::fromLatin1(kTables), QString::fromLatin1(kTriggers))
                   .toUtf8()
                   .constData());
        for (const QString& t : foreign) {
            exec(c, QStringLiteral("DROP ") + t);
            done.said << QStringLiteral("Removed the %1, which Kestrel did not make.").arg(t.section(u' ', 0, 0).toLower() +
                                                                                          u' ' + t.section(u' ', 1));
        }
    }

    // What is made from here on belongs to kestrel_owner.
    exec(c, QStringLiteral("SET LOCAL ROLE kestrel_owner; CREATE EXTENSION IF NOT EXISTS unaccent;"
                           "CREATE TABLE IF NOT EXISTS kestrel_schema(version integer NOT NULL)"));
    int reached = std::max(installed, 0);
    for (const pg::SchemaStep& step : pg::schemaSteps()) {
        if (step.version <= reached)
            continue;
        pg::execScript(c, step.sql);
        exec(c, QStringLiteral("INSERT INTO kestrel_schema(version) VALUES(%1)").arg(step.version));
        reached = step.version;
    }
    if (installed <= 0)
        done.said << QStringLiteral("Made Kestrel's tables (schema version %1).").arg(reached);
    else if (reached > installed)
        done.said << QStringLiteral("Brought Kestrel's tables from schema version %1 to %2.").arg(installed).arg(reached);
    else
        done.said << QStringLiteral("Kestrel's tables were up to date (schema version %1).").arg(reached);

    // Exactly the grants of the model, whatever was granted before.
    exec(c, QStringLiteral("RESET ROLE"));
    revokeAllGrants(
        c, QStringLiteral("SELECT CASE c.relkind WHEN 'S' THEN 'SEQUENCE' ELSE 'TABLE' END, c.oid::regclass::text, "
                          "c.relowner, c.relacl FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace AND "
                          "c.relname IN (%1, %2)"
                          " UNION ALL SELECT 'FUNCTION', p.oid::regprocedure::text, p.proowner, p.proacl FROM pg_proc p "
                          "WHERE p.pronamespace = 'public'::regnamespace AND p.proname LIKE 'kestrel\\_%'")
               .arg(QString::fromLatin1(kTables), QString::fromLatin1(kSequences))
               .toUtf8()
               .constData());
    exec(c, QStringLiteral("SET LOCAL ROLE kestrel_owner"));
    pg::execScript(c, pg::kOfficeGrants);
    exec(c, QStringLiteral("RESET ROLE"));
    done.said << QStringLiteral("Members of kestrel_office may read, add, change and delete contacts, appointments "
                                "and their own to-do items, and nothing else; other roles may not connect.");

    // Objects in the schema that neither Kestrel nor an extension made are named, not touched.
    for (const QString& other : column(
             c, "SELECT format('%s %s (owner %s)', k.kind, k.name, pg_get_userbyid(k.owner)) FROM ("
                " SELECT 'table' AS kind, c.oid::regclass::text AS name, c.relowner AS owner, c.oid AS id, 'pg_class'::regclass AS cat"
                "  FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace AND c.relkind IN ('r','v','m','f','p')"
                " UNION ALL SELECT 'function', p.oid::regprocedure::text, p.proowner, p.oid, 'pg_proc'::regclass"
                "  FROM pg_proc p WHERE p.pronamespace = 'public'::regnamespace) k"
                " WHERE k.owner <> 'kestrel_owner'::regrole AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE"
                "  d.classid = k.cat AND d.objid = k.id AND d.deptype = 'e') ORDER BY 1"))
        done.said << QStringLiteral("Not Kestrel's, left as it is: %1.").arg(other);

    const QStringList members = column(c, "SELECT pg_get_userbyid(member) FROM pg_auth_members WHERE roleid = "
                                          "'kestrel_office'::regrole ORDER BY 1");
    exec(c, QStringLiteral("COMMIT"));
    done.said << (members.isEmpty()
                      ? QStringLiteral("kestrel_office has no members yet: make one login role per salesperson, "
                                       "such as CREATE ROLE ann LOGIN IN ROLE kestrel_office;")
                      : QStringLiteral("Members of kestrel_office: %1.").arg(members.join(QStringLiteral(", "))));
    return done;
}

} // namespace kestrel
