// The checker's own tests: it passes scripts that run and catches the faults
// it is there for. Run with `node --test check_test.js` (NODE_PATH or a local
// node_modules must hold antlr4ts-sql).

'use strict';

const test = require('node:test');
const assert = require('node:assert');

const { syntaxErrors, blockProblems, statementCount, loadGrammar } = require('./check.js');

const grammar = loadGrammar();

// A script as tavrin writes it: CR LF line ends, "EXIT" without one.
function script(...blocks) {
  return ['SET VERIFY OFF', ...blocks.flat(), 'EXIT'].join('\r\n');
}

function block(declared, statements) {
  const lines = [];
  if (declared.length > 0) lines.push('DECLARE', ...declared.map((n) => `\t${n} NUMBER;`));
  lines.push('BEGIN', ...statements.map((s) => '\t' + s), 'END;', '/');
  return lines;
}

const kTransaction =
  "INSERT INTO tbl_Transactions(TransactionID, StartedAt) VALUES (seq_Transactions.NEXTVAL, '2026-12-01 10:00:00');";
const kColumn = '--COLUMN identity_1 NEW_VALUE identity_1 NOPRINT';
const kSelect = 'SELECT seq_Transactions.CURRVAL into identity_1 FROM DUAL;';
const kUse = "INSERT INTO tbl_Actions(TransactionID, ActionType) VALUES (identity_1, 'LOGIN');";

const kinds = (problems) => problems.map((p) => `${p.line}:${p.kind}:${p.name}`);

test('a script that runs passes both checks, with its SQL*Plus lines as they are', () => {
  const text = script(block([], ["UPDATE tbl_Settings SET Value = 'on' WHERE Name = 'audit';"]),
                      block(['identity_1'], [kTransaction, kColumn, kSelect, kUse]));
  assert.deepStrictEqual(syntaxErrors(grammar, text), []);
  assert.deepStrictEqual(blockProblems(text), []);
  // LF line ends, CR CR LF line ends (a comment line among them) and a last
  // line end change nothing.
  for (const variant of [text.replace(/\r\n/g, '\n'), text.replace(/\r\n/g, '\r\r\n'),
                         text.replace(/\r\n/g, '\r\r\r\n'), text + '\r\n']) {
    assert.deepStrictEqual(syntaxErrors(grammar, variant), []);
    assert.deepStrictEqual(blockProblems(variant), []);
  }
});

test('the grammar rejects what the rewriting used to break', () => {
  const broken = {
    'a second ";" after a CR': "UPDATE tbl_Settings SET Value = 'on' WHERE Name = 'audit';\r;",
    'a second ";" after a blank': "UPDATE tbl_Settings SET Value = 'on' WHERE Name = 'audit'; ;",
    'the wrong quote blanked': "INSERT INTO t(a, b, c) VALUES (identity_1, identity_1', 'LOGIN );",
    'into outside a SELECT': "INSERT INTO t(a, b) VALUES (seq_T.CURRVAL into, 'x');",
    'an unclosed quote': "INSERT INTO t(a) VALUES ('open);",
  };
  for (const [what, statement] of Object.entries(broken)) {
    const text = script(block(['identity_1'], [kSelect, statement]));
    assert.ok(syntaxErrors(grammar, text).length > 0, what);
  }
});

test('a SELECT without INTO passes the grammar but not the block check', () => {
  const text = script(block(['identity_4'], ['SELECT seq_T.NEXTVAL identity_4 FROM DUAL;',
                                             'SELECT seq_T.CURRVAL FROM DUAL;']));
  assert.deepStrictEqual(syntaxErrors(grammar, text), []);
  assert.deepStrictEqual(kinds(blockProblems(text)),
                         ['5:selectWithoutInto:', '6:selectWithoutInto:']);
});

test('a variable is used only after its SELECT ... INTO, in the block that declares it', () => {
  // The use comes first, as in the scripts of a merge that appended a tie.
  const early = script(block(['identity_1', 'identity_2'], [
    "INSERT INTO tbl_Actions(a, b) VALUES (identity_2, identity_1);",
    'SELECT seq_T.CURRVAL into identity_1 FROM DUAL;',
    'SELECT seq_T.CURRVAL into identity_2 FROM DUAL;',
    "INSERT INTO tbl_Actions(a, b) VALUES (identity_2, identity_1);",
  ]));
  assert.deepStrictEqual(syntaxErrors(grammar, early), []);
  assert.deepStrictEqual(kinds(blockProblems(early)),
                         ['6:unassigned:identity_2', '6:unassigned:identity_1']);

  // Not declared: neither a use nor an assignment compiles.
  const undeclared = script(block(['identity_1'], [
    kSelect, 'SELECT seq_T.CURRVAL into identity_7 FROM DUAL;',
    'INSERT INTO t(a, b) VALUES (identity_1, identity_7);']));
  assert.deepStrictEqual(kinds(blockProblems(undeclared)),
                         ['6:undeclared:identity_7', '7:undeclared:identity_7']);

  // Each block starts afresh: an assignment in the block before counts for nothing.
  const two = script(block(['identity_1'], [kSelect]), block(['identity_1'], [kUse]));
  assert.deepStrictEqual(blockProblems(two).map((p) => [p.block, p.blockLine, p.kind]),
                         [[2, 8, 'unassigned']]);
});

test('names in comments and literals are not uses; the assigning SELECT is not one either', () => {
  const text = script(block(['identity_1'], [
    '--SELECT identity_9 FROM DUAL; identity_9',
    "INSERT INTO t(a, b) VALUES ('identity_9', 'it''s identity_9');",
    'SELECT seq_T.CURRVAL into identity_1 FROM DUAL; -- identity_8',
    'SELECT identity_1 + 1 into identity_1 FROM DUAL;',
  ]));
  assert.deepStrictEqual(syntaxErrors(grammar, text), []);
  assert.deepStrictEqual(blockProblems(text), []);
});

test('the row count takes every statement line of every block, comments too', () => {
  const text = script(block([], ["UPDATE tbl_Settings SET Value = 'on' WHERE Name = 'audit';"]),
                      block(['identity_1'], [kTransaction, kColumn, kSelect, kUse]));
  assert.strictEqual(statementCount(text), 5);
  assert.strictEqual(statementCount(text.replace(/\r\n/g, '\r\r\n')), 5);
});
