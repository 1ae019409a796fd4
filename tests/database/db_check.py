"""The database tests: each batch is replayed as the client on the server ran
its log, Tavrin's scripts for it are run as the client runs them, and the two
databases must hold the same rows.

  db_check.py start STATE            start the tests' server (a ctest fixture)
  db_check.py stop STATE             stop it and remove its directory
  db_check.py SET STATE --tavrin T --batchgen G --work DIR [--examples DIR]
      SET: examples, well-formed, text-references, plain-updates, import

Without PostgreSQL or psycopg2 every test prints "Database tests skipped";
with TAVRIN_REQUIRE_DATABASE=1 it fails instead.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

import tavrin_db

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


def run_tavrin(tavrin, arguments, cwd=None, env=None):
    result = subprocess.run([tavrin] + arguments, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    return result.returncode, result.stdout.decode("utf-8", "replace")


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
    """tavrin -p -I -m -e over a generated batch, its client the stand-in that
    runs each script in the database; the tables must equal the replay's."""
    started = time.monotonic()
    work = os.path.join(args.work, "import")
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    batch = os.path.join(work, "in")
    schema_sql = open(generate(args.batchgen, "well-formed", "100K", 7, [], batch)).read()
    tavrin_db.create_schema(state, "import_replay", schema_sql)
    tavrin_db.create_schema(state, "import_scripts", schema_sql)
    problems = tavrin_db.Problems()
    tavrin_db.replay(state, "import_replay", batch, problems)
    os.makedirs(os.path.join(work, "out"))
    env = dict(os.environ, PATH=STAND_IN_DIR + os.pathsep + os.environ.get("PATH", ""),
               TAVRIN_DB_STATE=os.path.abspath(state_file))
    env.pop("TAVRIN_PASSWORD", None)
    code, console = run_tavrin(args.tavrin, ["-p", "-I", "-m", "-e", "-i", "in", "-o", "out",
                                             "-U", state["import_user"],
                                             "-P", state["import_password"],
                                             "-S", "import_scripts"], cwd=work, env=env)
    if code != 0:
        problems.add("tavrin -p -I -m -e ended with %d:\n%s" % (code, console))
    tavrin_db.compare(state, "import_replay", "import_scripts", problems)
    batches = Batches(state, args)
    batches.report("import", problems, started)
    return batches.result()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command")
    parser.add_argument("state")
    parser.add_argument("--tavrin")
    parser.add_argument("--batchgen")
    parser.add_argument("--work")
    parser.add_argument("--examples")
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

    batches = Batches(state, args)
    if args.command == "examples":
        batch = os.path.join(args.examples, "batch")
        batches.check("examples", batch, batch + ".schema")
    elif args.command == "well-formed":
        # Every line-end variant, and one larger batch.
        batches.generated("well-formed", [1], "60K", LINE_ENDS)
        batches.generated("well-formed", [2], "300K")
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
