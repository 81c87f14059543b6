# The octal mode of the file whose "ls -l" line is read: per triplet r, w
# and x count 4, 2 and 1; "s", "S", "t", "T" and "l" add the special bits.
{
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
}
