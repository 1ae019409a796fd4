"""The database tests: each batch is replayed as the client on the server ran
its log, Tavrin's scripts for it are run as the client runs them, and the two
databases must hold the same rows.

  db_check.py start STATE            start the tests' server (a ctest fixture)
  db_check.py stop STATE             stop it and remove its directory
  db_check.py SET STATE --tavrin T --batchgen G --work DIR [--examples DIR]
      SET: examples, well-formed, text-references, plain-updates, import
  db_check.py killed-runs STATE --tavrin T --batchgen G --work DIR --kill-shim LIB
  db_check.py killed-runs-history STATE ...   the same with -H: exactly once
  db_check.py killed-runs-atomic STATE ...    the same with -A -H, some rounds refused
  db_check.py history STATE --tavrin T --batchgen G --work DIR
  db_check.py atomic STATE --tavrin T --batchgen G --work DIR   -A: whole or not at all

Without PostgreSQL or psycopg2 every test prints "Database tests skipped";
with TAVRIN_REQUIRE_DATABASE=1 it fails instead.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
import tavrin_db  # noqa: E402

STAND_IN_DIR = os.path.join(os.path.dirname(os.path.realpath(__file__)), "stand_in")

# The line-end variants of the PL/SQL check: name and generator options.
LINE_ENDS = [
    ("crlf", []),
    ("lf", ["--line-end", "lf"]),
    ("crcrlf", ["--line-end", "crcrlf"]),
    ("last-none", ["--last-line", "none"]),
    ("last-cr", ["--last-line", "cr"]),
    ("blanks", ["--blanks-after-semicolon"]),
    ("all", ["--line-end", "crcrlf", "--last-line", "cr", "--blanks-after-semicolon"]),
]


def skip_or_fail(reason):
    if os.environ.get("TAVRIN_REQUIRE_DATABASE") == "1":
        print("The database tests cannot run: %s (TAVRIN_REQUIRE_DATABASE=1)" % reason)
        return 1
    print("%s: %s" % (tavrin_db.SKIP_WORDS, reason))
    return 0


def generate(batchgen, shape, size, seed, options, directory):
    if os.path.exists(directory):
        shutil.rmtree(directory)
    schema = directory + ".schema"
    subprocess.run([batchgen, "--shape", shape, "--size", size, "--seed", str(seed),
                    "--schema", schema] + options + [directory],
                   check=True, stdout=subprocess.DEVNULL)
    return schema


def schema_name(text):
    return re.sub(r"[^a-z0-9_]", "_", text.lower())


def run_tavrin(tavrin, arguments, cwd=None, env=None, wait_for_clients=True):
    """Runs tavrin; its output and exit code. The output is a pipe, which a
    client that outlives a killed Tavrin holds open, so the run ends when its
    clients have; without `wait_for_clients` it ends with Tavrin."""
    if wait_for_clients:
        result = subprocess.run([os.path.abspath(tavrin)] + arguments, cwd=cwd, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return result.returncode, result.stdout.decode("utf-8", "replace")
    with tempfile.TemporaryFile() as output:
        code = subprocess.run([os.path.abspath(tavrin)] + arguments, cwd=cwd, env=env,
                              stdout=output, stderr=subprocess.STDOUT).returncode
        output.seek(0)
        return code, output.read().decode("utf-8", "replace")


class Batches:
    """Checks batches one by one and tells how each went."""

    def __init__(self, state, args):
        self.state = state
        self.args = args
        self.failed = []

    def check(self, name, batch, schema_file, options=()):
        """tavrin -p over `batch`, then replay, scripts' run and comparison."""
        started = time.monotonic()
        work = os.path.join(self.args.work, name)
        out = os.path.join(work, "out")
        if os.path.exists(out):
            shutil.rmtree(out)
        os.makedirs(out)
        problems = tavrin_db.Problems()
        code, console = run_tavrin(self.args.tavrin, ["-p"] + list(options) +
                                   ["-i", batch, "-o", out])
        if code != 0:
            problems.add("tavrin -p %s ended with %d:\n%s" % (" ".join(options), code, console))
        else:
            with open(schema_file) as f:
                schema_sql = f.read()
            replayed = schema_name(name) + "_replay"
            scripted = schema_name(name) + "_scripts"
            tavrin_db.create_schema(self.state, replayed, schema_sql)
            tavrin_db.create_schema(self.state, scripted, schema_sql)
            tavrin_db.replay(self.state, replayed, batch, problems)
            tavrin_db.run_scripts(self.state, scripted, out, problems)
            tavrin_db.compare(self.state, replayed, scripted, problems)
        self.report(name, problems, started)

    def report(self, name, problems, started):
        seconds = time.monotonic() - started
        if problems:
            self.failed.append(name)
            print("%s: %d problem(s) (%.1f s):" % (name, len(problems.items), seconds))
            for item in problems.items:
                print("  " + item)
        else:
            print("%s: the tables match (%.1f s)" % (name, seconds))
        sys.stdout.flush()

    def generated(self, shape, seeds, size, variants=LINE_ENDS[:1], options=()):
        for variant, generator_options in variants:
            for seed in seeds:
                name = "%s-%s-seed%d" % (shape, variant, seed)
                batch = os.path.join(self.args.work, "batches", name)
                schema = generate(self.args.batchgen, shape, size, seed, generator_options,
                                  batch)
                self.check(name, batch, schema, options)

    def result(self):
        if self.failed:
            print("Differences in: " + ", ".join(self.failed))
            return 1
        return 0


def import_end_to_end(state, state_file, args):
    """tavrin -p -I -m -e over generated batches, its client the stand-in
    that runs each script in the database; the tables must equal the
    replay's. The last batch is a well-formed one three times over, under
    other file names: its groups' scripts come in identical copies, and each
    copy is a transaction of its own."""
    batches = Batches(state, args)
    for shape, size, seed, copies in (("realistic", "150K", 5, 1), ("well-formed", "100K", 7, 1),
                                      ("well-formed", "20K", 9, 3)):
        started = time.monotonic()
        name = "import-" + shape + ("-copies" if copies > 1 else "")
        work = os.path.join(args.work, name)
        if os.path.exists(work):
            shutil.rmtree(work)
        os.makedirs(os.path.join(work, "out"))
        batch = os.path.join(work, "in")
        schema_sql = open(generate(args.batchgen, shape, size, seed, [], batch)).read()
        if copies > 1:
            names = sorted(os.listdir(batch))
            for copy in range(1, copies + 1):
                for file in names:
                    shutil.copyfile(os.path.join(batch, file),
                                    os.path.join(batch, "c%d_%s" % (copy, file)))
            for file in names:
                os.remove(os.path.join(batch, file))
        replayed, scripted = schema_name(name) + "_replay", schema_name(name) + "_scripts"
        tavrin_db.create_schema(state, replayed, schema_sql)
        tavrin_db.create_schema(state, scripted, schema_sql)
        problems = tavrin_db.Problems()
        tavrin_db.replay(state, replayed, batch, problems)
        env = dict(os.environ, PATH=STAND_IN_DIR + os.pathsep + os.environ.get("PATH", ""),
                   TAVRIN_DB_STATE=os.path.abspath(state_file))
        env.pop("TAVRIN_PASSWORD", None)
        code, console = run_tavrin(args.tavrin, ["-p", "-I", "-m", "-e", "-i", "in", "-o", "out",
                                                 "-U", state["import_user"],
                                                 "-P", state["import_password"],
                                                 "-S", scripted], cwd=work, env=env)
        if code != 0:
            problems.add("tavrin -p -I -m -e ended with %d:\n%s" % (code, console))
        if "successfully completed" not in "".join(
                open(p).read() for p in glob.glob(os.path.join(work, "Processed_*", "*.olog"))):
            problems.add("no output log shows a block that ran")
        tavrin_db.compare(state, replayed, scripted, problems)
        batches.report(name, problems, started)
    return batches.result()


_CUT_SHORT = re.compile(r"Warning: (?:\S*[/\\])?Output(\d+)\.tvr (?:\(from [^)]*\) )?was being "
                        r"imported when an earlier run stopped")


def stand_in_env(state_file):
    env = dict(os.environ, PATH=STAND_IN_DIR + os.pathsep + os.environ.get("PATH", ""),
               TAVRIN_DB_STATE=os.path.abspath(state_file))
    env.pop("TAVRIN_PASSWORD", None)
    return env


def table_rows(state, schema):
    """How many rows the batch's tables of `schema` hold."""
    # pylint: disable=protected-access
    tables, _ = tavrin_db._table_rows(state, schema)
    return sum(len(rows) for rows in tables.values())


def history_cases(state, state_file, args):
    """The import history in the database: a table that is missing stops the
    import before its first script; a history insert that fails rolls its
    script back and counts as errors."""
    batches = Batches(state, args)
    started = time.monotonic()
    work = os.path.join(args.work, "history")
    if os.path.exists(work):
        shutil.rmtree(work)
    batch = os.path.join(work, "batch")
    schema_sql = open(generate(args.batchgen, "realistic", "60K", 11, [], batch)).read()
    problems = tavrin_db.Problems()
    env = stand_in_env(state_file)

    def run(name, schema, switches):
        round_dir = os.path.join(work, name)
        os.makedirs(os.path.join(round_dir, "out"))
        shutil.copytree(batch, os.path.join(round_dir, "in"))
        return run_tavrin(args.tavrin, [switches, "-i", "in", "-o", "out",
                                        "-U", state["import_user"], "-P", state["import_password"],
                                        "-S", schema], cwd=round_dir, env=env)

    tavrin_db.create_schema(state, "history_missing", schema_sql, history=False)
    before = table_rows(state, "history_missing")  # the rows the schema starts with
    code, console = run("missing", "history_missing", "-pImeH")
    if code != 1 or "The import history TAVRIN_IMPORTS cannot be used (see " not in console:
        problems.add("a missing history table: the run ended with %d:\n%s" % (code, console))
    if "Importing data from file" in console or table_rows(state, "history_missing") != before:
        problems.add("a missing history table: scripts were imported:\n" + console)

    # The second script's history row is refused: its rows must not land,
    # the probe settles it at once, and its input files stay for the next run.
    tavrin_db.create_schema(state, "history_refused", schema_sql)
    tavrin_db.create_schema(state, "history_replay_without_2", schema_sql)
    tavrin_db.replay(state, "history_replay_without_2", batch, problems, leave_out={2})
    conn = tavrin_db.connect(state, schema="history_refused")
    conn.cursor().execute("ALTER TABLE tavrin_imports ADD CHECK (script_name <> 'Output2.tvr')")
    conn.commit()
    conn.close()
    code, console = run("refused", "history_refused", "-pImeH")
    if code != 2 or not re.search(r"Output2\.tvr (\(from [^)]*\) )?did not end cleanly and the "
                                  r"database holds none of it \(see ", console):
        problems.add("a refused history row: the run ended with %d:\n%s" % (code, console))
    left = os.listdir(os.path.join(work, "refused", "in"))
    if sorted(left) != [os.path.basename(os.fsdecode(p)) for p in
                        dict(tavrin_db.batch_groups(batch)).get(2, [])]:
        problems.add("a refused history row: the input folder holds %s" % left)
    tavrin_db.compare(state, "history_replay_without_2", "history_refused", problems)
    rows = tavrin_db.history_rows(state, "history_refused")
    if "Output2.tvr" in rows.values() or "Output1.tvr" not in rows.values():
        problems.add("a refused history row: the history holds %s" % sorted(rows.values()))
    batches.report("history (a missing table, a refused row)", problems, started)
    return batches.result()


# The headers of -A and -A -H, and of -H without -A.
ATOMIC = ["SET VERIFY OFF", "SET AUTOCOMMIT OFF", "SET EXITCOMMIT ON",
          "WHENEVER OSERROR EXIT FAILURE ROLLBACK", "WHENEVER SQLERROR EXIT FAILURE ROLLBACK"]
HISTORY_INSERT = "INSERT INTO TAVRIN_IMPORTS(IMPORT_ID, SCRIPT_NAME) VALUES ('&1', '&2');"
ATOMIC_HISTORY = ATOMIC[:3] + ["SET DEFINE ON"] + ATOMIC[3:] + [HISTORY_INSERT]
HISTORY = ["SET VERIFY OFF", "SET AUTOCOMMIT OFF", "SET DEFINE ON",
           "WHENEVER SQLERROR EXIT FAILURE ROLLBACK", HISTORY_INSERT,
           "WHENEVER SQLERROR CONTINUE NONE"]


def stand_in_transactions(state, state_file, work, problems):
    """The stand-in client ends a script's transaction as the client does:
    each header's WHENEVER lines, a refused PL/SQL block or plain statement,
    and EXIT with EXITCOMMIT on and off. A row n >= 100 is refused."""
    def block(n):
        return ["BEGIN", "\tINSERT INTO t(n) VALUES (%d);" % n, "END;", "/"]

    def plain(n):
        return ["INSERT INTO t(n) VALUES (%d);" % n]
    # name, lines before EXIT, exit status, rows kept, history row kept
    cases = [
        ("-A, a block refused", ATOMIC + block(1) + block(200) + block(3), 1, [], False),
        ("-A, a plain statement refused", ATOMIC + plain(1) + block(2) + plain(200) + block(3),
         1, [], False),
        ("-A, clean", ATOMIC + block(1) + plain(2), 0, [1, 2], False),
        ("-A -H, refused", ATOMIC_HISTORY + block(1) + block(200) + block(3), 1, [], False),
        ("-A -H, clean", ATOMIC_HISTORY + block(1) + plain(2), 0, [1, 2], True),
        ("-H, the refused block rolls back alone", HISTORY + block(1) + block(200) + plain(3),
         0, [1, 3], True),
        ("no header", block(1) + plain(200) + block(3), 0, [1, 3], False),
        ("EXITCOMMIT OFF", ["SET EXITCOMMIT OFF"] + block(1), 0, [], False),
        ("CONTINUE ROLLBACK", ["WHENEVER SQLERROR CONTINUE ROLLBACK"] + block(1) + block(200) +
         block(3), 0, [3], False),
    ]
    conn = tavrin_db.connect(state)
    conn.autocommit = True
    cur = conn.cursor()
    cur.execute("DROP SCHEMA IF EXISTS stand_in CASCADE")
    cur.execute("CREATE SCHEMA stand_in")
    cur.execute("CREATE TABLE stand_in.t (n integer CHECK (n < 100))")
    cur.execute(tavrin_db.HISTORY_SQL.replace("TABLE ", "TABLE stand_in.", 1))
    script = os.path.join(work, "stand_in.tvr")
    for name, lines, status, rows, history in cases:
        cur.execute("DELETE FROM stand_in.t; DELETE FROM stand_in.tavrin_imports")
        with open(script, "w", newline="") as f:
            f.write("\r\n".join(lines + ["EXIT"]))
        result = subprocess.run([os.path.join(STAND_IN_DIR, "sqlplus"), "-L",
                                 "%s@stand_in" % state["import_user"], "@" + script, "id1",
                                 "stand_in.tvr"], input=state["import_password"] + "\n",
                                stdout=subprocess.PIPE, text=True,
                                env=dict(os.environ, TAVRIN_DB_STATE=os.path.abspath(state_file)))
        cur.execute("SELECT n FROM stand_in.t ORDER BY n")
        kept = [n for (n,) in cur.fetchall()]
        recorded = tavrin_db.history_rows(state, "stand_in") == {"id1": "stand_in.tvr"}
        errors = result.stdout.count("\nORA-")  # the report of the refused row, if any
        if (result.returncode, kept, recorded, errors) != (status, rows, history,
                                                           int("(200)" in "".join(lines))):
            problems.add("stand-in, %s: status %d, rows %s, history %s, %d error(s):\n%s" % (
                name, result.returncode, kept, recorded, errors, result.stdout))
    conn.close()


def refusal(state, replay_schema, group):
    """A check constraint that refuses the latest action row of the last
    transaction of `group`, found in the replay, by an ObjectID no other row
    has: in the default layout, a block after the group's first."""
    conn = tavrin_db.connect(state, schema=replay_schema)
    cur = conn.cursor()
    cur.execute("SELECT objectid FROM tbl_actions a WHERE tavrin_group = %s AND "
                "(SELECT count(*) FROM tbl_actions b WHERE b.objectid = a.objectid) = 1 "
                "ORDER BY transactionid DESC NULLS LAST, at DESC LIMIT 1", (group,))
    (objectid,) = cur.fetchone()
    conn.close()
    return "ALTER TABLE tbl_actions ADD CONSTRAINT refused CHECK (objectid <> %s)" % objectid


def atomic_cases(state, state_file, args):
    """-A in the database: the stand-in's transactions, then a batch of six
    groups whose third the database refuses, in each layout. The first run
    lands groups 1 and 2 alone and keeps the input files of 3 to 6; once
    the constraint is dropped, the second lands the rest."""
    batches = Batches(state, args)
    started = time.monotonic()
    work = os.path.join(args.work, "atomic")
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    problems = tavrin_db.Problems()
    stand_in_transactions(state, state_file, work, problems)
    batches.report("the stand-in's transactions", problems, started)

    started = time.monotonic()
    problems = tavrin_db.Problems()
    batch = os.path.join(work, "batch")
    schema_sql = open(generate(args.batchgen, "well-formed", "60K", 2, [], batch)).read()
    groups = tavrin_db.batch_groups(batch)
    for _, paths in groups[6:]:
        for path in paths:
            os.remove(path)
    if [g for g, _ in groups[:6]] != list(range(1, 7)):
        problems.add("the batch's groups are %s" % [g for g, _ in groups])
    kept = sorted(os.path.basename(os.fsdecode(p)) for _, paths in groups[2:6] for p in paths)
    tavrin_db.create_schema(state, "atomic_replay", schema_sql)
    tavrin_db.replay(state, "atomic_replay", batch, problems)
    tavrin_db.create_schema(state, "atomic_replay_1_2", schema_sql)
    tavrin_db.replay(state, "atomic_replay_1_2", batch, problems, leave_out={3, 4, 5, 6})
    constraint = refusal(state, "atomic_replay", 3)
    env = stand_in_env(state_file)
    for name, switches in (("default", "-pImeA"), ("history", "-pImeAH"),
                           ("read-order-history", "-pImeARH")):
        where = "%s (%s): " % (name, switches)
        round_dir = os.path.join(work, name)
        os.makedirs(os.path.join(round_dir, "out"))
        shutil.copytree(batch, os.path.join(round_dir, "in"))
        schema = schema_name("atomic_" + name)
        tavrin_db.create_schema(state, schema, schema_sql)
        conn = tavrin_db.connect(state, schema=schema)
        conn.cursor().execute(constraint)
        conn.commit()
        arguments = [switches, "-i", "in", "-o", "out", "-U", state["import_user"],
                     "-P", state["import_password"], "-S", schema]
        code, console = run_tavrin(args.tavrin, arguments, cwd=round_dir, env=env)
        if code != 2 or not re.search(r"Output3\.tvr (\(from [^)]*\) )?was refused by the "
                                      r"database and rolled back: ORA-", console):
            problems.add(where + "the first run ended with %d:\n%s" % (code, console))
        tavrin_db.compare(state, "atomic_replay_1_2", schema, problems)
        # Blocks of group 3 ran before the refused row, and were rolled back.
        logs = glob.glob(os.path.join(round_dir, "Processed_*", "import3_*.olog"))
        if "R" not in switches and not any(
                "successfully completed" in open(log).read().split("\nORA-")[0] for log in logs):
            problems.add(where + "no block ran before the refused row: %s" % logs)
        left = sorted(os.listdir(os.path.join(round_dir, "in")))
        if left != kept:
            problems.add(where + "after the first run the input folder holds %s, not %s" % (
                left, kept))
        conn.cursor().execute("ALTER TABLE tbl_actions DROP CONSTRAINT refused")
        conn.commit()
        conn.close()
        code, console = run_tavrin(args.tavrin, arguments, cwd=round_dir, env=env)
        if code != 0:
            problems.add(where + "the second run ended with %d:\n%s" % (code, console))
        tavrin_db.compare(state, "atomic_replay", schema, problems)
        if os.listdir(os.path.join(round_dir, "in")):
            problems.add(where + "input files left after the second run: %s" % os.listdir(
                os.path.join(round_dir, "in")))
    batches.report("six groups, the third refused (three layouts)", problems, started)
    return batches.result()


def far_folder(work):
    """A folder on another file system than `work`, for an input folder whose
    files the backup must copy: /dev/shm when its device differs, otherwise a
    tmpfs mounted under `work` when that succeeds. Returns (folder, undo), or
    (None, the reason) when there is none."""
    device = os.stat(work).st_dev
    if os.path.isdir("/dev/shm") and os.stat("/dev/shm").st_dev != device:
        folder = tempfile.mkdtemp(prefix="tavrin-killed-", dir="/dev/shm")
        return folder, lambda: shutil.rmtree(folder, ignore_errors=True)
    mount = os.path.join(work, "tmpfs")
    os.makedirs(mount, exist_ok=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "tmpfs", mount], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode == 0
    if mounted and os.stat(mount).st_dev != device:
        return mount, lambda: subprocess.run(["umount", mount])
    return None, "/dev/shm is on the work folder's file system and no tmpfs could be mounted"


def killed_runs(state, state_file, args, history=False, atomic=False):
    """Runs of tavrin -pIme killed during the import, each followed by a
    second run. Tavrin is killed before a chosen C library call, or its
    client kills both in the middle of a script, as in a crash; either way
    the client dies with Tavrin and the database rolls back its open
    transaction. Afterwards no row may be in the
    database twice, and rows may be missing only from scripts that the
    second run warned were cut short.

    With `history` both runs add -H, and every table must equal an
    uninterrupted run: exactly once, and no script warned as cut short. One
    round more holds the client of a script killed in its wait back before
    its logon until the second run's probe has run: a client started outside
    Tavrin, which outlives it, so that the history's fence is still tried.

    With `atomic` both runs give -A -H, at the kill points of a clean -A -H
    run, and every second round has a check constraint that refuses a row of
    the middle script's group: its second run stops there, and the tables
    equal the replay of the groups before it, with the input files of that
    group and every later one left in the input folder.

    Without `history` the input folder is on another file system than the
    backup (see far_folder), so that the kills among the moves stop a copy:
    between the copy and the removal of its original, say. Without one, that
    case alone is skipped with a note."""
    started = time.monotonic()
    history = history or atomic
    switches = "-pImeAH" if atomic else "-pImeH" if history else "-pIme"
    # Of the schemas: each variant its own, so that ctest -j may run them side by side.
    prefix = "atomic_killed" if atomic else "history_killed" if history else "killed"
    work = os.path.join(args.work, "killed-atomic" if atomic else
                        "killed-history" if history else "killed")
    shim = os.path.abspath(args.kill_shim)
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    batch = os.path.join(work, "batch")
    schema_sql = open(generate(args.batchgen, "realistic", "150K", 3, [], batch)).read()
    problems = tavrin_db.Problems()
    replayed = prefix + "_replay"
    tavrin_db.create_schema(state, replayed, schema_sql)
    tavrin_db.replay(state, replayed, batch, problems)
    base_env = dict(os.environ, PATH=STAND_IN_DIR + os.pathsep + os.environ.get("PATH", ""),
                    TAVRIN_DB_STATE=os.path.abspath(state_file))
    base_env.pop("TAVRIN_PASSWORD", None)
    rounds = []
    retried_with = {}  # rounds whose second run has other switches -> those switches
    without = {}  # groups cut short -> the replay's schema without them
    cut_short = rolled_back = 0
    refused = {}  # rounds with the check constraint
    far, undo = (None, None) if history else far_folder(work)
    if not history and far is None:
        print("Note: the cross-device input folder case is skipped: %s" % undo)
        undo = None

    def input_folder(name):
        return os.path.join(far, name, "in") if far else os.path.join(work, name, "in")

    def run_round(name, kill_env):
        """Two runs over a fresh copy of the batch: the first with `kill_env`."""
        round_dir = os.path.join(work, name)
        os.makedirs(os.path.join(round_dir, "out"))
        os.makedirs(os.path.join(round_dir, "cwd"))
        shutil.copytree(batch, input_folder(name))
        schema = schema_name(prefix + "_" + name)
        tavrin_db.create_schema(state, schema, schema_sql)
        if name in refused:
            conn = tavrin_db.connect(state, schema=schema)
            conn.cursor().execute(refused[name])
            conn.commit()
            conn.close()
        arguments = [switches, "-i", input_folder(name), "-o",
                     os.path.join(round_dir, "out"), "-U", state["import_user"],
                     "-P", state["import_password"], "-S", schema]
        first = run_tavrin(args.tavrin, arguments, cwd=os.path.join(round_dir, "cwd"),
                           env=dict(base_env, **kill_env),
                           wait_for_clients="TAVRIN_DB_HOLD" not in kill_env)
        second = run_tavrin(args.tavrin, [retried_with.get(name, arguments[0])] + arguments[1:],
                            cwd=os.path.join(round_dir, "cwd"),
                            env=dict(base_env, TAVRIN_DB_PROBED=os.path.join(round_dir, "probed")))
        hold = kill_env.get("TAVRIN_DB_HOLD")
        if hold:
            # The held client runs to its end once the probe has run.
            done = hold.partition(":")[2] + ".done"
            for _ in range(1200):
                if os.path.exists(done):
                    break
                time.sleep(0.05)
            if not os.path.exists(done):
                problems.add(name + ": the held client never ended")
        return round_dir, schema, first, second

    # The clean run names the calls, and must leave the replay's rows.
    _, schema, clean, _ = run_round("clean", {"TAVRIN_KILL_TRACE": os.path.join(work, "trace"),
                                              "LD_PRELOAD": shim})
    if clean[0] != 0:
        problems.add("the clean run ended with %d:\n%s" % clean)
    tavrin_db.compare(state, replayed, schema, problems)
    with open(os.path.join(work, "trace")) as f:
        calls = f.read().split()
    scripts = re.findall(r"Importing data from file == (Output\d+\.tvr)==", clean[1])
    if not scripts:
        problems.add("the clean run imported no script:\n" + clean[1])
        scripts = ["none"]

    # Tavrin killed: before each start of the client, while it waits for it,
    # at the journal's syncs around the first and last script, and at the
    # moves after the import.
    forks = [i + 1 for i, c in enumerate(calls) if c == "fork"]
    waits = [i + 1 for i, c in enumerate(calls) if c == "waitpid"]
    syncs = [i + 1 for i, c in enumerate(calls) if c == "fsync"]
    renames = [i + 1 for i, c in enumerate(calls) if c in ("rename", "renameat2")]
    # Among the moves: the last rename, and the first removal of the
    # backup, which (across file systems) comes between an input file's copy
    # and the removal of its original.
    removals = [i + 1 for i, c in enumerate(calls) if c == "unlink" and i + 1 > (waits or [0])[-1]]
    points = set(forks[::2] + waits[1::2] + syncs[:3] + syncs[-3:] + renames[-1:] +
                 (removals[:1] or renames[-2:-1]))
    for k in sorted(points):
        rounds.append(("killed-%d-%s" % (k, calls[k - 1]),
                       {"LD_PRELOAD": shim, "TAVRIN_KILL_AT": str(k)}))
    # Together: in the first, a middle and the last script, before its first
    # block, after one, and right after its commit.
    for script in sorted({scripts[0], scripts[len(scripts) // 2], scripts[-1]}):
        for at in ("0", "1", "exit"):
            rounds.append(("together-%s-%s" % (script, at),
                           {"TAVRIN_DB_CRASH": "%s:%s" % (script, at)}))
    if history:
        # Killed while it waits for the middle script's client, which has not
        # logged on yet when the second run probes its id: a client started
        # apart from the process Tavrin started, which kills Tavrin.
        middle = scripts[len(scripts) // 2]
        probed = os.path.join(work, "held-" + middle, "probed")
        rounds.append(("held-" + middle, {"TAVRIN_DB_HOLD": "%s:%s" % (middle, probed)}))

    if history:
        # Retried without -H, so that every script is other bytes: the import
        # the crash rolled back is settled by the probe all the same, and
        # imported once; never skipped as imported before as other bytes.
        name = "other-switches-%s-1" % scripts[len(scripts) // 2]
        rounds.append((name, {"TAVRIN_DB_CRASH": "%s:1" % scripts[len(scripts) // 2]}))
        retried_with[name] = "-pIme"
    if atomic:
        rounds = [r for r in rounds if r[0] not in retried_with]
        group = int(re.search(r"\d+", middle).group())
        later = [(g, paths) for g, paths in tavrin_db.batch_groups(batch) if g >= group]
        kept = sorted(os.path.basename(os.fsdecode(p)) for _, paths in later for p in paths)
        landed = prefix + "_landed"
        tavrin_db.create_schema(state, landed, schema_sql)
        tavrin_db.replay(state, landed, batch, problems, leave_out={g for g, _ in later})
        refused.update((name, refusal(state, replayed, group)) for name, _ in rounds[1::2]
                       if not name.startswith("held-"))

    for name, kill_env in rounds:
        round_dir, schema, first, second = run_round(name, kill_env)
        where = "%s%s: " % (name, " (refused)" if name in refused else "")
        before = len(problems.items)
        # With the constraint, a kill point after the refused script may
        # not be reached.
        if first[0] not in ((-9, 137, 2) if name in refused else (-9, 137)):
            problems.add(where + "the first run was not killed (%d):\n%s" % first)
        if name in refused and second[0] != 2:
            problems.add(where + "the second run ended with %d:\n%s" % second)
        # With every input moved by the first run, the second finds none.
        if second[0] not in (0, 2) and not (
                second[0] == 1 and "Unable to find target sql files" in second[1]):
            problems.add(where + "the second run ended with %d:\n%s" % second)
        # Every input file once, in its backup directory, and no copy left.
        left = sorted(os.listdir(input_folder(name)))
        if left != (kept if name in refused else []):
            problems.add(where + "input files left after the second run: %s" % left)
        for backup in glob.glob(os.path.join(round_dir, "cwd", "Processed_*")):
            copies = [f for f in os.listdir(backup) if f.endswith(".tavrin-copy")]
            if copies:
                problems.add(where + "copies left in %s: %s" % (backup, copies))
        cut = frozenset(int(g) for g in _CUT_SHORT.findall(second[1]))
        if name in retried_with and (cut or "the database holds none of it; importing it again"
                                     not in second[1]):
            problems.add(where + "the retry did not settle the import cut short:\n" + second[1])
        # A script runs in one transaction: a script cut short is in the
        # database whole (its client ran on, or died after its commit) or
        # not at all.
        found = tavrin_db.Problems()
        tavrin_db.compare(state, landed if name in refused else replayed, schema, found)
        cut_short += bool(cut)
        if found and cut:
            rolled_back += 1
            if cut not in without:
                without[cut] = prefix + "_without_" + "_".join(str(g) for g in sorted(cut))
                tavrin_db.create_schema(state, without[cut], schema_sql)
                tavrin_db.replay(state, without[cut], batch, problems, leave_out=cut)
            found = tavrin_db.Problems()
            tavrin_db.compare(state, without[cut], schema, found)
        for item in found.items:
            problems.add(where + item)
        if len(problems.items) == before:
            shutil.rmtree(round_dir)
            if far:
                shutil.rmtree(os.path.join(far, name), ignore_errors=True)
    if undo:
        undo()
    batches = Batches(state, args)
    batches.report("killed runs (%d rounds, %d refused, %d with a script cut short, %d of those "
                   "not in the database)" % (len(rounds), len(refused), cut_short, rolled_back),
                   problems, started)
    return batches.result()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command")
    parser.add_argument("state")
    parser.add_argument("--tavrin")
    parser.add_argument("--batchgen")
    parser.add_argument("--work")
    parser.add_argument("--examples")
    parser.add_argument("--kill-shim")
    args = parser.parse_args()

    if args.command == "stop":
        tavrin_db.stop_cluster(args.state)
        return 0
    reason = tavrin_db.missing_reason()
    if reason:
        return skip_or_fail(reason)
    if args.command == "start":
        tavrin_db.start_cluster(args.state)
        print("PostgreSQL started, state in %s" % args.state)
        return 0
    if not os.path.exists(args.state):
        print("The tests' server is not running: no %s" % args.state)
        return 1
    state = tavrin_db.load_state(args.state)
    os.makedirs(args.work, exist_ok=True)
    if args.command == "import":
        return import_end_to_end(state, args.state, args)
    if args.command == "killed-runs":
        return killed_runs(state, args.state, args)
    if args.command == "killed-runs-history":
        return killed_runs(state, args.state, args, history=True)
    if args.command == "killed-runs-atomic":
        return killed_runs(state, args.state, args, atomic=True)
    if args.command == "history":
        return history_cases(state, args.state, args)
    if args.command == "atomic":
        return atomic_cases(state, args.state, args)

    batches = Batches(state, args)
    if args.command == "examples":
        batch = os.path.join(args.examples, "batch")
        batches.check("examples", batch, batch + ".schema")
    elif args.command == "well-formed":
        # The PL/SQL check's batches: each line-end variant with two seeds of
        # its own, the first batch larger.
        for i, variant in enumerate(LINE_ENDS):
            for seed in (2 * i + 1, 2 * i + 2):
                batches.generated("well-formed", [seed], "300K" if seed == 1 else "60K",
                                  [variant])
    elif args.command == "text-references":
        batches.generated("text-references", [1, 2, 3], "150K")
        batches.generated("text-references", [4], "60K", LINE_ENDS[1:3])
    elif args.command == "plain-updates":
        batches.generated("plain-updates", range(1, 11), "60K", options=["-R"])
    else:
        print("unknown command " + args.command)
        return 2
    return batches.result()


if __name__ == "__main__":
    sys.exit(main())
