#!/usr/bin/env python3
"""Reads a host's TARVO installation without changing anything.

state: prints, as JSON, what the installer would find for one caller: the
install directory it would use, the installed version, the dependants, the
installed files that are missing, whether the environment is published, and
a fingerprint that changes whenever any of that, or an installed file, does.
logtail: prints the end of the installer's log, if it is a plain file.
"""
import hashlib
import json
import os
import stat
import subprocess
import sys

RECORDS = "TARVO5/Linux/ppc64/64"
SECTION = "*#*#*#*#*#-"
DEFAULT_ROOT = "/opt/QZ/SharedComponents"
BLANKS = " \t"


def profile_qzshcomp():
    """QZSHCOMP as a login shell gets it from the shared profile, or None."""
    if not os.path.isfile("/etc/profile.QZ"):
        return None
    script = '. /etc/profile.QZ >/dev/null 2>&1; [ "${QZSHCOMP+set}" = set ] && printf %s "$QZSHCOMP"'
    env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "QZ_SECTION": "minimum"}
    done = subprocess.run(["/bin/sh", "-c", script], env=env, capture_output=True, check=False)
    return done.stdout.decode("utf-8", "surrogateescape") if done.returncode == 0 else None


def install_dir(env_mode, instdir):
    """The directory the installer would choose: QZSHCOMP, then QZLIB, then instdir=, then the default."""
    root = None if env_mode == "user" else profile_qzshcomp()
    if root is None:
        root = os.environ.get("QZSHCOMP")
    if root is not None:
        return root + "/TARVO" if root else None
    qzlib = os.environ.get("QZLIB")
    if qzlib is not None:
        return qzlib.rsplit("/", 1)[0] + "/TARVO" if "/" in qzlib else None
    if not instdir:
        return DEFAULT_ROOT + "/TARVO"
    if "/" not in instdir:
        return None
    return instdir + ("TARVO" if instdir.endswith("/") else "/TARVO")


def read_lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "surrogateescape").split("\n")
    except OSError:
        return None


def key_value(line, key):
    """The value of a registry line for key (one blank, then a value without blanks), or None."""
    rest = line.lstrip(BLANKS)
    if len(rest) <= len(key) + 1 or rest[: len(key)].lower() != key.lower() or rest[len(key)] not in BLANKS:
        return None
    value = rest[len(key) + 1:]
    return None if any(c in BLANKS for c in value) else value


def state(env_mode, instdir, caller, stamp):
    idir = install_dir(env_mode, instdir)
    result = {"install_dir": idir, "installed": False, "version": "", "dependants": [], "registered": False,
              "missing": [], "env_published": env_mode == "none", "applied": ""}
    seen = []
    if idir:
        registry = read_lines(idir + "/" + RECORDS + "/.installdb")
        files = read_lines(idir + "/" + RECORDS + "/files.dat") or []
        result["installed"] = registry is not None
        for line in registry or []:
            if not line.strip(BLANKS):
                continue
            version = key_value(line, "CurrentVersion")
            if version is not None and not result["version"]:
                result["version"] = version
                continue
            result["dependants"].append(line.strip(BLANKS))
            result["registered"] = result["registered"] or bool(key_value(line, caller))
        for line in files:
            if line.startswith(SECTION):
                break
            words = line.split()
            if not words:
                continue
            path = idir + "/" + words[0]
            try:
                st = os.lstat(path)
                seen.append([words[0], st.st_size, st.st_mtime_ns, st.st_ino])
            except OSError:
                result["missing"].append(words[0])
        seen.append(["\n".join(registry or []), "\n".join(files)])
        root = idir[: -len("/TARVO")]
        if env_mode == "all":
            result["env_published"] = profile_qzshcomp() == root
        elif env_mode == "user":
            home = os.environ.get("HOME", "")
            result["env_published"] = any(
                line.startswith("QZSHCOMP=") and "export QZSHCOMP" in line
                for line in read_lines(home + "/.profile") or [])
    try:
        with open(stamp) as f:
            result["applied"] = f.read().strip()
    except OSError:
        pass
    fingerprint = {k: v for k, v in result.items() if k != "applied"}
    fingerprint["files"] = seen
    result["fingerprint"] = hashlib.sha256(json.dumps(fingerprint, sort_keys=True).encode()).hexdigest()
    return result


def logtail(path, count):
    """The last lines of path; nothing when it is a link, a FIFO or a hard link to another file."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError as e:
        return ["(no log: %s)" % e.strerror]
    with os.fdopen(fd, "rb") as f:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode) or st.st_nlink != 1:
            return ["(%s is not a plain file; not shown)" % path]
        f.seek(max(0, st.st_size - 65536))
        lines = f.read().decode("utf-8", "replace").rstrip("\n").split("\n")
    return lines[-count:]


def main(argv):
    if len(argv) == 6 and argv[1] == "state":
        print(json.dumps(state(*argv[2:6])))
    elif len(argv) == 4 and argv[1] == "logtail":
        print(json.dumps(logtail(argv[2], int(argv[3]))))
    else:
        sys.stderr.write("usage: tarvo_probe.py state ENV INSTDIR CALLER STAMP | logtail LOG COUNT\n")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
