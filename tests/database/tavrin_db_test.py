"""The harness's own tests: what it decides without a database (translation,
the rules it skips lines by, the renaming of sequence values)."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
sys.dont_write_bytecode = True  # nothing written into the source tree
import tavrin_db  # noqa: E402

T1, T2, T3 = 1000000000001, 1000000000002, 1000000000003
A1, A2 = 2000000000001, 2000000000002


class TranslateTest(unittest.TestCase):
    def test_cases(self):
        cases = [
            ("SELECT seq_Transactions.CURRVAL into identity_1 FROM DUAL;",
             "SELECT currval('seq_Transactions') into identity_1;"),
            ("INSERT INTO t(a) VALUES (seq_x.NEXTVAL);", "INSERT INTO t(a) VALUES (nextval('seq_x'));"),
            ("DECLARE\n\tidentity_1 NUMBER;\nBEGIN", "DECLARE\n\tidentity_1 numeric;\nBEGIN"),
            # Quoted texts stay as they are.
            ("VALUES ('seq.NEXTVAL FROM DUAL NUMBER')", "VALUES ('seq.NEXTVAL FROM DUAL NUMBER')"),
            ("VALUES ('Approved by ' || identity_3);",
             "VALUES (CAST('Approved by ' AS text) || CAST(identity_3 AS text));"),
            ("VALUES (identity_1 || 'it''s' || identity_2)",
             "VALUES (CAST(identity_1 AS text) || CAST('it''s' AS text) || CAST(identity_2 AS text))"),
            ("VALUES (seq.CURRVAL||'x')",
             "VALUES (CAST(currval('seq') AS text)||CAST('x' AS text))"),
        ]
        for given, wanted in cases:
            with self.subTest(given=given):
                self.assertEqual(tavrin_db.translate(given), wanted)


class SkipRulesTest(unittest.TestCase):
    def test_last_value(self):
        for line, rejected in [("VALUES (1, NULL);", True), ("VALUES (1, );", True),
                               ("VALUES (1,  NULL );", True), ("VALUES (1,NULLX);", False),
                               ("VALUES (NULL);", False), ("SELECT 1 FROM DUAL;", False)]:
            with self.subTest(line=line):
                self.assertEqual(tavrin_db.last_value_rejected(line), rejected)

    def test_joined_reference(self):
        for line, joined in [("VALUES (&identity_1.5, 'x');", True),
                             ("VALUES (&&identity_1.a);", True),
                             ("VALUES (&identity_1.);", False),
                             ("VALUES (&identity_1.,'x');", False),
                             ("VALUES (1, 'T&identity_1.X');", False),     # inside a text
                             ("VALUES ('it''s &identity_1.5');", False),
                             ("VALUES ('a', &identity_2.x, 'b');", True),
                             ("VALUES ('open &identity_1.5);", True)]:    # no closing quote
            with self.subTest(line=line):
                self.assertEqual(tavrin_db.joined_reference(line), joined)


class GroupsTest(unittest.TestCase):
    def test_files_join_the_group_of_identity_1(self):
        with tempfile.TemporaryDirectory() as batch:
            files = {"a.sql": "x\nCOLUMN identity_1 NEW_VALUE identity_1\n",
                     "b.sql": "COLUMN identity_2 NEW_VALUE identity_2\n",
                     "0.sql": "plain\n",
                     "c.sql": "COLUMN identity_12 NEW_VALUE identity_12\nCOLUMN identity_1 x\n",
                     "d.sql": "COLUMN identity_1 NEW_VALUE identity_1\n",
                     "e.txt": "COLUMN identity_1 NEW_VALUE identity_1\n"}
            for name, text in files.items():
                with open(os.path.join(batch, name), "w") as f:
                    f.write(text)
            groups = [(g, [os.path.basename(p).decode() for p in paths])
                      for g, paths in tavrin_db.batch_groups(batch)]
        self.assertEqual(groups, [(0, ["0.sql"]), (1, ["a.sql", "b.sql", "c.sql"]),
                                  (2, ["d.sql"])])


def rows(*cells_and_groups):
    return [(tuple(None if c is None else str(c) for c in cells), group)
            for cells, group in cells_and_groups]


class CompareTest(unittest.TestCase):
    columns = {"txn": ["id", "parent", "note"], "auth": ["id", "txn"]}

    def differences(self, replay, scripts, excused=()):
        problems = tavrin_db.Problems()
        count = tavrin_db.compare_tables(replay, scripts, self.columns, {1, 2}, problems,
                                         excused=excused)
        return count, problems.items

    def test_values_handed_out_in_another_order_match(self):
        replay = {"txn": rows(((T1, None, "a"), 1), ((T2, T1, "b %d ok" % T1), 1)),
                  "auth": rows(((A1, T2), 1), ((A2, T1), 1))}
        scripts = {"txn": rows(((T2, None, "a"), 1), ((T1, T2, "b %d ok" % T2), 1)),
                   "auth": rows(((A2, T1), 1), ((A1, T2), 1))}
        self.assertEqual(self.differences(replay, scripts), (0, []))

    def test_a_reference_to_the_wrong_row_differs(self):
        replay = {"txn": rows(((T1, None, "a"), 1), ((T2, None, "b"), 1)),
                  "auth": rows(((A1, T1), 1))}
        scripts = {"txn": rows(((T2, None, "a"), 1), ((T1, None, "b"), 1)),
                   "auth": rows(((A1, T1), 1))}
        count, items = self.differences(replay, scripts)
        self.assertGreater(count, 0)
        self.assertTrue(any(i.startswith(("auth, group 1, only in", "txn, group 1, only in"))
                            for i in items), items)

    def test_values_inside_texts_and_side_by_side(self):
        replay = {"txn": rows(((T1, None, "%d%d/T%dX" % (T1, T2, T2)), 3), ((T2, None, "x"), 3))}
        scripts = {"txn": rows(((T2, None, "%d%d/T%dX" % (T2, T1, T1)), 3), ((T1, None, "x"), 3))}
        self.assertEqual(self.differences(replay, scripts), (0, []))
        scripts["txn"] = rows(((T2, None, "%d%d/T%dX" % (T2, T1, T2)), 3), ((T1, None, "x"), 3))
        self.assertEqual(self.differences(replay, scripts)[0], 2)

    def test_a_row_twice_and_a_row_missing(self):
        replay = {"txn": rows(((T1, None, "a"), 1), ((T2, None, "b"), 2))}
        twice = {"txn": rows(((T1, None, "a"), 1), ((T1, None, "a"), 1), ((T2, None, "b"), 2))}
        count, items = self.differences(replay, twice)
        self.assertEqual(count, 1)
        self.assertIn("only in the scripts' run", items[0])
        missing = {"txn": rows(((T1, None, "a"), 1))}
        self.assertEqual(self.differences(replay, missing)[0], 1)
        # Missing rows of an excused group are no difference; extra rows are.
        self.assertEqual(self.differences(replay, missing, excused={2}), (0, []))
        self.assertEqual(self.differences(replay, twice, excused={1, 2})[0], 1)

    def test_one_wrong_row_leaves_the_rest_matched(self):
        replay = {"txn": rows(((T1, None, "a"), 1), ((T2, None, "b"), 1), ((T3, T1, "c"), 1)),
                  "auth": rows(((A1, T1), 1), ((A2, T2), 1))}
        scripts = {"txn": rows(((T3, None, "a"), 1), ((T1, None, "b"), 1), ((T2, T3, "c"), 1)),
                   "auth": rows(((A2, T3), 1), ((A1, None), 1))}
        count, items = self.differences(replay, scripts)
        self.assertEqual(count, 2, items)  # only the login row, on each side


if __name__ == "__main__":
    unittest.main()
