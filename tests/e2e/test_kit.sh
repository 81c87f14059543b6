# The kit tool: the kit the build makes, refusals, reproducibility, the
# catalog-only uninstaller payload.
. "$(dirname "$0")/lib.sh"

PAYLOAD=$TARVO_BUILD/kit/payload
MANIFEST=$PAYLOAD/manifest
W=/tmp/kit_test
rm -rf "$W" && mkdir -p "$W"

expected_paths() { grep -v '^#' "$TARVO_SRC/kit/manifest" | grep -v '^$' | cut -f1; }

# --- the built kit ---
check "built kit verifies" "$TOOL" verify "$KIT"
"$TOOL" list "$KIT" > "$W/list" || fail "list failed"
check "list shows the seven paths in order" [ "$(cut -f1 "$W/list")" = "$(expected_paths)" ]
check "first stream follows the program" [ "$(head -n1 "$W/list" | cut -f2)" = "$(stat -c %s "$TARVO_BUILD/tarvo_setup")" ]
while IFS=$'\t' read -r path offset size; do
    check "stream of $path begins BZh9" [ "$(dd if="$KIT" bs=1 skip="$offset" count=4 2>/dev/null)" = BZh9 ]
done < "$W/list"

# A changed byte inside the third stream names that entry.
cp "$KIT" "$W/bad.bin"
read -r offset size < <(sed -n 3p "$W/list" | cut -f2,3)
pos=$((offset + size / 2))
byte=$(od -An -tu1 -j "$pos" -N1 "$W/bad.bin" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$W/bad.bin" bs=1 seek="$pos" conv=notrunc 2>/dev/null
expect_status 1 "verify of a damaged kit" "$TOOL" verify "$W/bad.bin" 2> "$W/err"
expect_contains "$W/err" "entry 3 (TARVO5/Linux/ppc64/64/lib/libqzopenssl_crypto.so)"

head -c -1 "$KIT" > "$W/cut.bin"  # no final line feed: no trailer
expect_status 1 "verify without trailer" "$TOOL" verify "$W/cut.bin"

# --- reproducibility and permissions: a rebuild with any -j equals the build's own ---
for j in 1 3; do
    check "rebuild with -j $j" "$TOOL" build -j "$j" --program "$TARVO_BUILD/tarvo_setup" --manifest "$MANIFEST" --out "$W/k1"
    check "rebuild with -j $j is byte-identical" cmp -s "$W/k1" "$KIT"
done
expect_status 1 "-j 0 is refused" "$TOOL" build -j 0 --program "$TARVO_BUILD/tarvo_setup" --manifest "$MANIFEST" --out "$W/k1"
cp "$TARVO_BUILD/tarvo_setup" "$W/prog" && chmod 0750 "$W/prog"
check "build from a 0750 program" "$TOOL" build --program "$W/prog" --manifest "$MANIFEST" --out "$W/k3"
check "kit keeps the program's mode" [ "$(stat -c %a "$W/k3")" = 750 ]

# --- refusals: nothing at KIT, no temporary file left ---
mkdir -p "$W/r" && echo data > "$W/r/src"
R=TARVO5/Linux/ppc64/64
refuse() {  # refuse "what" manifest-line [expected message [more manifest lines]]
    local what=$1
    printf '%s\n' "$R/ok.so	src" "$2" "${@:4}" > "$W/r/manifest"
    expect_status 1 "build refuses $what" "$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit" 2> "$W/err"
    [ -z "${3:-}" ] || expect_contains "$W/err" "$3"
    expect_absent "$W/r/kit"
    check "no temporary file after refusing $what" [ -z "$(ls "$W/r" | grep -v -e '^src$' -e '^manifest$')" ]
}
# Names the installer would reject or delete on a later run are refused by its own rule.
while IFS='|' read -r what line message; do refuse "$what" "$line" "$message"; done <<EOF
a '..' inside a name|$R/lib/libx..so	src|"$R/lib/libx..so" holds ".."
a file name starting with pk.|$R/lib/pk.x.so	src|"$R/lib/pk.x.so" has a component that begins with "pk."
a record file|$R/.installdb	src|names a record file
an obsolete library|$R/lib/libcryptocme.so	src|names an obsolete file that an upgrade deletes
an empty path|	src
an absolute path|/$R/a.so	src
a ';'|$R/a;b.so	src
a '='|$R/a=b.so	src
a blank|$R/a b.so	src
a '..' component|$R/lib/../../x.so	src
a path outside the record directory|TARVO5/Linux/other.so	src
the record directory itself|$R/	src
a missing source|$R/b.so	nosuch
a duplicate path|$R/ok.so	src
a line without a tab|$R/b.so src
EOF
# A sibling that sorts between a file and its namesake directory hides nothing.
refuse "a file that is also a directory" "$R/ok.so.1	src" "is also the directory of" "$R/ok.so/x	src"

# A catalog longer than the five-digit trailer allows.
for i in $(seq 1 1500); do
    printf '%s\tsrc\n' "$R/lib/a_rather_long_library_name_number_$i.so"
done > "$W/r/manifest"
echo old > "$W/r/kit"
expect_status 1 "build refuses a catalog over 99998 bytes" \
    "$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit" 2> "$W/err"
expect_contains "$W/err" "five-digit trailer"
expect_file "$W/r/kit" "old"$'\n'
check "no temporary file after the long catalog" [ "$(ls "$W/r" | wc -l)" = 3 ]

# Progress of a large kit on a terminal, and silence when standard error is no terminal.
truncate -s 17M "$W/r/big"
printf '%s\tbig\n' "$R/big.so" > "$W/r/manifest"
big_build=("$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit")
script -qec "$(printf '%q ' "${big_build[@]}")" /dev/null > "$W/tty"
expect_contains "$W/tty" "tarvo_kit: 1/1 files, 17.8/17.8 MB"
check "no progress without a terminal" test -z "$("${big_build[@]}" 2>&1)"
rm "$W/r/big" "$W/r/kit"

# Relative sources are found beside the manifest, wherever the tool runs.
printf '%s\tsrc\n' "$R/lib/one.so" > "$W/r/manifest"
check "build from another directory" sh -c "cd / && '$TOOL' build --program '$W/prog' --manifest '$W/r/manifest' --out '$W/r/kit'"
check "that kit verifies" "$TOOL" verify "$W/r/kit"

# --- the uninstaller payload: program, then the catalog alone ---
U=$PAYLOAD/uninstaller
want=""
for p in $(expected_paths); do want="$want$p=9;"; done
want="$want$((${#want} + 1))"
check "catalog-only catalog is 325 bytes" [ $((${#want} - 3)) = 325 ]
check "catalog-only file is the program, then the catalog tail" cmp -s <(cat "$TARVO_BUILD/uninstaller"; echo "$want") "$U"
check "catalog-only build" "$TOOL" catalog-only --program "$TARVO_BUILD/uninstaller" --manifest "$MANIFEST" --out "$W/u"
check "catalog-only is reproducible" cmp -s "$W/u" "$U"
printf '%s\n' "/abs	x" > "$W/r/manifest"
expect_status 1 "catalog-only refuses an absolute path" \
    "$TOOL" catalog-only --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/u"
expect_absent "$W/r/u"

finish
