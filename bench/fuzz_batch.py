#!/usr/bin/env python3
"""Writes a seeded batch of odd audit log lines for bench/compare.sh.

    fuzz_batch.py SEED DIRECTORY [FILES] [--bad-declaration] [--commits]

The generated shapes of tavrin_batchgen are all well-formed; these files mix
every kind of line the parse stage tells apart with the odd ones it must
survive: declarations and references of low, high and wrapping identity
numbers, quoted references, lines holding BEGIN, END or DECLARE alone,
rejected values, rows naming two identities, authentication and group rows
in any order, empty lines, LF and CR LF line ends, a missing last line end.
A file starting with a declaration of identity_1 starts a group.
--bad-declaration adds one declaration line the stage gives up on.
--commits also mixes in lines that can commit part of a script (COMMIT,
ROLLBACK, EXECUTE IMMEDIATE, DBMS_SQL), and lines that only look so: in
texts, q-texts, doubled and unclosed quotes, other words. Without it a seed
gives the same files as before these lines were added.
"""

import os
import random
import sys


def identity(rng):
    n = rng.choice([1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 20, 0, 999997, 999998,
                    1000001, 2147483647])
    return str(n) if rng.random() > 0.05 else "0" + str(n)


# The lines --commits mixes in, one a line; {n} names an identity as in the
# templates of line().
COMMIT_TEMPLATES = r"""
COMMIT;
commit
/* checkpoint */ COMMIT;
UPDATE t SET a=1; COMMIT;
BEGIN COMMIT; END;
BEGIN RollBack; END
ROLLBACK TO SAVEPOINT s;
x.COMMIT(&identity_{n});
EXECUTE IMMEDIATE 'TRUNCATE TABLE t';
BEGIN execute 	 immediate 'x'; END;
EXECUTEIMMEDIATE; EXECUTE proc; IMMEDIATE
n := Dbms_Sql.Open_Cursor;
DBMS_TRANSACTION.READ_ONLY;
INSERT INTO t(a) VALUES ('exec_ddl_statement');
INSERT INTO t(a) VALUES ('COMMIT');
INSERT INTO t(a) VALUES ('it''s COMMIT', 'x''');
INSERT INTO t(a) VALUES ('x''', COMMIT);
INSERT INTO t(a) VALUES ('a', 'COMMIT
INSERT INTO t(a) VALUES ('''''ROLLBACK
UPDATE t SET a = q'[it's COMMIT]' WHERE b = &identity_{n};
UPDATE t SET a = Q'<a>b'>' || ' ROLLBACK';
UPDATE t SET a = q'!COMMIT!' || q'{{'}}' || 'z';
UPDATE t SET a = q'xCOMMITx';
UPDATE t SET a = q'[ COMMIT
UPDATE t SET a = nq'[COMMIT]';
UPDATE t SET a = 'COMMITTED', b = X_COMMIT, c = COMMIT$, d = #ROLLBACK;
INSERT INTO tbl_Authentications(UserId,Host) VALUES ('END','h');
BEGIN
END;
""".strip("\n").split("\n")


def line(rng, commits=False):
    n, m = identity(rng), identity(rng)
    templates = [
        "COLUMN identity_{n} NEW_VALUE identity_{n} NOPRINT",
        "COLUMN identity_{n} NEW_VALUE x",
        "SELECT seq_Transactions.CURRVAL identity_{n} FROM DUAL;",
        "select s.NEXTVAL identity_{n} from dual",
        "  SELECT s.CURRVAL, t.NEXTVAL identity_{n} FROM DUAL",
        "INSERT INTO tbl_Transactions(a, b) VALUES (seq.NEXTVAL, 'x');",
        "INSERT INTO tbl_Transactions(a, b) VALUES (&identity_{n}, 1);",
        "UPDATE tbl_Transactions SET a = 1",
        "INSERT INTO tbl_Authentications(a, b) VALUES (&identity_{n}, 'u');",
        "INSERT INTO tbl_Authentications(a) VALUES ('u');",
        "UPDATE tbl_Authentications SET a = &identity_{n}",
        "INSERT INTO tbl_Actions(a, b) VALUES (&identity_{n}, &identity_{m});",
        "INSERT INTO tbl_Actions(a, b) VALUES ('x', '&identity_{n}');",
        "INSERT INTO tbl_Actions(a, b, c) VALUES ('x', '&identity_{n}', 'y');",
        "INSERT INTO tbl_Actions(a) VALUES (identity_{n}) identity_{m} identity_{n}",
        "INSERT INTO tbl_groups(a, b) VALUES ('g', &identity_{n});",
        "INSERT INTO tbl_groups(a, b) VALUES ('g', &identity_{n}, &identity_{m})",
        "INSERT INTO tbl_X(a, b) VALUES (1, NULL);",
        "INSERT INTO tbl_X(a, b) VALUES (&identity_{n},  NULL );",
        "INSERT INTO tbl_X(a, b) VALUES (1, );",
        "INSERT INTO tbl_X(a, b) VALUES (1,NULLX);",
        "UPDATE tbl_Settings SET v = 1;",
        "UPDATE tbl_Settings SET v = '&identity_{n}' WHERE n = 'q'",
        "DECLARE", "BEGIN", "END", "BEGIN x", "END;", "\tEND", "DECLARE y",
        "",
        "&identity_x1 stuff",
        "note identity_",
        "note identity_{n}",
        "text with identity_{n} and tbl_Transactions identity_{m}",
        "INSERT INTO tbl_Transactions(a) VALUES (1) tbl_Actions identity_{n} identity_{m}",
        "COLUMN identity_{n}\tNEW_VALUE identity_{n} ",
        "INSERT INTO tbl_Actions(a) VALUES (&identity_{n}) ;  \t",
        "COLUMN identity_ stray",
        "UPDATE t SET a = '&&identity_{n}', b = 'c'",
        "UPDATE t SET a = '&'&identity_{n}' WHERE b = '&identity_{m}'",
        "UPDATE t SET a = &'&identity_{n} x', b = &&identity_{m};",
        "UPDATE t SET a = x&identity{n}, b = '&identity'",
        "INSERT INTO tbl_Actions(a) VALUES ('&identity_{n}identity_{m}', '&identity_{n}';)",
        "SELECT '&identity_{n}' s.CURRVAL FROM DUAL",
        "'&identity_{n} SELECT s.NEXTVAL",
    ]
    if commits and rng.random() < 0.15:
        templates = COMMIT_TEMPLATES
    text = rng.choice(templates).format(n=n, m=m)
    if rng.random() < 0.03:
        text += " " * rng.randint(1, 3)
    if rng.random() < 0.01:
        text = text.replace(" ", "\r", 1)
    return text


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    bad = "--bad-declaration" in sys.argv
    commits = "--commits" in sys.argv
    seed, directory = int(args[0]), args[1]
    files = int(args[2]) if len(args) > 2 else 40
    rng = random.Random(seed)
    os.makedirs(directory, exist_ok=True)
    bad_file = rng.randrange(files) if bad else -1
    for f in range(files):
        lines = []
        if f == 0 or rng.random() < 0.3:
            lines.append("COLUMN identity_1 NEW_VALUE identity_1 NOPRINT")
        for _ in range(rng.randint(0, 120)):
            lines.append(line(rng, commits))
        if f == bad_file:
            lines.insert(rng.randint(0, len(lines)), "COLUMN identity_7")
        end = "\r\n" if rng.random() < 0.5 else "\n"
        data = end.join(lines)
        if rng.random() < 0.8:
            data += end
        with open(os.path.join(directory, "log%04d.sql" % f), "wb") as out:
            out.write(data.encode("ascii"))


if __name__ == "__main__":
    main()
