# Source lines of the login files. QZP_PAT marks a source line, QZP_LINE is
# the line; QZP_MODE "add" makes the file end with it (dropping older and
# commented-out copies), "delete" removes every source line.
{
    h = index($0, "#")
    if (MODE == "add" && h && index(substr($0, h + 1), ENVIRON["QZP_PAT"])) C[n] = 1
    else kept++
}
END {
    for (i = 1; i <= n; i++) if (!C[i] && !index(L[i], ENVIRON["QZP_PAT"])) out(L[i])
    if (MODE == "add") {
        out(ENVIRON["QZP_LINE"])
        if (!kept) out("")
    }
    emit()
}
