# Exits 0 when the shared file (QZP_KIND sh or csh) holds nothing but its
# start and end lines.
END {
    for (i = 1; i <= n; i++) {
        c = trim(code(L[i]))
        if (c != "" && c != ":" && !frame(L[i])) exit 1
    }
    exit 0
}
