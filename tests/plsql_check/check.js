#!/usr/bin/env node
// Checks Tavrin's SQL*Plus scripts (Output*.tvr):
//
//  1. Syntax: every script must parse without error under an independent
//     PL/SQL grammar (the community ANTLR grammar that antlr4ts-sql ships
//     pre-built). The grammar takes the SQL*Plus lines of our scripts as they
//     are: "SET VERIFY OFF", the "/" after each block, the closing "EXIT"
//     without a line end, the "--" comment lines, LF and CR LF line ends.
//     Nothing is stripped; one thing is adjusted, see forGrammar().
//  2. Blocks: what the grammar cannot see. Inside each PL/SQL block every
//     identity_N that a statement uses must be declared in the block's
//     DECLARE section and assigned by an earlier "SELECT ... INTO identity_N"
//     of the same block, and every SELECT must have an INTO.
//  3. Rows, on request: with "--rows-of BATCH" before a PATH, the scripts
//     under PATH must hold one statement per non-empty line of the batch's
//     *.sql files, so that no row was dropped or doubled. Only for batches
//     whose every line is a valid statement.
//
//   node check.js [--max-reports N] [[--rows-of BATCH] PATH]...
//
// A PATH is a script or a directory searched recursively for *.tvr files.
// Each problem is printed as "script:line: ..."; the last line sums up.
// Exit code: 0 when no script has a problem and the rows add up, 1 when not,
// 2 when the check could not run (bad arguments, an unreadable path, no
// grammar).

'use strict';

const fs = require('fs');
const path = require('path');
const v8 = require('v8');

// The generated parser's functions are huge; V8's optimising compiler works
// on them in the background for many seconds and gigabytes, and the process
// waits for it at exit. The interpreter alone is faster here.
v8.setFlagsFromString('--no-opt');

const kUsage = 'usage: node check.js [--max-reports N] [[--rows-of BATCH] PATH]...';

// Block problem kinds, in the order the summary lists them.
const kKinds = {
  undeclared: 'not declared in the block',
  unassigned: 'used before a SELECT ... INTO of the block assigns it',
  selectWithoutInto: 'SELECT without INTO',
};

function loadGrammar() {
  try {
    return require('antlr4ts-sql');
  } catch (error) {
    console.error('check.js: cannot load antlr4ts-sql (' + error.message.split('\n')[0] + ').\n' +
                  'Run "npm ci" in tests/plsql_check, or set NODE_PATH to a node_modules ' +
                  'directory that holds it.');
    process.exit(2);
  }
}

// The script as the grammar is given it. The grammar ends a "--" comment
// only at LF or CR LF, so a comment line that ends in CR CR LF (a log line
// that ended in a CR, commented out) would read as two minus signs and text.
// The database ends the comment at the line end and takes the CR into it, so
// the extra CRs of whole-line comments become blanks: line and column numbers
// stay, and no statement changes.
function forGrammar(text) {
  return text.split('\n').map((line) => (
    /^[ \t]*--/.test(line) ? line.replace(/\r\r+$/, (crs) => ' '.repeat(crs.length - 1) + '\r')
                          : line)).join('\n');
}

// Syntax errors of one script: [{line, column, message}], lexer and parser alike.
function syntaxErrors(grammar, original) {
  const text = forGrammar(original);
  const errors = [];
  const listener = {
    syntaxError(recognizer, symbol, line, column, message) {
      // The case-folding input stream hides a token's text from the message,
      // which names it by number; show the script's own text instead.
      if (symbol && symbol.startIndex >= 0 && symbol.stopIndex >= symbol.startIndex) {
        const seen = JSON.stringify(text.slice(symbol.startIndex, symbol.stopIndex + 1));
        message = message.replace(/'<\d+>'/, seen);
      }
      // The set of tokens the parser would have taken runs to thousands.
      message = message.replace(/ expecting \{[^]{80,}$/, ' (expecting something else)');
      errors.push({ line, column, message });
    },
  };
  const sql = new grammar.antlr4tsSQL(grammar.SQLDialect.PLSQL);
  // The lexer reports to the listener once, whichever pass reads a token first.
  const tokens = sql.getTokens(text, [listener]);
  // The usual two passes: the simpler SLL prediction is many times faster
  // and, when it parses the whole script, proves it valid. Only a script that
  // it rejects is parsed again with full prediction, which reports the errors.
  const fast = sql.getParser(tokens, []);
  fast.interpreter.setPredictionMode(grammar.PredictionMode.SLL);
  fast.errorHandler = new grammar.BailErrorStrategy();
  try {
    sql.getParseTree(fast);
    return errors;
  } catch (error) {
    if (!(error instanceof grammar.ParseCancellationException)) throw error;
  }
  tokens.seek(0);
  sql.getParseTree(sql.getParser(tokens, [listener]));
  return errors;
}

// The words of one statement line: its identifiers and keywords, leaving out
// quoted literals and names, and what stands behind "--" outside them.
function words(line) {
  const result = [];
  let i = 0;
  while (i < line.length) {
    const c = line[i];
    if (c === '-' && line[i + 1] === '-') break;
    if (c === "'" || c === '"') {
      // A literal or a quoted name; '' inside a literal is one quote.
      let j = i + 1;
      while (j < line.length) {
        if (line[j] === c) {
          if (line[j + 1] === c) { j += 2; continue; }
          break;
        }
        ++j;
      }
      i = j + 1;
      continue;
    }
    if (/[A-Za-z]/.test(c)) {
      let j = i + 1;
      while (j < line.length && /[A-Za-z0-9_$#]/.test(line[j])) ++j;
      result.push(line.slice(i, j));
      i = j;
      continue;
    }
    ++i;
  }
  return result;
}

const isIdentity = (word) => /^identity_/i.test(word);

// The number of statement lines inside the blocks of one script.
function statementCount(text) {
  let count = 0;
  let inBody = false;
  for (const line of text.split('\n')) {
    const trimmed = line.trim();
    if (!inBody) inBody = trimmed === 'BEGIN';
    else if (trimmed === 'END;') inBody = false;
    else count += 1;
  }
  return count;
}

// The number of non-empty lines of a batch's *.sql files.
function batchLineCount(directory) {
  let count = 0;
  for (const name of fs.readdirSync(directory).filter((n) => n.endsWith('.sql'))) {
    const text = fs.readFileSync(path.join(directory, name), 'latin1');
    count += text.split('\n').filter((line) => line !== '').length;
  }
  return count;
}

// Block problems of one script: [{line, block, blockLine, kind, name}].
function blockProblems(text) {
  const problems = [];
  const lines = text.split('\n');
  let state = 'outside';
  let block = 0;
  let blockLine = 0;
  let declared = new Set();
  let assigned = new Set();
  const reported = new Set();  // a name used twice in a statement is one problem
  const report = (index, kind, name) => {
    const key = `${index} ${kind} ${name}`;
    if (reported.has(key)) return;
    reported.add(key);
    problems.push({ line: index + 1, block, blockLine, kind, name });
  };

  lines.forEach((raw, index) => {
    const trimmed = raw.trim();  // also drops the CRs of CR LF and CR CR LF
    if (state === 'outside') {
      if (trimmed === 'DECLARE' || trimmed === 'BEGIN') {
        block += 1;
        blockLine = index + 1;
        declared = new Set();
        assigned = new Set();
        state = trimmed === 'DECLARE' ? 'declare' : 'body';
      }
      return;
    }
    if (state === 'declare') {
      if (trimmed === 'BEGIN') {
        state = 'body';
      } else {
        const [name] = words(raw);
        if (name !== undefined) declared.add(name.toLowerCase());
      }
      return;
    }
    if (trimmed === 'END;') {
      state = 'outside';
      return;
    }
    const statement = words(raw);
    if (statement.length === 0) return;
    // SELECT a, b INTO x, y FROM ...: x and y are set, everything else is read.
    const select = statement[0].toUpperCase() === 'SELECT';
    const into = statement.findIndex((w) => w.toUpperCase() === 'INTO');
    if (select && into < 0) {
      // Its names are column aliases, not uses; the statement cannot run.
      report(index, 'selectWithoutInto', '');
      return;
    }
    let from = statement.findIndex((w, i) => i > into && w.toUpperCase() === 'FROM');
    if (from < 0) from = statement.length;
    const targets = [];
    statement.forEach((word, i) => {
      if (!isIdentity(word)) return;
      const name = word.toLowerCase();
      if (select && i > into && i < from) {
        targets.push(name);
        return;
      }
      if (!declared.has(name)) report(index, 'undeclared', word);
      else if (!assigned.has(name)) report(index, 'unassigned', word);
    });
    for (const name of targets) {
      if (!declared.has(name)) report(index, 'undeclared', name);
      assigned.add(name);
    }
  });
  return problems;
}

function scriptsUnder(target, found) {
  const stat = fs.statSync(target);
  if (!stat.isDirectory()) {
    found.push(target);
    return;
  }
  for (const name of fs.readdirSync(target).sort()) {
    const inner = path.join(target, name);
    if (fs.statSync(inner).isDirectory()) scriptsUnder(inner, found);
    else if (name.endsWith('.tvr')) found.push(inner);
  }
}

function main(argv) {
  let maxReports = 50;
  const targets = [];  // {path, batch}
  let batch = null;
  for (let i = 0; i < argv.length; ++i) {
    if (argv[i] === '--rows-of' && i + 1 < argv.length) {
      batch = argv[++i];
    } else if (argv[i] === '--max-reports' && i + 1 < argv.length) {
      maxReports = Number(argv[++i]);
      if (!Number.isInteger(maxReports) || maxReports < 0) {
        console.error(kUsage);
        return 2;
      }
    } else if (argv[i] === '-h' || argv[i] === '--help') {
      console.log(kUsage);
      return 0;
    } else if (argv[i].startsWith('-')) {
      console.error('check.js: unknown option ' + argv[i] + '\n' + kUsage);
      return 2;
    } else {
      targets.push({ path: argv[i], batch });
      batch = null;
    }
  }
  if (targets.length === 0 || batch !== null) {
    console.error(kUsage);
    return 2;
  }
  const scripts = [];
  const rowChecks = [];  // {target, batch, lines, scripts}
  try {
    for (const target of targets) {
      const found = [];
      scriptsUnder(target.path, found);
      scripts.push(...found);
      if (target.batch !== null) {
        rowChecks.push({ target: target.path, batch: target.batch,
                         lines: batchLineCount(target.batch), scripts: found });
      }
    }
  } catch (error) {
    console.error('check.js: ' + error.message);
    return 2;
  }
  const grammar = loadGrammar();

  let syntaxTotal = 0;
  let failed = 0;
  let reported = 0;
  const kindTotals = Object.fromEntries(Object.keys(kKinds).map((k) => [k, 0]));
  const print = (text) => {
    if (reported++ < maxReports) console.log(text);
  };
  for (const script of scripts) {
    // One byte, one character: the scripts are single-byte text.
    const text = fs.readFileSync(script, 'latin1');
    const errors = syntaxErrors(grammar, text);
    const problems = blockProblems(text);
    if (errors.length > 0 || problems.length > 0) failed += 1;
    syntaxTotal += errors.length;
    for (const e of errors) print(`${script}:${e.line}:${e.column}: syntax: ${e.message}`);
    for (const p of problems) {
      kindTotals[p.kind] += 1;
      const what = p.name ? `${p.name} ${kKinds[p.kind]}` : kKinds[p.kind];
      print(`${script}:${p.line}: block ${p.block} (line ${p.blockLine}): ${what}`);
    }
  }
  let rowMismatches = 0;
  for (const check of rowChecks) {
    const statements = check.scripts.reduce(
      (sum, script) => sum + statementCount(fs.readFileSync(script, 'latin1')), 0);
    if (statements !== check.lines) {
      rowMismatches += 1;
      print(`${check.target}: rows: ${check.lines} lines in ${check.batch}, ` +
            `${statements} statements in the scripts`);
    }
  }
  if (reported > maxReports) console.log(`... ${reported - maxReports} more problems not shown`);
  const blockTotal = Object.values(kindTotals).reduce((a, b) => a + b, 0);
  const kinds = Object.entries(kindTotals).map(([k, n]) => `${kKinds[k]}: ${n}`).join(', ');
  const rows = rowChecks.length === 0 ? ''
    : `; ${rowMismatches} of ${rowChecks.length} batches lost or doubled rows`;
  console.log(`Checked ${scripts.length} scripts: ${failed} with problems, ` +
              `${syntaxTotal} syntax errors, ${blockTotal} block problems (${kinds})${rows}`);
  return failed === 0 && rowMismatches === 0 ? 0 : 1;
}

if (require.main === module) process.exitCode = main(process.argv.slice(2));

module.exports = { syntaxErrors, blockProblems, statementCount, loadGrammar };
