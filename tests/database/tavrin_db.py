"""The database tests' harness: a PostgreSQL cluster of the tests' own, a log
replayed as the client on the server ran it, Tavrin's scripts run as the
client runs them, and the two databases compared table by table.

Run by /usr/bin/python3 (Debian's, for its python3-psycopg2); see db_check.py
for the tests and stand_in/sqlplus for the client stand-in of the import.
"""

import collections
import glob
import json
import os
import pwd
import re
import secrets
import shutil
import subprocess
import tempfile

SKIP_WORDS = "Database tests skipped"

try:
    import psycopg2
except ImportError:  # reported by missing_reason()
    psycopg2 = None


# --- The cluster -----------------------------------------------------------

def _postgres_bin():
    """The directory that holds initdb, pg_ctl and postgres, or None."""
    for directory in sorted(glob.glob("/usr/lib/postgresql/*/bin"), reverse=True):
        if all(os.access(os.path.join(directory, tool), os.X_OK)
               for tool in ("initdb", "pg_ctl", "postgres")):
            return directory
    initdb = shutil.which("initdb")
    if initdb and shutil.which("pg_ctl"):
        return os.path.dirname(os.path.realpath(initdb))
    return None


def missing_reason():
    """Why the database tests cannot run here, or an empty string."""
    if psycopg2 is None:
        return "python3-psycopg2 is missing (Debian package python3-psycopg2)"
    if _postgres_bin() is None:
        return "PostgreSQL's initdb and pg_ctl were not found (Debian package postgresql-15)"
    return ""


def _as_server_user():
    """How to start a PostgreSQL tool: it refuses to run as root, so root
    runs it as nobody. Returns (command prefix, uid, gid)."""
    if os.geteuid() != 0:
        return [], None, None
    nobody = pwd.getpwnam("nobody")
    prefix = ["setpriv", "--reuid=%d" % nobody.pw_uid, "--regid=%d" % nobody.pw_gid,
              "--clear-groups", "--"]
    return prefix, nobody.pw_uid, nobody.pw_gid


def _run_tool(prefix, command, cwd):
    result = subprocess.run(prefix + command, cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d):\n%s" % (" ".join(command), result.returncode,
                                                     result.stdout))


def start_cluster(state_file):
    """initdb into a new temporary directory and starts the server there, on
    a Unix socket only. Writes what the tests need to `state_file`."""
    stop_cluster(state_file)  # one left by a run that was interrupted
    bin_dir = _postgres_bin()
    prefix, uid, gid = _as_server_user()
    # The server's user must reach its directory: not through a private
    # TMPDIR of root's.
    base = tempfile.mkdtemp(prefix="tavrin-pg-", dir="/tmp" if uid is not None else None)
    password = secrets.token_hex(12)
    pwfile = os.path.join(base, "password")
    with open(pwfile, "w") as out:
        out.write(password + "\n")
    if uid is not None:
        os.chown(base, uid, gid)
        os.chown(pwfile, uid, gid)
    os.chmod(base, 0o711)
    data = os.path.join(base, "data")
    state = {"base": base, "data": data, "bin": bin_dir, "socket": base,
             "user": "tavrin", "password": password, "database": "tavrin",
             "import_user": "tavrin_import", "import_password": secrets.token_hex(12)}
    # Written first, so that a failed start is still cleaned up.
    with open(state_file, "w") as out:
        json.dump(state, out)
    _run_tool(prefix, [os.path.join(bin_dir, "initdb"), "-D", data, "-U", "tavrin",
                       "--auth=scram-sha-256", "--pwfile=" + pwfile, "-E", "UTF8",
                       "--locale=C", "--no-sync"], base)
    os.remove(pwfile)
    with open(os.path.join(data, "postgresql.conf"), "a") as conf:
        conf.write("\n# The tests' own server: no TCP, and no waiting for the disk.\n"
                   "listen_addresses = ''\n"
                   "unix_socket_directories = '%s'\n"
                   "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n" % base)
    server_log = os.path.join(base, "server.log")
    try:
        _run_tool(prefix, [os.path.join(bin_dir, "pg_ctl"), "-D", data, "-l", server_log,
                           "-w", "-t", "60", "start"], base)
    except RuntimeError as error:
        if os.path.exists(server_log):
            with open(server_log) as log:
                raise RuntimeError("%s\nThe server's log:\n%s" % (error, log.read())) from None
        raise
    conn = connect(state, "postgres")
    conn.autocommit = True
    conn.cursor().execute("CREATE DATABASE tavrin")
    # The user that Tavrin's import logs on as, through the stand-in client.
    conn.cursor().execute("CREATE ROLE tavrin_import LOGIN SUPERUSER PASSWORD %s",
                          (state["import_password"],))
    conn.close()
    return state


def stop_cluster(state_file):
    """Stops the server that `state_file` names and removes its directory."""
    if not os.path.exists(state_file):
        return
    with open(state_file) as f:
        state = json.load(f)
    base = state.get("base")
    if base and os.path.isdir(state["data"]):
        prefix, _, _ = _as_server_user()
        subprocess.run(prefix + [os.path.join(state["bin"], "pg_ctl"), "-D", state["data"],
                                 "-m", "fast", "-w", "stop"], cwd=base,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if base:
        shutil.rmtree(base, ignore_errors=True)
    os.remove(state_file)


def load_state(state_file):
    with open(state_file) as f:
        return json.load(f)


def connect(state, database=None, user=None, password=None, schema=None):
    options = "-c search_path=%s" % schema if schema else ""
    return psycopg2.connect(host=state["socket"], dbname=database or state["database"],
                            user=user or state["user"],
                            password=state["password"] if password is None else password,
                            options=options)


# The import history that scripts written with -H record their import in, as
# the database's owner creates it. It is no table of the batch: the
# comparison leaves it out.
HISTORY_TABLE = "tavrin_imports"
HISTORY_SQL = ("CREATE TABLE tavrin_imports (import_id varchar(32) NOT NULL PRIMARY KEY, "
               "script_name varchar(260) NOT NULL, imported_at timestamp DEFAULT now() NOT NULL)")


def create_schema(state, name, schema_sql, history=True):
    """A fresh schema `name` holding the tables and sequences of `schema_sql`,
    and the import history unless `history` is false. Every table of the
    batch gets a column tavrin_group: the group whose session wrote the row,
    which a difference names."""
    conn = connect(state)
    conn.autocommit = True
    cur = conn.cursor()
    cur.execute("DROP SCHEMA IF EXISTS %s CASCADE" % name)
    cur.execute("CREATE SCHEMA %s" % name)
    cur.execute("SET search_path TO %s" % name)
    cur.execute(translate(schema_sql))
    cur.execute("SELECT table_name FROM information_schema.tables WHERE table_schema = %s",
                (name,))
    for (table,) in cur.fetchall():
        cur.execute("ALTER TABLE %s ADD COLUMN tavrin_group integer "
                    "DEFAULT NULLIF(current_setting('tavrin.group', true), '')::integer" % table)
    if history:
        cur.execute(HISTORY_SQL)
    conn.close()


def history_rows(state, schema):
    """{import_id: script_name} of the schema's import history."""
    conn = connect(state, schema=schema)
    cur = conn.cursor()
    cur.execute("SELECT import_id, script_name FROM tavrin_imports")
    rows = dict(cur.fetchall())
    conn.close()
    return rows


# --- The translation into PostgreSQL ---------------------------------------

_QUOTED = re.compile(r"('(?:[^'\n]|'')*')")
_TOKEN = re.compile(r"'(?:[^'\n]|'')*'|[A-Za-z_][A-Za-z0-9_$#]*(?:\([^()]*\))?"
                    r"|\d+(?:\.\d+)?|\|\||\s+|.", re.S)


def _translate_words(text):
    text = re.sub(r"\b([A-Za-z_][A-Za-z0-9_$#]*)\.NEXTVAL\b", r"nextval('\1')", text)
    text = re.sub(r"\b([A-Za-z_][A-Za-z0-9_$#]*)\.CURRVAL\b", r"currval('\1')", text)
    text = text.replace(" FROM DUAL", "")
    text = re.sub(r"\bVARCHAR2\b", "varchar", text)
    text = re.sub(r"\bDUP_VAL_ON_INDEX\b", "unique_violation", text)
    return re.sub(r"\bNUMBER\b", "numeric", text)


def translate(text):
    """Oracle's forms that Tavrin's scripts and the logs use, in PostgreSQL's:
    sequences as functions, no DUAL, numeric for NUMBER, and the operands of
    || cast to text. Quoted texts are left alone."""
    pieces = _QUOTED.split(text)
    text = "".join(p if i % 2 else _translate_words(p) for i, p in enumerate(pieces))
    if "||" not in text:
        return text
    tokens = _TOKEN.findall(text)
    wrap = set()
    for i, token in enumerate(tokens):
        if token != "||":
            continue
        for step in (-1, 1):
            j = i + step
            while 0 <= j < len(tokens) and tokens[j].isspace():
                j += step
            if 0 <= j < len(tokens):
                wrap.add(j)
    return "".join("CAST(%s AS text)" % t if i in wrap else t for i, t in enumerate(tokens))


# --- The log, as the client on the server ran it ---------------------------

def last_value_rejected(line):
    """Tavrin's check of a statement's last value: empty or NULL."""
    close = line.rfind(")")
    if close < 0:
        return False
    comma = line.rfind(",", 0, close)
    if comma < 0:
        return False
    value = line[comma + 1:close].strip(" ")
    return value == "" or value == "NULL"


_REFERENCE = re.compile(r"&&?identity_\d+")


def joined_reference(line):
    """A reference outside a quoted text followed by "." and a letter, digit
    or "_": the client would join its value with what follows."""
    position = 0
    while position < len(line):
        quote = line.find("'", position)
        close = line.find("'", quote + 1) if quote >= 0 else -1
        while close >= 0 and line.startswith("''", close):
            close = line.find("'", close + 2)
        outside = line[position:quote] if quote >= 0 and close >= 0 else line[position:]
        for match in _REFERENCE.finditer(outside):
            rest = outside[match.end():]
            if len(rest) >= 2 and rest[0] == "." and (rest[1].isalnum() or rest[1] == "_"):
                return True
        if quote < 0 or close < 0:
            return False
        position = close + 1
    return False


def _identity_key(line, whole_digits_only=False):
    at = line.find("identity_")
    if at < 0:
        return None
    end = at + len("identity_")
    if not whole_digits_only and end < len(line):
        end += 1  # the reference line's key takes one character, then digits
    while end < len(line) and line[end].isdigit():
        end += 1
    return line[at:end]


def batch_groups(batch_dir):
    """The batch's *.sql files in Tavrin's groups: a list of (group, [paths])."""
    names = sorted(n for n in os.listdir(os.fsencode(batch_dir)) if n.endswith(b".sql"))
    groups = []
    group = 0
    for name in names:
        path = os.path.join(os.fsencode(batch_dir), name)
        with open(path, "rb") as f:
            for raw in f.read().split(b"\n"):
                if b"COLUMN identity_" not in raw:
                    continue
                at = raw.find(b"identity_") + len(b"identity_")
                end = at
                while end < len(raw) and raw[end:end + 1].isdigit():
                    end += 1
                if raw[at:end] == b"1":
                    group += 1
                break
        if not groups or groups[-1][0] != group:
            groups.append((group, []))
        groups[-1][1].append(path)
    return groups


def _lines(path):
    with open(path, "rb") as f:
        data = f.read().decode("utf-8", "surrogateescape")
    lines = data.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


class Problems:
    """What went wrong, each with where; printed at the end."""

    def __init__(self):
        self.items = []

    def add(self, text):
        self.items.append(text)

    def __bool__(self):
        return bool(self.items)


def replay(state, schema, batch_dir, problems, leave_out=()):
    """Runs each group of the batch in one session, line by line in read
    order, as the client ran the log, leaving out what Tavrin skips by rule
    (and the groups in `leave_out`)."""
    for group, paths in batch_groups(batch_dir):
        if group in leave_out:
            continue
        conn = connect(state, schema=schema)
        conn.autocommit = True
        cur = conn.cursor()
        cur.execute("SELECT set_config('tavrin.group', '%d', false)" % group)
        declared = set()
        # Login rows find their identity when the group is complete.
        declared_in_group = set()
        for path in paths:
            for line in _lines(path):
                if "COLUMN" in line and "identity_" in line and not (
                        "tbl_Authentications(" in line or "tbl_Transactions(" in line):
                    space = line.find(" ", line.find("identity_"))
                    if space >= 0:
                        declared_in_group.add(line[line.find("identity_"):space])
        armed = {}
        values = {}
        for path in paths:
            name = os.path.basename(os.fsdecode(path))
            for number, line in enumerate(_lines(path), 1):
                statement = line.rstrip("\r \t")
                if not statement.strip() or last_value_rejected(line):
                    continue
                if "tbl_Authentications(" in line:
                    key = _identity_key(line, whole_digits_only=True)
                    if key is not None and key not in declared_in_group:
                        continue
                elif "identity_" not in line or "tbl_Transactions(" in line:
                    pass
                elif "COLUMN" in line:
                    space = line.find(" ", line.find("identity_"))
                    if space >= 0:
                        declared.add(line[line.find("identity_"):space])
                    words = statement.split()
                    if len(words) >= 4 and words[2].upper() == "NEW_VALUE":
                        armed[words[1].lower()] = words[3]
                    continue
                elif _identity_key(line) not in declared:
                    continue
                if joined_reference(line):
                    continue
                where = "group %d, %s line %d" % (group, name, number)

                def substitute(match):
                    if match.group(1) not in values:
                        raise KeyError(match.group(1))
                    return values[match.group(1)]
                try:
                    text = re.sub(r"&&?([A-Za-z0-9_$#]+)\.?", substitute, statement)
                except KeyError as error:
                    problems.add("replay, %s: &%s has no value: %s" % (where, error.args[0],
                                                                      statement))
                    continue
                try:
                    cur.execute(translate(text))
                except psycopg2.Error as error:
                    problems.add("replay, %s: %s: %s" % (where, str(error).strip(), text))
                    continue
                if cur.description:
                    row = cur.fetchone()
                    for i, column in enumerate(cur.description):
                        target = armed.get(column.name.lower())
                        if target is not None and row is not None and row[i] is not None:
                            values[target] = str(row[i])
        conn.close()


# --- Tavrin's scripts, as the client runs them -----------------------------

_ARGUMENT = re.compile(r"&(\d+)")
_PUT_LINE = re.compile(r"\bDBMS_OUTPUT\.PUT_LINE\((.*)\);")
_COMMIT_LINE = re.compile(r"^\s*COMMIT\s*;\s*$", re.I | re.M)
_PLAIN_SQL = re.compile(r"^(INSERT|UPDATE|DELETE|SELECT)\b.*;$", re.I | re.S)


class ScriptRun:
    """One script run in one session and one transaction, committed at EXIT;
    each PL/SQL block runs inside a savepoint, so that a failing block rolls
    back alone. `report(block, error)` hears of each block (error None when
    it succeeded), and of each plain SQL statement that fails.

    The client's script arguments `arguments` replace &1, &2, ... in every
    line. WHENEVER SQLERROR EXIT [status] [COMMIT|ROLLBACK] makes a failing
    statement or block end the run, after its error report, with that
    status (SUCCESS 0, FAILURE 1, WARNING 2 or a number) and that end of the
    transaction (by default the one EXIT takes); WHENEVER SQLERROR CONTINUE
    [COMMIT|ROLLBACK|NONE] undoes it. WHENEVER OSERROR is accepted: the
    stand-in meets no OS errors. EXIT commits, or rolls back after SET
    EXITCOMMIT OFF or with its own ROLLBACK. DBMS_OUTPUT.PUT_LINE's lines go
    to `output(line)`, and a block's own COMMIT commits the session once the
    block is done. After run(), `status` is the client's exit status."""

    def __init__(self, conn, report, arguments=(), output=None):
        self.conn = conn
        self.report = report
        self.arguments = list(arguments)
        self.output = output or (lambda line: None)
        self.on_error = None  # the words after WHENEVER SQLERROR EXIT, while it holds
        self.after_error = "NONE"  # what WHENEVER SQLERROR CONTINUE does
        self.exit_commit = True
        self.status = 0

    def _substitute(self, line):
        def argument(match):
            n = int(match.group(1))
            return self.arguments[n - 1] if 0 < n <= len(self.arguments) else match.group(0)
        return _ARGUMENT.sub(argument, line) if self.arguments else line

    def run(self, text):
        """Returns True when the script reached EXIT (and was committed)."""
        cur = self.conn.cursor()
        block = None
        for line in text.split("\n"):
            line = self._substitute(line.rstrip("\r"))
            word = line.strip()
            upper = word.upper()
            words = upper.split()
            if block is not None:
                if word == "/":
                    if not self._run_block(cur, "\n".join(block)):
                        return False
                    block = None
                else:
                    block.append(line)
            elif words[:1] == ["EXIT"] and _exit_words(words[1:]):
                return self._exit(words[1:])
            elif upper in ("DECLARE", "BEGIN"):
                block = [line]
            elif words[:3] == ["WHENEVER", "SQLERROR", "EXIT"] and _exit_words(words[3:]):
                self.on_error = words[3:]
            elif words[:3] == ["WHENEVER", "SQLERROR", "CONTINUE"] and words[3:] in (
                    [], ["COMMIT"], ["ROLLBACK"], ["NONE"]):
                self.on_error = None
                self.after_error = (words[3:] or ["NONE"])[0]
            elif words[:2] == ["WHENEVER", "OSERROR"]:
                pass
            elif upper in ("SET EXITCOMMIT ON", "SET EXITCOMMIT OFF"):
                self.exit_commit = upper.endswith(" ON")
            elif _PLAIN_SQL.match(word):
                if not self._run(cur, word, translate(word[:-1])):
                    return False
            elif word and not upper.startswith("SET ") and not word.startswith("--"):
                self.report(word, "SP2-0734: unknown command beginning \"%s...\" - rest of line "
                            "ignored." % word[:10])
        self.conn.rollback()
        return False

    def _exit(self, words):
        """EXIT [SUCCESS|FAILURE|WARNING|n] [COMMIT|ROLLBACK]: True when it
        committed."""
        status = {"SUCCESS": 0, "FAILURE": 1, "WARNING": 2}
        if words and words[0] not in ("COMMIT", "ROLLBACK"):
            first = words.pop(0)
            self.status = status[first] if first in status else int(first)
        commit = words[0] == "COMMIT" if words else self.exit_commit
        if commit:
            self.conn.commit()
        else:
            self.conn.rollback()
        return commit

    def _run(self, cur, what, sql, commit=False):
        """Runs `sql` in a savepoint; False when the run must end here."""
        cur.execute("SAVEPOINT tavrin_block")
        try:
            cur.execute(sql)
        except psycopg2.Error as error:
            cur.execute("ROLLBACK TO SAVEPOINT tavrin_block")
            self.report(what, str(error).strip())
            if self.on_error is not None:
                self._exit(list(self.on_error))
                return False
            if self.after_error == "COMMIT":
                self.conn.commit()
            elif self.after_error == "ROLLBACK":
                self.conn.rollback()
            return True
        finally:
            for notice in self.conn.notices:
                if notice.startswith("NOTICE:  "):
                    self.output(notice[len("NOTICE:  "):].rstrip("\n"))
            del self.conn.notices[:]
        cur.execute("RELEASE SAVEPOINT tavrin_block")
        if commit:
            self.conn.commit()
        if what.startswith(("DECLARE", "BEGIN")) or "\n" in what:
            self.report(what, None)
        return True

    def _run_block(self, cur, block):
        # PostgreSQL takes no COMMIT inside a block with an exception handler:
        # the block's commit comes right after it, which is the same here.
        commit = bool(_COMMIT_LINE.search(block))
        body = _COMMIT_LINE.sub("", block)
        body = _PUT_LINE.sub(lambda m: "RAISE NOTICE '%%', %s;" % m.group(1), body)
        return self._run(cur, block, "DO $tavrin_block$\n%s\n$tavrin_block$" % translate(body),
                         commit)


def _exit_words(words):
    """Whether `words` are what EXIT may take after its name."""
    if words and words[0] not in ("COMMIT", "ROLLBACK"):
        if not (words[0] in ("SUCCESS", "FAILURE", "WARNING") or words[0].isdigit()):
            return False
        words = words[1:]
    return words in ([], ["COMMIT"], ["ROLLBACK"])


def script_group(path):
    match = re.match(r"Output(\d+)\.tvr$", os.path.basename(path))
    return int(match.group(1)) if match else None


def run_scripts(state, schema, out_dir, problems):
    """Runs every Output<N>.tvr of `out_dir`, in group order, one session each."""
    scripts = [n for n in os.listdir(out_dir) if script_group(n) is not None]
    for name in sorted(scripts, key=script_group):
        group = script_group(name)
        conn = connect(state, schema=schema)
        conn.cursor().execute("SELECT set_config('tavrin.group', '%d', false)" % group)

        def report(block, error, name=name):
            if error is not None:
                first = block.strip().split("\n")[0]
                problems.add("script %s, block %s...: %s" % (name, first[:60], error))
        with open(os.path.join(out_dir, name), "rb") as f:
            ScriptRun(conn, report).run(f.read().decode("utf-8", "surrogateescape"))
        conn.close()


# --- The comparison --------------------------------------------------------

_TRILLION = 10 ** 12


def _table_rows(state, schema):
    """{table: [(cells, group)]}, every cell as text or None."""
    conn = connect(state, schema=schema)
    cur = conn.cursor()
    cur.execute("SELECT table_name, column_name FROM information_schema.columns "
                "WHERE table_schema = %s ORDER BY table_name, ordinal_position", (schema,))
    columns = collections.OrderedDict()
    for table, column in cur.fetchall():
        columns.setdefault(table, []).append(column)
    columns.pop(HISTORY_TABLE, None)
    tables = {}
    for table, names in columns.items():
        cells = [c for c in names if c != "tavrin_group"]
        cur.execute("SELECT %s, tavrin_group FROM %s" % (
            ", ".join('"%s"::text' % c for c in cells), table))
        tables[table] = [(tuple(row[:-1]), row[-1]) for row in cur.fetchall()]
    conn.close()
    return tables, {t: [c for c in n if c != "tavrin_group"] for t, n in columns.items()}


def _split_cell(cell, sequences):
    """A cell as a tuple of text pieces and sequence values (seq, value):
    every run of digits that is a whole number of 13-digit sequence values."""
    if cell is None:
        return None
    parts = []
    for piece in re.split(r"(\d+)", cell):
        if not piece:
            continue
        values = None
        if piece.isdigit() and len(piece) % 13 == 0 and piece[0] != "0":
            chunks = [int(piece[i:i + 13]) for i in range(0, len(piece), 13)]
            if all(c // _TRILLION in sequences and c % _TRILLION for c in chunks):
                values = [(c // _TRILLION, c) for c in chunks]
        if values:
            parts.extend(values)
        else:
            parts.append(piece)
    return tuple(parts)


def _structured(tables, sequences):
    return {t: [(tuple(_split_cell(c, sequences) for c in cells), group)
                for cells, group in rows] for t, rows in tables.items()}


def _refine(sides):
    """Colours every sequence value of both sides by where it stands, over
    and over with its neighbours' colours, until the colours settle.
    Returns {(side, value): colour}."""
    colour = {}
    for side, tables in enumerate(sides):
        for rows in tables.values():
            for cells, _ in rows:
                for cell in cells:
                    for part in cell or ():
                        if isinstance(part, tuple):
                            colour[(side, part)] = ("sequence", part[0])
    classes = len(set(colour.values()))
    first_signature = None
    for _ in range(50):
        signature = collections.defaultdict(list)
        for side, tables in enumerate(sides):
            for table, rows in tables.items():
                for cells, _ in rows:
                    present = {p for cell in cells for p in (cell or ()) if isinstance(p, tuple)}
                    for value in present:
                        pattern = tuple(
                            None if cell is None else tuple(
                                ("self",) if p == value else
                                ("value", colour[(side, p)]) if isinstance(p, tuple) else p
                                for p in cell)
                            for cell in cells)
                        signature[(side, value)].append(repr((table, pattern)))
        if first_signature is None:
            first_signature = signature
        names = {}
        new = {}
        for key, old in colour.items():
            canonical = (old, tuple(sorted(signature[key])))
            new[key] = names.setdefault(canonical, len(names))
        colour = new
        if len(names) == classes:
            break
        classes = len(names)
    return colour, first_signature or {}


def _closest(left, right, signature):
    """Pairs values that no colour matched by how many of their rows (with
    other values unnamed) they share, most first."""
    index = collections.defaultdict(list)
    for value in right:
        for pattern, count in collections.Counter(signature[(1, value)]).items():
            index[pattern].append((value, count))
    pairs = []
    for value in left:
        shared = collections.Counter()
        for pattern, count in collections.Counter(signature[(0, value)]).items():
            for other, other_count in index.get(pattern, ()):
                shared[other] += min(count, other_count)
        pairs.extend((n, value, other) for other, n in shared.items())
    mapping = {}
    taken = set()
    for _, value, other in sorted(pairs, key=lambda p: (-p[0], p[1], p[2])):
        if value not in mapping and other not in taken:
            mapping[value] = other
            taken.add(other)
    return mapping


def _render(cells, rename):
    out = []
    for cell in cells:
        if cell is None:
            out.append(None)
        else:
            out.append("".join(str(rename(p)) if isinstance(p, tuple) else p for p in cell))
    return tuple(out)


def compare(state, replay_schema, scripts_schema, problems, limit=20, excused=()):
    """Compares every table of the two schemas as a multiset of rows, after
    mapping the replay's sequence values onto the scripts' run's. Adds each
    difference to `problems`; returns the number of differing rows. Rows of
    the replay that the scripts' run lacks are no problem when their group
    is in `excused`."""
    replay_tables, columns = _table_rows(state, replay_schema)
    script_tables, _ = _table_rows(state, scripts_schema)
    sequences = _sequence_numbers(state, replay_schema)
    return compare_tables(replay_tables, script_tables, columns, sequences, problems, limit,
                          excused)


def compare_tables(replay_tables, script_tables, columns, sequences, problems, limit=20,
                   excused=()):
    """compare() on rows read already: {table: [(cells, group)]} for each
    side, {table: [column names]}, and the numbers of the sequences."""
    sides = [_structured(replay_tables, sequences), _structured(script_tables, sequences)]
    colour, signature = _refine(sides)
    by_colour = [collections.defaultdict(list), collections.defaultdict(list)]
    for (side, value), c in colour.items():
        by_colour[side][c].append(value)
    mapping = {}
    left_over = ([], [])
    for c in set(by_colour[0]) | set(by_colour[1]):
        values = sorted(by_colour[0].get(c, []), key=lambda v: v[1])
        targets = sorted(by_colour[1].get(c, []), key=lambda v: v[1])
        for value, target in zip(values, targets):
            mapping[value] = target
        left_over[0].extend(values[len(targets):])
        left_over[1].extend(targets[len(values):])
    # A differing row leaves the values it names without a match; matching
    # them by their other rows keeps the report to the rows that differ.
    if left_over[0] and left_over[1] and len(left_over[0]) * len(left_over[1]) < 10 ** 7:
        mapping.update(_closest(left_over[0], left_over[1], signature))
    differing = 0
    for table in sorted(set(sides[0]) | set(sides[1])):
        left = collections.Counter()
        left_group = {}
        for cells, group in sides[0].get(table, []):
            row = _render(cells, lambda v: mapping[v][1] if v in mapping else "?%d" % v[1])
            left[row] += 1
            left_group.setdefault(row, group)
        right = collections.Counter()
        right_group = {}
        for cells, group in sides[1].get(table, []):
            row = _render(cells, lambda v: v[1])
            right[row] += 1
            right_group.setdefault(row, group)
        shown = 0
        for label, counter, other, groups in (
                ("only in the log's replay", left, right, left_group),
                ("only in the scripts' run", right, left, right_group)):
            for row, count in sorted((counter - other).items(), key=repr):
                if counter is left and groups[row] in excused:
                    continue
                differing += count
                if shown < limit:
                    shown += 1
                    problems.add("%s, group %s, %s%s: %s" % (
                        table, groups[row], label, " (%d times)" % count if count > 1 else "",
                        ", ".join("%s=%s" % (c, "NULL" if v is None else v)
                                  for c, v in zip(columns[table], row))))
        if shown >= limit:
            problems.add("%s: more differences not shown" % table)
    return differing


def _sequence_numbers(state, schema):
    """The numbers k of the schema's sequences, whose values start at k * 10^12 + 1."""
    conn = connect(state, schema=schema)
    cur = conn.cursor()
    cur.execute("SELECT start_value FROM pg_sequences WHERE schemaname = %s", (schema,))
    numbers = {int(start) // _TRILLION for (start,) in cur.fetchall()}
    conn.close()
    return numbers
