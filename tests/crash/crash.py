#!/usr/bin/env python3
"""Kills Kestrel at random points of its saves, deletes and imports, and checks what survives.

In the manner of SQLite's crash tests: a worker program built from Kestrel's own windows and
routines (kestrel_crash_worker) runs a script of operations on one set of data, the harness kills
it with SIGKILL after a random moment, then checks every database (PRAGMA integrity_check on the
local files, amcheck on the server), that every change the worker acknowledged is stored, that
nothing it never tried or was told had failed is stored, and that no row is half written. The next
worker runs on what the last one left. On the office server the harness also drops the worker's
connections at random moments, by terminating its server processes and by cutting the sockets
of a proxy it puts between the worker and the server (a cut can fall between the server's commit
and the worker hearing of it).

    crash.py --worker build/tests/crash/kestrel_crash_worker --engine local --kills 1000
    crash.py --worker ... --engine server --server-file build/test-server/conninfo

Exit status: 0 when every check passed, 1 on a finding, 77 when the engine asked for cannot run
here (no PostgreSQL test server), with the reason printed.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crashdata  # noqa: E402
import crashserver  # noqa: E402

SKIP = 77
GENERATION = 250


class Findings:
    def __init__(self):
        self.failures = []
        self.figures = {"kills": 0, "mid_operation": {}, "acknowledged": 0, "acknowledged_by_kind": {}, "rows_checked": 0,
                        "connection_drops": 0, "runs_finished_before_kill": 0}
        self.words = {}
        self.known = set()  # a problem left in the data is told once, not after every later kill

    def fail(self, run, text):
        self.failures.append(f"run {run}: {text}")
        print(f"FAIL run {run}: {text}", flush=True)


def worker_env(home):
    env = dict(os.environ)
    env["QT_QPA_PLATFORM"] = "offscreen"
    # The scratch file of an office import lives in the user's own folder: here, the run's own.
    env["XDG_DATA_HOME"] = os.path.join(home, "xdg-data")
    env["XDG_CONFIG_HOME"] = os.path.join(home, "xdg-config")
    env["XDG_RUNTIME_DIR"] = os.path.join(home, "xdg-runtime")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    return env


def run_worker(args, engine, program_dir, ops_file, conninfo, delay, drops, env):
    """Starts the worker, waits for its first line, then for delay seconds (dropping connections at
    the moments in drops), kills it and returns its lines and whether it had finished first."""
    cmd = [args.worker, program_dir, ops_file] + ([conninfo] if conninfo else [])
    errors = tempfile.TemporaryFile()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=errors, env=env)
    chunks = []
    started = threading.Event()

    def read():
        # Read all along, so that a full pipe never holds the worker up.
        while True:
            data = p.stdout.read1(65536)
            if not data:
                break
            chunks.append(data)
            started.set()
        started.set()

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    if not started.wait(60):
        p.kill()
    start = time.monotonic()
    for at, how in sorted(drops):
        pause = start + at - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        if p.poll() is not None:
            break
        engine.drop(how)
    pause = start + delay - time.monotonic()
    if pause > 0:
        time.sleep(pause)
    finished = p.poll() is not None
    if not finished:
        p.send_signal(signal.SIGKILL)
    p.wait()
    reader.join()
    # A line the kill cut short has no newline: it was never said.
    text = b"".join(chunks).decode("utf-8", "replace")
    ended = None
    if finished and p.returncode != 0:
        errors.seek(0)
        ended = f"exit status {p.returncode}: " + errors.read().decode("utf-8", "replace")[-1500:]
    errors.close()
    return text.split("\n")[:-1], finished, ended


def check_run(findings, run, model, ops, lines, state, finished, healthy):
    """Replays the worker's lines on the model, then compares the stored state with it."""
    by_index = {op["i"]: op for op in ops}
    pending = None
    failed = []
    unsure = []
    ran = []
    told = []  # what the user was told during the operation under way
    said_before_ready = [l for l in lines[: lines.index("ready")] if l.startswith("say ")] if "ready" in lines else []
    if "ready" not in lines and finished:
        findings.fail(run, "the worker ended before it was ready: " + " | ".join(lines[-3:]))
    for text in said_before_ready:
        findings.fail(run, "start-up told the user: " + text[4:])
    for line in lines:
        word, _, rest = line.partition(" ")
        if word == "try":
            pending = by_index[int(rest)]
            told = []
        elif word in ("ack", "fail", "skip", "unsure"):
            op = by_index[int(rest)]
            op["_told"] = told
            op["_outcome"] = word
            ran.append(op)
            if word == "ack":
                model.apply(op, complete=True)
                findings.figures["acknowledged"] += 1
                by_kind = findings.figures["acknowledged_by_kind"]
                by_kind[op["op"]] = by_kind.get(op["op"], 0) + 1
            elif word == "fail":
                failed.append(op)
                # Nothing stood in the way (no connection was dropped): a failure is a finding.
                if healthy:
                    findings.fail(run, f"operation {op['i']} ({op['op']}) failed with nothing in its way; told: "
                                       + " | ".join(told)[:400])
            elif word == "unsure":
                unsure.append(op)
            pending = None
        elif word == "found":
            i, n = rest.split()
            tag = by_index[int(i)]["tag"]
            want = 1 if model.contacts.get(tag) is not None else 0
            if int(n) != want:
                findings.fail(run, f"Find listed {n} contacts for {tag}, where {want} must be stored")
        elif word == "bad":
            findings.fail(run, "the worker saw: " + rest)
        elif word in ("say", "ask"):
            told.append(rest)
            findings.words[rest] = findings.words.get(rest, 0) + 1
            if "report this bug" in rest:
                findings.fail(run, "a program fault was reported: " + rest)
    if pending is not None:
        kind = pending["op"]
        findings.figures["mid_operation"][kind] = findings.figures["mid_operation"].get(kind, 0) + 1
    for problem in model.compare(state, pending, failed, unsure, ran):
        key = problem.split(";")[0]
        if key in findings.known:
            continue
        findings.known.add(key)
        findings.fail(run, problem)
    findings.figures["rows_checked"] += state.rows()
    model.adopt()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--worker", required=True)
    ap.add_argument("--engine", choices=["local", "server"], default="local")
    ap.add_argument("--kills", type=int, default=50)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--max-delay", type=float, default=0.6, help="longest run before the kill, in seconds")
    ap.add_argument("--server", default=os.environ.get("KESTREL_TEST_SERVER", ""), help="libpq connection string")
    ap.add_argument("--server-file", default=os.environ.get("KESTREL_TEST_SERVER_FILE", ""))
    ap.add_argument("--keep", action="store_true", help="keep the data folder for a look afterwards")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print(f"crash harness: {args.kills} kills on the {args.engine} data, seed {seed}", flush=True)

    home = tempfile.mkdtemp(prefix="kestrel-crash-")
    program_dir = os.path.join(home, "program")
    os.makedirs(os.path.join(program_dir, "data"))
    env = worker_env(home)
    findings = Findings()
    if args.engine == "local":
        engine = crashdata.LocalFiles(os.path.join(program_dir, "data"))
    else:
        why, engine = crashserver.OfficeServer.open(args.server, args.server_file, home, args.worker)
        if engine is None:
            print(f"SKIPPED: no PostgreSQL test server: {why}", flush=True)
            shutil.rmtree(home, ignore_errors=True)
            return SKIP
    model = crashdata.Model()
    started = time.monotonic()
    try:
        for run in range(1, args.kills + 1):
            # A new set of data every few hundred kills keeps each check quick.
            if run % GENERATION == 1 and run > 1:
                engine.reset()
                model = crashdata.Model()
            ops = model.plan(rng, run, 150, home)
            ops_file = os.path.join(home, f"ops-{run}.jsonl")
            crashdata.write_ops(ops_file, ops)
            engine.settle()
            delay = rng.uniform(0.0, args.max_delay)
            drops = engine.plan_drops(rng, delay)
            findings.figures["connection_drops"] += len(drops)
            lines, finished, ended = run_worker(args, engine, program_dir, ops_file, engine.conninfo, delay, drops, env)
            if ended:
                findings.fail(run, "the worker ended by itself, " + ended)
            findings.figures["kills"] += 0 if finished else 1
            findings.figures["runs_finished_before_kill"] += 1 if finished else 0
            problems, state = engine.read()
            left = engine.left_behind()
            for name in left:
                findings.figures.setdefault("left_behind", set()).add(name)
            # A kill while a file is being built leaves its half-built copy; the next build clears
            # it away, so they never pile up.
            if len(left) > 1:
                findings.fail(run, "files pile up in the data folder: " + ", ".join(sorted(left)))
            for problem in problems:
                findings.fail(run, problem)
            check_run(findings, run, model, ops, lines, state, finished, healthy=not drops)
            os.unlink(ops_file)
            for name in os.listdir(home):
                if name.startswith("import-"):
                    os.unlink(os.path.join(home, name))
            if len(findings.failures) > 20:
                print("stopping: too many findings", flush=True)
                break
    finally:
        engine.close()
        if args.keep:
            print(f"data kept in {home}")
        else:
            shutil.rmtree(home, ignore_errors=True)
    f = findings.figures
    mid = ", ".join(f"{k} {v}" for k, v in sorted(f["mid_operation"].items())) or "none"
    print(f"kills: {f['kills']} (runs that finished first: {f['runs_finished_before_kill']}); killed mid-operation: {mid}")
    acked = ", ".join(f"{k} {v}" for k, v in sorted(f["acknowledged_by_kind"].items()))
    print(f"acknowledged operations checked: {f['acknowledged']} ({acked}); stored rows checked: {f['rows_checked']}; "
          f"connection drops: {f['connection_drops']}; {time.monotonic() - started:.1f} s")
    if findings.words:
        print("what the user was told or asked:")
        for text, n in sorted(findings.words.items(), key=lambda kv: -kv[1])[:12]:
            print(f"  {n} x {text[:200]}")
    if findings.figures.get("left_behind"):
        print("files left in the data folder: " + ", ".join(sorted(findings.figures["left_behind"])))
    print(f"failures: {len(findings.failures)}")
    return 1 if findings.failures else 0


if __name__ == "__main__":
    sys.exit(main())
