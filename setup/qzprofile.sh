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

# The scratch directory (QZP_TMP) and a temporary beside $HOME/.profile
# (QZP_HOMETMP) are made by the first change of a run; queries and help
# make none.
QZP_TMP='' QZP_HOMETMP='' QZP_LS='' QZP_INSPECTED=0
trap 'exit 130' HUP INT TERM

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
QZP_CONVERT='' QZP_OBS_A='' QZP_OBS_B='' QZP_AUX='' QZP_FRAME='' QZP_NONEMPTY=''
export QZP_SH_IF QZP_SH_MID QZP_SH_TAIL QZP_SH_MIN QZP_CSH_IF QZP_CSH_MID QZP_CSH_TAIL QZP_CSH_MIN
export QZP_START1 QZP_START2 QZP_END QZP_CLOSE1 QZP_CLOSE2 QZP_V QZP_S QZP_MODE QZP_KIND QZP_DROPEMPTY
export QZP_PAT QZP_LINE QZP_VALUE QZP_SCRIPT QZP_CONVERT QZP_OBS_A QZP_OBS_B QZP_AUX QZP_FRAME QZP_NONEMPTY

qzp_usage() {
    cat <<'EOF'
@usage.txt@
EOF
}

# ---------------------------------------------------------------- awk code

QZP_AWK_LIB='@lib.awk@'
QZP_AWK_LOOKUP='@lookup.awk@'
# Every change of a file is one pass of this program, which runs the stages
# that the run asks for.
QZP_AWK_SH_REMOVE='@sh_remove.awk@'
QZP_AWK_CSH_REMOVE='@csh_remove.awk@'
QZP_AWK_BLOCK='@block.awk@'
QZP_AWK_TIDY='@tidy.awk@'
QZP_AWK_SOURCE='@source.awk@'
QZP_AWK_EDIT='@edit.awk@'
QZP_AWK_EDIT=$QZP_AWK_SH_REMOVE$QZP_AWK_CSH_REMOVE$QZP_AWK_BLOCK$QZP_AWK_TIDY$QZP_AWK_SOURCE$QZP_AWK_EDIT

# Byte semantics in every awk, whatever the locale.
qzp_awk() {
    QZP_P=$1
    shift
    LC_ALL=C $QZP_AWK "$QZP_AWK_LIB$QZP_P" "$@"
}

# ----------------------------------------------------------- end of a run

# Every end of a run: a failed run first puts back every file it changed,
# then the scratch directory goes. From here on a signal must not start a
# rollback: the outcome is decided, and the saved copies are about to go.
qzp_finish() {
    trap '' HUP INT TERM
    [ "$1" = 0 ] || qzp_rollback
    qzp_drop_scratch
    exit "$1"
}

qzp_drop_scratch() {
    QZP_RM=
    [ -z "$QZP_TMP" ] || QZP_RM=$QZP_TMP
    [ -z "$QZP_HOMETMP" ] || QZP_RM="$QZP_RM$QZP_NL$QZP_HOMETMP.new$QZP_NL$QZP_HOMETMP.old$QZP_NL$QZP_HOMETMP.bak"
    # shellcheck disable=SC2086 # one path a line
    [ -z "$QZP_RM" ] || (IFS=$QZP_NL; set -f; rm -rf -- $QZP_RM)
    QZP_TMP='' QZP_HOMETMP=''
}

# ------------------------------------------------------- the files

# Root acts only in directories that no one else can change: /etc, and
# $HOME when root owns it and no one else may write in it. Everything about
# the files comes from one "ls -ldn" (QZP_LS); qzp_stat reads a path's line.
qzp_inspect() {
    # shellcheck disable=SC2086 # the C-shell login files are a word list
    QZP_LS=$(LC_ALL=C ls -ldn -- /etc/profile /etc/profile.QZ /etc/csh_login.QZ $QZP_CSH_LOGIN_FILES \
        "$HOME" "$HOME/.profile" "$HOME/.profile.vornbackup" /etc/.qzprofile.* "$HOME"/.qzprofile.* 2>/dev/null)
    QZP_HOME_OK=0
    if [ "$QZP_ROOT" = 1 ] && [ -n "${HOME:-}" ] && qzp_stat "$HOME" && [ "$QZP_UID" = 0 ]; then
        case $QZP_PERM in d????-??-?*) QZP_HOME_OK=1 ;; esac
    fi
}
qzp_stat() {
    QZP_PERM='' QZP_LINKS='' QZP_UID='' QZP_GID=''
    QZP_OLDIFS=$IFS IFS=$QZP_NL
    set -f
    for QZP_L in $QZP_LS; do
        QZP_N=$QZP_L
        for QZP_I in 1 2 3 4 5 6 7 8; do
            QZP_N=${QZP_N#"${QZP_N%%[! ]*}"}
            QZP_N=${QZP_N#"${QZP_N%%[ ]*}"}
        done
        QZP_N=${QZP_N#"${QZP_N%%[! ]*}"}
        [ "$QZP_N" = "$1" ] || continue
        IFS=' '
        # shellcheck disable=SC2086 # the fields of the ls line
        set -- $QZP_L
        QZP_PERM=$1 QZP_LINKS=$2 QZP_UID=$3 QZP_GID=$4 IFS=$QZP_OLDIFS
        set +f
        return 0
    done
    IFS=$QZP_OLDIFS
    set +f
    return 1
}

# qzp_usable FILE: a login file that may be read and changed: a regular file
# that is no link, and for $HOME/.profile root's own with one name, in a
# $HOME that root may change.
qzp_usable() {
    qzp_stat "$1" || return 1
    case $QZP_PERM in -*) ;; *) return 1 ;; esac
    [ "$1" != "$HOME/.profile" ] || { [ "$QZP_HOME_OK" = 1 ] && [ "$QZP_UID" = 0 ] && [ "$QZP_LINKS" = 1 ]; }
}

# Octal mode of an "ls -l" permission string.
qzp_octal() {
    QZP_O=0 QZP_SP=0 QZP_P=${1#?} QZP_B=4
    for QZP_I in 1 2 3; do
        QZP_D=0
        case $QZP_P in r*) QZP_D=4 ;; esac
        case $QZP_P in ?w*) QZP_D=$((QZP_D + 2)) ;; esac
        case $QZP_P in ??x* | ??s* | ??t*) QZP_D=$((QZP_D + 1)) ;; esac
        case $QZP_P in ??[sStTl]*) QZP_SP=$((QZP_SP + QZP_B)) ;; esac
        QZP_O=$((QZP_O * 8 + QZP_D)) QZP_P=${QZP_P#???} QZP_B=$((QZP_B / 2))
    done
    QZP_O=$((QZP_SP * 512 + QZP_O))
}

# Clears what a killed run left: a scratch directory, or a temporary in
# $HOME, counts as the utility's own only when root owns it, the directory
# has mode 0700, and the process it names is gone.
qzp_clear_leftovers() {
    QZP_RM=
    for QZP_F in /etc/.qzprofile.* "$HOME"/.qzprofile.*; do
        case $QZP_F in
            /etc/.qzprofile.*) QZP_WANTPERM='drwx------*' ;;
            *) [ "$QZP_HOME_OK" = 1 ] || continue; QZP_WANTPERM='-*' ;;
        esac
        QZP_PID=${QZP_F##*/.qzprofile.}
        QZP_PID=${QZP_PID%%.*}
        case $QZP_PID in '' | *[!0-9]*) continue ;; esac
        [ "$QZP_PID" != $$ ] && kill -0 "$QZP_PID" 2>/dev/null && continue
        if ! qzp_stat "$QZP_F" || [ "$QZP_UID" != 0 ]; then continue; fi
        # shellcheck disable=SC2254 # the pattern is the point
        case $QZP_PERM in $QZP_WANTPERM) QZP_RM="$QZP_RM$QZP_NL$QZP_F" ;; esac
    done
    # shellcheck disable=SC2086 # one path a line
    [ -z "$QZP_RM" ] || (IFS=$QZP_NL; set -f; rm -rf -- $QZP_RM)
}

# The first change of a run makes the scratch directory (mode 0700) beside
# the shared files, where no one else can reach, named after this process.
qzp_begin() {
    [ -z "$QZP_TMP" ] || return 0
    [ "$QZP_INSPECTED" = 1 ] || { qzp_inspect; QZP_INSPECTED=1; }
    qzp_clear_leftovers
    if ! QZP_TMP=$(mktemp -d "/etc/.qzprofile.$$.XXXXXX") || [ ! -d "$QZP_TMP" ]; then QZP_TMP=''; qzp_finish 1; fi
}

# ------------------------------------------------------- changing files

# The journal: entry K is FILE (QZP_JOURNAL_K), its KIND (shared, must:
# a change that cannot be left out, may: a source line that may be skipped,
# gone: a shared file to delete), whether it was absent, and where its new
# and old texts wait.
QZP_JN=0 QZP_CN=0 QZP_FROM=0 QZP_DONE=
qzp_new() { if [ "$1" = "$HOME/.profile" ]; then QZP_NEW=$QZP_HOMETMP.new QZP_OLD=$QZP_HOMETMP.old QZP_BAK=$QZP_HOMETMP.bak
    else QZP_NEW=$QZP_TMP/${1##*/} QZP_OLD=$QZP_TMP/${1##*/},old QZP_BAK=$QZP_TMP/${1##*/}.vornbackup; fi; }

# qzp_edit FILE KIND STAGES: runs the stages over FILE into its new text.
# Returns 9 when nothing changes, 10 when (QZP_FRAME=1) the result defines
# nothing, 1 when the edit cannot be made. A login file's new text gets
# its mode through the umask, its backup is written alongside.
qzp_edit() {
    qzp_begin
    [ "$1" != "$HOME/.profile" ] || QZP_HOMETMP=$HOME/.qzprofile.$$
    qzp_new "$1"
    QZP_ABSENT=1 QZP_SRC=/dev/null QZP_MASK=022 QZP_FIX=''
    QZP_FORCE=0
    if qzp_stat "$1"; then
        case $QZP_PERM in -*) ;; *) return 1 ;; esac
        QZP_ABSENT=0 QZP_SRC=$1
        # A shared file gets mode 644 and root's ownership, also when its text stays.
        if [ "$2" = shared ]; then
            case $QZP_UID:$QZP_GID:$QZP_PERM in 0:0:-rw-r--r--*) ;; *) QZP_FORCE=1 ;; esac
        fi
        if [ "$2" != shared ] && [ "$2" != gone ]; then
            qzp_octal "$QZP_PERM"
            QZP_MASK=$(printf '%o' $((~QZP_O & 511)))
            [ $((QZP_O & 3657)) = 0 ] || QZP_FIX=$(printf '%o' "$QZP_O")
            [ "$QZP_UID:$QZP_GID" = 0:0 ] || QZP_FIX="$QZP_FIX $QZP_UID:$QZP_GID"
        fi
    fi
    QZP_BACKUP=
    if [ "$2" != shared ] && [ "$2" != gone ] && [ "$QZPROFILE_BACKUP_PROFILES" = 1 ] \
        && [ ! -e "$1.vornbackup" ] && [ ! -L "$1.vornbackup" ]; then QZP_BACKUP=$QZP_BAK; fi
    QZP_STAGES=$3
    # shellcheck disable=SC2086 # QZP_AUXARG is empty or /etc/profile
    (umask "$QZP_MASK" && export QZP_OLD QZP_BACKUP QZP_STAGES QZP_FORCE && qzp_awk "$QZP_AWK_EDIT" $QZP_AUXARG "$QZP_SRC" >"$QZP_NEW")
    QZP_RC=$?
    case $QZP_RC in 0 | 10) ;; 9) return 9 ;; *) return 1 ;; esac
    if [ -n "$QZP_FIX" ]; then
        # Modes that a umask cannot give, and other owners, go on the new texts.
        QZP_CHMOD=${QZP_FIX%% *} QZP_CHOWN=${QZP_FIX#* }
        [ "$QZP_CHOWN" = "$QZP_FIX" ] && QZP_CHOWN=
        case $QZP_CHMOD in *:*) QZP_CHMOD= ;; esac
        for QZP_F in "$QZP_NEW" "$QZP_OLD" ${QZP_BACKUP:+"$QZP_BACKUP"}; do
            { [ -z "$QZP_CHOWN" ] || chown "$QZP_CHOWN" "$QZP_F"; } && { [ -z "$QZP_CHMOD" ] || chmod "$QZP_CHMOD" "$QZP_F"; } || return 1
        done
    fi
    # A login file that parsed before the edit parses after it, or stays.
    case $1 in
        /etc/profile | "$HOME/.profile")
            if qzp_parses "$1" && ! qzp_parses "$QZP_NEW"; then return 1; fi
            ;;
    esac
    QZP_JN=$((QZP_JN + 1))
    [ "$QZP_RC" = 10 ] && set -- "$1" gone
    eval "QZP_JOURNAL_$QZP_JN=\$1 QZP_JKIND_$QZP_JN=\$2 QZP_JABSENT_$QZP_JN=\$QZP_ABSENT QZP_JBAK_$QZP_JN=\$QZP_BACKUP"
    return "$QZP_RC"
}

# The shell reads the whole file as the body of a function it never calls.
qzp_parses() {
    QZP_TEXT=$(while IFS= read -r QZP_L || [ -n "$QZP_L" ]; do printf '%s\n' "$QZP_L"; done <"$1") || return 1
    (eval "qzp_probe() {$QZP_NL$QZP_TEXT$QZP_NL:$QZP_NL}") >/dev/null 2>&1
}

# Puts the new texts in place: what must change first (any failure: every
# file back, exit 8), then the source lines, each of which may be skipped
# when its file can be neither renamed over nor rewritten.
qzp_commit() {
    QZP_FROM=$QZP_CN QZP_CN=$QZP_JN
    qzp_commit_kind must || qzp_finish 8
    qzp_commit_kind may
    QZP_FROM=$QZP_JN
}
qzp_commit_kind() {
    QZP_ETC='' QZP_GONE='' QZP_K=$QZP_FROM
    while [ "$QZP_K" != "$QZP_JN" ]; do
        QZP_K=$((QZP_K + 1))
        eval "QZP_F=\$QZP_JOURNAL_$QZP_K QZP_KIND=\$QZP_JKIND_$QZP_K QZP_B=\$QZP_JBAK_$QZP_K"
        case $1:$QZP_KIND in must:shared | must:must | may:may) ;; must:gone) QZP_GONE="$QZP_GONE$QZP_NL$QZP_F"; continue ;; *) continue ;; esac
        qzp_new "$QZP_F"
        if [ "$QZP_F" = "$HOME/.profile" ]; then
            { [ -z "$QZP_B" ] || mv -f -- "$QZP_B" "$QZP_F.vornbackup"; } || :
            mv -f -- "$QZP_NEW" "$QZP_F" || qzp_overwrite "$QZP_F" "$QZP_NEW" "$QZP_K" || [ "$1" = may ] || return 1
        else
            QZP_ETC="$QZP_ETC$QZP_NL$QZP_NEW"
            [ -z "$QZP_B" ] || QZP_ETC="$QZP_ETC$QZP_NL$QZP_B"
        fi
    done
    # shellcheck disable=SC2086 # one path a line
    [ -z "$QZP_GONE" ] || (IFS=$QZP_NL; set -f; rm -f -- $QZP_GONE) || return 1
    [ -n "$QZP_ETC" ] || return 0
    # shellcheck disable=SC2086 # one path a line
    (IFS=$QZP_NL; set -f; mv -f -- $QZP_ETC /etc/) && return 0
    # Where a rename was refused (a bind-mounted file), the file is rewritten in place.
    QZP_OLDIFS=$IFS IFS=$QZP_NL
    set -f
    for QZP_F in $QZP_ETC; do
        case $QZP_F in *.vornbackup) continue ;; esac
        [ ! -e "$QZP_F" ] || qzp_overwrite "/etc/${QZP_F##*/}" "$QZP_F" || [ "$1" = may ] || { IFS=$QZP_OLDIFS; set +f; return 1; }
    done
    IFS=$QZP_OLDIFS
    set +f
}
# Rewrites FILE with the text of NEW by the shell alone; NEW is read whole
# before FILE is truncated, and is gone once FILE holds it.
qzp_overwrite() {
    QZP_TEXT=$(while IFS= read -r QZP_L || [ -n "$QZP_L" ]; do printf '%s\n' "$QZP_L"; done <"$2" && echo .) || return 1
    printf '%s' "${QZP_TEXT%.}" >"$1" || return 1
    QZP_DONE="$QZP_DONE$QZP_NL$1"
}

# Puts back every file that was changed, from the saved old texts: a new
# text still waiting, or a file to delete still there, was never put in place.
qzp_rollback() {
    while [ "$QZP_CN" -gt 0 ]; do
        eval "QZP_F=\$QZP_JOURNAL_$QZP_CN QZP_ABSENT=\$QZP_JABSENT_$QZP_CN QZP_KIND=\$QZP_JKIND_$QZP_CN"
        qzp_new "$QZP_F"
        case $QZP_NL$QZP_DONE$QZP_NL in *"$QZP_NL$QZP_F$QZP_NL"*) QZP_WAITS=0 ;; *) QZP_WAITS=1 ;; esac
        if [ "$QZP_KIND" = gone ]; then
            [ -e "$QZP_F" ] || mv -f -- "$QZP_OLD" "$QZP_F"
        elif [ "$QZP_WAITS" = 1 ] && [ -e "$QZP_NEW" ]; then
            :
        elif [ "$QZP_ABSENT" = 1 ]; then
            rm -f -- "$QZP_F"
        elif [ -f "$QZP_OLD" ]; then
            mv -f -- "$QZP_OLD" "$QZP_F" || qzp_overwrite "$QZP_F" "$QZP_OLD"
        fi
        QZP_CN=$((QZP_CN - 1))
    done
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

# --------------------------------------------------------------- changes

# qzp_holds FILE TEXT: FILE, a regular file, holds TEXT somewhere; read by
# the shell, to spare a process where nothing is to be done.
qzp_holds() {
    [ -f "$1" ] && [ ! -L "$1" ] || return 1
    while IFS= read -r QZP_L || [ -n "$QZP_L" ]; do
        case $QZP_L in *"$2"*) return 0 ;; esac
    done <"$1"
    return 1
}
qzp_home_usable() {
    [ "$QZP_INSPECTED" = 1 ] || { qzp_inspect; QZP_INSPECTED=1; }
    qzp_usable "$HOME/.profile"
}

# qzp_edit_login FILE KIND STAGES: a login file, when it may be changed; a
# change that may be skipped is, when it cannot be made.
qzp_edit_login() {
    [ -n "$3" ] && [ -f "$1" ] && [ ! -L "$1" ] || return 0
    [ "$1" != "$HOME/.profile" ] || qzp_home_usable || return 0
    QZP_KIND=sh QZP_DROPEMPTY=0 QZP_FRAME=0 QZP_AUX=''
    case $1 in /etc/profile | "$HOME/.profile") ;; *) QZP_KIND=csh ;; esac
    qzp_edit "$@"
    case $?:$2 in 0:* | 9:* | 10:* | 1:may) ;; *) qzp_finish 8 ;; esac
}

# qzp_edit_shared FILE STAGES [frame]: a shared file; "frame" asks whether
# the result still defines something (QZP_SHARED_GONE=1 when not).
qzp_edit_shared() {
    if [ ! -e "$1" ] && [ ! -L "$1" ]; then
        QZP_SHARED_GONE=1
        case $2 in *block*) ;; *) return 0 ;; esac
    fi
    QZP_KIND=sh QZP_DROPEMPTY=1 QZP_FRAME=0 QZP_AUX=''
    [ "$1" = "$QZP_PROFILE_QZ" ] || QZP_KIND=csh
    [ "$QZP_KIND" = csh ] || { [ -f /etc/profile ] && [ ! -L /etc/profile ] && QZP_AUX=/etc/profile; }
    [ "${3:-}" != frame ] || QZP_FRAME=1
    QZP_AUXARG=$QZP_AUX
    qzp_edit "$1" shared "$2"
    case $? in
        0 | 9) QZP_SHARED_GONE=0 ;;
        10) QZP_SHARED_GONE=1 ;;
        *) qzp_finish 8 ;;
    esac
    QZP_AUXARG=''
}
QZP_AUXARG=''

# The stages that remove V's definitions ("rmsh"/"rmcsh"), with those of the
# closing lines after QZSHCOMP.
qzp_rm_stages() {  # KIND V SECTION
    QZP_RS="rm$1 $2${3:+ $3}"
    [ "$2" != QZSHCOMP ] || QZP_RS="$QZP_RS${QZP_NL}rm$1 QZCSUTILS_setu${QZP_NL}rm$1 QZNOLOG_flag"
}

# ---------------------------------------------------------------- options

# Root: the effective user ID, from /proc where it can be read without a
# process.
qzp_root() {
    QZP_ROOT=0
    if [ -r /proc/self/status ]; then
        while read -r QZP_K QZP_R QZP_E QZP_L; do
            [ "$QZP_K" = Uid: ] || continue
            [ "$QZP_E" = 0 ] && QZP_ROOT=1
            return 0
        done </proc/self/status
    fi
    [ "$(id -u)" != 0 ] || QZP_ROOT=1
}
qzp_require_root() {
    [ "$QZP_ROOT" = 1 ] || qzp_finish 5
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
    QZP_SET_V=${2:-}
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
    case $QZP_SET_V in
        QZ_SECTION | PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) qzp_repair convert ;;
        QZLIB | QZBIN)
            qzp_lookup_qzshcomp
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
    qzp_commit
    qzp_finish 0
}

# Setting V: the source lines in the login files (unless Update_Profile says
# otherwise), V's old definitions out of /etc/profile and the shared files,
# V's new block in, and the shared files rebuilt around their blocks.
qzp_update_var() {
    QZP_V=$QZP_SET_V QZP_S=$QZP_SET_S QZP_MODE=set QZP_VALUE=$QZP_SET_VALUE
    QZP_SECT=${QZP_SET_S:+ $QZP_SET_S}
    QZP_PAT=$QZP_SH_SOURCE_PAT QZP_LINE=$QZP_SH_SOURCE_LINE QZP_ST='' QZP_K=may
    [ "$Update_Profile" = 1 ] && QZP_ST=addsrc
    case $QZP_SET_V in
        JAVA_HOME | CATALINA_HOME | AXIS_HOME) ;;
        *) if qzp_holds /etc/profile "$QZP_SET_V="; then QZP_ST="$QZP_ST${QZP_NL}rmsh $QZP_SET_V"; QZP_K=must; fi ;;
    esac
    qzp_edit_login /etc/profile $QZP_K "$QZP_ST"
    [ "$Update_Profile" != 1 ] || qzp_edit_login "$HOME/.profile" may addsrc
    QZP_SCRIPT=$QZP_SET_SH
    qzp_shared_tidy "$QZP_PROFILE_QZ" "rmsh $QZP_SET_V$QZP_SECT${QZP_NL}block $QZP_SET_V$QZP_SECT" 1
    if [ "$Update_Profile" = 1 ]; then
        QZP_PAT=$QZP_CSH_SOURCE_PAT QZP_LINE=$QZP_CSH_SOURCE_LINE
        for QZP_F in $QZP_CSH_LOGIN_FILES; do qzp_edit_login "$QZP_F" may addsrc; done
    fi
    QZP_SCRIPT=$QZP_SET_CSH
    qzp_shared_tidy "$QZP_CSH_QZ" "rmcsh $QZP_SET_V$QZP_SECT${QZP_NL}block $QZP_SET_V$QZP_SECT" 1
}

# qzp_shared_tidy FILE STAGES CONVERT: the stages, then the start and end
# lines rebuilt; CONVERT=1 also brings files of older versions up to date.
qzp_shared_tidy() {
    QZP_CONVERT=$3
    if [ "$1" = "$QZP_PROFILE_QZ" ]; then
        QZP_START1=$QZP_SH_START QZP_OBS_A='[ "$QZ_SECTION" != "all" ]' QZP_OBS_B='&& return 0'
    else
        QZP_START1=$QZP_CSH_START QZP_OBS_A='if ( "$QZ_SECTION" != "all" )' QZP_OBS_B='exit 0'
    fi
    qzp_edit_shared "$1" "$2${2:+$QZP_NL}tidy"
}

# Rebuilds the start and end lines of the shared files, and the closing
# lines while QZSHCOMP is known.
qzp_repair() {
    qzp_shared_tidy "$QZP_PROFILE_QZ" "" "${1:+1}"
    qzp_shared_tidy "$QZP_CSH_QZ" "" "${1:+1}"
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
    # The removal stages of each file, then one pass over each.
    QZP_MODE=delete QZP_SHST='' QZP_CSHST='' QZP_PST=''
    if [ $QZP_INSECT = 1 ]; then
        QZP_I=0
        for QZP_SN in "$@"; do
            QZP_I=$((QZP_I + 1))
            [ $QZP_I -gt $((QZP_NNAMES + 1)) ] || continue
            # No names: the section goes whole.
            [ $QZP_NNAMES != 0 ] || QZP_SHST="$QZP_SHST${QZP_NL}rmsh  $QZP_SN" QZP_CSHST="$QZP_CSHST${QZP_NL}rmcsh  $QZP_SN"
            QZP_J=0
            for QZP_DV in "$@"; do
                QZP_J=$((QZP_J + 1))
                [ $QZP_J -le $QZP_NNAMES ] || continue
                qzp_valid_name "$QZP_DV" || continue
                case $QZP_DV in PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) continue ;; esac
                qzp_rm_stages sh "$QZP_DV" "$QZP_SN"
                QZP_SHST="$QZP_SHST$QZP_NL$QZP_RS"
                qzp_rm_stages csh "$QZP_DV" "$QZP_SN"
                QZP_CSHST="$QZP_CSHST$QZP_NL$QZP_RS"
            done
        done
    else
        for QZP_DV in "$@"; do
            qzp_valid_name "$QZP_DV" || continue
            case $QZP_DV in QZ_SECTION | PATH | LD_LIBRARY_PATH | LIBPATH | SHLIB_PATH | MANPATH) continue ;; esac
            case $QZP_DV in
                JAVA_HOME | CATALINA_HOME | AXIS_HOME) ;;
                *) qzp_holds /etc/profile "$QZP_DV=" && QZP_PST="$QZP_PST${QZP_NL}rmsh $QZP_DV" ;;
            esac
            qzp_rm_stages sh "$QZP_DV"
            QZP_SHST="$QZP_SHST$QZP_NL$QZP_RS"
            qzp_rm_stages csh "$QZP_DV"
            QZP_CSHST="$QZP_CSHST$QZP_NL$QZP_RS"
        done
    fi
    # A shared file left without variables goes, and with it the lines that read it.
    qzp_edit_shared "$QZP_PROFILE_QZ" "${QZP_SHST#"$QZP_NL"}" frame
    QZP_PAT=$QZP_SH_SOURCE_PAT
    if [ "$QZP_SHARED_GONE" = 1 ]; then
        qzp_holds /etc/profile "$QZP_PAT" && QZP_PST="$QZP_PST${QZP_NL}delsrc"
        QZP_NONEMPTY=1
        qzp_edit_login "$HOME/.profile" must delsrc
    fi
    # shellcheck disable=SC2031 # set again for each file
    qzp_edit_login /etc/profile must "${QZP_PST#"$QZP_NL"}"
    QZP_NONEMPTY=''
    qzp_edit_shared "$QZP_CSH_QZ" "${QZP_CSHST#"$QZP_NL"}" frame
    if [ "$QZP_SHARED_GONE" = 1 ]; then
        QZP_PAT=$QZP_CSH_SOURCE_PAT QZP_NONEMPTY=1
        for QZP_F in $QZP_CSH_LOGIN_FILES; do
            qzp_holds "$QZP_F" "$QZP_PAT" && qzp_edit_login "$QZP_F" must delsrc
        done
        QZP_NONEMPTY=''
    fi
    qzp_commit
    qzp_finish 0
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
        /bin/sh "$QZSHCOMP/csutils/bin/qzprofile" "$@"
        exit $?
    fi
fi

qzp_root
trap 'qzp_finish 130' HUP INT TERM

case $1 in
    -s) qzp_do_set "$@" ;;
    -q) qzp_do_query "$@" ;;
    -d) qzp_do_delete "$@" ;;
    -F) qzp_repair; qzp_commit; qzp_finish 0 ;;
    -h | -\?) qzp_usage; qzp_finish 0 ;;
    *) qzp_finish 3 ;;
esac
