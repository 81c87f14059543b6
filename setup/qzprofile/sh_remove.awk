# Removes the definitions of V from a Bourne file, or with V empty the blocks of
# section S. MODE is "set" or "delete"; QZP_DROPEMPTY=1 also drops the empty
# lines. A line that also opens or closes a compound command keeps its place
# and only loses V, and a body that would be left empty keeps a ":", so that
# the blocks of an administrator still parse.

function drop_block(i,   j) {
    if (D[i] || !(j = block_end(i, 0))) return
    for (; i <= j; i++) D[i] = 1
}
# True when the line holds a keyword or brace of a compound command, or a
# case pattern.
function compound(line,   w, k, i) {
    k = words(line, w)
    for (i = 1; i <= k; i++)
        if (cmdpos(w, i) && w[i] ~ /^(if|then|else|elif|fi|do|done|case|esac|while|until|for|[{}])$/ || w[i] == ")" && (i == 1 || w[i - 1] != "(")) return 1
    return 0
}
# Replaces the text from position a up to b (excluded) of line i by ":".
function hollow(i, a, b) { L[i] = substr(L[i], 1, a - 1) ":" substr(L[i], b) }
# An export of V in line i: the line goes when V is all that it exports,
# else V and the blanks before it (after it, when it comes first) go.
function drop_export(i,   w, k, a, e, line, from, to) {
    k = words(L[i], w)
    for (a = 1; a < k; a++) {
        if (w[a] != "export" || !cmdpos(w, a)) continue
        for (e = a + 1; e <= k && !index(";&|()", w[e]); e++)
            if (w[e] == V) break
        if (e > k || w[e] != V) continue
        if (e == a + 1 && (e == k || index(";&|()", w[e + 1]))) {
            if (compound(L[i])) hollow(i, WP[a], WP[e] + length(V)); else D[i] = 1
            return
        }
        line = L[i]
        if (e > a + 1) { from = WP[e - 1] + length(w[e - 1]); to = WP[e] + length(V) }
        else { from = WP[e]; to = WP[e + 1] }
        L[i] = substr(line, 1, from - 1) substr(line, to)
        return
    }
}
# An assignment of V: the line goes, or in a compound line the assignment
# word alone becomes ":".
function drop_assign(i,   p, m, e) {
    while ((p = assign_pos(L[i], V))) {
        if (!compound(L[i])) { D[i] = 1; return }
        m = code(L[i])
        for (e = p; e <= length(m) && !index(" \t;&|()<>", substr(m, e, 1)); e++) ;
        hollow(i, p, e)
    }
}
function drop_public(i) {
    if (assign_pos(L[i], V)) { drop_assign(i); if (D[i]) return }
    drop_export(i)
    if (!D[i] && index(trim(L[i]), "if [ -f \"$" V "/") == 1) drop_block(i)
}
function last_word(line,   w, k) { k = words(line, w); return k ? w[k] : "" }
function first_word(line,   w) { return words(line, w) ? w[1] : "" }
function sh_remove(   i, j, k, nf, public, prev, next_w, kept) {
    # A file without "V=" or a block of V is left alone.
    for (i = 1; i <= n && V != ""; i++) if (index(L[i], V "=") || sh_sect(L[i]) && VAR == V) break
    if (i > n) return
    # The blocks to remove: those of V (or all) in section S; else, when
    # deleting V or setting it publicly, those of V in every section.
    nf = 0
    if (S != "")
        for (i = 1; i <= n; i++) if (sh_sect(L[i]) && SEC == S && (V == "" || VAR == V)) F[++nf] = i
    if (V != "" && S == "")
        for (i = 1; i <= n; i++) if (sh_sect(L[i]) && VAR == V) F[++nf] = i
    for (k = 1; k <= nf; k++) drop_block(F[k])
    # V is public or sectioned, never both: a set removes its public lines,
    # and a delete does when no block of V is left.
    public = V != "" && (MODE == "set" || S == "" || nf > 0)
    for (i = 1; i <= n; i++)
        if (!D[i] && sh_sect(L[i]) && VAR == V) {
            if (MODE != "set") public = 0
            for (j = block_end(i, 0); j >= i; j--) KEEP[j] = 1
        }
    if (public) for (i = 1; i <= n; i++) if (!D[i] && !KEEP[i]) { if (sh_minimum(L[i], V)) D[i] = 1; else drop_public(i) }
    prev = ""
    for (i = 1; i <= n; i++) {
        if (!D[i]) {
            if (ENVIRON["QZP_DROPEMPTY"] == "1" && trim(L[i]) == "") continue
            out(L[i])
            if (trim(code(L[i])) != "") prev = last_word(L[i])
            continue
        }
        if (prev !~ /^(then|else|do|[{])$/) continue
        for (j = i + 1; j <= n && (D[j] || trim(code(L[j])) == ""); j++) ;
        next_w = j <= n ? first_word(L[j]) : ""
        if (next_w ~ /^(fi|else|elif|done|[}])$/) { match(L[i], /^[ \t]*/); out(substr(L[i], 1, RLENGTH) ":"); prev = ":" }
    }
    commit()
}
