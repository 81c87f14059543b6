# The kit tool: the kit the build makes, refusals, reproducibility, the catalog-only uninstaller payload.
. "$(dirname "$0")/lib.sh"
PAYLOAD=$TARVO_BUILD/kit/payload MANIFEST=$TARVO_BUILD/kit/payload/manifest W=/tmp/kit_test
rm -rf "$W" && mkdir -p "$W/r" && echo data > "$W/r/src"
PATHS=$(grep -v -e '^#' -e '^$' "$TARVO_SRC/kit/manifest" | cut -f1)
build() { "$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit" "$@"; }

# The built kit verifies and lists its version (the one the tool was built with), then the seven
# paths in order (its offsets serve expect_installed).
VERSION=$("$TOOL" --version | sed -n 's/^tarvo_kit \([0-9]*\.[0-9]*\.[0-9]*\)$/\1/p')
check "built kit verifies, naming the version" eval '"$TOOL" verify "$KIT" > "$W/out" && [ "$(head -1 "$W/out")" = "version $VERSION" ]'
check "list shows the version, then the seven paths in order" \
    [ "$("$TOOL" list "$KIT" | tee "$W/list" | cut -f1)" = "version $VERSION"$'\n'"$PATHS" ]
read -r offset size < <(sed -n 4p "$W/list" | cut -f2,3)
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[int(sys.argv[2])] ^= 1; open(sys.argv[3], "wb").write(b)' \
    "$KIT" $((offset + size / 2)) "$W/bad.bin"
expect_status 1 "verify of a damaged kit" "$TOOL" verify "$W/bad.bin" > /dev/null 2> "$W/err"
expect_contains "$W/err" "entry 3 (TARVO5/Linux/ppc64/64/lib/libqzopenssl_crypto.so)"

# A rebuild with any -j, elsewhere than beside the manifest, equals the build's own.
cp "$TARVO_BUILD/tarvo_setup" "$W/prog"
check "a rebuild with -j1 and --opt=value is byte-identical" \
    eval '"$TOOL" build -j1 --program="$TARVO_BUILD/tarvo_setup" --manifest "$MANIFEST" --out="$W/k1" && cmp -s "$W/k1" "$KIT"'
# Every bad command line exits 2, naming the problem; --help anywhere prints the usage.
while IFS='|' read -r args message; do
    eval "set -- $args"
    expect_status 2 "tarvo_kit $args" "$TOOL" "$@" 2> "$W/err"
    expect_contains "$W/err" "tarvo_kit: $message" "usage: tarvo_kit build"
done <<'ROWS'
build -j 0 --program p --manifest m --out o|-j needs a number from 1 to 256, not "0"
build -j1x --program p --manifest m --out o|-j needs a number
build --bogus|unknown option --bogus
build --program=X|build needs --program, --manifest and --out
catalog-only --out a --out=b|option --out is given twice
build --manifest|option --manifest needs a value
build --out= --program p --manifest m|option --out needs a value
build kit|unexpected argument kit
list|list takes one KIT
verify a b|verify takes one KIT
list -x|unknown option -x
--version x|--version takes no argument
frob|unknown command frob
''|no command given
ROWS
for args in "build --help" "catalog-only --out o -h" "verify --help" "--help" "help"; do
    check "tarvo_kit $args" "$TOOL" $args > "$W/out" && expect_contains "$W/out" "usage: tarvo_kit build" "-jN"
done

# Refusals leave an earlier output as it was and no temporary file; names by the installer's own rule.
R=TARVO5/Linux/ppc64/64
refuse() {  # refuse "what" "expected message" manifest-line...
    printf '%s\n' "$R/ok.so	src" "${@:3}" > "$W/r/manifest" && echo old > "$W/r/kit"
    expect_status 1 "build refuses $1" build 2> "$W/err"
    [ -z "$2" ] || expect_contains "$W/err" "$2"
    expect_file "$W/r/kit" $'old\n'
    check "no temporary file after refusing $1" [ "$(ls "$W/r")" = $'kit\nmanifest\nsrc' ]
}
while IFS='|' read -r what line message; do refuse "$what" "$message" "$line"; done <<EOF
a '..' inside a name|$R/lib/libx..so	src|"$R/lib/libx..so" holds ".."
a file name starting with pk.|$R/lib/pk.x.so	src|"$R/lib/pk.x.so" has a component that begins with "pk."
a record file|$R/.installdb	src|names a record file
an obsolete library|$R/lib/libcryptocme.so	src|names an obsolete file that an upgrade deletes
a missing source|$R/b.so	nosuch
a duplicate path|$R/ok.so	src|"$R/ok.so" is listed twice (lines 1 and 2)
a line without a tab|$R/b.so src
EOF
# A sibling that sorts between a file and its namesake directory hides nothing.
refuse "a file that is also a directory" "\"$R/ok.so\" (line 1) is also the directory of \"$R/ok.so/x\" (line 3)" \
    "$R/ok.so.1	src" "$R/ok.so/x	src"
refuse "a CRLF line end" "$W/r/manifest:2: the line holds a carriage return" "$R/b.so	src"$'\r'
# SIGINT and SIGTERM stop a build at its first read of the program, its temporary file in place: the file goes.
for sig in INT TERM; do
    printf '%s\tsrc\n' "$R/ok.so" > "$W/r/manifest" && echo old > "$W/r/kit"
    expect_status $((128 + $(kill -l $sig))) "SIG$sig" env "$UNDER_STRACE" strace -f -qq -o /dev/null -P "$W/prog" \
        -e trace=openat -e inject=openat:signal=SIG$sig:when=1 \
        "$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit"
    expect_file "$W/r/kit" $'old\n'
    check "no temporary file after SIG$sig" [ "$(ls "$W/r")" = $'kit\nmanifest\nsrc' ]
done
# The reader names what is wrong; a failed write fails a build and leaves nothing.
for row in 'PROGx;3\n|catalog entry 1 is not of the form path=offset' '\n|1 to 5 digits'; do
    printf "${row%%|*}" > "$W/bad.bin"
    expect_status 1 "verify $row" "$TOOL" verify "$W/bad.bin" 2> "$W/err"
    expect_contains "$W/err" "${row#*|}"
done
# The kit's first write fails (a sanitized build writes on its own before it: count to that write).
kit_write() { env "$UNDER_STRACE" strace -f -qq "$@" "$TOOL" build --program "$W/r/src" --manifest "$MANIFEST" --out "$W/k2"; }
kit_write -o "$W/st" -e trace=write && rm "$W/k2"
n=$(grep -n -m1 -F '"data\n' "$W/st" | cut -d: -f1)
expect_status 1 "a build whose first write fails" kit_write -o /dev/null -e trace=write -e inject=write:error=EIO:when="$n" 2> "$W/err"
expect_contains "$W/err" "write error: Input/output error"
expect_absent "$W/k2"
# The tool may run unprivileged: a program its user cannot read fails the build. The user gets its
# own copy of the tool and a manifest, so that the checkout's permissions do not matter.
install -m 0777 -d "$W/nobody" && install -m 0 "$W/r/src" "$W/nobody/prog"
cp "$TOOL" "$W/r/src" "$W/nobody/" && printf '%s\tsrc\n' "$R/a.so" > "$W/nobody/manifest"
expect_status 1 "an unreadable program" setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$W/nobody/tarvo_kit" build --program "$W/nobody/prog" --manifest "$W/nobody/manifest" --out "$W/nobody/kit" 2> "$W/err"
expect_contains "$W/err" "cannot read $W/nobody/prog"
# The uninstaller payload: the program, then the catalog alone, as the build makes it and reproducibly.
want=$(for p in $PATHS; do printf '%s=9;' "$p"; done)
check "catalog-only file is the program, then the catalog tail" \
    cmp -s <(cat "$TARVO_BUILD/uninstaller"; echo "$want$((${#want} + 1))") "$PAYLOAD/uninstaller"
check "catalog-only build" "$TOOL" catalog-only --program "$TARVO_BUILD/uninstaller" --manifest "$MANIFEST" --out "$W/u"
check "catalog-only is reproducible" cmp -s "$W/u" "$PAYLOAD/uninstaller"
check "verify names a catalog-only file" "$TOOL" verify "$W/u" > "$W/out"
summary="7 paths checked, catalog of ${#want} bytes, file of $(stat -c %s "$W/u") bytes"
expect_file "$W/out" "version $VERSION"$'\n'"$W/u: catalog-only file (no streams): $summary"$'\n'
# The version is the first well-formed mark in the program image, wherever it lies; not in the payload.
printf '%s\tsrc\n' "$R/a.so" > "$W/r/manifest"
while IFS='|' read -r pad bytes version; do
    { head -c "$pad" /dev/zero; printf "$bytes"; } > "$W/prog"
    "$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit" &&
        check "version $version in ${pad}+$bytes" [ "$("$TOOL" list "$W/r/kit" | head -1)" = "version $version" ]
done <<'ROWS'
65530|TARVO_KIT_VERSION=1.20.3\0|1.20.3
65536|TARVO_KIT_VERSION=1.2.\0TARVO_KIT_VERSION=1.2\0TARVO_KIT_VERSION=7.0.1|unknown
10|TARVO_KIT_VERSION=1.2.3x\0TARVO_KIT_VERSION=4.5.6\0|4.5.6
ROWS
cat "$TARVO_BUILD/uninstaller" > "$W/r/src" && echo PROG > "$W/prog"
"$TOOL" build --program "$W/prog" --manifest "$W/r/manifest" --out "$W/r/kit" &&
    check "a mark in the payload only" [ "$("$TOOL" list "$W/r/kit" | head -1)" = "version unknown" ]
finish
