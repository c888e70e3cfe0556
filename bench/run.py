#!/usr/bin/env python3
"""The rowpress benchmark: exports of the same 1,000,000 x 8 table through rowpress and its
peers, alternating, several repetitions each; medians, ratios and peak memory go to
bench/RESULTS.md.

    bench/run.py [--rows N] [--reps N] [--no-postgres] [--against OTHER_ROWPRESS [--against-xlsx]]
    bench/run.py --long-values [--reps N] [--against OTHER_ROWPRESS]

--against times another rowpress executable (an earlier build) in the same alternating
rounds, so that a change is measured against the code before it on the same machine; with
--against-xlsx its .xlsx output too (an earlier build that writes .xlsx).

Needs a built build/rowpress (bench/run.sh builds it and installs what is missing). Its files
go to /tmp/rowpress-bench, or to $ROWPRESS_BENCH_DIR."""
import argparse
import hashlib
import os
import platform
import pwd
import shutil
import socket
import statistics
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROWPRESS = os.path.join(TOP, "build", "rowpress")
# Where the database, the job files and the outputs go; ROWPRESS_BENCH_DIR moves it, so that two
# benchmarks on one machine keep apart.
WORK = os.environ.get("ROWPRESS_BENCH_DIR", "/tmp/rowpress-bench")
PG_BIN = "/usr/lib/postgresql/15/bin"
QUERY = "select * from bench"
# The table heavy in numbers and dates.
FIGURES = "select * from figures"


def sh(cmd, **kw):
    return subprocess.run(cmd, shell=isinstance(cmd, str), check=True, **kw)


def timed(cmd, env):
    """Runs cmd under /usr/bin/time; returns (seconds, peak RSS in KiB, CPU seconds: user and
    system, which other work on a shared machine changes less than the elapsed time)."""
    report = os.path.join(WORK, "time.txt")
    full = ["/usr/bin/time", "-f", "%e %M %U %S", "-o", report] + cmd
    result = subprocess.run(full, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {' '.join(cmd)}\n{result.stderr.decode()}")
    seconds, rss, user, system = open(report).read().split()[-4:]
    return float(seconds), int(rss), float(user) + float(system)


def settings_file(path, dsn, sql, flags):
    """A minimal job file: the reader finds its keys anywhere, one per line."""
    lines = [f'Database="{dsn}";', f'SQL="{sql}";', 'DoLaunchApplication="0";']
    lines += [f'{key}="1";' for key in flags]
    with open(path, "w") as f:
        f.write("\r\n".join(lines) + "\r\n")


def odbc_driver(library):
    """The path of an ODBC driver library, from scripts/odbc-driver.sh; stops when missing."""
    found = subprocess.run([os.path.join(TOP, "scripts", "odbc-driver.sh"), library],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if found.returncode != 0:
        sys.exit(found.stderr.strip())
    return found.stdout.strip()


def odbc_env(extra_dsns=""):
    """The private ODBC configuration: the SQLite3 driver, and the PostgreSQL one when
    extra_dsns (PostgreSQL's data source) is given."""
    os.makedirs(WORK, exist_ok=True)
    with open(os.path.join(WORK, "odbcinst.ini"), "w") as f:
        f.write(f"[SQLite3]\nDriver={odbc_driver('libsqlite3odbc.so')}\n")
        if extra_dsns:
            f.write(f"[PostgreSQL Unicode]\nDriver={odbc_driver('psqlodbcw.so')}\n")
    with open(os.path.join(WORK, "odbc.ini"), "w") as f:
        f.write(f"[bench-sqlite]\nDriver=SQLite3\nDatabase={WORK}/bench.db\nStepAPI=1\nNoCreat=1\n")
        f.write(extra_dsns)
    open(os.path.join(WORK, "user-odbc.ini"), "w").close()
    env = dict(os.environ)
    env.update(ODBCSYSINI=WORK, ODBCINI=os.path.join(WORK, "user-odbc.ini"),
               ROWPRESS_HOME=os.path.join(WORK, "home"))
    return env


def make_sqlite(rows):
    db = os.path.join(WORK, "bench.db")
    stamp = os.path.join(WORK, "bench.rows")
    script = open(os.path.join(TOP, "bench", "make_data.sql")).read().replace("ROWS", str(rows))
    # Made again when the row count or the script changed.
    made = f"{rows} {hashlib.sha256(script.encode()).hexdigest()}"
    if os.path.exists(db) and os.path.exists(stamp) and open(stamp).read() == made:
        return
    if os.path.exists(db):
        os.remove(db)
    sh(["sqlite3", db], input=script.encode(), stdout=subprocess.DEVNULL)
    open(stamp, "w").write(made)


OUTPUT_TYPES = (("csv", ["CSV"]), ("tsv", ["TSV"]), ("html", ["HTML"]), ("workbook", ["2007"]),
                ("xlsx", ["XLSX"]))
# What every rowpress writes: an earlier one given with --against may not know .xlsx.
OLDER_OUTPUT_TYPES = OUTPUT_TYPES[:4]


def rowpress_commands(dsn, tag, sql=QUERY, executable=ROWPRESS, label="rowpress",
                      types=OUTPUT_TYPES, switches=()):
    """One rowpress command per output type."""
    commands = {}
    for name, flags in types:
        job = os.path.join(WORK, f"{tag}-{name}.DIRU")
        settings_file(job, dsn, sql, flags)
        out = os.path.join(WORK, f"out-{tag}-{name}")
        commands[f"{label} {name}"] = [executable, "-silent", "-noautoopen", "-file=" + job,
                                       "-outfile=" + out, *switches]
    return commands


# A -timeout that never runs out: the run watches it all the same (a thread of its own in
# earlier builds).
TIMEOUT = "-timeout=3600"


def variants(dsn, tag, against, other_types):
    """rowpress's CSV run on the figures table and with a -timeout, this build's and (with
    --against) the other one's."""
    csv = [("csv", ["CSV"])]
    commands = {}
    builds = [(ROWPRESS, "rowpress", tag)]
    if against:
        builds.append((against, "other rowpress", tag + "-other"))
    for executable, label, name in builds:
        if dsn == "bench-sqlite":
            commands.update(rowpress_commands(dsn, name + "-figures", FIGURES, executable,
                                              label + " figures", csv))
        commands.update(rowpress_commands(dsn, name + "-timeout", QUERY, executable,
                                          label + " " + TIMEOUT, csv, [TIMEOUT]))
    return commands


def threads_during(cmd, env):
    """The most threads that the process of cmd ran at once, sampled from /proc every 20 ms."""
    child = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    most = 0
    while child.poll() is None:
        try:
            with open(f"/proc/{child.pid}/status") as status:
                for line in status:
                    if line.startswith("Threads:"):
                        most = max(most, int(line.split()[1]))
        except (FileNotFoundError, ProcessLookupError):
            pass
        time.sleep(0.02)
    return most


def csv_only(commands):
    """The floors (sqlite3, psql) and the CSV runs of rowpress among commands."""
    return {name: cmd for name, cmd in commands.items()
            if name.startswith(("sqlite3", "psql")) or name.endswith(" csv")}


def thread_table(commands, env):
    """The threads of each rowpress command of commands, one run each."""
    lines = ["| command | most threads during the run |", "|---|---|"]
    for name, cmd in commands.items():
        if "rowpress" in name and (" csv" in name or TIMEOUT in name):
            lines.append(f"| {name} | {threads_during(cmd, env)} |")
            shutil.rmtree(os.path.join(WORK, "home"), ignore_errors=True)
    return "\n".join(lines)


def measure(commands, env, reps):
    samples = {name: [] for name in commands}
    for rep in range(reps):
        for name, cmd in commands.items():  # alternating: one of each per round
            samples[name].append(timed(cmd, env))
            shutil.rmtree(os.path.join(WORK, "home"), ignore_errors=True)
        print(f"  round {rep + 1}/{reps} done", flush=True)
    return {name: (statistics.median(s for s, _, _ in v), max(r for _, r, _ in v),
                   statistics.median(c for _, _, c in v))
            for name, v in samples.items()}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Postgres:
    """A throwaway PostgreSQL server in WORK/pg, run as the postgres user when root."""

    def __init__(self):
        self.dir = os.path.join(WORK, "pg")
        self.port = free_port()
        self.as_user = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []

    def start(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "sock"))
        if self.as_user:
            pw = pwd.getpwnam("postgres")
            for root, dirs, _ in os.walk(self.dir):
                os.chown(root, pw.pw_uid, pw.pw_gid)
                for d in dirs:
                    os.chown(os.path.join(root, d), pw.pw_uid, pw.pw_gid)
        sh(self.as_user + [f"{PG_BIN}/initdb", "-D", f"{self.dir}/data", "-U", "postgres",
                           "--auth-local=trust", "--auth-host=trust", "--encoding=UTF8",
                           "--locale=C.UTF-8"], stdout=subprocess.DEVNULL)
        sh(self.as_user + [f"{PG_BIN}/pg_ctl", "-D", f"{self.dir}/data", "-l", f"{self.dir}/log",
                           "-w", "-o", f"-p {self.port} -k {self.dir}/sock "
                           "-c listen_addresses=127.0.0.1", "start"], stdout=subprocess.DEVNULL)

    def stop(self):
        subprocess.run(self.as_user + [f"{PG_BIN}/pg_ctl", "-D", f"{self.dir}/data", "-m", "fast",
                                       "stop"], stdout=subprocess.DEVNULL)

    def psql(self, *args, **kw):
        return sh(["psql", "-X", "-q", "-h", "127.0.0.1", "-p", str(self.port), "-U", "postgres",
                   "-d", "postgres", *args], **kw)

    def load(self, rows):
        self.psql("-c", f"""
          create table bench as
          select i as id, (i * 7919 % 1000003) / 97.0::float8 as amount,
                 round((i * 31 % 100000) / 100.0, 2)::numeric(10,2) as price,
                 'C' || (i % 99991) as code,
                 'item ' || i || ', "' || (i % 17) || '"' as label,
                 case when i % 10 = 0 then null
                      else 'A longer note about row ' || i || ': with commas, "quotes" and ümlauts'
                 end as note,
                 date '2000-01-01' + (i % 9000)::int as day,
                 case when i % 7 = 0 then null else i % 2 end as flag
          from generate_series(1::bigint, {rows}) i""", stdout=subprocess.DEVNULL)

    def dsn(self):
        return (f"[bench-pg]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort={self.port}\n"
                "Database=postgres\nUsername=postgres\nUseDeclareFetch=1\nFetch=10000\n")


def table(results, floor):
    lines = ["| command | median s | ratio to " + floor + " | median CPU s | CPU ratio | "
             "peak RSS MiB |", "|---|---|---|---|---|---|"]
    base, _, base_cpu = results[floor]
    for name, (seconds, rss, cpu) in results.items():
        lines.append(f"| {name} | {seconds:.2f} | {seconds / base:.2f} | {cpu:.2f} | "
                     f"{cpu / base_cpu:.2f} | {rss / 1024:.1f} |")
    return "\n".join(lines)


# The sizes of the single long values that --long-values exports, in MB.
LONG_VALUE_MB = (10, 20, 40, 100)


def long_values(args, env):
    """Standard CSV of one value of each size in LONG_VALUE_MB from SQLite, which reads a long
    value in parts: the time should grow with the size, not with its square. Prints a table."""
    db = os.path.join(WORK, "long.db")
    if not os.path.exists(db):
        script = "".join(f"create table v{mb} as select replace(hex(zeroblob({mb * 500000})), "
                         f"'0', 'x') as v;\n" for mb in LONG_VALUE_MB)
        sh(["sqlite3", db], input=script.encode(), stdout=subprocess.DEVNULL)
    with open(os.path.join(WORK, "odbc.ini"), "a") as f:
        f.write(f"[bench-long]\nDriver=SQLite3\nDatabase={db}\nNoCreat=1\n")
    executables = {"rowpress": ROWPRESS}
    if args.against:
        executables["other rowpress"] = args.against
    commands = {}
    for mb in LONG_VALUE_MB:
        job = os.path.join(WORK, f"long-{mb}.DIRU")
        settings_file(job, "bench-long", f"select v from v{mb}", ["CSV", "QuoteFields"])
        for label, executable in executables.items():
            commands[f"{label} {mb} MB"] = [executable, "-silent", "-noautoopen", "-file=" + job,
                                            "-outfile=" + os.path.join(WORK, "out-long.csv")]
    results = measure(commands, env, args.reps)
    print("| value | " + " | ".join(f"{label} CPU s | peak MiB" for label in executables) + " |")
    print("|---|" + "---|---|" * len(executables))
    for mb in LONG_VALUE_MB:
        cells = []
        for label in executables:
            _, rss, cpu = results[f"{label} {mb} MB"]
            cells.append(f"{cpu:.2f} | {rss / 1024:.0f}")
        print(f"| {mb} MB | " + " | ".join(cells) + " |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--no-postgres", action="store_true")
    parser.add_argument("--against", metavar="OTHER_ROWPRESS",
                        help="another rowpress executable to time in the same rounds")
    parser.add_argument("--against-xlsx", action="store_true",
                        help="time the other rowpress's .xlsx output too")
    parser.add_argument("--csv-only", action="store_true",
                        help="only the floors and rowpress's CSV runs: a quick comparison")
    parser.add_argument("--long-values", action="store_true",
                        help="only standard CSV of single values of 10 to 100 MB, a table printed")
    args = parser.parse_args()
    if args.against and not os.access(args.against, os.X_OK):
        sys.exit(f"{args.against} is not an executable")
    other_types = OUTPUT_TYPES if args.against_xlsx else OLDER_OUTPUT_TYPES
    if not os.access(ROWPRESS, os.X_OK):
        sys.exit("build/rowpress is missing: run bench/run.sh")

    if args.long_values:
        long_values(args, odbc_env())
        return
    pg = None if args.no_postgres else Postgres()
    env = odbc_env(pg.dsn() if pg else "")
    print(f"building the SQLite table of {args.rows} rows", flush=True)
    make_sqlite(args.rows)
    db = os.path.join(WORK, "bench.db")
    query_file = os.path.join(WORK, "query.sql")
    open(query_file, "w").write(QUERY + "\n")
    py = "/usr/bin/python3"
    peers = {
        "sqlite3 -csv": ["sh", "-c", f"sqlite3 -csv {db} '{QUERY}' > {WORK}/out-sqlite3"],
        "sqlite3 -csv figures": ["sh", "-c",
                                 f"sqlite3 -csv {db} '{FIGURES}' > {WORK}/out-sqlite3-figures"],
        "isql -b": ["sh", "-c", f"isql -b -d, bench-sqlite < {query_file} > {WORK}/out-isql"],
        "pyodbc fetchmany": [py, os.path.join(TOP, "bench", "pyodbc_csv.py"), "bench-sqlite",
                             QUERY, f"{WORK}/out-pyodbc"],
        "pyodbc + XlsxWriter": [py, os.path.join(TOP, "bench", "pyodbc_xlsx.py"), "bench-sqlite",
                                QUERY, f"{WORK}/out-pyodbc.xlsx"],
    }
    commands = dict(peers)
    commands.update(rowpress_commands("bench-sqlite", "sqlite"))
    if args.against:
        commands.update(rowpress_commands("bench-sqlite", "sqlite-other", QUERY, args.against,
                                          "other rowpress", other_types))
    commands.update(variants("bench-sqlite", "sqlite", args.against, other_types))
    if args.csv_only:
        commands = csv_only(commands)
    print("SQLite: threads", flush=True)
    threads = {"sqlite": thread_table(commands, env)}
    print("SQLite: timing", flush=True)
    sqlite_results = measure(commands, env, args.reps)
    small = rowpress_commands("bench-sqlite", "small", QUERY + " limit 10000")
    print("SQLite: memory at 10,000 rows", flush=True)
    small_results = measure(small, env, 1)
    write_results(args, sqlite_results, small_results, None, None, threads)

    pg_results = pg_small = None
    if pg:
        print("PostgreSQL: starting and loading", flush=True)
        pg.start()
        try:
            pg.load(args.rows)
            commands = {
                "psql \\copy csv": ["psql", "-X", "-q", "-h", "127.0.0.1", "-p", str(pg.port),
                                    "-U", "postgres", "-d", "postgres", "-c",
                                    f"\\copy ({QUERY}) to '{WORK}/out-copy' csv header"],
                "isql -b": ["sh", "-c", f"isql -b -d, bench-pg < {query_file} > {WORK}/out-isql"],
                "pyodbc fetchmany": [py, os.path.join(TOP, "bench", "pyodbc_csv.py"), "bench-pg",
                                     QUERY, f"{WORK}/out-pyodbc"],
                "pyodbc + XlsxWriter": [py, os.path.join(TOP, "bench", "pyodbc_xlsx.py"),
                                        "bench-pg", QUERY, f"{WORK}/out-pyodbc.xlsx"],
            }
            commands.update(rowpress_commands("bench-pg", "pg"))
            if args.against:
                commands.update(rowpress_commands("bench-pg", "pg-other", QUERY, args.against,
                                                  "other rowpress", other_types))
            commands.update(variants("bench-pg", "pg", args.against, other_types))
            if args.csv_only:
                commands = csv_only(commands)
            print("PostgreSQL: threads", flush=True)
            threads["pg"] = thread_table(commands, env)
            print("PostgreSQL: timing", flush=True)
            pg_results = measure(commands, env, args.reps)
            pg_small = measure(rowpress_commands("bench-pg", "pgsmall", QUERY + " limit 10000"),
                               env, 1)
        finally:
            pg.stop()
        write_results(args, sqlite_results, small_results, pg_results, pg_small, threads)


def memory_table(big, small):
    lines = ["| output | peak RSS at 10,000 rows MiB | at all rows MiB | growth |",
             "|---|---|---|---|"]
    for name, (_, rss_small, _) in small.items():
        if name not in big:
            continue
        rss_big = big[name][1]
        lines.append(f"| {name} | {rss_small / 1024:.1f} | {rss_big / 1024:.1f} | "
                     f"{(rss_big - rss_small) / rss_small * 100:+.1f}% |")
    return "\n".join(lines)


def write_results(args, sqlite_results, small_results, pg_results, pg_small, threads):
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                if l.startswith("model name")), platform.processor())
    memory = next(l.split()[1] for l in open("/proc/meminfo") if l.startswith("MemTotal"))
    out = [
        "# rowpress benchmark results", "",
        f"Machine: {cpu}, {os.cpu_count()} cores, {int(memory) // 1024 // 1024} GiB; "
        f"{args.rows:,} rows x 8 columns; {args.reps} alternating repetitions, medians.",
        f"Command: `bench/run.sh --rows {args.rows} --reps {args.reps}"
        + (f" --against {args.against}" if args.against else "")
        + (" --against-xlsx" if args.against_xlsx else "") + "`", "",
        "## SQLite3 ODBC (StepAPI=1)", "", table(sqlite_results, "sqlite3 -csv"), "",
        "The figures table (numbers and dates) against its own floor:", "",
        table({k: v for k, v in sqlite_results.items() if "figures" in k},
              "sqlite3 -csv figures"), "",
        "Threads of each run, sampled from /proc/PID/status:", "", threads["sqlite"], "",
        memory_table({k.replace("rowpress ", ""): v for k, v in sqlite_results.items()},
                     {k.replace("rowpress ", ""): v for k, v in small_results.items()}), "",
    ]
    if pg_results:
        out += ["## PostgreSQL ODBC (UseDeclareFetch=1, Fetch=10000)", "",
                table(pg_results, "psql \\copy csv"), "",
                "Threads of each run, sampled from /proc/PID/status:", "", threads["pg"], "",
                memory_table({k.replace("rowpress ", ""): v for k, v in pg_results.items()},
                             {k.replace("rowpress ", ""): v for k, v in pg_small.items()}), ""]
    text = "\n".join(out)
    with open(os.path.join(WORK, "results.md"), "w") as f:
        f.write(text)
    print(text)


if __name__ == "__main__":
    main()
