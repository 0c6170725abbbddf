#!/usr/bin/python3
"""quillon-dump over a folder against one run per file.

A small folder (corpus files in nested folders, a refused file, a file
whose parse stops part way, a text file) is dumped as a folder, then as the
same paths on standard input; each must be the single-file runs of its files,
in sorted path order, every line after the path and a TAB, the error lines
likewise, then the summary; exit 1 as some files are refused or have
problems. A folder of clean files exits 0.

    /usr/bin/python3 tests/cli/test_many_files.py --dump build/tools/quillon-dump
"""

import argparse
import os
import shutil
import sys
import tempfile

from cli_common import TEST_FILES, report, run

FILES = {
    "a/CT_small.dcm": "CT_small.dcm",
    "a/deeper/rtplan.dcm": "rtplan.dcm",
    "a/deeper/image_dfl.dcm": "image_dfl.dcm",
    "b/SC_rgb_rle_2frame.dcm": "SC_rgb_rle_2frame.dcm",
    "b/JPEG2000.dcm": "JPEG2000.dcm",
    "b/rtplan_truncated.dcm": "rtplan_truncated.dcm",
    "b/badVR.dcm": "badVR.dcm",
    "c/notes.txt": None,
    "c/empty.dcm": b"",
    "z.dcm": "MR_small.dcm",
}


def prefixed(path, text):
    return "".join(f"{path}\t{line}\n" for line in text.splitlines())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dump", required=True)
    args = parser.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as root:
        for name, source in FILES.items():
            target = os.path.join(root, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if source is None:
                with open(target, "w") as f:
                    f.write("not a DICOM file\n")
            elif isinstance(source, bytes):
                with open(target, "wb") as f:
                    f.write(source)
            else:
                shutil.copy(os.path.join(TEST_FILES, source), target)
        paths = sorted(os.path.join(root, name) for name in FILES)

        for option in ([], ["--pixel-module"], ["--problems"], ["--json", "--problems"]):
            expected_out, expected_err = "", ""
            refused = problems = 0
            for path in paths:
                code, out, err = run(args.dump, *option, path)
                if "--json" in option:
                    expected_out += "".join(
                        '{"file":"%s",%s\n' % (path, line[1:]) for line in out.decode().splitlines())
                else:
                    expected_out += prefixed(path, out.decode())
                expected_err += prefixed(path, err)
                refused += code != 0
                problems += code == 0 and bool(out)
            for how, call in (("folder", lambda: run(args.dump, *option, root)),
                              ("stdin", lambda: run(args.dump, *option, "-",
                                                    stdin="".join(p + "\n" for p in paths).encode()))):
                code, out, err = call()
                lines = err.splitlines()
                summary = lines[-1] if lines else ""
                if out.decode() != expected_out:
                    failures.append(f"{option} {how}: output differs from one run per file")
                if "\n".join(lines[:-1]) + "\n" != expected_err:
                    failures.append(f"{option} {how}: errors differ:\n{err}\nexpected:\n{expected_err}")
                if code != 1:
                    failures.append(f"{option} {how}: exit {code}, expected 1")
                want = f"quillon-dump: {len(paths)} files, {len(paths) - refused} read, "
                if not summary.startswith(want) or f"{refused} refused (" not in summary:
                    failures.append(f"{option} {how}: summary {summary!r}, expected {want!r}... {refused} refused")
                if "--problems" in option and f"read, {problems} with problems" not in summary:
                    failures.append(f"{option} {how}: summary {summary!r}, expected {problems} with problems")

        # Clean files only: exit 0; a single file keeps its own output.
        clean = os.path.join(root, "a", "deeper")
        os.remove(os.path.join(clean, "image_dfl.dcm"))
        code, out, err = run(args.dump, "--problems", clean)
        if code != 0 or out or not err.endswith("1 file, 1 read, 0 with problems, 0 refused\n"):
            failures.append(f"clean folder: exit {code}, {out!r}, {err!r}")
        code, out, err = run(args.dump, os.path.join(clean, "rtplan.dcm"))
        if code != 0 or out.startswith(clean.encode()) or err:
            failures.append(f"single file: exit {code}, prefixed or with errors")

    return report(failures, f"{len(paths)} files, ")


if __name__ == "__main__":
    sys.exit(main())
