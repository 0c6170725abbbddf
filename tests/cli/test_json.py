#!/usr/bin/python3
"""quillon-dump --json against the TAB-separated output on the whole corpus.

Every file under pydicom's data directory and the fuzz seeds is dumped in folder mode, once as
TSV and once as JSON Lines, for the tree, --pixel-module and --problems; each
file's JSON records must be its TSV records, in the same order, field by
field: numbers as numbers, texts that the TSV escapes equal once escaped.
One file is also dumped alone, whose JSON has no "file" field.

    /usr/bin/python3 tests/cli/test_json.py --dump build/tools/quillon-dump
"""

import argparse
import collections
import glob
import json
import os
import math
import sys

from cli_common import DATA_ROOT, TREE_FIELDS, TEST_FILES, escape, run


def by_file_tsv(out):
    files = collections.defaultdict(list)
    for line in out.decode("utf-8").splitlines():
        path, _, rest = line.partition("\t")
        files[path].append(rest.split("\t"))
    return files


def by_file_json(out):
    files = collections.defaultdict(list)
    for line in out.decode("utf-8").splitlines():
        record = json.loads(line)
        assert list(record)[0] == "file", line
        files[record.pop("file")].append(record)
    return files


def tree_fields(record):
    length = record["length"]
    return [str(record["depth"]), record["tag"], record["vr"], str(record["tag_offset"]),
            str(record["data_offset"]), "FFFFFFFF" if length == 0xFFFFFFFF else str(length),
            str(record["first"]), str(record["last"]), escape(record["description"]),
            escape(record["value"]), escape(record["label"])]


def problem_fields(record):
    return [str(record["offset"]), record["tag"], record["code"], record["sentence"]]


def same_pixel_module(tsv, record):
    pairs = [field.split("=", 1) for field in tsv]
    if [k for k, _ in pairs] != list(record):
        return False
    for key, text in pairs:
        value = record[key]
        if isinstance(value, list):
            if text != "/".join(str(v) for v in value):
                return False
        elif isinstance(value, float):
            expected = float(text)
            if not (value == expected or (math.isnan(value) and math.isnan(expected))):
                return False
        elif isinstance(value, str):
            if text != value:
                return False
        elif text != str(value):
            return False
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    seeds = sorted(glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz", "seeds*")))
    folders = [DATA_ROOT, *seeds]
    for mode, option in (("tree", []), ("pixel-module", ["--pixel-module"]), ("problems", ["--problems"])):
        _, tsv_out, _ = run(args.dump, *option, *folders)
        _, json_out, _ = run(args.dump, "--json", *option, *folders)
        tsv, js = by_file_tsv(tsv_out), by_file_json(json_out)
        if sorted(tsv) != sorted(js):
            failures.append(f"{mode}: files differ: {sorted(set(tsv) ^ set(js))}")
        records = 0
        for path in sorted(tsv):
            a, b = tsv[path], js.get(path, [])
            if len(a) != len(b):
                failures.append(f"{mode} {path}: {len(a)} TSV records, {len(b)} JSON records")
                continue
            for i, (fields, record) in enumerate(zip(a, b)):
                records += 1
                if mode == "tree":
                    same = list(record) == list(TREE_FIELDS) and tree_fields(record) == fields
                elif mode == "problems":
                    same = list(record) == ["offset", "tag", "code", "sentence"] and problem_fields(record) == fields
                else:
                    same = same_pixel_module(fields, record)
                if not same:
                    failures.append(f"{mode} {path} record {i}: TSV {fields} JSON {record}")
        print(f"{mode}: {len(tsv)} files, {records} records compared")
        if records == 0:
            failures.append(f"{mode}: nothing compared")

    # One file alone: the same records, without the file field.
    single = f"{TEST_FILES}/rtplan.dcm"
    code, out, err = run(args.dump, "--json", single)
    _, many, _ = run(args.dump, "--json", single, single)
    alone = [json.loads(line) for line in out.decode().splitlines()]
    together = [json.loads(line) for line in many.decode().splitlines()]
    for record in together:
        record.pop("file")
    if code != 0 or alone != together[: len(alone)] or len(together) != 2 * len(alone):
        failures.append(f"single-file JSON differs from folder JSON (exit {code}, {err})")

    for failure in failures[:50]:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
