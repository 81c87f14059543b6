# Exits 0 when the shared file (QZP_KIND sh or csh) defines nothing: it holds
# only its start, end and closing lines, comments and empty lines.
END {
    for (i = 1; i <= n; i++) {
        c = trim(code(L[i]))
        if (c != "" && c != ":" && !frame(L[i]) && !assign_pos(L[i], "QZNOLOG_flag") && !assign_pos(L[i], "QZCSUTILS_setu")) exit 1
    }
    exit 0
}
