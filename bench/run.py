#!/usr/bin/env python3
"""Runs the transfer benchmarks and checks their targets. Started by scripts/bench.sh.

  run.py --build DIR --work DIR [--sizes 10000,100000,1000000] [--backends sqlite,postgresql]
         [--repeat N] [--latency-ms 0.25] [--terminals 8] [--proxy-port 56999]
  run.py --build DIR --work DIR --pairs 3 [--sizes 200000] [--backends ...] [--latency-ms ...]

For every size N: a booking file of N lines (bench/generate.py), then on each backend the built
zarvelt on a fresh installation, timed from start to exit, peak resident memory and CPU
time from /usr/bin/time. On SQLite and PostgreSQL the ceiling program (bench/ceiling.cc) does the
same work for the same file on an installation of its own, timed the same way and interleaved
with the program's runs; every figure is the best of --repeat runs, because the machine is
shared. Both must leave the same summary, exports, log lines, reject files and run record
fields, or the two did not do the same work (the runner stops). PostgreSQL round trips are
counted once, with strace, on the smallest size: sendto calls of the run minus those of a run
over an empty file (connection, commit), divided by the statements of the lines.

With --pairs N only the program and the ceiling run, in N alternating pairs (program, ceiling,
program, ceiling, ...) on the first size, for the ordinary file and for one where a quarter of
the lines write a log line (generate.py --log-share 0.25), on each backend (and through the
proxy with --latency-ms); each pair's wall and CPU ratio with the load average before each
run, and the median of the pairs. With --baseline DIR as well, the program of another build
(DIR, an earlier version, say) takes the ceiling's place: the same outputs, and how the two
versions' times compare.

With --latency-ms, PostgreSQL runs once more through bench/delay_proxy.py, which delays every
chunk by that much in each direction (0.25 per direction: 0.5 ms per round trip, as across a
production network); with --terminals N as well, N terminals' files (the same lines under
other terminal names) run at once against one database through the proxy, and their results
must equal the same runs one after another. With --backends ...,odbc and --latency-ms, the
same proxy run goes once more through psqlODBC (odbc-postgresql) instead of libpq.

PostgreSQL needs PGHOST, PGPORT, ZARVELT_TEST_PG_USER and ZARVELT_TEST_PG_PASSWORD (as
scripts/postgres-test-cluster.sh prints them); without PGHOST it is skipped.
"""

import argparse
import datetime
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TERMINAL = "T01"
LOG_SHARE = 0.25  # the logging file: this share of its lines writes a log line
MIB = 1024 * 1024

# Targets.
CEILING_RATIO = 1.1  # the program's time at most this multiple of the ceiling's
PG_LINES_PER_SECOND = 50000  # over the unix socket, at 100k lines
PG_PROXY_LINES_PER_SECOND = 30000  # through the 0.5 ms proxy, at 100k lines
PG_PROXY_FLOOR = 10000  # through the 0.5 ms proxy, at 10k lines: never below
ODBC_PROXY_LINES_PER_SECOND = 5000  # psqlODBC through the 0.5 ms proxy, at 100k lines
PG_TRIPS_PER_STATEMENT = 1.0
LINES_PER_SUBTRANSACTION = 100  # at most one subtransaction per this many lines
PEAK_MEMORY = 32 * MIB  # at 1M lines, either backend
FLAT_MEMORY_GROWTH = 4 * MIB  # peak at 1M lines at most this much above the peak at 10k
STARTUP_SECONDS = 0.020  # 100-line file on SQLite, start to exit


def run_child(argv, cwd=None, stdout=subprocess.DEVNULL):
    """Runs argv under /usr/bin/time; returns (wall seconds, peak resident bytes, exit status,
    stdout text, CPU seconds). A child forked straight from this script would report this
    script's resident memory at the fork as its own peak; /usr/bin/time is small."""
    usage_file = os.path.join(os.environ.get("TMPDIR", "/tmp"), "zarvelt-bench-time-%d" %
                              os.getpid())
    start = time.perf_counter()
    child = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", usage_file] + argv,
                           cwd=cwd, stdout=stdout, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    with open(usage_file) as f:
        peak_kib, user, system = f.read().split()[-3:]
    os.remove(usage_file)
    if child.returncode != 0:
        sys.stderr.write("%s exited with %d\n%s" % (argv[0], child.returncode,
                                                    child.stderr.decode("latin-1")))
    out = child.stdout.decode("latin-1") if child.stdout else ""
    return (seconds, int(peak_kib) * 1024, child.returncode, out, float(user) + float(system))


class Installation:
    """The directory tree the program expects, with a configuration for one database."""

    def __init__(self, build, root):
        self.build = build
        self.root = root
        self.working = os.path.join(root, "a", "b")
        self.log = os.path.join(root, "Velmarion_php", "log", "ZarveltLog.txt")
        for d in ("Files", os.path.join("Velmarion_php", "log"), os.path.join("a", "b")):
            os.makedirs(os.path.join(root, d), exist_ok=True)

    def configure(self, login, password, alias):
        config = os.path.join(self.root, "Files", "velmarion.ini")
        if os.path.exists(config):
            os.remove(config)
        subprocess.run([os.path.join(self.build, "zarvelt_config"), "write", config,
                        "LOGIN=" + login, "PASS=" + password, "NET8=" + alias],
                       check=True, stdout=subprocess.DEVNULL)

    def clear_log_directory(self):
        directory = os.path.dirname(self.log)
        for name in os.listdir(directory):
            os.remove(os.path.join(directory, name))

    def transfer(self, bookings, wrapper=(), batch_size=None):
        self.clear_log_directory()
        argv = list(wrapper) + [os.path.join(self.build, "zarvelt"), TERMINAL, bookings,
                                "target1.txt", "target2.txt"]
        if batch_size is not None:
            argv = ["env", "ZARVELT_BATCH_SIZE=%d" % batch_size] + argv
        seconds, peak, status, _, cpu = run_child(argv, cwd=self.working)
        if status != 0:
            raise SystemExit("zarvelt failed on %s" % bookings)
        return seconds, peak, self.summary(), cpu

    def ceiling(self, bookings, alias, login="", password=""):
        """The ceiling program on this installation, as the program runs; (wall seconds, CPU
        seconds, its counters)."""
        self.clear_log_directory()
        argv = ["env", "ZARVELT_BENCH_LOGIN=" + login, "ZARVELT_BENCH_PASSWORD=" + password,
                os.path.join(self.build, "bench", "zarvelt_bench_ceiling"), alias, TERMINAL,
                bookings, "target1.txt", "target2.txt", os.path.dirname(self.log)]
        seconds, _, status, out, cpu = run_child(argv, cwd=self.working, stdout=subprocess.PIPE)
        if status != 0:
            raise SystemExit("the ceiling failed on %s" % bookings)
        # Its console lines come first, as the program's; its counters are the last line.
        return seconds, cpu, dict(kv.split("=") for kv in out.splitlines()[-1].split())

    def outputs(self):
        """What a run left: exports, the log without the server time of its header, the reject
        and reasons files, and the run record's counts."""
        def read(path):
            with open(path, "rb") as f:
                return f.read()
        directory = os.path.dirname(self.log)
        log = re.sub(rb"bergabe am [0-9.: ]*:", b"bergabe am :", read(self.log))
        rejects = tuple(read(os.path.join(directory, name)) for name in
                        sorted(os.listdir(directory), key=lambda n: n.endswith("_Gruende.txt"))
                        if name.startswith("ZarveltReject_"))
        with open(os.path.join(directory, "ZarveltRuns.jsonl")) as f:
            record = json.loads(f.read().splitlines()[-1])
        counts = (record["lines_read"], record["transferred"], record["lines_rejected"],
                  record["exit_status"], record["backend"], record["reject_file"] is not None)
        return (read(os.path.join(self.working, "target1.txt")),
                read(os.path.join(self.working, "target2.txt")), log, rejects, counts)

    def log_lines(self):
        """Lines the run wrote to the log, without the header and the summary."""
        with open(self.log, encoding="latin-1") as f:
            text = f.read()
        body = text[text.find(":\n") + 2:text.rfind("\n\xfcbergeben:")]
        return sum(1 for line in body.split("\n") if line)

    def summary(self):
        with open(self.log, encoding="latin-1") as f:
            log = f.read()
        numbers = re.findall(r":\s*(-?\d+)\n", log[log.rfind("bergeben:"):])
        return tuple(int(n) for n in numbers[:4])


def line_count(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.work = os.path.abspath(args.work)
        self.ceiling = os.path.join(self.build, "bench", "zarvelt_bench_ceiling")
        self.rows = []  # (backend, lines, figures dict)
        self.checks = []  # (target, measured text, passed)
        os.makedirs(self.work, exist_ok=True)

    def generate(self, n, log_share=None):
        extra = [] if log_share is None else ["--log-share", str(log_share)]
        path = os.path.join(self.work, "bookings-%d%s.txt" % (
            n, "" if log_share is None else "-logging"))
        if not os.path.exists(path):
            subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), "bookings",
                            str(n), path] + extra, check=True)
        return path

    def ceiling_run(self, inst, ceiling_inst, bookings, alias, login="", password=""):
        """The ceiling on its installation, after the program's run on inst: both must have
        done the same work. Returns (wall seconds, CPU seconds, its counters). With --baseline
        the baseline's program runs there instead of the ceiling."""
        if self.args.baseline:
            other = Installation(self.args.baseline, ceiling_inst.root)
            other.configure(login or "bench", password or "bench", alias)
            seconds, _, summary, cpu = other.transfer(bookings)
            c = dict(zip(("time_bookings", "access_bookings", "cost_centre_bookings", "events"),
                         summary))
        else:
            seconds, cpu, c = ceiling_inst.ceiling(bookings, alias, login, password)
        summary = (int(c["time_bookings"]), int(c["access_bookings"]),
                   int(c["cost_centre_bookings"]), int(c["events"]))
        if inst.summary() != summary:
            raise SystemExit("zarvelt %s and the ceiling %s differ on %s" % (
                inst.summary(), summary, bookings))
        mine, its = inst.outputs(), ceiling_inst.outputs()
        names = ("target 1", "target 2", "log", "reject files", "run record")
        for name, a, b in zip(names, mine, its):
            if a != b:
                raise SystemExit("zarvelt and the ceiling wrote different %s for %s" % (
                    name, bookings))
        return seconds, cpu, c

    def sqlite_master(self):
        path = os.path.join(self.work, "master-sqlite")
        if not os.path.exists(os.path.join(path, "KVSYSTEM.db")):
            subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), "master", "sqlite",
                            path], check=True)
        return path

    def fresh_sqlite(self, directory):
        if os.path.exists(directory):
            shutil.rmtree(directory)
        shutil.copytree(self.sqlite_master(), directory)

    # ---- SQLite

    def repeats(self, n, backend):
        # A million lines takes minutes on PostgreSQL; its noise matters less there.
        if n >= 1000000:
            return 1 if backend == "postgresql" else min(self.args.repeat, 2)
        return self.args.repeat

    SQLITE_ALIAS = "sqlite3:../../db/KVSYSTEM.db"

    def sqlite_pair(self):
        inst = Installation(self.build, os.path.join(self.work, "inst-sqlite"))
        inst.configure("bench", "bench", self.SQLITE_ALIAS)
        return inst, Installation(self.build, os.path.join(self.work, "ceiling-sqlite"))

    def sqlite_runs(self, bookings):
        """One run of the program and one of the ceiling, each on a fresh installation:
        ((seconds, cpu, peak, load), (seconds, cpu, load), ceiling counters)."""
        inst, ceiling_inst = self.sqlite_pair()
        self.fresh_sqlite(os.path.join(inst.root, "db"))
        load = os.getloadavg()[0]
        seconds, peak, _, cpu = inst.transfer(bookings)
        self.fresh_sqlite(os.path.join(ceiling_inst.root, "db"))
        ceiling_load = os.getloadavg()[0]
        c_seconds, c_cpu, c = self.ceiling_run(inst, ceiling_inst, bookings, self.SQLITE_ALIAS)
        return (seconds, cpu, peak, load), (c_seconds, c_cpu, ceiling_load), c

    def keep_best(self, best, program, ceiling, c):
        seconds, cpu, peak, _ = program
        best["seconds"] = min(best.get("seconds", seconds), seconds)
        best["cpu"] = min(best.get("cpu", cpu), cpu)
        best["peak"] = max(best.get("peak", peak), peak)
        best["ceiling"] = min(best.get("ceiling", ceiling[0]), ceiling[0])
        best["ceiling_cpu"] = min(best.get("ceiling_cpu", ceiling[1]), ceiling[1])
        best["statements"] = int(c["statements"])

    def finish_best(self, n, best):
        best["rate"] = n / best["seconds"]
        best["ceiling_rate"] = n / best["ceiling"]
        best["ratio"] = best["seconds"] / best["ceiling"]
        best["cpu_ratio"] = best["cpu"] / best["ceiling_cpu"]

    def run_sqlite(self, n, bookings):
        best = {}
        for _ in range(self.repeats(n, "sqlite")):
            self.keep_best(best, *self.sqlite_runs(bookings))
        self.finish_best(n, best)
        self.statements[n] = best["statements"]
        self.rows.append(("sqlite", n, best))

    def startup(self):
        inst = Installation(self.build, os.path.join(self.work, "inst-sqlite"))
        inst.configure("bench", "bench", "sqlite3:../../db/KVSYSTEM.db")
        bookings = self.generate(100)
        times, cpus = [], []
        for _ in range(10):
            self.fresh_sqlite(os.path.join(inst.root, "db"))
            seconds, _, _, cpu = inst.transfer(bookings)
            times.append(seconds)
            cpus.append(cpu)
        return min(times), min(cpus)

    # ---- PostgreSQL

    def psql(self, database, *args, output=False):
        env = dict(os.environ, PGUSER=os.environ["ZARVELT_TEST_PG_USER"],
                   PGPASSWORD=os.environ["ZARVELT_TEST_PG_PASSWORD"])
        done = subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", database] +
                              list(args), check=True, env=env,
                              stdout=subprocess.PIPE if output else subprocess.DEVNULL)
        return done.stdout.decode() if output else None

    def subtransactions(self):
        """Subtransactions that wrote rows in the last run: each has its own transaction id,
        which its rows carry as xmin (the run's top-level transaction writes none itself)."""
        text = self.psql("zbench", "-tAc",
                         "select count(distinct xmin::text) from (select xmin from "
                         "kvsystem.kvs402zpk union all select xmin from kvsystem.o2009buchprot) r",
                         output=True)
        return int(text.strip())

    def fresh_postgresql(self):
        master = os.path.join(self.work, "master-postgresql.sql")
        if not os.path.exists(master):
            subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), "master",
                            "postgresql", master], check=True)
        self.psql("postgres", "-c", "DROP DATABASE IF EXISTS zbench WITH (FORCE)")
        self.psql("postgres", "-c", "CREATE DATABASE zbench")
        self.psql("zbench", "-f", master)

    def pg_installation(self, name="inst-postgresql", alias="postgresql:dbname=zbench"):
        inst = Installation(self.build, os.path.join(self.work, name))
        inst.configure(os.environ["ZARVELT_TEST_PG_USER"], os.environ["ZARVELT_TEST_PG_PASSWORD"],
                       alias)
        return inst

    def start_proxy(self):
        socket_path = os.path.join(os.environ["PGHOST"], ".s.PGSQL.%s" % os.environ["PGPORT"])
        proxy = subprocess.Popen([sys.executable, os.path.join(HERE, "delay_proxy.py"), "--listen",
                                  str(self.args.proxy_port), "--unix", socket_path, "--delay-ms",
                                  str(self.args.latency_ms), "--seconds", "7200"])
        time.sleep(0.5)
        return proxy

    def proxy_alias(self):
        # NET8 holds 41 characters: the address goes into a service of the bench's own.
        services = os.path.join(self.work, "pg_service.conf")
        with open(services, "w") as f:
            f.write("[zbproxy]\nhost=127.0.0.1\nport=%d\ndbname=zbench\n" % self.args.proxy_port)
        os.environ["PGSERVICEFILE"] = services
        return "postgresql:service=zbproxy"

    def odbc_proxy_alias(self):
        # A data source of the bench's own, psqlODBC through the proxy.
        listing = subprocess.run(["dpkg-query", "-L", "odbc-postgresql"], check=True,
                                 capture_output=True, text=True).stdout.split()
        driver = next(p for p in listing if p.endswith("/psqlodbca.so"))
        odbc_ini = os.path.join(self.work, "odbc.ini")
        with open(odbc_ini, "w") as f:
            # Protocol 7.4-0: the program's own savepoints, without psqlODBC's on top. No
            # communication log or debug log (Debian registers the driver with CommLog=1).
            f.write("[zbodbc]\nDriver=%s\nServername=127.0.0.1\nPort=%d\nDatabase=zbench\n"
                    "Protocol=7.4-0\nCommLog=0\nDebug=0\n" % (driver, self.args.proxy_port))
        os.environ["ODBCINI"] = odbc_ini
        return "odbc:zbodbc"

    def run_odbc_proxy(self, n, bookings):
        inst = self.pg_installation("inst-odbc-proxy", self.odbc_proxy_alias())
        self.fresh_postgresql()
        seconds, peak, summary, cpu = inst.transfer(bookings)
        self.rows.append(("odbc +%.2f ms" % (2 * self.args.latency_ms), n,
                          {"seconds": seconds, "cpu": cpu, "peak": peak, "rate": n / seconds,
                           "statements": self.statements.get(n)}))

    def run_postgresql_proxy(self, n, bookings, batch_size=None):
        inst = self.pg_installation("inst-proxy", self.proxy_alias())
        self.fresh_postgresql()
        seconds, peak, summary, cpu = inst.transfer(bookings, batch_size=batch_size)
        name = "postgresql +%.2f ms" % (2 * self.args.latency_ms)
        if batch_size is not None:
            name += ", one insert at a time"
        self.rows.append((name, n,
                          {"seconds": seconds, "cpu": cpu, "peak": peak, "rate": n / seconds,
                           "statements": self.statements.get(n)}))

    def run_terminals(self, n, bookings):
        """The same lines under N terminal names, at once through the proxy, then one after
        another: the summaries must agree."""
        files = []
        for k in range(self.args.terminals):
            path = os.path.join(self.work, "bookings-%d-T%02d.txt" % (n, k + 1))
            with open(bookings, encoding="latin-1") as f, open(path, "w", encoding="latin-1",
                                                                newline="") as out:
                out.write(f.read().replace(",T01,", ",T%02d," % (k + 1)))
            files.append(path)
        insts = [self.pg_installation("inst-t%02d" % (k + 1), self.proxy_alias())
                 for k in range(len(files))]

        def start(inst, k, path):
            log = inst.log
            if os.path.exists(log):
                os.remove(log)
            return subprocess.Popen([os.path.join(self.build, "zarvelt"), "T%02d" % (k + 1),
                                     path, "target1.txt", "target2.txt"], cwd=inst.working,
                                    stdout=subprocess.DEVNULL)

        self.fresh_postgresql()
        begin = time.perf_counter()
        children = [start(inst, k, path) for k, (inst, path) in enumerate(zip(insts, files))]
        statuses = [child.wait() for child in children]
        together = time.perf_counter() - begin
        together_summaries = [inst.summary() for inst in insts]
        self.fresh_postgresql()
        begin = time.perf_counter()
        for k, (inst, path) in enumerate(zip(insts, files)):
            start(inst, k, path).wait()
        apart = time.perf_counter() - begin
        apart_summaries = [inst.summary() for inst in insts]
        self.terminal_result = (len(files), n, together, apart, statuses,
                                together_summaries == apart_summaries)

    def postgresql_runs(self, bookings, alias="postgresql:dbname=zbench", name="inst-postgresql"):
        """As sqlite_runs, on a fresh PostgreSQL database for each; also the subtransactions
        of the program's run."""
        inst = self.pg_installation(name, alias)
        ceiling_inst = Installation(self.build, os.path.join(self.work, "ceiling-" + name))
        self.fresh_postgresql()
        load = os.getloadavg()[0]
        seconds, peak, _, cpu = inst.transfer(bookings)
        subtransactions = self.subtransactions()
        self.fresh_postgresql()
        ceiling_load = os.getloadavg()[0]
        c_seconds, c_cpu, c = self.ceiling_run(inst, ceiling_inst, bookings, alias,
                                               os.environ["ZARVELT_TEST_PG_USER"],
                                               os.environ["ZARVELT_TEST_PG_PASSWORD"])
        c["subtransactions"] = subtransactions
        return (seconds, cpu, peak, load), (c_seconds, c_cpu, ceiling_load), c

    def run_postgresql(self, n, bookings):
        best = {}
        for _ in range(self.repeats(n, "postgresql")):
            program, ceiling, c = self.postgresql_runs(bookings)
            self.keep_best(best, program, ceiling, c)
            best["subtransactions"] = c["subtransactions"]
        self.finish_best(n, best)
        best["statements"] = self.statements.get(n)
        self.rows.append(("postgresql", n, best))

    def sendto_calls(self, inst, bookings):
        self.fresh_postgresql()
        trace = os.path.join(self.work, "strace.txt")
        inst.transfer(bookings, wrapper=["strace", "-f", "-c", "-e", "trace=sendto,sendmsg",
                                         "-o", trace])
        with open(trace) as f:
            calls = 0
            for line in f:
                fields = line.split()
                if len(fields) >= 5 and fields[-1] in ("sendto", "sendmsg"):
                    calls += int(fields[3])
        return calls

    def round_trips(self, n, bookings):
        inst = self.pg_installation()
        empty = os.path.join(self.work, "bookings-0.txt")
        open(empty, "w").close()
        fixed = self.sendto_calls(inst, empty)
        total = self.sendto_calls(inst, bookings)
        return (total - fixed) / self.statements[n], total - fixed

    # ---- The program against the ceiling, in alternating pairs

    def run_pairs(self):
        n = int(self.args.sizes.split(",")[0])
        backends = self.args.backends.split(",")
        if "postgresql" in backends and not os.environ.get("PGHOST"):
            print("PostgreSQL skipped: no PGHOST (scripts/bench.sh starts a cluster)")
            backends = [b for b in backends if b != "postgresql"]
        proxy = self.start_proxy() if self.args.latency_ms and "postgresql" in backends else None
        variants = []
        if "sqlite" in backends:
            variants.append(("sqlite", self.sqlite_runs))
        if "postgresql" in backends:
            variants.append(("postgresql", self.postgresql_runs))
        if proxy is not None:
            alias = self.proxy_alias()
            variants.append(("postgresql +%.2f ms" % (2 * self.args.latency_ms),
                             lambda bookings: self.postgresql_runs(bookings, alias, "inst-proxy")))
        files = [("ordinary", self.generate(n)), ("a quarter logging", self.generate(n, LOG_SHARE))]
        results = []
        try:
            for label, bookings in files:
                for backend, runs in variants:
                    print("%s, %d lines, %s file: %d pairs ..." % (backend, n, label,
                                                                  self.args.pairs), flush=True)
                    pairs = [runs(bookings) for _ in range(self.args.pairs)]
                    # The log of the program's last run: the share of lines that wrote to it.
                    inst = Installation(self.build, os.path.join(self.work, {
                        "sqlite": "inst-sqlite", "postgresql": "inst-postgresql"}.get(
                            backend, "inst-proxy")))
                    results.append((backend, label, inst.log_lines(), pairs))
        finally:
            if proxy is not None:
                proxy.terminate()

        print()
        print("Machine: %s, %d cores, %s; %s" % (platform.node(), os.cpu_count(),
                                                platform.platform(),
                                                datetime.datetime.now().strftime("%Y-%m-%d %H:%M")))
        print()
        other = "Baseline" if self.args.baseline else "Ceiling"
        print("| Backend | File | Log lines | Pair | Program s | CPU s | Load | %s s | CPU s "
              "| Load | Wall ratio | CPU ratio |" % other)
        print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        summary = []
        for backend, label, log_lines, pairs in results:
            logged = "%.1f %%" % (100.0 * log_lines / n)
            walls, cpus = [], []
            for k, (program, ceiling, _) in enumerate(pairs):
                walls.append(program[0] / ceiling[0])
                cpus.append(program[1] / ceiling[1])
                print("| %s | %s | %s | %d | %.2f | %.2f | %.1f | %.2f | %.2f | %.1f | %.3f | %.3f |"
                      % (backend, label, logged, k + 1, program[0], program[1], program[3],
                         ceiling[0], ceiling[1], ceiling[2], walls[-1], cpus[-1]))
            summary.append((backend, label, statistics.median(walls), min(walls), max(walls),
                            statistics.median(cpus), min(cpus), max(cpus)))
        print()
        print("| Backend | File | Wall ratio, median (range) | CPU ratio, median (range) |")
        print("|---|---|---:|---:|")
        for backend, label, wall, wall_low, wall_high, cpu, cpu_low, cpu_high in summary:
            print("| %s | %s | %.3f (%.3f-%.3f) | %.3f (%.3f-%.3f) |" % (
                backend, label, wall, wall_low, wall_high, cpu, cpu_low, cpu_high))
        print()
        for backend, label, wall, *_ in summary:
            print("%s  %s, %s file: the program's wall time at most %.1f x the %s's: %.3f" % (
                "PASS" if wall <= CEILING_RATIO else "MISS", backend, label, CEILING_RATIO,
                other.lower(), wall))

    # ---- The whole run

    def run(self):
        if self.args.pairs:
            self.run_pairs()
            return
        sizes = [int(s) for s in self.args.sizes.split(",")]
        backends = self.args.backends.split(",")
        if "postgresql" in backends and not os.environ.get("PGHOST"):
            print("PostgreSQL skipped: no PGHOST (scripts/bench.sh starts a cluster)")
            backends = [b for b in backends if b not in ("postgresql", "odbc")]
        self.statements = {}
        self.terminal_result = None
        proxy = self.start_proxy() if self.args.latency_ms and "postgresql" in backends else None
        odbc = proxy is not None and "odbc" in backends
        for n in sizes:
            bookings = self.generate(n)
            for backend in ("sqlite", "postgresql"):
                # The statement count comes from the ceiling, so SQLite always runs.
                if backend == "sqlite" or backend in backends:
                    print("%s, %d lines ..." % (backend, n), flush=True)
                    getattr(self, "run_" + backend)(n, bookings)
            if proxy is not None:
                print("postgresql through the proxy, %d lines ..." % n, flush=True)
                self.run_postgresql_proxy(n, bookings)
            if odbc:
                print("odbc through the proxy, %d lines ..." % n, flush=True)
                self.run_odbc_proxy(n, bookings)
        if proxy is not None:
            print("postgresql through the proxy, one insert at a time, %d lines ..." % sizes[0],
                  flush=True)
            self.run_postgresql_proxy(sizes[0], self.generate(sizes[0]), batch_size=1)
        if proxy is not None and self.args.terminals:
            print("%d terminals at once, %d lines each ..." % (self.args.terminals, sizes[0]),
                  flush=True)
            self.run_terminals(sizes[0], self.generate(sizes[0]))
        if proxy is not None:
            proxy.terminate()
        startup = self.startup()
        trips = None
        if "postgresql" in backends and shutil.which("strace") is None:
            print("PostgreSQL round trips not counted: no strace")
        elif "postgresql" in backends:
            trips = self.round_trips(sizes[0], self.generate(sizes[0]))
        self.report(sizes, startup, trips)

    def report(self, sizes, startup, trips):
        print()
        print("Machine: %s, %d cores, %s; %s" % (platform.node(), os.cpu_count(),
                                                platform.platform(),
                                                datetime.datetime.now().strftime("%Y-%m-%d %H:%M")))
        print()
        print("| Backend | Lines | Seconds | CPU s | Lines/s | Statements/line | Peak RSS MiB "
              "| Ceiling lines/s | Ratio | CPU ratio |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for backend, n, f in self.rows:
            statements = f.get("statements")
            print("| %s | %d | %.2f | %.2f | %.0f | %s | %.1f | %s | %s | %s |" % (
                backend, n, f["seconds"], f["cpu"], f["rate"],
                "%.2f" % (statements / n) if statements else "-", f["peak"] / MIB,
                "%.0f" % f["ceiling_rate"] if "ceiling_rate" in f else "-",
                "%.2f" % f["ratio"] if "ratio" in f else "-",
                "%.2f" % f["cpu_ratio"] if "cpu_ratio" in f else "-"))
        print()
        print("Start-up to exit, 100 lines, SQLite: %.1f ms (CPU %.1f ms)" % (
            startup[0] * 1000, startup[1] * 1000))
        if trips is not None:
            print("PostgreSQL round trips per statement (%d lines): %.3f (%d sendto calls)" % (
                sizes[0], trips[0], trips[1]))
        if self.terminal_result:
            count, n, together, apart, statuses, equal = self.terminal_result
            print("%d terminals x %d lines through the proxy: at once %.1f s (%.0f lines/s), one "
                  "after another %.1f s (%.0f lines/s); exit statuses %s; results equal: %s" % (
                      count, n, together, count * n / together, apart, count * n / apart,
                      statuses, equal))
        print()

        def check(target, measured, passed):
            print("%s  %s: %s" % ("PASS" if passed else "MISS", target, measured))

        by = {(b, n): f for b, n, f in self.rows}
        for backend in ("sqlite", "postgresql"):
            for n in (100000, 1000000):
                if (backend, n) in by:
                    r = by[(backend, n)]["ratio"]
                    check("%s at %d lines: the program's time <= %.1f x the ceiling's" % (
                        backend, n, CEILING_RATIO), "%.2f" % r, r <= CEILING_RATIO)
        if ("postgresql", 100000) in by:
            rate = by[("postgresql", 100000)]["rate"]
            check("PostgreSQL over the unix socket at 100000 lines >= %d lines/s" %
                  PG_LINES_PER_SECOND, "%.0f" % rate, rate >= PG_LINES_PER_SECOND)
        proxied = "postgresql +%.2f ms" % (2 * self.args.latency_ms)
        for n, target in ((100000, PG_PROXY_LINES_PER_SECOND), (10000, PG_PROXY_FLOOR)):
            if (proxied, n) in by:
                rate = by[(proxied, n)]["rate"]
                check("PostgreSQL through the proxy at %d lines >= %d lines/s" % (n, target),
                      "%.0f" % rate, rate >= target)
        odbc = "odbc +%.2f ms" % (2 * self.args.latency_ms)
        if (odbc, 100000) in by:
            rate = by[(odbc, 100000)]["rate"]
            check("psqlODBC through the proxy at 100000 lines >= %d lines/s" %
                  ODBC_PROXY_LINES_PER_SECOND, "%.0f" % rate, rate >= ODBC_PROXY_LINES_PER_SECOND)
        for n in sizes:
            if ("postgresql", n) in by:
                count = by[("postgresql", n)]["subtransactions"]
                check("PostgreSQL subtransactions at %d lines <= 1 per %d lines" %
                      (n, LINES_PER_SUBTRANSACTION), "%d (1 per %.0f lines)" %
                      (count, n / max(count, 1)), count * LINES_PER_SUBTRANSACTION <= n)
        if self.terminal_result:
            count, n, together, apart, statuses, equal = self.terminal_result
            check("%d terminals at once: all exit 0, results equal to one after another" % count,
                  "statuses %s, equal %s" % (statuses, equal),
                  equal and all(status == 0 for status in statuses))
        if trips is not None:
            check("PostgreSQL <= %.0f round trip per statement" % PG_TRIPS_PER_STATEMENT,
                  "%.3f" % trips[0], trips[0] <= PG_TRIPS_PER_STATEMENT)
        for backend in ("sqlite", "postgresql"):
            if (backend, 1000000) in by:
                peak = by[(backend, 1000000)]["peak"]
                check("%s peak RSS at 1000000 lines < 32 MiB" % backend,
                      "%.1f MiB" % (peak / MIB), peak < PEAK_MEMORY)
            if (backend, sizes[0]) in by and (backend, sizes[-1]) in by and sizes[-1] > sizes[0]:
                low, high = by[(backend, sizes[0])]["peak"], by[(backend, sizes[-1])]["peak"]
                check("%s peak RSS flat from %d to %d lines (growth < 4 MiB)" % (
                    backend, sizes[0], sizes[-1]), "%.1f -> %.1f MiB" % (low / MIB, high / MIB),
                    high - low < FLAT_MEMORY_GROWTH)
        check("SQLite start-up to exit for 100 lines < 20 ms", "%.1f ms" % (startup[0] * 1000),
              startup[0] < STARTUP_SECONDS)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--sizes", default="10000,100000,1000000")
    parser.add_argument("--backends", default="sqlite,postgresql")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--baseline", default="",
                        help="with --pairs: the build directory of another version of the "
                             "program, run in the ceiling's place (same outputs required)")
    parser.add_argument("--pairs", type=int, default=0,
                        help="only the program against the ceiling, in this many pairs")
    parser.add_argument("--latency-ms", type=float, default=0.0,
                        help="delay per direction of the PostgreSQL proxy run (0: none)")
    parser.add_argument("--terminals", type=int, default=0,
                        help="with --latency-ms: this many terminals at once through the proxy")
    parser.add_argument("--proxy-port", type=int, default=56999,
                        help="with --latency-ms: the proxy's port on 127.0.0.1")
    Bench(parser.parse_args()).run()


if __name__ == "__main__":
    main()
