#!/usr/bin/env bash
# check_exports.sh OBJDUMP DLL EXPECTED
# Holds a built i686 Windows DLL to its binary contract: exactly the export
# names and ordinals listed in EXPECTED ("ordinal name convention" per line,
# '#' comments; an optional "module NAME" line gives the module name the
# export table records), each export's calling convention, and no import of a mingw
# runtime DLL that a user would have to install.
# Conventions: "stdcall:N" (the callee removes N bytes of arguments: the
# function returns with "ret $N") or "cdecl" (the caller removes them).
set -u
objdump=$1 dll=$2 expected=$3
dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }

# The name table lists "[index] name"; the ordinal is index + ordinal base.
actual=$(awk '/Ordinal Base/ {base=$NF} /\[Ordinal\/Name Pointer\] Table/ {t=1; next}
  t && /^\t\[/ {gsub(/[][]/, " "); print $1 + base, $2; next} t {t=0}' <<<"$dump" | sort -n)
wanted=$(grep -v -E '^\s*(#|$|module\s)' "$expected" | awk '{print $1, $2}' | sort -n)

status=0
module=$(awk '/^\s*module\s/ {print $2}' "$expected")
if [ -n "$module" ]; then
  recorded=$(awk '/The Export Tables/ {t=1} t && /^Name[ \t]/ {print $NF; exit}' <<<"$dump")
  if [ "$recorded" != "$module" ]; then
    echo "$(basename "$dll") records the module name \"$recorded\", not \"$module\""
    status=1
  fi
fi
if [ "$actual" != "$wanted" ]; then
  echo "exports of $(basename "$dll") differ from $(basename "$expected")"
  diff <(echo "$wanted") <(echo "$actual") | sed 's/^</ expected:/; s/^>/ built:   /'
  status=1
fi
if grep -i -E 'DLL Name: (libgcc_s|libstdc\+\+|libwinpthread)' <<<"$dump"; then
  echo "$(basename "$dll") needs a mingw runtime DLL beside it"
  status=1
fi
# The calling convention, read from the instruction that returns.
image_base=$(awk '/^ImageBase/ {print $2}' <<<"$dump")
while read -r ordinal name convention; do
  [ -n "$convention" ] || continue
  rva=$(awk -v want="$ordinal" '/Ordinal Base/ {base=$NF} /Export Address Table --/ {t=1; next}
    t && /^\t\[/ {gsub(/[][+]/, " "); if ($3 == want) print $4; next} t {t=0}' <<<"$dump")
  start=$((0x$image_base + 0x$rva))
  ret=$("$objdump" -d --no-show-raw-insn --start-address=$start --stop-address=$((start + 4096)) "$dll" |
    grep -m1 -E '\sret\s*(\$0x[0-9a-f]+)?\s*$')
  case $convention in
    stdcall:0) want='' ;;  # no arguments to remove: a plain ret
    stdcall:*) want=$(printf '\$0x%x' "${convention#stdcall:}") ;;
    cdecl) want='' ;;
    *) echo "unknown convention $convention for $name"; status=1; continue ;;
  esac
  wrong=0
  if [ -z "$want" ]; then
    grep -q '\$0x' <<<"$ret" && wrong=1
  else
    grep -q -- "$want\s*$" <<<"$ret" || wrong=1
  fi
  if [ $wrong -eq 1 ]; then
    echo "$name is not $convention: it returns with \"$(sed 's/.*\t//' <<<"$ret")\""
    status=1
  fi
done < <(grep -v -E '^\s*(#|$|module\s)' "$expected")

[ $status -eq 0 ] && echo "$(basename "$dll"): $(wc -l <<<"$actual") exports as expected, no runtime DLL imported"
exit $status
