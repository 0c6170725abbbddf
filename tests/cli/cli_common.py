"""Shared pieces of the command-line tests: the corpus, running quillon-dump,
and reading its TAB-separated tree lines."""

import os
import subprocess

DATA_ROOT = "/usr/lib/python3/dist-packages/pydicom/data"
TEST_FILES = os.path.join(DATA_ROOT, "test_files")

TREE_FIELDS = ("depth", "tag", "vr", "tag_offset", "data_offset", "length", "first", "last",
               "description", "value", "label")


def run(dump, *args, stdin=None):
    """quillon-dump's exit status, standard output (bytes) and standard error (text)."""
    done = subprocess.run([dump, *args], input=stdin, capture_output=True, timeout=600)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def tree(dump, path):
    """The tree lines of one file as dicts of their fields (text as printed)."""
    code, out, err = run(dump, path)
    assert code == 0, (path, code, err)
    records = []
    for line in out.decode("utf-8").splitlines():
        fields = line.split("\t")
        assert len(fields) == len(TREE_FIELDS), (path, line)
        records.append(dict(zip(TREE_FIELDS, fields)))
    return records


def report(failures, summary):
    """Prints each failure and the summary line ahead of the failure count;
    the script's exit status."""
    for failure in failures:
        print("FAIL", failure)
    print(f"{summary}{len(failures)} failures")
    return 1 if failures else 0


def escape(text):
    """What the TAB-separated output makes of a text: TAB, CR, LF and the other
    control characters as escapes."""
    out = []
    for c in text:
        if c == "\t":
            out.append("\\t")
        elif c == "\r":
            out.append("\\r")
        elif c == "\n":
            out.append("\\n")
        elif ord(c) < 0x20 or ord(c) == 0x7F:
            out.append("\\x%02X" % ord(c))
        else:
            out.append(c)
    return "".join(out)
