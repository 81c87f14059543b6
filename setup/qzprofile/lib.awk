# Functions shared by the awk programs of the profile utility. Names, values
# and sections arrive in ENVIRON, which unlike -v leaves backslashes alone.
# Program text must not hold a single quote: the build wraps it in one.
BEGIN { V = ENVIRON["QZP_V"]; S = ENVIRON["QZP_S"]; MODE = ENVIRON["QZP_MODE"]; SH = ENVIRON["QZP_KIND"] == "sh" }

# A carriage return counts as a blank, so files with CRLF ends are read alike.
function trim(s) { sub(/^[ \t\r]+/, "", s); sub(/[ \t\r]+$/, "", s); return s }
function replace(s, from, to,   out, p) {
    out = ""
    while ((p = index(s, from)) > 0) { out = out substr(s, 1, p - 1) to; s = substr(s, p + length(from)) }
    return out s
}

# The code of a line: every quoted or escaped character becomes \001 and an
# unquoted comment is cut off; the other characters keep their positions.
# Text inside a quoted value is thus never taken for a name, a keyword or a
# comment.
function code(s,   out, i, n, c, q, p) {
    out = ""; q = ""; n = length(s); p = " "
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (q == "\047") { if (c == q) { q = ""; out = out c } else out = out "\001"; p = c; continue }
        if (q == "\"") {
            if (c == "\"") { q = ""; out = out c }
            else if (c == "\\" && i < n) { out = out "\001\001"; i++ }
            else out = out "\001"
            p = c; continue
        }
        if (c == "#" && index(" \t;&|()", p)) return subst_blanked(out)
        if (c == "\\" && i < n) { out = out "\001\001"; i++; p = "\001"; continue }
        if (c == "\047" || c == "\"") q = c
        out = out c; p = c
    }
    return subst_blanked(out)
}
# An expansion is one piece of its word: "$(...)", "`...`" and (unless
# KEEP_BRACES is set) "${...}" become \001 as well, so that nothing inside is
# taken for an operator, a brace or a name.
function subst_blanked(s,   i, j, d, c, n, r, o, e) {
    n = length(s); r = ""
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1); o = substr(s, i + 1, 1)
        if (c == "$" && (o == "(" || o == "{" && !KEEP_BRACES)) {
            d = 0; e = o == "(" ? ")" : "}"
            for (j = i + 1; j <= n; j++) { c = substr(s, j, 1); if (c == o) d++; else if (c == e && --d == 0) break }
        } else if (c == "`") {
            j = index(substr(s, i + 1), "`"); j = j ? i + j : n
        } else { r = r c; continue }
        if (j > n) j = n
        for (; i <= j; i++) r = r "\001"
        i--
    }
    return r
}
# Position of the first assignment "v=" in the code of the line, else 0. It
# starts a word: in "W=v=1" only W is assigned.
function assign_pos(line, v,   m, p, off) {
    m = code(line); off = 0
    while ((p = index(substr(m, off + 1), v "=")) > 0) {
        off += p
        if (off == 1 || index(" \t;&|(){}", substr(m, off - 1, 1))) return off
    }
    return 0
}
# Splits the code of a line into words; the operators ; & | ( ) stand alone.
# Returns the number of words; WP holds where each starts.
function words(line, w,   m, n, i, c, k, cur) {
    m = code(line); n = length(m); k = 0; cur = ""
    for (i = 1; i <= n + 1; i++) {
        c = i <= n ? substr(m, i, 1) : " "
        if (c == " " || c == "\t" || c == "\r" || index(";&|()", c)) {
            if (cur != "") { w[++k] = cur; WP[k] = i - length(cur) }
            cur = ""
            if (c != " " && c != "\t" && c != "\r") { w[++k] = c; WP[k] = i }
        } else cur = cur c
    }
    return k
}
# True when word k of w starts a command.
function cmdpos(w, k,   p) {
    if (k == 1) return 1
    p = w[k - 1]
    return index(";&|()", p) > 0 || p == "then" || p == "else" || p == "do" || p == "{" || p == "!"
}
# How a line changes the nesting of Bourne if-blocks: +1 per "if", -1 per
# "fi", each counted only where a command starts.
function sh_depth(line,   w, k, i, d) {
    k = words(line, w); d = 0
    for (i = 1; i <= k; i++)
        if (cmdpos(w, i)) { if (w[i] == "if") d++; else if (w[i] == "fi") d-- }
    return d
}
# The same for C-shell blocks: "if (...) then" opens one, "endif" closes it.
function csh_depth(line,   w, k) {
    k = words(line, w)
    if (k > 1 && w[1] == "if" && w[k] == "then") return 1
    if (k && w[1] == "endif") return -1
    return 0
}
# Last line of the block that starts at line i of L (n lines), or 0 when the
# block never ends; csh selects the C-shell rules.
function block_end(i, csh,   j, d) {
    d = 0
    for (j = i; j <= n; j++) {
        d += csh ? csh_depth(L[j]) : sh_depth(L[j])
        if (d <= 0) return d == 0 ? j : 0
    }
    return 0
}

# Older files test "$1" where current ones test "$QZ_SECTION"; both are read alike.
function norm(s) { return replace(s, "\"$1\"", "\"$QZ_SECTION\"") }
# Section lines of either shell; set SEC and VAR.
function split_sect(line, head, mid, tail,   t, r, p) {
    t = norm(trim(line))
    if (index(t, head) != 1) return 0
    r = substr(t, length(head) + 1)
    if (!(p = index(r, mid))) return 0
    SEC = substr(r, 1, p - 1); r = substr(r, p + length(mid))
    if (!(p = index(r, tail))) return 0
    VAR = substr(r, 1, p - 1)
    return 1
}
function sh_sect(line) { return split_sect(line, ENVIRON["QZP_SH_IF"], ENVIRON["QZP_SH_MID"], ENVIRON["QZP_SH_TAIL"]) }
function csh_sect(line) { return split_sect(line, ENVIRON["QZP_CSH_IF"], ENVIRON["QZP_CSH_MID"], ENVIRON["QZP_CSH_TAIL"]) }
function sh_minimum(line, v) { return index(norm(line), ENVIRON["QZP_SH_MIN"] v " ]") > 0 }
function csh_minimum(line, v) { return index(norm(line), ENVIRON["QZP_CSH_MIN"] v " != \"\" ) ) exit 0") > 0 }
# Start and end lines of the shared file of kind QZP_KIND, wherever they stand in the line.
# Commented ones count too; a value that holds the start text does not.
function frame(line,   c, p) {
    KEEP_BRACES = 1; c = code(line); KEEP_BRACES = 0
    c = c substr(line, length(c) + 1)
    if (SH) return (p = index(c, "QZ_SECTION=${")) && (p == 1 || index(" \t;#", substr(c, p - 1, 1))) \
        || index(c, "QZ_ETC_QZPROFILE()") || index(c, "}; QZ_ETC_QZPROFILE")
    return index(c, "setenv QZ_SECTION ") || index(c, "if ( ( $?QZ_SECTION )")
}

# The edit program reads the file to change (and, named in QZP_AUX, a file it
# only consults) and runs its stages over the lines L[1..n]: each stage
# collects its result with out() and ends with commit().
BEGIN { AUXF = ENVIRON["QZP_AUX"] }
FILENAME == AUXF && AUXF != "" { A[++na] = $0; next }
{ L[++n] = $0; ORIG[n] = $0 }
function out(s) { OUT[++NOUT] = s }
function commit(   i) {
    for (i = 1; i <= NOUT; i++) L[i] = OUT[i]
    n = NOUT; NOUT = 0
    split("", D); split("", KEEP); split("", F)
}
