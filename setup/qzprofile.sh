#!/bin/sh
# shellcheck disable=SC2016,SC2089,SC2090 # the profile lines held in variables are literal text, expanded only where they are sourced
#
# qzprofile - environment settings for every user of this machine.
# Keeps variables in /etc/profile.QZ (Bourne shells) and /etc/csh_login.QZ
# (C shell) and makes the system login files read them.
#
# Copyright (c) Qorzel. All rights reserved.
# Version 5.2.4
#
# Values are never placed in a sed or grep pattern: every edit is an awk
# program that receives names and values through the environment and
# compares them as plain strings, so blanks, "/", "$", "\" and the like
# cannot change what an edit matches.

[ -n "${DEBUG_QZPROFILE:-}" ] && set -x

# Lines are written with printf so that backslashes in values stay literal;
# ECHO is still chosen and exported for the scripts attached to variables.
# shellcheck disable=SC3037 # probing whether this echo knows -e is the point
if [ "X$(echo -e X 2>/dev/null)" = "XX" ]; then ECHO="echo -e"; else ECHO="echo"; fi
export ECHO

# The system's name; /proc tells it on Linux without starting uname. Every
# process saved here counts, since the installer queries twice per run.
if [ -r /proc/sys/kernel/ostype ]; then
    read -r OS_NAME </proc/sys/kernel/ostype
else
    OS_NAME=$(uname 2>/dev/null)
fi

# Run token: names this run's scratch files in /tmp. The file that made it
# unique goes with the scratch files at the end of the run. Queries and help
# write no scratch file, so they make no token.
TOKEN_FILE='' PID=''
case ${1:-} in
    -q | -h | -\?) ;;
    *)
        if [ "$OS_NAME" = Linux ]; then
            TOKEN_FILE=$(mktemp /tmp/prof_XXXXXXXXXX 2>/dev/null) || exit 1
            PID=${TOKEN_FILE##*/}.$$
        else
            PID=prof_$$$(($$ + 52638))
        fi
        ;;
esac

PROFILE_QZ=/etc/profile.QZ
CSH_QZ=/etc/csh_login.QZ
SH_SOURCE_LINE='test -r /etc/profile.QZ && { QZ_SECTION=vorn; export QZ_SECTION; . /etc/profile.QZ; unset QZ_SECTION; } # Added by Qorzel'
CSH_SOURCE_LINE='setenv QZ_SECTION vorn; if ( -r /etc/csh_login.QZ ) source /etc/csh_login.QZ; unsetenv QZ_SECTION # Added by Qorzel'
SH_SOURCE_PAT='. /etc/profile.QZ'
CSH_SOURCE_PAT='source /etc/csh_login.QZ'
SH_START1='QZ_SECTION=${QZ_SECTION:-${1:-}}; export QZ_SECTION #Set QZ_SECTION to the first argument'
SH_START2='QZ_ETC_QZPROFILE() {'
SH_END='}; QZ_ETC_QZPROFILE $QZ_SECTION'
SH_CLOSE1='[ "${QZNOLOG_flag:-${QZNOLOG_flag:-}}" = "off" ] && set +o nolog; QZNOLOG_flag="" # return to system setting'
SH_CLOSE2='[ "${QZCSUTILS_setu:-${QZCSUTILS_setu:-}}" = "1" ] &&  set -u; QZCSUTILS_setu="" # return to system setting'
CSH_START='if ( ( $?QZ_SECTION ) && ( "$1" != "" ) ) setenv QZ_SECTION $1; if ( ! $?QZ_SECTION ) setenv QZ_SECTION "" #Set QZ_SECTION to the first argument'

# Pieces of the generated lines, shared with the awk programs.
QZP_SH_IF='if [ \( "$QZ_SECTION" = "all" -o "$QZ_SECTION" = "'
QZP_SH_MID='" \) -a '
QZP_SH_TAIL=' ];then'
QZP_SH_MIN='[ "$QZ_SECTION" = "minimum" -a '
QZP_CSH_IF='if ( ( "$QZ_SECTION" == "all" || "$QZ_SECTION" == "'
QZP_CSH_MID='" ) && ( '
QZP_CSH_TAIL=' != "" ) ) then'
QZP_CSH_MIN='if ( "$QZ_SECTION" == "minimum" && ( '
export QZP_SH_IF QZP_SH_MID QZP_SH_TAIL QZP_SH_MIN QZP_CSH_IF QZP_CSH_MID QZP_CSH_TAIL QZP_CSH_MIN
# Arguments of the awk programs; exported once, then simply assigned.
QZP_V='' QZP_S='' QZP_MODE='' QZP_DROPEMPTY='' QZP_PAT='' QZP_LINE='' QZP_KIND=''
QZP_VALUE='' QZP_SCRIPT='' QZP_START1='' QZP_START2='' QZP_END='' QZP_CLOSE=''
QZP_CONVERT='' QZP_OBS_A='' QZP_OBS_B='' QZP_CLOSE1=$SH_CLOSE1 QZP_CLOSE2=$SH_CLOSE2
export QZP_V QZP_S QZP_MODE QZP_DROPEMPTY QZP_PAT QZP_LINE QZP_KIND QZP_VALUE QZP_SCRIPT
export QZP_START1 QZP_START2 QZP_END QZP_CLOSE QZP_CONVERT QZP_OBS_A QZP_OBS_B QZP_CLOSE1 QZP_CLOSE2

CSH_LOGIN_FILES='/etc/cshrc /etc/.login /etc/login.csh /etc/csh.login'
# Old-style blocks of variables of earlier products to clear from the login
# files before an update; none are known to this version.
LEGACY_VARS=''

usage() {
    cat <<'EOF'
NAME
    qzprofile - set, query and delete environment variables for all users

SYNOPSIS
    qzprofile -s NAME [VALUE] [SHSCRIPT CSHSCRIPT] [-section SECTION | -private]
    qzprofile -q NAME
    qzprofile -d [NAME ...] [-section SECTION ...]
    qzprofile -F
    qzprofile -h | -?

DESCRIPTION
    Variables are kept in /etc/profile.QZ for Bourne-type shells and in
    /etc/csh_login.QZ for the C shell. Setting a variable also adds a line
    to /etc/profile, $HOME/.profile and the C-shell login files that exist,
    so that login shells read these files (unless Update_Profile is set to
    something other than 1). A login file is copied once to NAME.vornbackup
    before its first change (unless QZPROFILE_BACKUP_PROFILES is not 1).

    A variable is either public, defined for every shell that reads the
    files, or belongs to one or more sections, defined only when the
    reading shell's QZ_SECTION is "all" or the section's name. Login shells
    read the files with QZ_SECTION=vorn. Other scripts may read them with
        QZ_SECTION=all; export QZ_SECTION; . /etc/profile.QZ
        setenv QZ_SECTION all; source /etc/csh_login.QZ
    QZ_SECTION=minimum defines QZSHCOMP alone.

    When $QZSHCOMP/csutils/bin/qzprofile is installed, this command hands
    every request to it, unless QZPROFILE_OVERRIDE=1 is set.
    DEBUG_QZPROFILE=1 traces every command.

OPTIONS
    -s NAME [VALUE]   set NAME to VALUE, or to its value in the environment.
                      SHSCRIPT and CSHSCRIPT, relative to the value, are
                      sourced after the variable is set. QZLIB and QZBIN
                      must be $QZSHCOMP/lib and $QZSHCOMP/bin.
    -section SECTION  put the variable in SECTION instead of the public part.
    -private          put the variable in a section named after itself.
    -q NAME           print the value that the profile files give NAME.
    -d NAME ...       delete the variables; with -section, only from those
                      sections, or the sections whole when no NAME is given.
                      Files left without variables are removed, together
                      with the lines that read them.
    -F                repair the first and last lines of the shared files.
    -h, -?            print this text.
    Options -s and -d need root.

RETURN CODE
    0    success
    1    no scratch name could be made in /tmp
    3    bad or missing arguments
    5    -s or -d run by a user other than root
    6    -s with an empty value
    8    a file could not be edited; nothing was replaced
    20   -section misplaced or without a name
    21   section name starting with "/", "-" or a blank, or holding a
         double quote, "$", "`", "\" or "!"
    25   -section together with -private
    110  QZLIB is not $QZSHCOMP/lib
    111  QZBIN is not $QZSHCOMP/bin
    113  -q: the variable is defined with an empty value
    116  -q: the variable is not defined

EXAMPLES
    qzprofile -s QZSHCOMP /opt/QZ/SharedComponents
    qzprofile -s QZLIB "$QZSHCOMP/lib"
    qzprofile -s MYTOOL_HOME "/opt/my tool" bin/env.sh bin/env.csh -private
    qzprofile -q QZSHCOMP
    qzprofile -d QZBIN QZLIB QZSHCOMP
    qzprofile -d -section MYTOOL_HOME
EOF
}

# ---------------------------------------------------------------- awk code

# Functions shared by the awk programs. Names, values and sections arrive in
# ENVIRON (which, unlike -v, leaves backslashes alone).
AWK_LIB='
function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
function namech(c) { return c != "" && index("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-", c) > 0 }
# The line with every quoted character replaced by \001, positions unchanged,
# so that text inside a quoted value is never taken for an assignment or a comment.
function mask(s,   out, i, n, c, q) {
    out = ""; q = ""; n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (q == "\047") { if (c == q) { q = ""; out = out c } else out = out "\001"; continue }
        if (q == "\"") {
            if (c == "\"") { q = ""; out = out c; continue }
            if (c == "\\" && i < n) { out = out "\001\001"; i++; continue }
            out = out "\001"; continue
        }
        if (c == "\047" || c == "\"") q = c
        if (c == "\\" && i < n) { out = out "\001\001"; i++; continue }
        out = out c
    }
    return out
}
# Position of the first unquoted "v=" not preceded by a name character, else 0.
function assign_pos(line, v,   m, s, p, off) {
    m = mask(line); s = m; off = 0
    while ((p = index(s, v "=")) > 0) {
        if (off + p == 1 || !namech(substr(m, off + p - 1, 1))) return off + p
        off += p; s = substr(m, off + 1)
    }
    return 0
}
# True when an unquoted "#" stands before position pos.
function commented(line, pos,   h) { h = index(mask(line), "#"); return h > 0 && h < pos }
# True when a comment names v: "#", optional blanks, then v.
function comment_names(line, v,   s, p) {
    s = mask(line)
    while ((p = index(s, "#")) > 0) {
        s = substr(s, p + 1)
        if (index(trim(s), v) == 1) return 1
    }
    return 0
}
# True when the line mentions $v as a whole name.
function dollar_v(line, v,   s, p) {
    s = line
    while ((p = index(s, "$" v)) > 0) {
        s = substr(s, p + length(v) + 1)
        if (!namech(substr(s, 1, 1)) || substr(s, 1, 1) == "-") return 1
    }
    return 0
}
# Bourne and C-shell section lines; set SEC and VAR.
function split_sect(line, head, mid, tail,   t, r, p) {
    t = trim(line)
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
function opens_if(line) { return trim(line) ~ /^if[ \t[]/ }
function closes_if(line,   t) { t = trim(line); return t ~ /^fi([^A-Za-z0-9_-]|$)/ || t ~ /;[ \t]*fi[ \t]*(;.*)?$/ }
BEGIN { V = ENVIRON["QZP_V"]; S = ENVIRON["QZP_S"]; MODE = ENVIRON["QZP_MODE"] }
'

# Lookup: the value of V in /etc/profile and /etc/profile.QZ. Prints it and
# exits 0, or exits 1 when neither file defines V.
AWK_LOOKUP='
# Removes the quotes of a shell word, which ends at an unquoted ";", blank, "&" or "|".
function shword(s,   out, i, n, c, q) {
    out = ""; q = ""; n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (q == "\047") { if (c == q) q = ""; else out = out c; continue }
        if (q == "\"") {
            if (c == "\"") { q = ""; continue }
            if (c == "\\" && i < n && index("$`\"\\", substr(s, i + 1, 1))) { i++; out = out substr(s, i, 1); continue }
            out = out c; continue
        }
        if (c == "\047" || c == "\"") { q = c; continue }
        if (c == "\\" && i < n) { i++; out = out substr(s, i, 1); continue }
        if (c == ";" || c == " " || c == "\t" || c == "&" || c == "|") break
        out = out c
    }
    return out
}
# A candidate with no text at all (V= followed by ";" or nothing) ends the
# list of that file; one that only unquotes to nothing, like V="", is a value.
{
    p = assign_pos($0, V)
    if (!p || comment_names($0, V)) next
    rest = substr($0, p + length(V) + 1)
    f = FILENAME
    if (stop[f]) next
    if (rest == "" || substr(rest, 1, 1) == ";") { stop[f] = 1; next }
    seen[f] = 1; val[f] = shword(rest)
}
END {
    if ("/etc/profile.QZ" in seen) { print val["/etc/profile.QZ"]; exit 0 }
    if ("/etc/profile" in seen) { print val["/etc/profile"]; exit 0 }
    exit 1
}
'

# Prints the block of variable V for the shell in QZP_KIND (sh or csh).
AWK_BLOCK='
function plain(s,   i) {
    for (i = 1; i <= length(s); i++)
        if (!index("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./:,+@%-", substr(s, i, 1))) return 0
    return 1
}
function shval(s,   out, i, c) {
    if (plain(s)) return s
    out = ""
    for (i = 1; i <= length(s); i++) { c = substr(s, i, 1); if (index("$`\\\"", c)) out = out "\\"; out = out c }
    return "\"" out "\""
}
# C-shell double quotes do not stop "$", "`" or "!": such values go in single
# quotes, where only "!" (history) still needs a backslash.
function cshval(s,   out, i, c) {
    if (plain(s)) return s
    if (!index(s, "$") && !index(s, "`") && !index(s, "!") && !index(s, "\\") && !index(s, "\047")) return "\"" s "\""
    out = ""
    for (i = 1; i <= length(s); i++) {
        c = substr(s, i, 1)
        if (c == "\047") out = out "\047\\\047\047"
        else if (c == "!") out = out "\\!"
        else out = out c
    }
    return "\047" out "\047"
}
BEGIN {
    VALUE = ENVIRON["QZP_VALUE"]; SCRIPT = ENVIRON["QZP_SCRIPT"]
    if (ENVIRON["QZP_KIND"] == "sh") {
        if (S != "") print ENVIRON["QZP_SH_IF"] S ENVIRON["QZP_SH_MID"] V ENVIRON["QZP_SH_TAIL"] " #Sets " V " variable within the " S " section"
        print V "=" shval(VALUE) "; export " V
        if (SCRIPT != "") {
            print "if [ -f \"$" V "/" SCRIPT "\" ];then"
            print "     . \"$" V "/" SCRIPT "\""
            print "fi"
        }
        if (S != "") print "fi"
        if (V == "QZSHCOMP") print ENVIRON["QZP_SH_MIN"] V " ] && return 0"
    } else {
        if (S != "") print ENVIRON["QZP_CSH_IF"] S ENVIRON["QZP_CSH_MID"] V ENVIRON["QZP_CSH_TAIL"]
        if (SCRIPT == "") {
            print "# " V " update"
            print "# " V " is now being set."
            print "# Please do not edit this file in anyway."
            print "setenv " V " " cshval(VALUE)
        } else {
            print "setenv " V " " cshval(VALUE)
            print "if ( -f \"$" V "/" SCRIPT "\" ) then"
            print "    source \"$" V "/" SCRIPT "\""
            print "endif"
        }
        if (S != "") print "endif"
        if (V == "QZSHCOMP") print ENVIRON["QZP_CSH_MIN"] V " != \"\" ) ) exit 0"
    }
}
'

# Bourne removal of V (or, with V empty, of section S) from one file.
# QZP_MODE is "set" or "delete"; QZP_DROPEMPTY=1 drops empty lines.
AWK_SH_REMOVE='
{ L[++n] = $0 }
# Marks the lines from the "if [" at i to its matching "fi"; an unmatched
# block is left alone rather than cut to the end of the file.
function drop_block(i,   j, o, c, depth) {
    if (D[i]) return
    depth = 0
    for (j = i; j <= n; j++) {
        o = opens_if(L[j]); c = closes_if(L[j])
        if (o && !c) depth++
        else if (c && !o) depth--
        if (depth == 0) break
    }
    if (j > n) return
    for (; i <= j; i++) D[i] = 1
}
function drop_public(i,   line, p, t, lead, nw, w, k, out, hit, tail) {
    line = L[i]
    p = assign_pos(line, V)
    if (p && !commented(line, p)) { D[i] = 1; return }
    t = trim(line)
    if (substr(t, 1, 1) == "#") return
    nw = split(t, w, /[ \t]+/)
    if (w[1] == "export") {
        out = "export"; hit = 0
        for (k = 2; k <= nw; k++) if (w[k] == V) hit = 1; else out = out " " w[k]
        if (!hit) return
        if (out == "export") { D[i] = 1; return }
        match(line, /^[ \t]*/); lead = substr(line, 1, RLENGTH)
        L[i] = lead out
        return
    }
    tail = "export " V
    if (length(t) > length(tail) && substr(t, length(t) - length(tail) + 1) == tail \
        && index(" \t;", substr(t, length(t) - length(tail), 1)) && !commented(t, length(t) - length(tail) + 1))
        D[i] = 1
}
END {
    if (V != "")
        for (i = 1; i <= n; i++)
            if (index(L[i], ENVIRON["QZP_SH_MIN"] V " ]")) D[i] = 1
    nf = 0; sect = 0; keep = 0
    if (S != "")
        for (i = 1; i <= n; i++)
            if (sh_sect(L[i]) && SEC == S && (V == "" || VAR == V)) F[++nf] = i
    if (nf) sect = 1
    wide = V != "" && (S == "" || MODE == "set")
    if (!nf && wide) {
        for (i = 1; i <= n; i++) if (sh_sect(L[i]) && VAR == V) F[++nf] = i
        # Setting V in a new section keeps its other sections.
        if (nf) { sect = 1; if (S != "") { nf = 0; keep = 1 } }
    }
    if (!nf && !keep && wide)
        for (i = 1; i <= n; i++) if (opens_if(L[i]) && dollar_v(L[i], V)) F[++nf] = i
    for (k = 1; k <= nf; k++) drop_block(F[k])
    public = 0
    if (V != "" && !keep) {
        if (MODE == "set") public = !sect
        else {
            public = S == "" || nf > 0
            for (i = 1; i <= n; i++) if (!D[i] && sh_sect(L[i]) && VAR == V) public = 0
        }
    }
    if (public) for (i = 1; i <= n; i++) if (!D[i]) drop_public(i)
    for (i = 1; i <= n; i++)
        if (!D[i] && !(ENVIRON["QZP_DROPEMPTY"] == "1" && L[i] ~ /^[ \t]*$/)) print L[i]
}
'

# C-shell removal of V (or, with V empty, of section S) from /etc/csh_login.QZ.
AWK_CSH_REMOVE='
{ L[++n] = $0 }
function drop(i, count,   j) { for (j = i; j < i + count && j <= n; j++) D[j] = 1 }
# Every public block of V goes, also hand-made copies; a bare setenv line alone.
function drop_public(i,   t) {
    t = trim(L[i])
    if (t == "# " V " update") { drop(i, 4); return }
    if (index(t, "setenv " V " ") == 1 || t == "setenv " V) {
        if (i < n && index(trim(L[i + 1]), "if ( -f \"$" V "/") == 1) drop(i, 4)
        else D[i] = 1
    }
}
END {
    if (V != "")
        for (i = 1; i <= n; i++)
            if (index(L[i], ENVIRON["QZP_CSH_MIN"] V " != \"\" ) ) exit 0")) D[i] = 1
    nf = 0
    for (i = 1; i <= n; i++) {
        if (!csh_sect(L[i])) continue
        if (S != "" ? SEC == S && (V == "" || VAR == V) : VAR == V) F[++nf] = i
    }
    for (k = 1; k <= nf; k++) if (!D[F[k]]) drop(F[k], 6)
    public = 0
    if (V != "") {
        if (S == "") public = !nf
        else if (MODE == "set") {
            public = 1
            for (i = 1; i <= n; i++) if (!D[i] && csh_sect(L[i]) && VAR == V) public = 0
        }
    }
    if (public) for (i = 1; i <= n; i++) if (!D[i]) drop_public(i)
    for (i = 1; i <= n; i++) if (!D[i] && L[i] !~ /^[ \t]*$/) print L[i]
}
'

# Source line edits. QZP_PAT is the text that marks a source line, QZP_LINE the line.
AWK_SOURCE_ADD='
{ h = index($0, "#"); if (h && index(substr($0, h + 1), ENVIRON["QZP_PAT"])) next; L[++n] = $0 }
END {
    if (!n) { print ENVIRON["QZP_LINE"]; print ""; exit }
    for (i = 1; i <= n; i++) if (!index(L[i], ENVIRON["QZP_PAT"])) print L[i]
    print ENVIRON["QZP_LINE"]
}
'
AWK_SOURCE_DEL='!index($0, ENVIRON["QZP_PAT"])'
# Exit 0 when the file holds a line containing QZP_PAT.
AWK_CONTAINS='index($0, ENVIRON["QZP_PAT"]) { found = 1; exit } END { exit !found }'

# Start and end lines of the shared files.
AWK_SH_FRAME='
function frame(t) { return index(t, "QZ_SECTION=${") == 1 || index(t, "QZ_ETC_QZPROFILE()") == 1 || index(t, "}; QZ_ETC_QZPROFILE") == 1 }
'
AWK_CSH_FRAME='
function frame(t) { return index(t, "if ( ( $?QZ_SECTION )") == 1 || index(t, "setenv QZ_SECTION ") == 1 }
'
# One pass that rebuilds a shared file around its blocks: start lines first,
# the end line and (with QZP_CLOSE=1) the closing lines last. With
# QZP_CONVERT=1 it also updates files of older versions: lines that ended the
# file early (QZP_OBS_A, optional blanks, QZP_OBS_B) go, and conditions that
# tested "$1" test $QZ_SECTION; values are never touched.
AWK_TIDY='
function obsolete(line,   p, a) {
    a = ENVIRON["QZP_OBS_A"]; p = index(line, a)
    return p && index(trim(substr(line, p + length(a))), ENVIRON["QZP_OBS_B"]) == 1
}
function convert(line,   t, out, p) {
    t = trim(line)
    if (!(t ~ /^if[ \t[(]/ || t ~ /^\[/) || t ~ /^if \[ -f / || t ~ /^if \( -f /) return line
    out = ""
    while ((p = index(line, "$1")) > 0) { out = out substr(line, 1, p - 1) "$QZ_SECTION"; line = substr(line, p + 2) }
    return out line
}
function closing(line,   p) {
    return ((p = assign_pos(line, "QZNOLOG_flag")) && !commented(line, p)) \
        || ((p = assign_pos(line, "QZCSUTILS_setu")) && !commented(line, p))
}
BEGIN {
    SH = ENVIRON["QZP_KIND"] == "sh"; CONV = ENVIRON["QZP_CONVERT"] == "1"; CLOSE = ENVIRON["QZP_CLOSE"] == "1"
    print ENVIRON["QZP_START1"]
    if (SH) print ENVIRON["QZP_START2"]
}
{
    line = $0
    if (CONV) { if (obsolete(line)) next; line = convert(line) }
    if (frame(trim(line)) || (SH && CLOSE && closing(line))) next
    print line
}
END {
    if (!SH) exit
    print ENVIRON["QZP_END"]
    if (CLOSE) { print ENVIRON["QZP_CLOSE1"]; print ENVIRON["QZP_CLOSE2"] }
}
'
# Exit 0 when the file holds nothing but start and end lines.
AWK_FRAME_ONLY='
{ t = trim($0); if (t != "" && !frame(t)) { other = 1; exit } }
END { exit other }
'

# ---------------------------------------------------------------- helpers

# rm runs only when something is there to remove: most queries leave nothing.
rm_tmpfiles() {
    set --
    for _f in /tmp/filn_file.* /tmp/ifln_file.* /tmp/var_ifln_file.* /tmp/profile_found.* \
        /tmp/profile_final.* /tmp/mod_file2del.* /tmp/qzi_mod.* /tmp/jpriv_file.* \
        /tmp/gpub_file.* /tmp/pr_line.* /tmp/profile1.* ${PID:+/tmp/*.$PID} ${TOKEN_FILE:+"$TOKEN_FILE"}; do
        if [ -e "$_f" ] || [ -L "$_f" ]; then set -- "$@" "$_f"; fi
    done
    [ $# -eq 0 ] || rm -f "$@" 2>/dev/null
}

# Permissions of a file from "ls -l", as an octal number for chmod.
file_mode() {
    # shellcheck disable=SC2012 # ls -l is the one portable way to read a mode
    ls -ldL -- "$1" 2>/dev/null | $AWK '{
        p = substr($1, 2, 9); m = 0; sp = 0
        for (t = 0; t < 3; t++) {
            d = 0; bit = t == 0 ? 4 : t == 1 ? 2 : 1
            if (substr(p, t * 3 + 1, 1) == "r") d += 4
            if (substr(p, t * 3 + 2, 1) == "w") d += 2
            x = substr(p, t * 3 + 3, 1)
            if (x == "x") d += 1
            else if (x == "s" || x == "t") { d += 1; sp += bit }
            else if (x == "S" || x == "T" || x == "l") sp += bit
            m = m * 10 + d
        }
        printf "%d%03d\n", sp, m
    }'
}

record_modes() {
    SAVED_MODES=
    for _f in /etc/profile "$HOME/.profile" $CSH_LOGIN_FILES; do
        [ -f "$_f" ] || continue
        _m=$(file_mode "$_f") && [ -n "$_m" ] && SAVED_MODES="$SAVED_MODES$_m $_f
"
    done
}

restore_modes() {
    [ -n "${SAVED_MODES:-}" ] || return 0
    printf '%s' "${SAVED_MODES:-}" | while IFS= read -r _line; do
        [ -f "${_line#* }" ] && chmod "${_line%% *}" "${_line#* }" 2>/dev/null
    done
    :
}

# Every end of a run: modes back, scratch files gone.
finish() {
    restore_modes
    rm_tmpfiles
    exit "$1"
}

valid_name() {
    case $1 in
        '' | [0-9]* | *[!A-Za-z0-9_]*) return 1 ;;
    esac
    return 0
}

# Writes the scratch file over the target. The result goes to a sibling file
# made with cp -p (owner and mode kept) and is renamed into place, so a full
# disk never leaves a truncated login file. A symbolic link is written through.
replace_file() {
    if [ -L "$1" ]; then
        cat "$2" >"$1"
        return
    fi
    _new=$1.new.$PID
    if [ -f "$1" ]; then
        cp -p "$1" "$_new" 2>/dev/null || { rm -f "$_new"; return 1; }
    fi
    if cat "$2" >"$_new" && mv -f "$_new" "$1"; then
        return 0
    fi
    rm -f "$_new"
    return 1
}

# edit_file FILE SCRATCH NONEMPTY PROGRAM: runs the awk PROGRAM (with the
# shared functions) over FILE and replaces FILE with its output only when awk
# succeeded, the output differs and, with NONEMPTY=1, is not empty. The
# scratch file is left for finish, which removes all of this run's.
edit_file() {
    _tmp=/tmp/$2.$PID
    if $AWK "$AWK_LIB$4" "$1" >"$_tmp"; then
        # An empty result where one is not allowed, or no change: keep the file.
        if { [ "$3" = 1 ] && [ ! -s "$_tmp" ]; } || cmp -s "$1" "$_tmp"; then
            return 0
        fi
        replace_file "$1" "$_tmp" && return 0
    fi
    return 1
}

# A failed edit ends the run; nothing half-written has replaced a file.
edit_or_fail() {
    edit_file "$@" || finish 8
}

file_contains() {
    QZP_PAT=$2
    [ -f "$1" ] && $AWK "$AWK_CONTAINS" "$1"
}

backup_file() {
    if [ "$QZPROFILE_BACKUP_PROFILES" = 1 ] && [ ! -e "$1.vornbackup" ]; then
        cp -p "$1" "$1.vornbackup" 2>/dev/null
    fi
    :
}

# Makes a login file end with the source line, dropping older copies.
add_source_line() {
    backup_file "$1"
    QZP_PAT=$2 QZP_LINE=$3
    edit_or_fail "$1" pr_line 1 "$AWK_SOURCE_ADD"
}

# Lookup of a variable in /etc/profile and /etc/profile.QZ; on success the
# variable is set to the value found and exported.
lookup() {
    QZP_V=$1
    set --
    [ -f /etc/profile ] && set -- /etc/profile
    [ -f "$PROFILE_QZ" ] && set -- "$@" "$PROFILE_QZ"
    [ $# -gt 0 ] || return 116
    _val=$($AWK "$AWK_LIB$AWK_LOOKUP" "$@") || return 116
    eval "$QZP_V=\$_val"
    export "${QZP_V?}"
    return 0
}

# --------------------------------------------------------------- removal

# remove_sh_defs V SECTION MODE [shared-only]: V's definitions in
# /etc/profile.QZ and, unless shared-only, in /etc/profile itself.
remove_sh_defs() {
    if [ -z "${4:-}" ] && [ -n "$1" ]; then
        case $1 in
            JAVA_HOME | CATALINA_HOME | AXIS_HOME) ;;
            *)
                if file_contains /etc/profile "$1="; then
                    QZP_V=$1 QZP_S=$2 QZP_MODE=$3 QZP_DROPEMPTY=0
                    edit_or_fail /etc/profile profile1 0 "$AWK_SH_REMOVE"
                fi
                ;;
        esac
    fi
    if [ -f "$PROFILE_QZ" ] && { [ -z "$1" ] || file_contains "$PROFILE_QZ" "$1="; }; then
        QZP_V=$1 QZP_S=$2 QZP_MODE=$3 QZP_DROPEMPTY=1
        edit_or_fail "$PROFILE_QZ" profile_final 0 "$AWK_SH_REMOVE"
    fi
}

remove_csh_defs() {
    if [ -f "$CSH_QZ" ] && { [ -z "$1" ] || file_contains "$CSH_QZ" "setenv $1 "; }; then
        QZP_V=$1 QZP_S=$2 QZP_MODE=$3
        edit_or_fail "$CSH_QZ" qzi_mod 0 "$AWK_CSH_REMOVE"
    fi
}

remove_closing_lines() {
    for _v in QZCSUTILS_setu QZNOLOG_flag; do
        remove_sh_defs "$_v" "" delete shared-only
        remove_csh_defs "$_v" "" delete
    done
}

# Old-style blocks of LEGACY_VARS in the login files (none at present).
remove_legacy_blocks() {
    for _lv in $LEGACY_VARS; do
        [ "$_lv" = "$1" ] || continue
        QZP_V=$1 QZP_S='' QZP_MODE=delete QZP_DROPEMPTY=0
        for _f in /etc/profile "$HOME/.profile"; do
            [ -f "$_f" ] && edit_or_fail "$_f" profile1 0 "$AWK_SH_REMOVE"
        done
    done
}

# ----------------------------------------------------------------- writing

# write_block KIND FILE: appends V's block to the shared file; QZSHCOMP's
# block goes first so that the "minimum" section can stop right after it.
write_block() {
    _tmp=/tmp/$3.$PID
    QZP_KIND=$1 QZP_V=$SET_V QZP_S=$SET_S QZP_VALUE=$SET_VALUE
    if [ "$1" = sh ]; then QZP_SCRIPT=$SET_SH; else QZP_SCRIPT=$SET_CSH; fi
    if [ "$1" = csh ] && [ -n "$SET_S" ] && [ -f "$2" ] \
        && $AWK "$AWK_LIB"'csh_sect($0) && SEC == S && VAR == V { hit = 1; exit } END { exit !hit }' "$2"; then
        return 0
    fi
    if [ "$SET_V" = QZSHCOMP ]; then
        $AWK "$AWK_LIB$AWK_BLOCK" >"$_tmp" || { rm -f "$_tmp"; finish 8; }
        if [ -f "$2" ]; then cat "$2" >>"$_tmp" || { rm -f "$_tmp"; finish 8; }; fi
    else
        if [ -f "$2" ]; then cat "$2" >"$_tmp"; else : >"$_tmp"; fi || { rm -f "$_tmp"; finish 8; }
        $AWK "$AWK_LIB$AWK_BLOCK" >>"$_tmp" || { rm -f "$_tmp"; finish 8; }
    fi
    replace_file "$2" "$_tmp" || { rm -f "$_tmp"; finish 8; }
    rm -f "$_tmp"
}

update_var() {
    remove_legacy_blocks "$SET_V"
    eval "$SET_V=\$SET_VALUE"
    export "${SET_V?}"
    if [ "$Update_Profile" = 1 ]; then
        for _f in /etc/profile "$HOME/.profile"; do
            [ -f "$_f" ] && add_source_line "$_f" "$SH_SOURCE_PAT" "$SH_SOURCE_LINE"
        done
    fi
    remove_sh_defs "$SET_V" "$SET_S" set
    write_block sh "$PROFILE_QZ" profile.tmp
    if [ "$Update_Profile" = 1 ]; then
        for _f in $CSH_LOGIN_FILES; do
            [ -f "$_f" ] && add_source_line "$_f" "$CSH_SOURCE_PAT" "$CSH_SOURCE_LINE"
        done
    fi
    remove_csh_defs "$SET_V" "$SET_S" set
    write_block csh "$CSH_QZ" csh_login.tmp
}

# ---------------------------------------------------------------- options

require_root() {
    [ "$(id -u 2>/dev/null)" = 0 ] || finish 5
}

# Section names end up inside quoted shell text.
check_section() {
    [ "$1" = -private ] && finish 25
    case $1 in
        '') finish 20 ;;
        /* | -* | ' '* | '	'*) finish 21 ;;
        *'"'* | *'$'* | *'`'* | *\\* | *'!'*) finish 21 ;;
    esac
}

# Reads "-s V [value] [sh csh] [-section S | -private]" into SET_*.
# Only the first seven arguments count; a section option must end the list.
parse_set() {
    [ $# -ge 2 ] || finish 3
    SET_V=$2
    valid_name "$SET_V" || finish 3
    _n=$#
    [ "$_n" -gt 7 ] && _n=7
    _sect=0 _priv=0 _i=0
    for _a in "$@"; do
        _i=$((_i + 1))
        [ $_i -gt "$_n" ] && break
        [ $_i -ge 3 ] || continue
        case $_a in
            -section) [ $_sect = 0 ] && _sect=$_i ;;
            -private) [ $_priv = 0 ] && _priv=$_i ;;
        esac
    done
    if [ $_sect != 0 ] && [ $_priv != 0 ]; then finish 25; fi
    if [ $_sect != 0 ] && { [ $_sect -gt 6 ] || [ $((_sect + 1)) -ne $# ]; }; then finish 20; fi
    if [ $_priv != 0 ] && [ $_priv -ne $# ]; then finish 3; fi
    shift 2
    _argc=$#
    SET_S=
    if [ $_sect != 0 ]; then
        eval "SET_S=\${$((_sect - 1))}"
        check_section "$SET_S"
        _argc=$((_sect - 3))
    elif [ $_priv != 0 ]; then
        SET_S=$SET_V
        _argc=$((_priv - 3))
    fi
    [ "$_argc" -le 3 ] || finish 3
    SET_SH='' SET_CSH=
    case $_argc in
        0) eval "SET_VALUE=\${$SET_V-}" ;;
        1) SET_VALUE=$1 ;;
        2) eval "SET_VALUE=\${$SET_V-}"; SET_SH=$1; SET_CSH=$2 ;;
        3) SET_VALUE=$1; SET_SH=$2; SET_CSH=$3 ;;
    esac
    [ -n "$SET_VALUE" ] || finish 6
    case $SET_VALUE in *'"'* | *'
'*) finish 3 ;; esac
    for _a in "$SET_SH" "$SET_CSH"; do
        case $_a in *'"'* | *'$'* | *'`'* | *\\* | *'!'* | *'
'*) finish 3 ;; esac
    done
}

do_set() {
    require_root
    parse_set "$@"
    lookup QZSHCOMP
    case $SET_V in
        QZ_SECTION | PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) ;;
        QZLIB | QZBIN)
            lookup QZSHCOMP
            lookup "$SET_V" && eval "SET_VALUE=\$$SET_V"
            if [ "$SET_V" = QZLIB ]; then _want=${QZSHCOMP:-}/lib _rc=110; else _want=${QZSHCOMP:-}/bin _rc=111; fi
            [ "$SET_VALUE" = "$_want" ] || finish $_rc
            QZLIB=${QZSHCOMP:-}/lib QZBIN=${QZSHCOMP:-}/bin
            export QZLIB QZBIN
            update_var ;;
        *) update_var ;;
    esac
    repair convert
    finish 0
}

do_query() {
    if [ $# -ne 2 ] || ! valid_name "$2"; then finish 3; fi
    _rc=0
    lookup "$2" || _rc=116
    if [ "$2" = QZSHCOMP ]; then
        printf '%s\n' "${QZSHCOMP:-}"
        finish $_rc
    fi
    [ $_rc = 0 ] || finish 116
    eval "_val=\$$2"
    [ -n "$_val" ] || finish 113
    printf '%s\n' "$_val"
    finish 0
}

# After a delete: a shared file without variables goes, with the lines that read it.
drop_unused() {
    if [ -f "$2" ] && $AWK "$AWK_LIB$3$AWK_FRAME_ONLY" "$2"; then rm -f "$2"; fi
    [ -s "$2" ] && return 0
    _ok=1
    for _f in $4; do
        if file_contains "$_f" "$1"; then
            QZP_PAT=$1
            edit_file "$_f" pr_line 1 "$AWK_SOURCE_DEL" || _ok=0
        fi
    done
    [ $_ok = 1 ] && rm -f "$2"
    [ $_ok = 1 ] || finish 8
}

do_delete() {
    require_root
    shift
    _insect=0 _nnames=0 _nsect=0
    for _a in "$@"; do
        if [ "$_a" = -section ] && [ $_insect = 0 ]; then _insect=1; continue; fi
        if [ $_insect = 1 ]; then check_section "$_a"; _nsect=$((_nsect + 1)); else _nnames=$((_nnames + 1)); fi
    done
    [ $_insect = 1 ] && [ $_nsect = 0 ] && finish 20
    if [ $_insect = 1 ]; then
        _i=0
        for _s in "$@"; do
            _i=$((_i + 1))
            [ $_i -gt $((_nnames + 1)) ] || continue
            if [ $_nnames = 0 ]; then
                remove_sh_defs "" "$_s" delete shared-only
                remove_csh_defs "" "$_s" delete
                continue
            fi
            _j=0
            for _v in "$@"; do
                _j=$((_j + 1))
                [ $_j -le $_nnames ] || continue
                valid_name "$_v" || continue
                case $_v in PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) continue ;; esac
                remove_sh_defs "$_v" "$_s" delete shared-only
                remove_csh_defs "$_v" "$_s" delete
                [ "$_v" = QZSHCOMP ] && remove_closing_lines
            done
        done
    else
        for _v in "$@"; do
            valid_name "$_v" || continue
            case $_v in QZ_SECTION | PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) continue ;; esac
            remove_sh_defs "$_v" "" delete
            remove_csh_defs "$_v" "" delete
            [ "$_v" = QZSHCOMP ] && remove_closing_lines
        done
    fi
    drop_unused "$SH_SOURCE_PAT" "$PROFILE_QZ" "$AWK_SH_FRAME" "/etc/profile $HOME/.profile"
    drop_unused "$CSH_SOURCE_PAT" "$CSH_QZ" "$AWK_CSH_FRAME" "$CSH_LOGIN_FILES"
    finish 0
}

# Rebuilds the start and end lines, and the closing lines while QZSHCOMP is
# known; "repair convert" also brings files of older versions up to date.
repair() {
    QZP_CONVERT=0
    [ "${1:-}" = convert ] && QZP_CONVERT=1
    QZP_CLOSE=0
    if (lookup QZSHCOMP); then QZP_CLOSE=1; fi
    if [ -f "$PROFILE_QZ" ]; then
        QZP_KIND=sh QZP_START1=$SH_START1 QZP_START2=$SH_START2 QZP_END=$SH_END
        QZP_OBS_A='[ "$QZ_SECTION" != "all" ]' QZP_OBS_B='&& return 0'
        edit_or_fail "$PROFILE_QZ" profile_final 1 "$AWK_SH_FRAME$AWK_TIDY"
    fi
    if [ -f "$CSH_QZ" ]; then
        QZP_KIND=csh QZP_START1=$CSH_START
        QZP_OBS_A='if ( "$1" != "all" )' QZP_OBS_B='exit 0'
        edit_or_fail "$CSH_QZ" qzi_mod 1 "$AWK_CSH_FRAME$AWK_TIDY"
    fi
    for _f in "$PROFILE_QZ" "$CSH_QZ"; do
        [ -f "$_f" ] && chmod 644 "$_f" 2>/dev/null
    done
    :
}

# ------------------------------------------------------------------ start

# Own absolute path; a symbolic link is followed once. absolute sets _abs
# without a subshell when the path is already absolute and plain.
absolute() {
    case $1 in
        */./* | */../* | *//*) ;;
        /*) _abs=$1; return 0 ;;
    esac
    case $1 in */*) _d=${1%/*} ;; *) _d=. ;; esac
    _d=$(cd -- "${_d:-/}" 2>/dev/null && pwd) || _d=${1%/*}
    _abs=${_d%/}/${1##*/}
}
absolute "$0"
SELF=$_abs
if [ -L "$SELF" ]; then
    # shellcheck disable=SC2012 # readlink is not everywhere; ls -l shows the target
    _target=$(ls -l -- "$SELF" | sed 's/^.* -> //')
    case $_target in
        /*) ;;
        *) _target=${SELF%/*}/$_target ;;
    esac
    absolute "$_target"
    SELF=$_abs
fi

[ $# -gt 0 ] || { rm_tmpfiles; exit 3; }

AWK="awk"
for _a in /usr/bin/nawk /bin/gawk /usr/bin/gawk /usr/local/bin/gawk; do
    if [ -f "$_a" ] && [ -x "$_a" ]; then AWK=$_a; break; fi
done
Update_Profile=${Update_Profile:-1}
QZPROFILE_BACKUP_PROFILES=${QZPROFILE_BACKUP_PROFILES:-1}

# Another product's installed copy is newer or older than this one; it owns
# the files once it is there, so every request goes to it.
if [ "$SELF" != "${QZSHCOMP:-}/csutils/bin/qzprofile" ] \
    && [ "${QZPROFILE_OVERRIDE:-}" != 1 ] && [ "${QZPROFILE_RUNONCE:-}" != 1 ]; then
    lookup QZSHCOMP
    if [ -n "${QZSHCOMP:-}" ] && [ -f "$QZSHCOMP/csutils/bin/qzprofile" ]; then
        QZPROFILE_RUNONCE=1
        export QZPROFILE_RUNONCE
        rm_tmpfiles
        /bin/sh "$QZSHCOMP/csutils/bin/qzprofile" "$@"
        exit $?
    fi
fi

# Queries and help change nothing, so only the other options save the modes.
SAVED_MODES=''
case $1 in -s | -d | -F) record_modes ;; esac
trap 'finish 130' HUP INT TERM

case $1 in
    -s) do_set "$@" ;;
    -q) do_query "$@" ;;
    -d) do_delete "$@" ;;
    -F) repair; finish 0 ;;
    -h | -\?) usage; finish 0 ;;
    *) finish 3 ;;
esac
