# True when the shared file (QZP_KIND sh or csh) defines nothing: it holds
# only its start, end and closing lines, comments and empty lines.
function frame_only(   i, c) {
    for (i = 1; i <= n; i++) {
        c = trim(code(L[i]))
        if (c != "" && c != ":" && !frame(L[i]) && !assign_pos(L[i], "QZNOLOG_flag") && !assign_pos(L[i], "QZCSUTILS_setu")) return 0
    }
    return 1
}

# The stages named in QZP_STAGES, one a line, each "STAGE NAME SECTION". The
# new text goes to standard output; exit 9 when nothing changed (or when, with
# QZP_NONEMPTY=1, nothing would be left), 10 when QZP_FRAME=1 and the result
# defines nothing. The old text is also written to QZP_OLD, and to QZP_BACKUP
# when that is set. QZP_FORCE=1 writes the new text even when it is the same.
END {
    norig = n
    k = split(ENVIRON["QZP_STAGES"], stage, "\n")
    for (s = 1; s <= k; s++) {
        op = stage[s]; V = S = ""
        if ((p = index(op, " "))) { V = substr(op, p + 1); op = substr(op, 1, p - 1) }
        if ((p = index(V, " "))) { S = substr(V, p + 1); V = substr(V, 1, p - 1) }
        if (op == "rmsh") sh_remove()
        else if (op == "rmcsh") csh_remove()
        else if (op == "block") write_block()
        else if (op == "tidy") tidy()
        else if (op == "addsrc") source_lines("add")
        else if (op == "delsrc") source_lines("delete")
    }
    if (ENVIRON["QZP_FRAME"] == "1" && frame_only()) { keep_old(); exit 10 }
    same = n == norig && ENVIRON["QZP_FORCE"] != "1"
    for (i = 1; i <= n && same; i++) same = L[i] == ORIG[i]
    if (same || ENVIRON["QZP_NONEMPTY"] == "1" && !n) exit 9
    for (i = 1; i <= n; i++) print L[i]
    keep_old()
    exit 0
}
function keep_old(   i, old, bak) {
    old = ENVIRON["QZP_OLD"]; bak = ENVIRON["QZP_BACKUP"]
    printf "" > old
    for (i = 1; i <= norig; i++) { print ORIG[i] > old; if (bak != "") print ORIG[i] > bak }
}
