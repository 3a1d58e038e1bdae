#!/usr/bin/python3
"""Parses Oracle SQL with a real Oracle grammar (sqlglot, dialect "oracle"), so that a typo in a
statement text that only an Oracle server would run fails the tests here.

usage: oracle_grammar.py FILE...   (statements separated by ";" or, in a file of statement
texts, by lines holding only "--"); exits 1 naming every statement that does not parse."""
import re
import sys

import sqlglot
from sqlglot.errors import ParseError

failed = 0
for path in sys.argv[1:]:
    text = open(path, encoding="utf-8").read()
    # Optimizer hints are comments to every parser but Oracle's optimizer; this version of
    # sqlglot does not take them.
    text = re.sub(r"/\*\+.*?\*/", "", text, flags=re.S)
    separator = r"^--$" if re.search(r"^--$", text, flags=re.M) else r";"
    for statement in re.split(separator, re.sub(r"--[^\n]+", "", text), flags=re.M):
        statement = statement.strip()
        if not statement:
            continue
        try:
            sqlglot.parse_one(statement, read="oracle")
        except ParseError as error:
            failed += 1
            print(f"{path}: does not parse as Oracle SQL: {statement}\n  {error}".splitlines()[0])
sys.exit(1 if failed else 0)
