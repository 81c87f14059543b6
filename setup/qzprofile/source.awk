# Source lines of the login files. QZP_PAT marks a source line, QZP_LINE is
# the line; "add" makes the file end with it (dropping older and commented-out
# copies), "delete" removes every source line.
function source_lines(how,   i, h, kept) {
    kept = 0
    for (i = 1; i <= n; i++) {
        h = index(L[i], "#")
        if (index(L[i], ENVIRON["QZP_PAT"]) || how == "add" && h && index(substr(L[i], h + 1), ENVIRON["QZP_PAT"])) continue
        out(L[i]); kept++
    }
    if (how == "add") {
        out(ENVIRON["QZP_LINE"])
        if (!kept) out("")
    }
    commit()
}
