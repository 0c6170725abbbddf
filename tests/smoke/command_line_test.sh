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

usage="usage: quillon-dump [--pixel-module | --problems | --thumbnails DIR | --frame-samples K] FILE"
check 0 "$usage" "$dump" --help
check 0 "--pixel-module" "$dump" --help
check 0 "quillon-dump 1." "$dump" --version
check 2 "$usage" "$dump"
check 2 "$usage" "$dump" --pixel-module
check 2 "$usage" "$dump" --bogus "$file"
check 2 "$usage" "$dump" -h
check 2 "$usage" "$dump" "$file" "$file"
check 2 "$usage" "$dump" --pixel-module "$file" "$file"
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
check 1 $'Invalid DICOM file\nThe path names a folder, not a file.' "$dump" "$(dirname "$file")"
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
# Output that cannot be written is a failure with the system's reason, for
# every kind of output: the tree, the pixel description, the problems, a
# frame's samples, --help; a thumbnail that cannot be written leaves nothing.
ct=/usr/lib/python3/dist-packages/pydicom/data/test_files/CT_small.dcm
for args in "$file" "--pixel-module $file" "--problems $scratch/cut.dcm" "--frame-samples 0 $ct" --help; do
  # shellcheck disable=SC2086
  "$dump" $args > /dev/full 2> "$scratch/full.err" < /dev/null
  status=$?
  if [[ $status -ne 1 ]] || ! grep -q "cannot write the output: No space left on device" "$scratch/full.err"; then
    echo "FAIL: $dump $args > /dev/full -> status $status, stderr:"; sed 's/^/  /' "$scratch/full.err"
    failures=$((failures + 1))
  fi
done
mkdir -p "$scratch/thumbs/thumb-0000.png"
check 1 "Cannot write $scratch/thumbs/thumb-0000.png: Is a directory" "$dump" --thumbnails "$scratch/thumbs" "$ct"
if compgen -G "$scratch/thumbs/*.part" > /dev/null; then
  echo "FAIL: a failed thumbnail left a partial file"; failures=$((failures + 1))
fi
exit $((failures > 0))
