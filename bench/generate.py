#!/usr/bin/env python3
"""Builds realistic installations and booking files for the benchmarks.

  generate.py master sqlite DIR        KVSYSTEM.db and one <SCHEMA>.db per client in DIR
  generate.py master postgresql FILE   an SQL script (schemas, tables, COPY data) for psql
  generate.py bookings N FILE          a booking file of N lines for terminal T01
  generate.py bookings N FILE --log-share 0.25
                                       the same kinds of line, but about that share of them
                                       writes a line to the transfer log

The master data are the same on every call (fixed seed): five client schemas, 6000 badges with
validity dates (some reissued, some expired, some not yet valid), function codes with booking
types and translations per client, and zone keys. The booking file is a fixed function of N:
every record kind and every row of the dispatch table, a few percent of unknown badges,
repeated lines (duplicates), other terminals' lines, faulty lines and unknown record kinds;
about 6 % of its lines write a log line (unknown or expired badges, function codes without a
booking type). With --log-share, more of its lines are time bookings that log: half of them
with a function code that no client knows (logged, exported), half with a date that is no
day of the calendar (logged and rejected).
Fields are never quoted and hold no commas, so splitting at ',' is all a reader needs.
"""

import os
import random
import sqlite3
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TERMINAL = "T01"
CLIENTS = ["MAND01", "MAND02", "MAND03", "MAND04", "MAND05"]
CLIENT_WEIGHTS = [40, 25, 15, 12, 8]  # share of badges per client, in percent
BADGE_COUNT = 6000
FUNCTION_CODES = ["%03d" % n for n in range(1, 31)] + ["K1", "K2", "G", "U1", "Z9"]
ZONE_PREFIXES = ["Z%d" % n for n in range(1, 21)]
ZONE_STATUSES = ["200", "201", "202", "203", "204"]
FIRST_DAY = (2025, 1, 6)


class Master:
    """The master data, built from a fixed seed."""

    def __init__(self):
        rnd = random.Random(4711)
        self.badge_rows = []  # (badge, client index 1.., personnel number, valid from, to)
        self.badges = []  # badges known to the installation
        for n in range(BADGE_COUNT):
            badge = str(100000 + n * 7)
            client = rnd.choices(range(1, len(CLIENTS) + 1), CLIENT_WEIGHTS)[0]
            personnel = str(10000 + n)
            kind = rnd.random()
            if kind < 0.80:  # valid from an earlier day, open ended
                rows = [(f"2020-01-{rnd.randint(1, 28):02d} 00:00:00", None)]
            elif kind < 0.88:  # valid from and to, around the booking period
                rows = [("2024-06-01 00:00:00", "2027-12-31 00:00:00")]
            elif kind < 0.92:  # valid to only
                rows = [(None, "2030-01-01 00:00:00")]
            elif kind < 0.97:  # reissued: two periods that meet
                rows = [("2019-01-01 00:00:00", "2025-03-31 00:00:00"),
                        ("2025-04-01 00:00:00", None)]
            else:  # expired before the booking period, or valid only later
                rows = rnd.choice([[("2018-01-01 00:00:00", "2024-12-31 00:00:00")],
                                   [("2031-01-01 00:00:00", None)]])
            for valid_from, valid_to in rows:
                self.badge_rows.append((badge, client, personnel, valid_from, valid_to))
            self.badges.append(badge)

        self.booking_types = {}  # client schema -> [(code, type)]
        self.translations = {}  # client schema -> [(old, new)]
        for client in CLIENTS:
            types, translations = [], []
            for code in FUNCTION_CODES:
                if rnd.random() < 0.93:  # the rest have no booking type in this client
                    types.append((code, rnd.randint(1, 12)))
                    if rnd.random() < 0.3:
                        translations.append((code, "%03d" % rnd.randint(100, 999)))
            self.booking_types[client] = types
            self.translations[client] = translations

        self.zones = []  # (zone key, zone number); a few keys stay without a zone
        for prefix in ZONE_PREFIXES[:-2]:
            for status in ZONE_STATUSES:
                self.zones.append((prefix + status, rnd.randint(1, 400)))


def read_sql(backend, name):
    with open(os.path.join(ROOT, "sql", backend, name), encoding="utf-8") as f:
        return f.read()


def master_sqlite(directory):
    m = Master()
    os.makedirs(directory, exist_ok=True)
    for name in ["KVSYSTEM"] + CLIENTS:
        path = os.path.join(directory, name + ".db")
        if os.path.exists(path):
            os.remove(path)
    central = sqlite3.connect(os.path.join(directory, "KVSYSTEM.db"))
    central.executescript(read_sql("sqlite", "central.sql"))
    central.executemany("insert into KVS112MND values (1, ?, ?)",
                        [(i + 1, c) for i, c in enumerate(CLIENTS)])
    central.executemany("insert into KVS301ASW values (?, 1, ?, ?, ?, ?)",
                        [(b, c, p, f, t) for b, c, p, f, t in m.badge_rows])
    central.executemany("insert into KVS405ZZS values (?, ?)", m.zones)
    central.commit()
    central.execute("analyze")
    central.close()
    for client in CLIENTS:
        db = sqlite3.connect(os.path.join(directory, client + ".db"))
        db.executescript(read_sql("sqlite", "client.sql"))
        db.executemany("insert into KVS131FCD values (?, ?)", m.booking_types[client])
        db.executemany("insert into KVS131FCDUEB values (?, ?)", m.translations[client])
        db.commit()
        db.close()


def copy_block(table, rows):
    def cell(v):
        return "\\N" if v is None else str(v)
    lines = ["COPY %s FROM stdin;" % table]
    lines += ["\t".join(cell(v) for v in row) for row in rows]
    lines.append("\\.")
    return "\n".join(lines) + "\n"


def master_postgresql(path):
    m = Master()
    out = ["SET client_min_messages TO warning;",
           "CREATE SCHEMA kvsystem; SET search_path TO kvsystem;",
           read_sql("postgresql", "central.sql"),
           copy_block("KVS112MND", [(1, i + 1, c) for i, c in enumerate(CLIENTS)]),
           copy_block("KVS301ASW", [(b, 1, c, p, f, t) for b, c, p, f, t in m.badge_rows]),
           copy_block("KVS405ZZS", m.zones),
           "ANALYZE KVS112MND; ANALYZE KVS301ASW; ANALYZE KVS405ZZS;"]
    for client in CLIENTS:
        out.append("CREATE SCHEMA %s; SET search_path TO %s;" % (client.lower(), client.lower()))
        out.append(read_sql("postgresql", "client.sql"))
        out.append(copy_block("KVS131FCD", m.booking_types[client]))
        out.append(copy_block("KVS131FCDUEB", m.translations[client]))
        out.append("ANALYZE KVS131FCD; ANALYZE KVS131FCDUEB;")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


def days_in_month(year, month):
    if month == 2:
        return 29 if year % 4 == 0 and (year % 100 != 0 or year % 400 == 0) else 28
    return 30 if month in (4, 6, 9, 11) else 31


class Clock:
    """The booking moment, moving forward a few seconds per line through working hours."""

    def __init__(self):
        self.year, self.month, self.day = FIRST_DAY
        self.second = 6 * 3600

    def advance(self, rnd):
        self.second += rnd.randint(1, 9)
        if self.second >= 20 * 3600:
            self.second = 6 * 3600
            self.day += 1
            if self.day > days_in_month(self.year, self.month):
                self.day, self.month = 1, self.month + 1
                if self.month > 12:
                    self.month, self.year = 1, self.year + 1

    def date(self):
        return "%04d%02d%02d" % (self.year, self.month, self.day)

    def time(self):
        s = self.second
        return "%02d%02d%02d" % (s // 3600, s // 60 % 60, s % 60)


# The share of each kind of line, in per mille; the names say which row of the dispatch table
# or which other path of the transfer loop the line takes.
LINE_MIX = [
    ("40p time and access", 250), ("40p time", 100), ("40p access", 90), ("40p neither", 10),
    ("dta access 024", 80), ("dta time", 100), ("dta access no badge", 20), ("dta event", 100),
    ("62p", 120), ("50p", 80), ("other kind", 10), ("other terminal", 30), ("faulty", 10),
]
ACCESS_RESULTS = "1111111119BZSUAGPb"


# About the share of the ordinary file's lines that write a log line (6.3 % of 200,000 lines);
# with it, --log-share 0.25 gives 25.2 % of 200,000 lines that log.
ORDINARY_LOG_SHARE = 0.06
UNKNOWN_FUNCTION_CODE = "999"  # no client has a booking type for it


def logging_line(rnd, master, clock):
    """A time booking that writes one line to the transfer log."""
    fields = [""] * 16
    fields[0] = rnd.choice(master.badges)
    fields[2] = clock.date()
    fields[3] = clock.time()
    fields[5] = TERMINAL
    fields[6] = str(rnd.randint(1, 8))
    fields[7] = rnd.choice(FUNCTION_CODES)
    if rnd.random() < 0.5:
        fields[7] = UNKNOWN_FUNCTION_CODE
    else:
        fields[2] = fields[2][:6] + "32"
    if rnd.random() < 0.5:
        fields[10], fields[15] = "1", "40p"
    else:
        fields[12], fields[15] = "100", "dta"
    return ",".join(fields) + "\r\n"


def booking_line(rnd, master, clock, kind):
    fields = [""] * 16
    unknown = rnd.random() < 0.03
    fields[0] = str(900000 + rnd.randint(0, 99999)) if unknown else rnd.choice(master.badges)
    fields[2] = clock.date()
    fields[3] = clock.time()
    fields[5] = TERMINAL
    fields[6] = str(rnd.randint(1, 8))
    fields[7] = rnd.choice(FUNCTION_CODES)
    if kind.startswith("40p"):
        fields[15] = "40p"
        if "time" in kind:
            fields[10] = "1"
        if "access" in kind:
            fields[11] = rnd.choice(ACCESS_RESULTS)
        if rnd.random() < 0.2:
            fields[8] = "Schicht %d" % rnd.randint(1, 3)
    elif kind.startswith("dta"):
        fields[15] = "dta"
        if kind == "dta access 024":
            fields[7], fields[12] = "024", rnd.choice(["100", "200", "201"])
        elif kind == "dta time":
            fields[12] = "100"
        elif kind == "dta access no badge":
            fields[0], fields[12] = rnd.choice(["", " ", "\t"]), rnd.choice(["200", "205"])
        else:
            fields[7], fields[12] = rnd.choice(["025", "026", "031"]), rnd.choice(["200", "205"])
    elif kind == "62p":
        fields[15] = "62p"
        fields[12] = rnd.choice(ZONE_STATUSES)
        fields[13] = rnd.choice(ZONE_PREFIXES)
    elif kind == "50p":
        fields[15] = "50p"
        fields[8] = str(rnd.randint(1000, 9999999))
    elif kind == "other kind":
        fields[15] = rnd.choice(["70p", "40P", "dtb"])
        fields[10] = fields[11] = "1"
    elif kind == "other terminal":
        fields[5] = "T02"
        fields[15], fields[11] = "40p", "1"
    else:  # faulty: seven fields
        fields = fields[:7]
    return ",".join(fields) + "\r\n"


def bookings(count, path, log_share=None):
    master = Master()
    # Each ordinary line taken over by a logging line raises the share from what it is.
    logging = 0.0 if log_share is None else max(
        0.0, (log_share - ORDINARY_LOG_SHARE) / (1 - ORDINARY_LOG_SHARE))
    rnd = random.Random(1000 + count)
    clock = Clock()
    kinds = [k for k, _ in LINE_MIX]
    weights = [w for _, w in LINE_MIX]
    recent = []
    with open(path, "w", encoding="latin-1", newline="") as f:
        for _ in range(count):
            if recent and rnd.random() < 0.02:  # a line delivered twice
                line = rnd.choice(recent)
            else:
                clock.advance(rnd)
                if logging and rnd.random() < logging:
                    line = logging_line(rnd, master, clock)
                else:
                    line = booking_line(rnd, master, clock, rnd.choices(kinds, weights)[0])
                recent.append(line)
                if len(recent) > 50:
                    recent.pop(0)
            f.write(line)


def main(argv):
    if len(argv) == 4 and argv[1] == "master" and argv[2] == "sqlite":
        master_sqlite(argv[3])
    elif len(argv) == 4 and argv[1] == "master" and argv[2] == "postgresql":
        master_postgresql(argv[3])
    elif len(argv) == 4 and argv[1] == "bookings":
        bookings(int(argv[2]), argv[3])
    elif len(argv) == 6 and argv[1] == "bookings" and argv[4] == "--log-share":
        bookings(int(argv[2]), argv[3], float(argv[5]))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
