# Rebuilds a shared file (QZP_KIND sh or csh) around its blocks: the start
# lines first, then the rest without start, end or empty lines, then for the
# Bourne file the end line and, while QZSHCOMP is known, the closing lines. With
# QZP_CONVERT=1 it also brings files of older versions up to date: lines
# that ended the file early go, and tests of "$1" test $QZ_SECTION. Values
# are never touched.
function obsolete(line,   a, p) {
    line = norm(line); a = ENVIRON["QZP_OBS_A"]; p = index(line, a)
    return p && index(trim(substr(line, p + length(a))), ENVIRON["QZP_OBS_B"]) == 1
}
function closing(line) { return SH && CLOSE && (assign_pos(line, "QZNOLOG_flag") || assign_pos(line, "QZCSUTILS_setu")) }
# Tests of sections and of "minimum"; not those of attached scripts.
function older(line,   t) {
    t = trim(line)
    return (t ~ /^if[ \t[(]/ || t ~ /^\[/) && t !~ /^if \[ -f / && t !~ /^if \( -f /
}
# "-q QZSHCOMP" would succeed: the consulted /etc/profile or the file itself
# assigns it a value before any empty assignment.
function defines_qzshcomp(   i, p, r, stop) {
    for (i = 1; i <= na && !stop; i++)
        if ((p = assign_pos(A[i], "QZSHCOMP"))) { r = substr(A[i], p + 9); if (r == "" || substr(r, 1, 1) == ";") stop = 1; else return 1 }
    for (i = 1; i <= n; i++)
        if ((p = assign_pos(L[i], "QZSHCOMP"))) { r = substr(L[i], p + 9); return !(r == "" || substr(r, 1, 1) == ";") }
    return 0
}
function tidy(   i, line, body) {
    CONV = ENVIRON["QZP_CONVERT"] == "1"; CLOSE = defines_qzshcomp()
    out(ENVIRON["QZP_START1"])
    if (SH) out(ENVIRON["QZP_START2"])
    body = 0
    for (i = 1; i <= n; i++) {
        line = L[i]
        if (trim(line) == "" || trim(line) == ":" || frame(line) || closing(line) || CONV && obsolete(line)) continue
        if (CONV && older(line)) line = norm(line)
        out(line)
        if (trim(code(line)) != "") body = 1
    }
    if (SH) {
        # A function without a command in it is a syntax error; ":" fills it.
        if (!body) out(":")
        out(ENVIRON["QZP_END"])
        if (CLOSE) { out(ENVIRON["QZP_CLOSE1"]); out(ENVIRON["QZP_CLOSE2"]) }
    }
    commit()
}
