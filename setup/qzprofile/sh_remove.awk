# Removes the definitions of V from a Bourne file, or with V empty the blocks of
# section S. QZP_MODE is "set" or "delete"; QZP_DROPEMPTY=1 also drops the
# empty lines.

function drop_block(i,   j) {
    if (D[i] || !(j = block_end(i, 0))) return
    for (; i <= j; i++) D[i] = 1
}
# An export of V in line i: the line goes when V is all that it exports,
# else V and the blanks before it (after it, when it comes first) go.
function drop_export(i,   w, k, a, e, line, from, to) {
    k = words(L[i], w)
    for (a = 1; a < k; a++) {
        if (w[a] != "export" || !cmdpos(w, a)) continue
        for (e = a + 1; e <= k && !index(";&|()", w[e]); e++)
            if (w[e] == V) break
        if (e > k || w[e] != V) continue
        if (e == a + 1 && (e == k || index(";&|()", w[e + 1]))) { D[i] = 1; return }
        line = L[i]
        if (e > a + 1) { from = WP[e - 1] + length(w[e - 1]); to = WP[e] + length(V) }
        else { from = WP[e]; to = WP[e + 1] }
        L[i] = substr(line, 1, from - 1) substr(line, to)
        return
    }
}
function drop_public(i) {
    if (assign_pos(L[i], V)) { D[i] = 1; return }
    drop_export(i)
    if (index(trim(L[i]), "if [ -f \"$" V "/") == 1) drop_block(i)
}
END {
    # A file without "V=" or a block of V is left alone.
    for (i = 1; i <= n && V != ""; i++) if (index(L[i], V "=") || sh_sect(L[i]) && VAR == V) break
    if (i > n) exit 9
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
    for (i = 1; i <= n; i++)
        if (!D[i] && !(ENVIRON["QZP_DROPEMPTY"] == "1" && trim(L[i]) == "")) out(L[i])
    emit()
}
