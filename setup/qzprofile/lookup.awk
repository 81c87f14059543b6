# Lookup of V in the files given (the last file that defines V wins). The
# candidates of a file are its assignments of V, in order, up to the first
# one with nothing after the equals sign; the last of them is the value.
# Prints two lines: "L" when the value is taken literally or "E" when a shell
# must expand it, then the names it expands; then the value, without quotes
# (L) or as written (E), and "|" so that no end of it is lost. Exits 9 when
# no file defines V.

# Reads the shell word at the start of s into WORD (as written) and LIT
# (quotes removed); RUNS tells that it holds a command substitution, EXP that
# it holds an expansion at all, REFS the names it expands.
function scan(s,   i, n, c, q, d, nm, k) {
    LIT = ""; RUNS = 0; EXP = 0; REFS = ""; q = ""; d = 0; n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (q == "\047") { if (c == q) q = ""; else LIT = LIT c; continue }
        if (c == "\\" && i < n) {
            if (q == "\"" && !index("$`\"\\", substr(s, i + 1, 1))) { LIT = LIT c; continue }
            i++; LIT = LIT substr(s, i, 1); continue
        }
        if (c == "`") {
            RUNS = 1; k = index(substr(s, i + 1), "`")
            if (!k) k = n - i + 1
            LIT = LIT substr(s, i, k + 1); i += k; continue
        }
        if (c == "$" && substr(s, i + 1, 1) == "(") {
            RUNS = 1; k = parens(substr(s, i + 1))
            LIT = LIT substr(s, i, k + 1); i += k; continue
        }
        if (c == "$") {
            EXP = 1; nm = substr(s, i + 1)
            if (substr(nm, 1, 1) == "{") { d++; nm = substr(nm, 2) }
            if (match(nm, /^[A-Za-z_][A-Za-z0-9_]*/)) REFS = REFS " " substr(nm, 1, RLENGTH)
        }
        if (d > 0 && c == "}") { d--; LIT = LIT c; continue }
        if (q == "\"") { if (c == "\"") q = ""; else LIT = LIT c; continue }
        if (c == "\047" || c == "\"") { q = c; continue }
        if (c == "~") EXP = 1
        if (d > 0) { LIT = LIT c; continue }
        if (index(" \t\r;&|<>()", c)) break
        LIT = LIT c
    }
    WORD = substr(s, 1, i - 1)
}
# Length of the parenthesised text at the start of s.
function parens(s,   i, n, d, c) {
    n = length(s); d = 0
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (c == "(") d++
        else if (c == ")" && --d == 0) return i
    }
    return n
}
{
    p = assign_pos($0, V)
    if (!p || stop[FILENAME]) next
    rest = substr($0, p + length(V) + 1)
    if (rest == "" || substr(rest, 1, 1) == ";") { stop[FILENAME] = 1; next }
    scan(rest)
    # A word that would be expanded must hold no unquoted operator at all,
    # so that expanding it can never run anything.
    if (RUNS || !EXP || code(WORD) ~ /[;&|<>()]/) val[FILENAME] = "L\n" LIT "|"
    else val[FILENAME] = "E" REFS "\n" WORD "|"
}
END {
    for (a = ARGC - 1; a > 0; a--)
        if (ARGV[a] in val) { print val[ARGV[a]]; exit 0 }
    exit 9
}
