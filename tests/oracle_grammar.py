#!/usr/bin/python3
"""Parses Oracle SQL with a real Oracle grammar (sqlglot, dialect "oracle") and checks the
program's Oracle statement texts against the Oracle tables, so that a typo in a text that only
an Oracle server would run fails the tests here.

usage: oracle_grammar.py [--central DDL] [--client DDL] FILE...

Statements are separated by ";" or, in a file of statement texts, by lines holding only "--";
a line "-- inputs: KIND..." ahead of a statement gives the kinds of its inputs :1, :2, ...
(text, number, null). With --central (the tables of KVSYSTEM) and --client (the tables of a
client schema, where unqualified names resolve), every statement of a FILE must name only
tables and columns those define, use each value where the column's type takes it, use every
input and no other, give dates only masks of Oracle's format elements, and hint only
IGNORE_ROW_ON_DUPKEY_INDEX(table(columns)) with the inserted table and the columns of one of
its unique keys. Exits 1 naming every statement that fails, and why."""
import re
import sys

import sqlglot
from sqlglot import exp
from sqlglot.errors import ParseError

HINT = re.compile(r"/\*\+(.*?)\*/", re.S)
# The views of Oracle's data dictionary that the installation self-test reads (owner SYS), with
# the columns it may name, as Oracle's Database Reference describes them.
DICTIONARY = """
CREATE TABLE ALL_TAB_COLUMNS (OWNER VARCHAR2(128) NOT NULL, TABLE_NAME VARCHAR2(128) NOT NULL,
  COLUMN_NAME VARCHAR2(128) NOT NULL, DATA_TYPE VARCHAR2(128), DATA_LENGTH NUMBER NOT NULL,
  DATA_PRECISION NUMBER, DATA_SCALE NUMBER, NULLABLE VARCHAR2(1), COLUMN_ID NUMBER,
  CHAR_LENGTH NUMBER, CHAR_USED VARCHAR2(1));
CREATE TABLE ALL_INDEXES (OWNER VARCHAR2(128) NOT NULL, INDEX_NAME VARCHAR2(128) NOT NULL,
  TABLE_OWNER VARCHAR2(128) NOT NULL, TABLE_NAME VARCHAR2(128) NOT NULL,
  UNIQUENESS VARCHAR2(9));
CREATE TABLE ALL_IND_COLUMNS (INDEX_OWNER VARCHAR2(128) NOT NULL,
  INDEX_NAME VARCHAR2(128) NOT NULL, TABLE_OWNER VARCHAR2(128) NOT NULL,
  TABLE_NAME VARCHAR2(128) NOT NULL, COLUMN_NAME VARCHAR2(4000), COLUMN_POSITION NUMBER NOT NULL);
CREATE TABLE NLS_DATABASE_PARAMETERS (PARAMETER VARCHAR2(128) NOT NULL, VALUE VARCHAR2(64));
CREATE TABLE V_$PARAMETER (NAME VARCHAR2(80), VALUE VARCHAR2(4000));
"""
# Oracle's datetime format elements (longest first) and the punctuation a mask may hold.
DATE_ELEMENT = re.compile(
    r"syyyy|iyyy|yyyy|rrrr|yyy|iyy|yy|iy|rr|y|i|month|mon|mm|rm|ww|iw|w|ddd|dd|day|dy|d|j|q|"
    r"hh24|hh12|hh|mi|sssss|ss|am|pm|a\.m\.|p\.m\.|ff[1-9]?|[-/,.;: ]")
COMPARISONS = (exp.EQ, exp.NEQ, exp.GT, exp.GTE, exp.LT, exp.LTE)


class Table:
    def __init__(self, create):
        self.name = create.this.this.name.upper()
        self.columns = {}  # name: (kind, nullable)
        self.keys = []  # the column sets of its primary and unique keys
        for item in create.this.expressions:
            if isinstance(item, exp.ColumnDef):
                kind = {exp.DataType.Type.DECIMAL: "number", exp.DataType.Type.DATE: "date"}.get(
                    item.args["kind"].this, "text")
                nullable = not any(isinstance(c.args.get("kind"), exp.NotNullColumnConstraint)
                                   for c in item.args.get("constraints") or [])
                self.columns[item.name.upper()] = (kind, nullable)
            elif isinstance(item, exp.Constraint):
                key = item.expressions[0]
                self.keys.append({c.name.upper() for c in key.expressions})


def statements_of(path):
    """(statement, inputs) of a file; inputs None where the file gives none."""
    return statements_of_text(open(path, encoding="utf-8").read())


def statements_of_text(text):
    if not re.search(r"^--$", text, flags=re.M):
        text = re.sub(r"--[^\n]*", "", text).replace(";", "\n--\n")
    for block in re.split(r"^--$", text, flags=re.M):
        inputs = re.search(r"^-- inputs:(.*)$", block, flags=re.M)
        statement = re.sub(r"--[^\n]*", "", block).strip()
        if statement:
            yield statement, inputs.group(1).split() if inputs else None


class Checker:
    def __init__(self, central, client, dictionary):
        self.central = central
        self.client = client
        self.dictionary = dictionary
        self.problems = []

    def check(self, statement, inputs, tree):
        self.inputs = inputs or []
        self.tables = []
        for table in tree.find_all(exp.Table):
            self.tables.append(self.table(table))
        if isinstance(tree, exp.Insert):
            self.insert(tree, HINT.search(statement))
        elif HINT.search(statement):
            self.problems.append("a hint outside an insert")
        for node in tree.walk(bfs=False):
            node = node[0] if isinstance(node, tuple) else node
            if isinstance(node, exp.Column):
                self.column(node)
            elif isinstance(node, COMPARISONS):
                self.same_kind(node.this, node.expression, node.sql(dialect="oracle"))
            elif isinstance(node, exp.Anonymous) or isinstance(node, exp.RegexpLike):
                self.kind(node)
        used = {int(p.name) if p.name.isdigit() else p.name
                for p in tree.find_all(exp.Placeholder)}
        if inputs is not None and used != set(range(1, len(inputs) + 1)):
            self.problems.append(f"placeholders {sorted(used)} for {len(inputs)} inputs")

    def table(self, table):
        schema = table.text("db").upper()
        tables = self.central if schema == "KVSYSTEM" else self.client
        if table.name.upper() == "DUAL" and not schema:
            return None
        if schema == "SYS":
            tables = self.dictionary
        # Unqualified, or qualified by another schema (the self-test names each client schema it
        # checks), a table is a client table.
        found = tables.get(table.name.upper())
        if found is None:
            where = {"KVSYSTEM": "sql/oracle/central.sql", "SYS": "the data dictionary as used "
                     "here"}.get(schema, "the client tables")
            self.problems.append(f"table {table.sql(dialect='oracle')} is not in {where}")
        return found

    def column_of(self, name):
        for table in self.tables:
            if table is not None and name.upper() in table.columns:
                return table.columns[name.upper()]
        return None

    def column(self, column):
        if column.name.upper() == "SYSDATE":
            return
        if self.column_of(column.name) is None:
            names = ", ".join(t.name for t in self.tables if t is not None) or "no table"
            self.problems.append(f"column {column.name} is not in {names}")

    def insert(self, insert, hint):
        target = self.tables[0]
        if target is None:
            return
        columns = [c.name.upper() for c in insert.this.expressions]
        values = insert.expression.expressions[0].expressions
        if len(values) != len(columns):
            self.problems.append(f"{len(values)} values for {len(columns)} columns")
        for name, value in zip(columns, values):
            if name not in target.columns:
                self.problems.append(f"column {name} is not in {target.name}")
                continue
            kind, nullable = target.columns[name]
            given = self.kind(value)
            if isinstance(value, exp.Null) and not nullable:
                self.problems.append(f"NULL into {name}, which is NOT NULL")
            elif given is not None and given != kind:
                self.problems.append(f"a {given} into {name}, a {kind} column")
        if hint is not None:
            self.hint(hint.group(1).strip(), target)

    def hint(self, text, target):
        match = re.fullmatch(r"IGNORE_ROW_ON_DUPKEY_INDEX\(\s*(\w+)\s*\(([\w\s,]+)\)\s*\)", text)
        if match is None:
            self.problems.append(f"hint not known here: {text}")
            return
        table, columns = match.group(1).upper(), {c.strip().upper() for c in
                                                   match.group(2).split(",")}
        if table != target.name:
            self.problems.append(f"the hint names {table}, the insert {target.name}")
        elif columns not in target.keys:
            self.problems.append(f"the hint's columns {sorted(columns)} are no unique key of "
                                 f"{table} (keys: {[sorted(k) for k in target.keys]})")

    def same_kind(self, left, right, where):
        kinds = self.kind(left), self.kind(right)
        if None not in kinds and kinds[0] != kinds[1]:
            self.problems.append(f"a {kinds[0]} compared with a {kinds[1]}: {where}")

    def argument(self, node, want, function):
        given = self.kind(node)
        if given is not None and given != want:
            self.problems.append(f"{function} takes a {want}, not a {given}: "
                                 f"{node.sql(dialect='oracle')}")

    def mask(self, node, function):
        if not (isinstance(node, exp.Literal) and node.is_string):
            self.problems.append(f"{function} without a literal format mask")
        elif not re.fullmatch(f"(?:{DATE_ELEMENT.pattern})+", node.this.lower()):
            self.problems.append(f"{function}: '{node.this}' is no Oracle date format mask")

    def kind(self, node):
        """The kind of value node gives (text, number, date), None for NULL or unknown."""
        if isinstance(node, exp.Paren):
            return self.kind(node.this)
        if isinstance(node, exp.Placeholder):
            number = int(node.name) if node.name.isdigit() else 0
            if not 1 <= number <= len(self.inputs):
                return None
            kind = self.inputs[number - 1]
            return None if kind == "null" else kind
        if isinstance(node, exp.Column):
            if node.name.upper() == "SYSDATE":
                return "date"
            column = self.column_of(node.name)
            return column[0] if column else None
        if isinstance(node, exp.Literal):
            return "text" if node.is_string else "number"
        if isinstance(node, exp.DPipe):
            self.argument(node.this, "text", "||")
            self.argument(node.expression, "text", "||")
            return "text"
        if isinstance(node, exp.RegexpLike):
            self.argument(node.this, "text", "regexp_like")
            return None
        if isinstance(node, exp.Case):
            kinds = {self.kind(i.args["true"]) for i in node.args["ifs"]}
            if node.args.get("default") is not None:
                kinds.add(self.kind(node.args["default"]))
            kinds.discard(None)
            return kinds.pop() if len(kinds) == 1 else None
        if isinstance(node, exp.Anonymous):
            name, arguments = node.name.lower(), node.expressions
            if name == "to_date" and len(arguments) == 2:
                self.argument(arguments[0], "text", "to_date")
                self.mask(arguments[1], "to_date")
                return "date"
            if name == "to_char" and len(arguments) == 2:
                self.argument(arguments[0], "date", "to_char")
                self.mask(arguments[1], "to_char")
                return "text"
            if name == "rpad":
                self.argument(arguments[0], "text", "rpad")
                return "text"
        return None


# A text column's length semantics, VARCHAR2(19 CHAR): this grammar's release knows no such
# qualifier, and the checks need only the kind of value.
LENGTH_SEMANTICS = re.compile(r"\((\d+)\s+(?:CHAR|BYTE)\)", flags=re.I)


def ddl_tables(path=None, text=None):
    tables = {}
    for statement, _ in (statements_of(path) if path else statements_of_text(text)):
        tree = sqlglot.parse_one(LENGTH_SEMANTICS.sub(r"(\1)", statement), read="oracle")
        if isinstance(tree, exp.Create) and tree.args.get("kind") == "TABLE":
            table = Table(tree)
            tables[table.name] = table
    return tables


def main(arguments):
    central, client, paths = None, None, []
    while arguments:
        argument = arguments.pop(0)
        if argument in ("--central", "--client"):
            tables = ddl_tables(arguments[0])
            paths.append(arguments.pop(0))
            if argument == "--central":
                central = tables
            else:
                client = tables
        else:
            paths.append(argument)
    failed = 0
    for path in paths:
        for statement, inputs in statements_of(path):
            try:
                # Optimizer hints are comments to every parser but Oracle's optimizer; this
                # version of sqlglot does not take them, nor a length's semantics.
                plain = LENGTH_SEMANTICS.sub(r"(\1)", HINT.sub("", statement))
                tree = sqlglot.parse_one(plain, read="oracle")
            except ParseError as error:
                failed += 1
                print(f"{path}: does not parse as Oracle SQL: {statement}\n  {error}"
                      .splitlines()[0])
                continue
            if central is None or client is None or isinstance(tree, exp.Create):
                continue
            checker = Checker(central, client, ddl_tables(text=DICTIONARY))
            checker.check(statement, inputs, tree)
            for problem in dict.fromkeys(checker.problems):  # once each, in order
                failed += 1
                print(f"{path}: {problem} (checked against sql/oracle/*.sql): {statement}")
    return 1 if failed else 0


sys.exit(main(sys.argv[1:]))
