#!/bin/sh
# importlib.sh CXX DLLTOOL SOURCE_ROOT DLL OUTPUT HEADER...
# Makes OUTPUT, the import library of DLL, from the functions that the HEADERs
# themselves (not the headers they include) declare dllimport, with their
# macros expanded: the headers stay the one list of what the DLL exports.
set -eu
cxx=$1 dlltool=$2 root=$3 dll=$4 out=$5
shift 5
for header in "$@"; do echo "#include \"$header\""; done >"$out.cpp"
"$cxx" -E -DUNICODE -I"$root" "$out.cpp" -o "$out.i"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # Line markers say which file each line comes from; a declaration ends at ';'.
  awk -v root="$root/" -v headers=" $* " '
    /^# [0-9]+ "/ {
      f = $3; gsub(/"/, "", f)
      own = substr(f, 1, length(root)) == root && index(headers, " " substr(f, length(root) + 1) " ") > 0
      next
    }
    own' "$out.i" |
    tr ';' '\n' |
    sed -n 's/.*(dllimport)).*[^A-Za-z0-9_]\([A-Za-z_][A-Za-z0-9_]*\) *(.*/\1/p' | sort -u
} >"${out%.a}.def"
if [ "$(wc -l <"${out%.a}.def")" -le 2 ]; then
  echo "importlib: $* declare nothing dllimport" >&2
  exit 1
fi
"$dlltool" --input-def "${out%.a}.def" --dllname "$dll" --output-lib "$out"
