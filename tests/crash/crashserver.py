"""The office server side of the crash harness: a database of its own on the test server, a proxy
whose sockets the harness can cut, and the stored rows read back with psql."""
import glob
import json
import re
import os
import shlex
import shutil
import socket
import subprocess
import threading
import time

from crashdata import CONTACT_COLUMNS, State


def find_psql():
    found = shutil.which("psql")
    if found:
        return found
    for path in sorted(glob.glob("/usr/lib/postgresql/*/bin/psql")):
        return path
    return None


def conninfo_parts(conninfo):
    """key=value pairs of a libpq connection string (values without blanks, as the test server's)."""
    parts = {}
    for item in shlex.split(conninfo):
        key, _, value = item.partition("=")
        parts[key] = value
    return parts


class Proxy:
    """Listens where a libpq client looks for a server's Unix socket (folder/.s.PGSQL.port) and
    passes each connection on to the real server. cut() closes every connection at both ends in the
    middle of whatever was being sent; strand() closes only the worker's end, as a dropped network
    does, and the server's end a moment later (when the server would notice); partition() strands
    and refuses new connections for a while; lose_answer() lets the next change or commit through
    to the server and closes the connection on its answer, so the server has done what the worker
    never hears of."""

    CHANGE = re.compile(rb"\b(insert|update|delete|commit)\b", re.I)

    def __init__(self, folder, port, target):
        self.path = os.path.join(folder, f".s.PGSQL.{port}")
        self.target = target
        self.pairs = []
        self.lock = threading.Lock()
        self.refuse_until = 0.0
        self.answer_lost = False
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(self.path)
        self.listener.listen(64)
        self.closed = False
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while not self.closed:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            if time.monotonic() < self.refuse_until:
                client.close()
                continue
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                server.connect(self.target)
            except OSError:
                client.close()
                continue
            pair = {"client": client, "server": server, "stranded": False, "swallow": False}
            with self.lock:
                self.pairs.append(pair)
            threading.Thread(target=self.pump, args=(pair, "client", "server"), daemon=True).start()
            threading.Thread(target=self.pump, args=(pair, "server", "client"), daemon=True).start()

    @staticmethod
    def shut(s):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def pump(self, pair, src, dst):
        try:
            while True:
                data = pair[src].recv(65536)
                if not data:
                    break
                if src == "server" and pair["swallow"]:
                    break
                if src == "client" and self.answer_lost and self.CHANGE.search(data):
                    self.answer_lost = False
                    pair["swallow"] = True
                pair[dst].sendall(data)
        except OSError:
            pass
        if not pair["stranded"]:
            self.shut(pair["client"])
            self.shut(pair["server"])

    def take(self):
        with self.lock:
            pairs, self.pairs = self.pairs, []
        return pairs

    def cut(self):
        for pair in self.take():
            self.shut(pair["client"])
            self.shut(pair["server"])

    def strand(self, rng):
        for pair in self.take():
            pair["stranded"] = True
            self.shut(pair["client"])
            threading.Timer(rng.uniform(0.2, 2.0), self.shut, args=(pair["server"],)).start()

    def partition(self, rng):
        self.refuse_until = time.monotonic() + rng.uniform(0.2, 1.5)
        self.strand(rng)

    def lose_answer(self):
        self.answer_lost = True

    def close(self):
        self.closed = True
        self.cut()
        self.listener.close()


class OfficeServer:
    @staticmethod
    def open(server, server_file, home, worker):
        """(why not, None) or (None, engine) with a new database on the server."""
        if not server and server_file:
            if not os.path.exists(server_file):
                why_file = os.path.join(os.path.dirname(server_file), "unavailable")
                if os.path.exists(why_file):
                    return open(why_file, encoding="utf-8").read().strip(), None
                return f"{server_file} does not exist (the test server did not start)", None
            server = open(server_file, encoding="utf-8").read().strip()
        if not server:
            return "none named (--server, --server-file, KESTREL_TEST_SERVER)", None
        psql = find_psql()
        if not psql:
            return "psql is not installed", None
        parts = conninfo_parts(server)
        host = parts.get("host", "")
        if not host.startswith("/"):
            return f"the proxy that drops connections needs a server on a Unix socket, not host={host}", None
        engine = OfficeServer(psql, server, parts, home, worker)
        why = engine.create()
        return (why, None) if why else (None, engine)

    def __init__(self, psql, server, parts, home, worker):
        self.psql = psql
        self.worker = worker
        self.server = server
        self.db = f"kestrel_crash_{os.getpid()}"
        port = parts.get("port", "5432")
        folder = os.path.join(home, "proxy")
        os.makedirs(folder)
        self.proxy = Proxy(folder, port, os.path.join(parts["host"], f".s.PGSQL.{port}"))
        user = parts.get("user")
        self.conninfo = f"host={folder} port={port} dbname={self.db}" + (f" user={user}" if user else "")
        self.direct = f"{server} dbname={self.db}"
        self.made = False

    def sql(self, conninfo, statement):
        p = subprocess.run([self.psql, "-X", "-q", "-t", "-A", "-v", "ON_ERROR_STOP=1", "-d", conninfo, "-c", statement],
                           capture_output=True, text=True, timeout=60)
        return p.returncode, p.stdout, p.stderr.strip()

    def create(self):
        rc, _, err = self.sql(f"{self.server} dbname=postgres", f"CREATE DATABASE {self.db}")
        if rc != 0:
            return f"could not make a database: {err}"
        self.made = True
        # As the office's administrator would, with kestrel --init-office: a salesperson's copy
        # never makes the tables.
        p = subprocess.run([self.worker, "--set-up", self.direct], capture_output=True, text=True, timeout=120)
        if p.returncode != 0:
            return f"could not set the database up: {(p.stdout + p.stderr).strip()[:300]}"
        rc, _, err = self.sql(self.direct, "CREATE EXTENSION IF NOT EXISTS amcheck")
        self.amcheck = rc == 0
        if not self.amcheck:
            print(f"note: no amcheck on the test server ({err}); its indexes are not checked", flush=True)
        return None

    def plan_drops(self, rng, delay):
        """Up to two moments in the run at which the worker's connections are dropped."""
        self.rng = rng
        return [(rng.uniform(0, delay), rng.choice(["terminate", "cut", "strand", "partition", "answer"]))
                for _ in range(rng.choice([0, 1, 1, 2]))]

    def drop(self, how):
        if how == "cut":
            self.proxy.cut()
        elif how == "strand":
            self.proxy.strand(self.rng)
        elif how == "partition":
            self.proxy.partition(self.rng)
        elif how == "answer":
            self.proxy.lose_answer()
        else:
            self.sql(self.direct, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                  f"WHERE datname = '{self.db}' AND pid <> pg_backend_pid()")

    def reset(self):
        self.proxy.cut()
        self.sql(f"{self.server} dbname=postgres", f"DROP DATABASE IF EXISTS {self.db} WITH (FORCE)")
        self.made = False
        why = self.create()
        if why:
            raise RuntimeError(why)

    def left_behind(self):
        return []

    def settle(self):
        """The next run starts on a working connection: no partition left over, no answer to lose."""
        self.proxy.answer_lost = False
        time.sleep(max(0.0, self.proxy.refuse_until - time.monotonic()))

    def read(self):
        problems = []
        if self.amcheck:
            # The indexes against their tables (an error when they disagree), then the tables' own pages.
            rc, out, err = self.sql(self.direct, """
                SELECT (SELECT count(bt_index_check(i.indexrelid, true)) FROM pg_index i
                          JOIN pg_class c ON c.oid = i.indrelid
                          JOIN pg_class x ON x.oid = i.indexrelid
                          WHERE c.relname IN ('contacts', 'appointments', 'todo_items')
                            AND x.relam = (SELECT oid FROM pg_am WHERE amname = 'btree')),
                       (SELECT coalesce(string_agg(format('%s block %s: %s', r, v.blkno, v.msg), '; '), 'whole')
                          FROM unnest(array['contacts', 'appointments', 'todo_items']) r,
                               verify_heapam(r::regclass) v)""")
            if rc != 0 and "does not exist" not in err:
                problems.append(f"amcheck: {err[:300]}")
            elif rc == 0 and not out.strip().endswith("|whole"):
                problems.append(f"amcheck: {out.strip()[:300]}")
        rc, out, err = self.sql(self.direct, f"""
            SELECT json_build_object(
              'c', (SELECT coalesce(json_agg(json_build_array({','.join(CONTACT_COLUMNS)}, active, contype)), '[]')
                    FROM contacts),
              'a', (SELECT coalesce(json_agg(json_build_array(name, address, apptdate::text, appttime::text,
                                                              apptbrief, apptnotes)), '[]') FROM appointments),
              't', (SELECT coalesce(json_agg(todo), '[]') FROM todo))""")
        if rc != 0:
            # Before the first worker reached the server there are no tables yet.
            if "does not exist" not in err:
                problems.append(f"reading the server: {err[:300]}")
            return problems, State([], [], [])
        data = json.loads(out)
        return problems, State([tuple(r) for r in data["c"]], [tuple(r) for r in data["a"]], list(data["t"]))

    def close(self):
        self.proxy.close()
        if self.made:
            self.sql(f"{self.server} dbname=postgres", f"DROP DATABASE IF EXISTS {self.db} WITH (FORCE)")
