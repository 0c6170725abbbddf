#!/usr/bin/env bash
# Command lines of quillon and quillon-dump: --help and --version print and
# exit 0 (without a display), every usage error exits 2 with the usage line.
#   command_line_test.sh QUILLON QUILLON_DUMP FILE
set -u
quillon=$1 dump=$2 file=$3
failures=0
check() {  # expected-status expected-text-on-stdout-or-stderr command...
  local status=$1 text=$2
  shift 2
  local out
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$@" 2>&1 </dev/null)
  local got=$?
  if [[ $got -ne $status || $out != *"$text"* ]]; then
    echo "FAIL: $* -> status $got (expected $status), output:"
    echo "$out" | sed 's/^/  /'
    failures=$((failures + 1))
  fi
}
check 0 "usage: quillon [FILE]" "$quillon" --help
check 0 "quillon 1." "$quillon" --version
check 2 "unknown option --bogus" "$quillon" --bogus
check 2 "only one FILE" "$quillon" "$file" "$file"

usage="usage: quillon-dump [--json] [--pixel-module | --problems] PATH..."
check 0 "$usage" "$dump" --help
check 0 "--pixel-module" "$dump" --help
check 0 "quillon-dump 1." "$dump" --version
check 2 "$usage" "$dump"
check 2 "$usage" "$dump" --pixel-module
check 2 "$usage" "$dump" --bogus "$file"
check 2 "$usage" "$dump" -h
check 2 "only one FILE" "$dump" --thumbnails /tmp "$file" "$file"
check 2 "only one FILE" "$dump" --frame-samples 0 "$file" "$file"
check 2 "$usage" "$dump" --extract
check 2 "--extract takes" "$dump" --extract 0010 "$file"
check 2 "--diff needs two files" "$dump" --diff "$file"
check 2 "--json goes with" "$dump" --json --frame-samples 0 "$file"
check 2 "only one of" "$dump" --problems --diff "$file" "$file"
check 2 "$usage" "$dump" --thumbnails
check 2 "$usage" "$dump" --frame-samples 0
check 2 "$usage" "$dump" --frame-samples x "$file"
check 2 "$usage" "$dump" --pixel-module --thumbnails /tmp "$file"
check 1 "has no samples" "$dump" --frame-samples 0 "$file"
check 1 $'Frame 0 has no samples\nThe file has 0 frames.' "$dump" --frame-samples 0 "$file"
check 0 "rows=" "$dump" --pixel-module "$file"
check 0 "0002,0010" "$dump" -- "$file"
check 1 "The file was not found" "$dump" /nonexistent/file.dcm
# A path that gives nothing to parse says what it names on a second line.
check 1 $'Invalid DICOM file\nThe path names a folder, not a file.' "$dump" --thumbnails /tmp "$(dirname "$file")"
# A folder, or two files, is read as many files: a summary, exit 1 as some
# corpus files have problems or are refused.
check 1 "files, " "$dump" --problems "$(dirname "$file")"
check 0 $'1 file, 1 read, 0 with problems, 0 refused' bash -c 'echo "$1" | "$0" --problems -' "$dump" "$file"
check 1 $'Invalid DICOM file\nThe path names a character device, not a regular file.' "$dump" /dev/null
# An empty file says so.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
: > "$scratch/empty.dcm"
check 1 $'Invalid DICOM file\nThe file is empty.' "$dump" "$scratch/empty.dcm"
# A file cut part way: the elements read before the stop, as the whole file
# prints them but with ranges ending before the stop, then the message with
# where it stopped on stderr, exit 1; --problems ends with the stop.
head -c 2000 "$file" > "$scratch/cut.dcm"
"$dump" "$scratch/cut.dcm" > "$scratch/cut.out" 2> "$scratch/cut.err"
status=$?
"$dump" "$file" > "$scratch/whole.out"
stop=$(sed -n 's/^Reading stopped at byte \([0-9]*\).*/\1/p' "$scratch/cut.err")
lines=$(wc -l < "$scratch/cut.out")
if [[ $status -ne 1 || $(head -1 "$scratch/cut.err") != "Invalid DICOM file" || -z $stop || $lines -lt 10 ]]; then
  echo "FAIL: cut file -> status $status, $lines lines, stderr:"; sed 's/^/  /' "$scratch/cut.err"
  failures=$((failures + 1))
elif ! awk -F'\t' -v stop="$stop" '$8 >= stop { bad = 1 } END { exit bad }' "$scratch/cut.out"; then
  echo "FAIL: cut file: a range reaches the stop at $stop"; failures=$((failures + 1))
elif ! diff <(cut -f1-7,9- "$scratch/cut.out") <(head -n "$lines" "$scratch/whole.out" | cut -f1-7,9-) > /dev/null; then
  echo "FAIL: cut file: the elements read differ from the whole file's"; failures=$((failures + 1))
fi
check 1 $'\tstopped\t' "$dump" --problems "$scratch/cut.dcm"

# A failed write of any output is an error with the system's text: standard
# output on a full device, a thumbnail that cannot be put in place (a folder
# in its way, a folder without write permission); no partial PNG is left.
image=$(dirname "$file")/CT_small.dcm
full() {  # expected-text command...  (standard output to /dev/full)
  local text=$1
  shift
  local out
  out=$("$@" 2>&1 >/dev/full </dev/null)
  local got=$?
  if [[ $got -ne 1 || $out != *"$text"* ]]; then
    echo "FAIL: $* >/dev/full -> status $got (expected 1), output:"
    echo "$out" | sed 's/^/  /'
    failures=$((failures + 1))
  fi
}
full "No space left on device" "$dump" "$image"
full "No space left on device" "$dump" --pixel-module "$image"
full "No space left on device" "$dump" --frame-samples 0 "$image"
full "No space left on device" "$dump" --help
full "No space left on device" "$dump" --json "$image"
full "No space left on device" "$dump" --extract 7FE0,0010 "$image"
full "No space left on device" "$dump" "$image" "$image"
thumbs=$(mktemp -d)
mkdir "$thumbs/thumb-0000.png"
check 1 "Cannot write $thumbs/thumb-0000.png: Is a directory" "$dump" --thumbnails "$thumbs" "$image"
rmdir "$thumbs/thumb-0000.png"
if [[ $(id -u) -ne 0 ]]; then
  chmod 555 "$thumbs"
  check 1 "Cannot write $thumbs/thumb-0000.png: Permission denied" "$dump" --thumbnails "$thumbs" "$image"
  chmod 755 "$thumbs"
fi
if [[ -n $(ls -A "$thumbs") ]]; then
  echo "FAIL: a failed thumbnail write left $(ls -A "$thumbs")"
  failures=$((failures + 1))
fi
check 0 "" "$dump" --thumbnails "$thumbs" "$image"
[[ -s $thumbs/thumb-0000.png ]] || { echo "FAIL: no thumb-0000.png"; failures=$((failures + 1)); }
rm -rf "$thumbs"
exit $((failures > 0))
