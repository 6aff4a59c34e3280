#!/usr/bin/env python3
"""Dump agreement: our reader against mdbtools and mdb-reader.

For every database of the corpus (MANIFEST.tsv) this compares, per user
table: the set of table names, column names and types (against mdb-schema
and mdb-reader), the row count and every value (against mdb-export and
mdb-reader). Values are normalised for formatting only: number spelling,
date layout, hex case, GUID braces. Rows are compared as multisets.

Usage: compare_oracles.py JETTOOL CORPUS_DIR [--only SUBSTRING]
(the environment variable HVQ_CORPUS_DIR, when set, replaces CORPUS_DIR)
Exit status: 0 all agree, 1 disagreements (listed), 77 oracles missing.
"""
import csv
import datetime
import math
import io
import json
import os
import re
import shutil
import subprocess
import sys
from decimal import Decimal, InvalidOperation

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77

# Our type name -> (mdb-reader type, mdb-schema type prefix)
TYPES = {
    "Boolean": ("boolean", "Boolean"),
    "Byte": ("byte", "Byte"),
    "Integer": ("integer", "Integer"),
    "Long": ("long", "Long Integer"),
    "Currency": ("currency", "Currency"),
    "Single": ("float", "Single"),
    "Double": ("double", "Double"),
    "DateTime": ("datetime", "DateTime"),
    "Binary": ("binary", "Binary"),
    "Text": ("text", "Text"),
    "OLE": ("ole", "OLE"),
    "Memo": ("memo", "Memo/Hyperlink"),
    "GUID": ("repid", "Replication ID"),
    "Numeric": ("numeric", "Numeric"),
}


def run(args, **kw):
    return subprocess.run(args, capture_output=True, check=False, **kw)


def password_of(notes):
    m = re.search(r"password set \('([^']*)'\)", notes)
    return m.group(1) if m else ""


# Characters Windows-1252 leaves undefined; we keep them as C1 controls,
# mdbtools prints "?" and mdb-reader U+FFFD.
CP1252_HOLES = "\x81\x8d\x8f\x90\x9d"
BASE = datetime.datetime(1899, 12, 30)


def access_date(days):
    """Formats a day number the way Jet reads it (and we print it): the
    integer part counts days, the fraction is the time of day even for
    negative values."""
    day = math.trunc(days)
    secs = round(abs(days - day) * 86400)
    if secs >= 86400:
        secs -= 86400
        day += -1 if days < 0 else 1
    dt = BASE + datetime.timedelta(days=day, seconds=secs)
    return dt.strftime("%Y-%m-%d %H:%M:%S")


def linear_days(text):
    dt = datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S")
    return (dt - BASE).total_seconds() / 86400


def norm(kind, v, oracle, ours, jet3=False):
    """Canonical comparison form of one value given our column type.
    `oracle` names the reader the value is compared with; `ours` tells
    whether the value came from our tool."""
    if v is None:
        return ""
    v = v.strip() if kind not in ("Text", "Memo") else v
    if v == "" and kind not in ("Text", "Memo"):
        return ""
    try:
        if kind in ("Byte", "Integer", "Long"):
            return str(int(v))
        if kind in ("Currency", "Numeric"):
            return str(Decimal(v).normalize()) if Decimal(v) != 0 else "0"
        if kind == "Single":
            return "%.6g" % float(v)
        if kind == "Double":
            return "%.13g" % float(v)
        if kind == "Boolean":
            return {"true": "1", "false": "0"}.get(v.lower(), v)
        if kind == "DateTime":
            if oracle == "mdb-export" and (v < "1900-01-01" or v.startswith("1900-01-00")):
                return "<before 1900: mdbtools prints no date>"
            if oracle == "mdb-reader" and not ours:
                return access_date(linear_days(v))
            return v
    except (ValueError, InvalidOperation):
        return "<unparsable %r>" % v
    if kind in ("Text", "Memo") and ours:
        holes = CP1252_HOLES if jet3 else ""
        if oracle == "mdb-export":
            v = v.split("\0", 1)[0]  # C strings end at NUL
            return "".join("?" if c in holes else c for c in v)
        return "".join("\ufffd" if c in holes else c for c in v)
    if kind in ("Binary", "OLE"):
        return v.lower()
    if kind == "GUID":
        if oracle == "mdb-export" and not ours and re.fullmatch(r"(?:[0-9A-Fa-f]{2}){36,38}", v):
            v = bytes.fromhex(v).decode("ascii")  # -b hex also hexes GUIDs
        # Dash placement differs between readers; the digits are the value.
        return re.sub(r"[^0-9A-F]", "", v.upper())
    return v


def parse_csv(text, with_types):
    rows = list(csv.reader(io.StringIO(text)))
    if not rows:
        return [], [], []
    header = rows[0]
    types = rows[1] if with_types else []
    return header, types, rows[2 if with_types else 1:]


def schema_types(text):
    """mdb-schema output -> {table: {column: type}}."""
    out, table = {}, None
    for line in text.splitlines():
        m = re.match(r"CREATE TABLE \[(.*)\]", line)
        if m:
            table = m.group(1)
            out[table] = {}
            continue
        m = re.match(r"\s*\[(.*?)\]\s+(.*?)(?: NOT NULL)?,?\s*$", line)
        if m and table is not None:
            out[table][m.group(1)] = m.group(2)
    return out


def multiset(rows):
    return sorted(json.dumps(r, ensure_ascii=False) for r in rows)


def diff_rows(label, ours, theirs, problems, where):
    a, b = multiset(ours), multiset(theirs)
    if a == b:
        return
    only_a = sorted(set(a) - set(b))[:3]
    only_b = sorted(set(b) - set(a))[:3]
    problems.append("%s: rows differ from %s (ours %d, theirs %d); ours only %s; "
                    "theirs only %s" % (where, label, len(a), len(b), only_a, only_b))


def main():
    args = sys.argv[1:]
    only = None
    if "--only" in args:
        i = args.index("--only")
        only = args[i + 1]
        del args[i:i + 2]
    jettool, corpus = args
    corpus = os.environ.get("HVQ_CORPUS_DIR") or corpus
    manifest = os.path.join(corpus, "MANIFEST.tsv")
    if not os.path.exists(manifest):
        print("SKIP: corpus not found at %s" % corpus)
        return SKIP
    missing = [t for t in ("mdb-export", "mdb-schema", "mdb-tables", "node")
               if shutil.which(t) is None]
    if not os.path.isdir(os.path.join(HERE, "node_modules", "mdb-reader")):
        missing.append("mdb-reader (run npm install in tools/oracle)")
    if missing:
        print("SKIP: oracles not installed: %s" % ", ".join(missing))
        return SKIP

    with open(manifest, encoding="utf-8") as f:
        entries = list(csv.DictReader(f, delimiter="\t"))
    problems = []
    files = tables = rows = values = 0
    env = dict(os.environ, TZ="UTC")
    for e in entries:
        rel = e["path"]
        if only and only not in rel:
            continue
        path = os.path.join(corpus, rel)
        pw = password_of(e["notes"])
        jet3 = e["jet_version"] == "Jet3"
        files += 1
        pwargs = ["--password", pw] if pw else []
        r = run([jettool, "tables", path] + pwargs)
        if r.returncode != 0:
            problems.append("%s: jettool tables failed: %s" % (rel, r.stderr.decode()))
            continue
        our_tables = r.stdout.decode().splitlines()
        mt = run(["mdb-tables", "-1", path]).stdout.decode().splitlines()
        node = run(["node", os.path.join(HERE, "mdb_reader_dump.mjs"), path] +
                   ([pw] if pw else []), env=env)
        if node.returncode != 0:
            problems.append("%s: mdb-reader failed: %s" % (rel, node.stderr.decode()[:300]))
            continue
        rd = json.loads(node.stdout.decode())
        if sorted(our_tables) != sorted(mt):
            problems.append("%s: tables %s, mdbtools %s" % (rel, our_tables, mt))
        if sorted(our_tables) != sorted(rd):
            problems.append("%s: tables %s, mdb-reader %s" % (rel, our_tables, sorted(rd)))
        st = schema_types(run(["mdb-schema", path, "access"]).stdout.decode("utf-8", "replace"))
        for t in our_tables:
            where = "%s [%s]" % (rel, t)
            tables += 1
            r = run([jettool, "export", path, t, "--types"] + pwargs)
            if r.returncode != 0:
                problems.append("%s: jettool export failed: %s" % (where, r.stderr.decode()))
                continue
            header, types, our_rows = parse_csv(r.stdout.decode(), True)
            rows += len(our_rows)
            values += len(our_rows) * len(header)
            kinds = dict(zip(header, types))
            # Column types.
            if t in rd:
                theirs = {c["name"]: c["type"] for c in rd[t]["columns"]}
                for name, kind in kinds.items():
                    want = TYPES.get(kind, ("?", "?"))[0]
                    if theirs.get(name) != want:
                        problems.append("%s: column %s is %s, mdb-reader says %s" %
                                        (where, name, kind, theirs.get(name)))
                if sorted(theirs) != sorted(header):
                    problems.append("%s: columns %s, mdb-reader %s" % (where, header, sorted(theirs)))
            if t in st:
                for name, kind in kinds.items():
                    want = TYPES.get(kind, ("?", "?"))[1]
                    got = st[t].get(name, "<missing>")
                    if not got.startswith(want):
                        problems.append("%s: column %s is %s, mdb-schema says %s" %
                                        (where, name, kind, got))
            # mdb-export.
            ex = run(["mdb-export", "-T", "%Y-%m-%d %H:%M:%S", "-D", "%Y-%m-%d %H:%M:%S",
                      "-b", "hex", path, t])
            if ex.returncode != 0:
                problems.append("%s: mdb-export failed" % where)
            else:
                eh, _, erows = parse_csv(ex.stdout.decode("utf-8", "replace"), False)
                idx = [eh.index(h) if h in eh else None for h in header]
                theirs = [[norm(kinds[h], row[i] if i is not None and i < len(row) else None,
                                "mdb-export", False)
                           for h, i in zip(header, idx)] for row in erows]
                ours = [[norm(kinds[h], v, "mdb-export", True, jet3) for h, v in zip(header, row)]
                        for row in our_rows]
                diff_rows("mdb-export", ours, theirs, problems, where)
            # mdb-reader.
            if t in rd:
                names = [c["name"] for c in rd[t]["columns"]]
                idx = [names.index(h) if h in names else None for h in header]
                theirs = [[norm(kinds[h], row[i] if i is not None else None, "mdb-reader", False)
                           for h, i in zip(header, idx)] for row in rd[t]["rows"]]
                ours = [[norm(kinds[h], v, "mdb-reader", True, jet3) for h, v in zip(header, row)]
                        for row in our_rows]
                diff_rows("mdb-reader", ours, theirs, problems, where)
    for p in problems:
        print("DISAGREE: " + p)
    print("%d files, %d tables, %d rows, %d values compared; %d disagreements" %
          (files, tables, rows, values, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
