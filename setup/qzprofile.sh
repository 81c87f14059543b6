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
# compares them as plain strings. Every variable of this script starts with
# QZP_, and the value of the variable being set is taken from the
# environment before any of them is assigned.

[ -n "${DEBUG_QZPROFILE:-}" ] && set -x

# "-s V" with no value sets V to its inherited value.
case ${1:-} in
    -s)
        case ${2:-} in
            '' | [0-9]* | *[!A-Za-z0-9_]*) ;;
            *) eval "QZP_INHERITED=\${$2-}" ;;
        esac
        ;;
esac
QZP_INHERITED=${QZP_INHERITED-}

# Tools and shells report nothing: the exit code says what went wrong.
[ -n "${DEBUG_QZPROFILE:-}" ] || command exec 2>/dev/null

# ECHO is chosen and exported for the scripts attached to variables; lines
# are written by awk.
# shellcheck disable=SC3037 # probing whether this echo knows -e is the point
if [ "X$(echo -e X)" = "XX" ]; then ECHO="echo -e"; else ECHO="echo"; fi
export ECHO

# Run token: the private directory (mode 0700) that holds this run's scratch
# files. Queries and help write nothing, so they make none.
QZP_TMP=
case ${1:-} in
    -s | -d | -F)
        # Until the run's own trap is set, a signal only takes the scratch
        # directory away; set first, so that no moment leaves it behind.
        trap '[ -z "$QZP_TMP" ] || rm -rf "$QZP_TMP"; exit 130' HUP INT TERM
        QZP_TMP=$(mktemp -d /tmp/prof_XXXXXXXXXX) && [ -d "$QZP_TMP" ] || exit 1
        ;;
esac

QZP_PROFILE_QZ=/etc/profile.QZ
QZP_CSH_QZ=/etc/csh_login.QZ
QZP_SH_SOURCE_LINE='test -r /etc/profile.QZ && { QZ_SECTION=vorn; export QZ_SECTION; . /etc/profile.QZ; unset QZ_SECTION; } # Added by Qorzel'
QZP_CSH_SOURCE_LINE='setenv QZ_SECTION vorn; if ( -r /etc/csh_login.QZ ) source /etc/csh_login.QZ; unsetenv QZ_SECTION # Added by Qorzel'
QZP_SH_SOURCE_PAT='. /etc/profile.QZ'
QZP_CSH_SOURCE_PAT='source /etc/csh_login.QZ'
QZP_CSH_LOGIN_FILES='/etc/cshrc /etc/.login /etc/login.csh /etc/csh.login'

# Arguments of the awk programs, which read them from ENVIRON.
QZP_SH_IF='if [ \( "$QZ_SECTION" = "all" -o "$QZ_SECTION" = "'
QZP_SH_MID='" \) -a '
QZP_SH_TAIL=' ];then'
QZP_SH_MIN='[ "$QZ_SECTION" = "minimum" -a '
QZP_CSH_IF='if ( ( "$QZ_SECTION" == "all" || "$QZ_SECTION" == "'
QZP_CSH_MID='" ) && ( '
QZP_CSH_TAIL=' != "" ) ) then'
QZP_CSH_MIN='if ( "$QZ_SECTION" == "minimum" && ( '
QZP_SH_START='QZ_SECTION=${QZ_SECTION:-${1:-}}; export QZ_SECTION #Set QZ_SECTION to the first argument'
QZP_START1=
QZP_START2='QZ_ETC_QZPROFILE() {'
QZP_END='}; QZ_ETC_QZPROFILE $QZ_SECTION'
QZP_CLOSE1='[ "${QZNOLOG_flag:-${QZNOLOG_flag:-}}" = "off" ] && set +o nolog; QZNOLOG_flag="" # return to system setting'
QZP_CLOSE2='[ "${QZCSUTILS_setu:-${QZCSUTILS_setu:-}}" = "1" ] &&  set -u; QZCSUTILS_setu="" # return to system setting'
QZP_CSH_START='if ( ( $?QZ_SECTION ) && ( "$1" != "" ) ) setenv QZ_SECTION $1; if ( ! $?QZ_SECTION ) setenv QZ_SECTION "" #Set QZ_SECTION to the first argument'
QZP_V='' QZP_S='' QZP_MODE='' QZP_KIND='' QZP_DROPEMPTY='' QZP_PAT='' QZP_LINE='' QZP_VALUE='' QZP_SCRIPT=''
QZP_CONVERT='' QZP_CLOSE='' QZP_OBS_A='' QZP_OBS_B=''
export QZP_SH_IF QZP_SH_MID QZP_SH_TAIL QZP_SH_MIN QZP_CSH_IF QZP_CSH_MID QZP_CSH_TAIL QZP_CSH_MIN
export QZP_START1 QZP_START2 QZP_END QZP_CLOSE1 QZP_CLOSE2 QZP_V QZP_S QZP_MODE QZP_KIND QZP_DROPEMPTY
export QZP_PAT QZP_LINE QZP_VALUE QZP_SCRIPT QZP_CONVERT QZP_CLOSE QZP_OBS_A QZP_OBS_B

qzp_usage() {
    cat <<'EOF'
@usage.txt@
EOF
}

# ---------------------------------------------------------------- awk code

QZP_AWK_LIB='@lib.awk@'
QZP_AWK_LOOKUP='@lookup.awk@'
QZP_AWK_BLOCK='@block.awk@'
QZP_AWK_SH_REMOVE='@sh_remove.awk@'
QZP_AWK_CSH_REMOVE='@csh_remove.awk@'
QZP_AWK_SOURCE='@source.awk@'
QZP_AWK_TIDY='@tidy.awk@'
QZP_AWK_FRAME_ONLY='@frame_only.awk@'
QZP_AWK_MODE='@mode.awk@'

# Byte semantics in every awk, whatever the locale.
qzp_awk() {
    QZP_P=$1
    shift
    LC_ALL=C $QZP_AWK "$QZP_AWK_LIB$QZP_P" "$@"
}

# ----------------------------------------------------------- end of a run

# Every end of a run: a failed run first puts back every file it changed,
# then the login files get their modes back and the scratch directory goes.
# From here on a signal must not start a rollback: the outcome is decided,
# and the saved copies are about to go.
qzp_finish() {
    trap '' HUP INT TERM
    [ "$1" = 0 ] || qzp_rollback
    QZP_JN=0
    qzp_restore_modes
    [ -z "$QZP_TMP" ] || rm -rf "$QZP_TMP"
    exit "$1"
}

# Permissions of a file from "ls -l", as an octal number for chmod.
qzp_file_mode() {
    # shellcheck disable=SC2012 # ls -l is the one portable way to read a mode
    ls -ldL -- "$1" | LC_ALL=C $QZP_AWK "$QZP_AWK_MODE"
}

qzp_record_modes() {
    QZP_MODES=
    for QZP_F in /etc/profile "$HOME/.profile" $QZP_CSH_LOGIN_FILES; do
        [ -f "$QZP_F" ] || continue
        QZP_M=$(qzp_file_mode "$QZP_F") && [ -n "$QZP_M" ] && QZP_MODES="$QZP_MODES$QZP_M $QZP_F
"
    done
}

qzp_restore_modes() {
    [ -n "${QZP_MODES:-}" ] || return 0
    printf '%s' "$QZP_MODES" | while IFS= read -r QZP_L; do
        [ -f "${QZP_L#* }" ] && chmod "${QZP_L%% *}" "${QZP_L#* }"
    done
    :
}

# ------------------------------------------------------- writing files

# qzp_put FILE NEW KIND [restore]: gives FILE the content of the scratch
# file NEW. A temporary next to FILE is filled and renamed over it, so FILE
# is always whole. KIND "shared": the temporary gets mode 644 and nothing
# else is tried. KIND "login": the temporary starts as a copy of FILE (owner
# and mode kept); where the rename is refused (a bind mount, a link) FILE is
# overwritten in place, by cp, which opens NEW before it truncates FILE.
# With "restore", owner and mode come from NEW.
qzp_put() {
    if [ "$3" = shared ] || [ ! -L "$1" ]; then
        if QZP_NEW=$(mktemp "$1.XXXXXX"); then
            if if [ -n "${4:-}" ]; then
                cp -p "$2" "$QZP_NEW"
            elif [ "$3" = shared ]; then
                cat "$2" >"$QZP_NEW" && chmod 644 "$QZP_NEW"
            else
                { [ ! -f "$1" ] || cp -p "$1" "$QZP_NEW"; } && cat "$2" >"$QZP_NEW"
            fi && mv -f "$QZP_NEW" "$1"; then
                return 0
            fi
            rm -f "$QZP_NEW"
        fi
    fi
    [ "$3" != shared ] && cp "$2" "$1"
}

# The journal: before a file changes for the first time in a run, its old
# content (or its absence) and its KIND are kept in the scratch directory.
QZP_JN=0
qzp_keep() {  # FILE KIND
    QZP_K=0
    while [ "$QZP_K" -lt "$QZP_JN" ]; do
        QZP_K=$((QZP_K + 1))
        eval "[ \"\$QZP_JOURNAL_$QZP_K\" != \"\$1\" ]" || return 0
    done
    QZP_K=$((QZP_JN + 1))
    QZP_ABSENT=1
    if [ -f "$1" ]; then cp -p "$1" "$QZP_TMP/old.$QZP_K" || return 1; QZP_ABSENT=0; fi
    eval "QZP_JOURNAL_$QZP_K=\$1 QZP_JKIND_$QZP_K=\$2 QZP_JABSENT_$QZP_K=\$QZP_ABSENT"
    QZP_JN=$QZP_K
}

# Puts back every file of the journal, the last changed first. Only a file
# recorded as absent is removed: a missing copy never deletes one.
qzp_rollback() {
    while [ "$QZP_JN" -gt 0 ]; do
        eval "QZP_F=\$QZP_JOURNAL_$QZP_JN QZP_K=\$QZP_JKIND_$QZP_JN QZP_ABSENT=\$QZP_JABSENT_$QZP_JN"
        if [ "$QZP_ABSENT" = 1 ]; then
            rm -f "$QZP_F"
        elif [ -f "$QZP_TMP/old.$QZP_JN" ]; then
            qzp_put "$QZP_F" "$QZP_TMP/old.$QZP_JN" "$QZP_K" restore
        fi
        QZP_JN=$((QZP_JN - 1))
    done
}

# qzp_edit FILE KIND NONEMPTY PROGRAM: runs the awk PROGRAM over FILE and
# puts its output in place (qzp_put KIND) when something changed (awk did not
# exit 9) and, with NONEMPTY=1, the output is not empty. Fails when the edit
# cannot be made.
qzp_edit() {
    qzp_awk "$4" "$1" >"$QZP_TMP/edit"
    case $? in
        0) ;;
        9) return 0 ;;
        *) return 1 ;;
    esac
    [ "$3" = 1 ] && [ ! -s "$QZP_TMP/edit" ] && return 0
    [ "$2" != login ] || qzp_backup "$1"
    qzp_keep "$1" "$2" && qzp_put "$1" "$QZP_TMP/edit" "$2"
}

qzp_edit_or_fail() {
    qzp_edit "$@" || qzp_finish 8
}

qzp_remove_file() {
    [ -e "$1" ] || [ -L "$1" ] || return 0
    qzp_keep "$1" shared && rm -f "$1"
}

# ------------------------------------------------------------- lookup

# qzp_lookup NAME: the value that /etc/profile and /etc/profile.QZ give NAME
# (the latter wins), in QZP_FOUND. Returns 116 when neither defines NAME and
# 2 when they cannot be read.
qzp_lookup() {
    QZP_V=$1
    set --
    [ -f /etc/profile ] && [ -r /etc/profile ] && set -- /etc/profile
    [ -f "$QZP_PROFILE_QZ" ] && [ -r "$QZP_PROFILE_QZ" ] && set -- "$@" "$QZP_PROFILE_QZ"
    [ $# -gt 0 ] || return 116
    QZP_FOUND=$(qzp_awk "$QZP_AWK_LOOKUP" "$@")
    case $? in
        0) ;;
        9) return 116 ;;
        *) return 2 ;;
    esac
    QZP_HEAD=${QZP_FOUND%%"$QZP_NL"*}
    QZP_FOUND=${QZP_FOUND#*"$QZP_NL"}
    QZP_FOUND=${QZP_FOUND%|}
    [ "$QZP_HEAD" = L ] && return 0
    # Expanded in a subshell, after the names it uses were looked up in turn
    # (not too deep), so that nothing it does reaches this script.
    QZP_FOUND=$(
        QZP_DEPTH=$((${QZP_DEPTH:-0} + 1))
        QZP_SELF=$QZP_V QZP_WORD=$QZP_FOUND
        for QZP_R in ${QZP_HEAD#E}; do
            case $QZP_R in
                "$QZP_SELF" | QZP_* | IFS | PPID | PWD | OPTIND | LINENO | UID | EUID | SHELLOPTS | BASH*) continue ;;
            esac
            [ "$QZP_DEPTH" -le 3 ] && qzp_lookup "$QZP_R" && eval "$QZP_R=\$QZP_FOUND"
        done
        # A word the shell rejects is taken as written.
        (eval "QZP_FOUND=$QZP_WORD" && printf '%s.' "$QZP_FOUND") || printf '%s.' "$QZP_WORD"
    )
    QZP_FOUND=${QZP_FOUND%.}
}
QZP_NL='
'
QZP_CR=$(printf '\r')

# Looks QZSHCOMP up and exports the value found; a file that cannot be read
# ends the run.
qzp_lookup_qzshcomp() {
    qzp_lookup QZSHCOMP
    case $? in
        0) QZSHCOMP=$QZP_FOUND; export QZSHCOMP ;;
        116) return 1 ;;
        *) qzp_finish 8 ;;
    esac
}

# --------------------------------------------------------------- removal

# qzp_remove_sh V SECTION MODE [shared-only]: V's definitions in
# /etc/profile.QZ and, unless shared-only, in /etc/profile itself.
qzp_remove_sh() {
    QZP_V=$1 QZP_S=$2 QZP_MODE=$3 QZP_KIND=sh
    if [ -z "${4:-}" ] && [ -n "$1" ] && [ -f /etc/profile ]; then
        case $1 in
            JAVA_HOME | CATALINA_HOME | AXIS_HOME) ;;
            *)
                QZP_DROPEMPTY=0
                qzp_edit_or_fail /etc/profile login 0 "$QZP_AWK_SH_REMOVE"
                ;;
        esac
    fi
    if [ -f "$QZP_PROFILE_QZ" ]; then
        QZP_DROPEMPTY=1
        qzp_edit_or_fail "$QZP_PROFILE_QZ" shared 0 "$QZP_AWK_SH_REMOVE"
    fi
}

qzp_remove_csh() {
    QZP_V=$1 QZP_S=$2 QZP_MODE=$3 QZP_KIND=csh
    [ -f "$QZP_CSH_QZ" ] && qzp_edit_or_fail "$QZP_CSH_QZ" shared 0 "$QZP_AWK_CSH_REMOVE"
    :
}

qzp_remove_closing_lines() {
    for QZP_C in QZCSUTILS_setu QZNOLOG_flag; do
        qzp_remove_sh "$QZP_C" "" delete shared-only
        qzp_remove_csh "$QZP_C" "" delete
    done
}

# ----------------------------------------------------------------- writing

# The first copy of a login file before this utility changed it. It is
# filled under a temporary name, so a partial copy never counts as taken.
qzp_backup() {
    if [ "$QZPROFILE_BACKUP_PROFILES" = 1 ] && [ ! -e "$1.vornbackup" ] && [ ! -L "$1.vornbackup" ] \
        && QZP_B=$(mktemp "$1.vornbackup.XXXXXX"); then
        if ! { cp -p "$1" "$QZP_B" && mv -f "$QZP_B" "$1.vornbackup"; }; then rm -f "$QZP_B"; fi
    fi
    :
}

# qzp_add_source_line FILE PATTERN LINE: makes a login file end with the
# source line, dropping older and commented-out copies.
qzp_add_source_line() {
    QZP_PAT=$2 QZP_LINE=$3 QZP_MODE=add
    qzp_edit_or_fail "$1" login 1 "$QZP_AWK_SOURCE"
}

# qzp_write_block KIND FILE SCRIPT: writes V's block into a shared file.
qzp_write_block() {
    QZP_KIND=$1 QZP_V=$QZP_SET_V QZP_S=$QZP_SET_S QZP_VALUE=$QZP_SET_VALUE QZP_SCRIPT=$3
    QZP_SRC=$2
    [ -f "$2" ] || QZP_SRC=/dev/null
    qzp_awk "$QZP_AWK_BLOCK" "$QZP_SRC" >"$QZP_TMP/edit"
    case $? in
        0) ;;
        9) return 0 ;;
        *) qzp_finish 8 ;;
    esac
    if ! qzp_keep "$2" shared || ! qzp_put "$2" "$QZP_TMP/edit" shared; then qzp_finish 8; fi
}

qzp_update_var() {
    if [ "$Update_Profile" = 1 ]; then
        for QZP_F in /etc/profile "$HOME/.profile"; do
            [ -f "$QZP_F" ] && qzp_add_source_line "$QZP_F" "$QZP_SH_SOURCE_PAT" "$QZP_SH_SOURCE_LINE"
        done
    fi
    qzp_remove_sh "$QZP_SET_V" "$QZP_SET_S" set
    qzp_write_block sh "$QZP_PROFILE_QZ" "$QZP_SET_SH"
    if [ "$Update_Profile" = 1 ]; then
        for QZP_F in $QZP_CSH_LOGIN_FILES; do
            [ -f "$QZP_F" ] && qzp_add_source_line "$QZP_F" "$QZP_CSH_SOURCE_PAT" "$QZP_CSH_SOURCE_LINE"
        done
    fi
    qzp_remove_csh "$QZP_SET_V" "$QZP_SET_S" set
    qzp_write_block csh "$QZP_CSH_QZ" "$QZP_SET_CSH"
}

# ---------------------------------------------------------------- options

qzp_require_root() {
    [ "$(id -u)" = 0 ] || qzp_finish 5
}

qzp_valid_name() {
    case $1 in
        '' | [0-9]* | *[!A-Za-z0-9_]*) return 1 ;;
    esac
    return 0
}

# Section names end up inside quoted shell text.
qzp_check_section() {
    [ "$1" = -private ] && qzp_finish 25
    case $1 in
        '') qzp_finish 20 ;;
        /* | -* | ' '* | '	'*) qzp_finish 21 ;;
        *'"'* | *'$'* | *'`'* | *\\* | *'!'* | *"$QZP_NL"* | *"$QZP_CR"*) qzp_finish 21 ;;
    esac
}

# Reads "-s V [value] [sh csh] [-section S | -private]" into QZP_SET_*.
# Only the first seven arguments count; a section option must end the list.
qzp_parse_set() {
    [ $# -ge 2 ] || qzp_finish 3
    QZP_SET_V=$2
    qzp_valid_name "$QZP_SET_V" || qzp_finish 3
    QZP_N=$#
    [ "$QZP_N" -gt 7 ] && QZP_N=7
    QZP_SECT=0 QZP_PRIV=0 QZP_I=0
    for QZP_A in "$@"; do
        QZP_I=$((QZP_I + 1))
        [ $QZP_I -gt "$QZP_N" ] && break
        [ $QZP_I -ge 3 ] || continue
        case $QZP_A in
            -section) [ $QZP_SECT = 0 ] && QZP_SECT=$QZP_I ;;
            -private) [ $QZP_PRIV = 0 ] && QZP_PRIV=$QZP_I ;;
        esac
    done
    if [ $QZP_SECT != 0 ] && [ $QZP_PRIV != 0 ]; then qzp_finish 25; fi
    if [ $QZP_SECT != 0 ] && { [ $QZP_SECT -gt 6 ] || [ $((QZP_SECT + 1)) -ne $# ]; }; then qzp_finish 20; fi
    if [ $QZP_PRIV != 0 ] && [ $QZP_PRIV -ne $# ]; then qzp_finish 3; fi
    shift 2
    QZP_ARGC=$#
    QZP_SET_S=
    if [ $QZP_SECT != 0 ]; then
        eval "QZP_SET_S=\${$((QZP_SECT - 1))}"
        qzp_check_section "$QZP_SET_S"
        QZP_ARGC=$((QZP_SECT - 3))
    elif [ $QZP_PRIV != 0 ]; then
        QZP_SET_S=$QZP_SET_V
        QZP_ARGC=$((QZP_PRIV - 3))
    fi
    [ "$QZP_ARGC" -le 3 ] || qzp_finish 3
    QZP_SET_SH='' QZP_SET_CSH=
    case $QZP_ARGC in
        0) QZP_SET_VALUE=$QZP_INHERITED ;;
        1) QZP_SET_VALUE=$1 ;;
        2) QZP_SET_VALUE=$QZP_INHERITED QZP_SET_SH=$1 QZP_SET_CSH=$2 ;;
        3) QZP_SET_VALUE=$1 QZP_SET_SH=$2 QZP_SET_CSH=$3 ;;
    esac
    # Names whose value this script or the shared files cannot pass on.
    case $QZP_SET_V in
        QZP_* | QZNOLOG_flag | QZCSUTILS_setu | IFS | PPID | PWD | OPTIND | LINENO) qzp_finish 7 ;;
    esac
    [ -n "$QZP_SET_VALUE" ] || qzp_finish 6
    case $QZP_SET_VALUE in *"$QZP_NL"*) qzp_finish 3 ;; esac
    for QZP_A in "$QZP_SET_SH" "$QZP_SET_CSH"; do
        case $QZP_A in *'"'* | *'$'* | *'`'* | *\\* | *'!'* | *"$QZP_NL"*) qzp_finish 3 ;; esac
    done
}

qzp_do_set() {
    qzp_require_root
    qzp_parse_set "$@"
    qzp_lookup_qzshcomp
    case $QZP_SET_V in
        QZ_SECTION | PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) ;;
        QZLIB | QZBIN)
            qzp_lookup "$QZP_SET_V"
            case $? in
                0) QZP_SET_VALUE=$QZP_FOUND ;;
                116) ;;
                *) qzp_finish 8 ;;
            esac
            if [ "$QZP_SET_V" = QZLIB ]; then
                QZP_WANT=${QZSHCOMP:-}/lib QZP_RC=110
            else
                QZP_WANT=${QZSHCOMP:-}/bin QZP_RC=111
            fi
            [ "$QZP_SET_VALUE" = "$QZP_WANT" ] || qzp_finish $QZP_RC
            qzp_update_var
            ;;
        *) qzp_update_var ;;
    esac
    qzp_repair convert
    qzp_finish 0
}

qzp_do_query() {
    if [ $# -ne 2 ] || ! qzp_valid_name "$2"; then qzp_finish 3; fi
    qzp_lookup "$2"
    QZP_RC=$?
    if [ "$2" = QZSHCOMP ]; then
        [ $QZP_RC = 0 ] || QZP_FOUND=${QZSHCOMP:-}
        printf '%s\n' "$QZP_FOUND"
        [ $QZP_RC = 0 ] || qzp_finish 116
        qzp_finish 0
    fi
    [ $QZP_RC = 0 ] || qzp_finish 116
    [ -n "$QZP_FOUND" ] || qzp_finish 113
    printf '%s\n' "$QZP_FOUND"
    qzp_finish 0
}

# qzp_drop_unused KIND FILE PATTERN LOGIN-FILE...: after a delete, a shared
# file without variables goes, and then the lines that read it.
qzp_drop_unused() {
    QZP_KIND=$1 QZP_PAT=$3 QZP_MODE=delete QZP_SHARED=$2
    shift 3
    if [ -f "$QZP_SHARED" ] && qzp_awk "$QZP_AWK_FRAME_ONLY" "$QZP_SHARED"; then
        qzp_remove_file "$QZP_SHARED" || qzp_finish 8
    fi
    [ -s "$QZP_SHARED" ] && return 0
    for QZP_F in "$@"; do
        [ -f "$QZP_F" ] && qzp_edit_or_fail "$QZP_F" login 1 "$QZP_AWK_SOURCE"
    done
    qzp_remove_file "$QZP_SHARED" || qzp_finish 8
}

qzp_do_delete() {
    qzp_require_root
    shift
    QZP_INSECT=0 QZP_NNAMES=0 QZP_NSECT=0
    for QZP_A in "$@"; do
        if [ "$QZP_A" = -section ] && [ $QZP_INSECT = 0 ]; then QZP_INSECT=1; continue; fi
        if [ $QZP_INSECT = 1 ]; then
            qzp_check_section "$QZP_A"
            QZP_NSECT=$((QZP_NSECT + 1))
        else
            QZP_NNAMES=$((QZP_NNAMES + 1))
        fi
    done
    [ $QZP_INSECT = 1 ] && [ $QZP_NSECT = 0 ] && qzp_finish 20
    if [ $QZP_INSECT = 1 ]; then
        QZP_I=0
        for QZP_SN in "$@"; do
            QZP_I=$((QZP_I + 1))
            [ $QZP_I -gt $((QZP_NNAMES + 1)) ] || continue
            if [ $QZP_NNAMES = 0 ]; then
                qzp_remove_sh "" "$QZP_SN" delete shared-only
                qzp_remove_csh "" "$QZP_SN" delete
                continue
            fi
            QZP_J=0
            for QZP_DV in "$@"; do
                QZP_J=$((QZP_J + 1))
                [ $QZP_J -le $QZP_NNAMES ] || continue
                qzp_valid_name "$QZP_DV" || continue
                case $QZP_DV in PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) continue ;; esac
                qzp_remove_sh "$QZP_DV" "$QZP_SN" delete shared-only
                qzp_remove_csh "$QZP_DV" "$QZP_SN" delete
                [ "$QZP_DV" = QZSHCOMP ] && qzp_remove_closing_lines
            done
        done
    else
        for QZP_DV in "$@"; do
            qzp_valid_name "$QZP_DV" || continue
            case $QZP_DV in QZ_SECTION | PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) continue ;; esac
            qzp_remove_sh "$QZP_DV" "" delete
            qzp_remove_csh "$QZP_DV" "" delete
            [ "$QZP_DV" = QZSHCOMP ] && qzp_remove_closing_lines
        done
    fi
    qzp_drop_unused sh "$QZP_PROFILE_QZ" "$QZP_SH_SOURCE_PAT" /etc/profile "$HOME/.profile"
    # shellcheck disable=SC2086 # the C-shell login files are a word list
    qzp_drop_unused csh "$QZP_CSH_QZ" "$QZP_CSH_SOURCE_PAT" $QZP_CSH_LOGIN_FILES
    qzp_finish 0
}

# Rebuilds the start and end lines, and the closing lines while QZSHCOMP is
# known; "qzp_repair convert" also brings files of older versions up to date.
qzp_repair() {
    QZP_CONVERT=0
    [ "${1:-}" = convert ] && QZP_CONVERT=1
    QZP_CLOSE=0
    qzp_lookup_qzshcomp && QZP_CLOSE=1
    if [ -f "$QZP_PROFILE_QZ" ]; then
        QZP_KIND=sh QZP_START1=$QZP_SH_START QZP_OBS_A='[ "$QZ_SECTION" != "all" ]' QZP_OBS_B='&& return 0'
        qzp_edit_or_fail "$QZP_PROFILE_QZ" shared 1 "$QZP_AWK_TIDY"
    fi
    if [ -f "$QZP_CSH_QZ" ]; then
        QZP_KIND=csh QZP_START1=$QZP_CSH_START QZP_OBS_A='if ( "$QZ_SECTION" != "all" )' QZP_OBS_B='exit 0'
        qzp_edit_or_fail "$QZP_CSH_QZ" shared 1 "$QZP_AWK_TIDY"
    fi
    for QZP_F in "$QZP_PROFILE_QZ" "$QZP_CSH_QZ"; do
        [ -f "$QZP_F" ] && chmod 644 "$QZP_F"
    done
    :
}

# ------------------------------------------------------------------ start

# Own absolute path; a symbolic link is followed once. qzp_absolute sets
# QZP_ABS without a subshell when the path is already absolute and plain.
qzp_absolute() {
    case $1 in
        */./* | */../* | *//*) ;;
        /*) QZP_ABS=$1; return 0 ;;
    esac
    case $1 in */*) QZP_D=${1%/*} ;; *) QZP_D=. ;; esac
    QZP_D=$(cd -- "${QZP_D:-/}" && pwd) || QZP_D=${1%/*}
    QZP_ABS=${QZP_D%/}/${1##*/}
}
qzp_absolute "$0"
QZP_SELF=$QZP_ABS
if [ -L "$QZP_SELF" ]; then
    # shellcheck disable=SC2012 # readlink is not everywhere; ls -l shows the target
    QZP_TARGET=$(ls -l -- "$QZP_SELF" | sed 's/^.* -> //')
    case $QZP_TARGET in
        /*) ;;
        *) QZP_TARGET=${QZP_SELF%/*}/$QZP_TARGET ;;
    esac
    qzp_absolute "$QZP_TARGET"
    QZP_SELF=$QZP_ABS
fi

QZP_MODES=
[ $# -gt 0 ] || qzp_finish 3

QZP_AWK='awk'
for QZP_A in /usr/bin/nawk /bin/gawk /usr/bin/gawk /usr/local/bin/gawk; do
    if [ -f "$QZP_A" ] && [ -x "$QZP_A" ]; then QZP_AWK=$QZP_A; break; fi
done
Update_Profile=${Update_Profile:-1}
QZPROFILE_BACKUP_PROFILES=${QZPROFILE_BACKUP_PROFILES:-1}

# Another product's installed copy owns the files once it is there, so
# every request goes to it.
if [ "$QZP_SELF" != "${QZSHCOMP:-}/csutils/bin/qzprofile" ] \
    && [ "${QZPROFILE_OVERRIDE:-}" != 1 ] && [ "${QZPROFILE_RUNONCE:-}" != 1 ]; then
    if qzp_lookup QZSHCOMP && [ -n "$QZP_FOUND" ] && [ -f "$QZP_FOUND/csutils/bin/qzprofile" ]; then
        QZSHCOMP=$QZP_FOUND QZPROFILE_RUNONCE=1
        export QZSHCOMP QZPROFILE_RUNONCE
        [ -z "$QZP_TMP" ] || rm -rf "$QZP_TMP"
        /bin/sh "$QZSHCOMP/csutils/bin/qzprofile" "$@"
        exit $?
    fi
fi

# Queries and help change nothing, so only the other options save the modes.
case $1 in -s | -d | -F) qzp_record_modes ;; esac
trap 'qzp_finish 130' HUP INT TERM

case $1 in
    -s) qzp_do_set "$@" ;;
    -q) qzp_do_query "$@" ;;
    -d) qzp_do_delete "$@" ;;
    -F) qzp_repair; qzp_finish 0 ;;
    -h | -\?) qzp_usage; qzp_finish 0 ;;
    *) qzp_finish 3 ;;
esac
