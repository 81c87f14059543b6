// Opening directories below the install directory without ever following a link out of it.
#pragma once

#include <string>

// A descriptor (O_DIRECTORY, O_CLOEXEC) of relDir below baseDir; the caller closes it. baseDir itself may
// be reached through links; no component of relDir is followed when it is a symbolic link. With create,
// missing components are made with mode 0755. -1 with errno otherwise: ELOOP where a link stands, ENOTDIR
// where another non-directory stands, EINVAL for a "." or ".." component. Empty components are skipped, so an empty
// relDir opens baseDir.
int openTreeDir(const std::string& baseDir, const std::string& relDir, bool create);
