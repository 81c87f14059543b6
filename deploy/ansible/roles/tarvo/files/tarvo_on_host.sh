# The role's one step on the host, run as: sh -c "$(cat tarvo_on_host.sh)" tarvo ACTION PROGRAM SHA256 DIR ...
#   state PROGRAM SHA256 DIR WORDS...              prints the host's TARVO state, as discover=json gives it
#   run PROGRAM SHA256 DIR MODE CALLER WORDS...    runs PROGRAM in MODE for CALLER, its output on standard
#                                                  error, then prints the state; fails with PROGRAM's status
# WORDS are the install words (env=, instdir=). With SHA256 given, PROGRAM is the role's copy of the kit, run
# only while it has that checksum: else "state" makes its directory and prints "copy". With DIR given, PROGRAM
# is the uninstaller of an installation in DIR, run only when root alone can have put it there; "null" is
# printed when there is none.
action=$1 program=$2 sum=$3 dir=$4
shift 4
if [ "$action" = run ]; then
    mode=$1 caller=$2
    shift 2
fi
if [ -n "$sum" ]; then
    if [ -L "$program" ] || [ ! -f "$program" ] || [ "$(sha256sum <"$program" | cut -c1-64)" != "$sum" ]; then
        [ "$action" = state ] || { echo "not running $program: it is not the kit that was checked" >&2; exit 4; }
        # shellcheck disable=SC2174 # the caller's own directory is root's alone; the cache above may be read
        mkdir -p -m 0700 "${program%/*}" && echo '"copy"'
        exit
    fi
elif [ -n "$dir" ]; then
    [ -e "$program" ] || [ -L "$program" ] || { echo null; exit 0; }
    # The installation directory itself may be reached through a link; nothing below it may be one.
    path=$dir rest=${program#"$dir"/}
    while :; do
        if [ "$path" != "$dir" ] && [ -L "$path" ] ||
            [ -z "$(find -H "$path" -maxdepth 0 -user 0 ! -perm /022 -print 2>/dev/null)" ]; then
            echo "not running $program: $path is a link, or not root's alone" >&2
            exit 4
        fi
        [ -n "$rest" ] || break
        path=$path/${rest%%/*}
        case $rest in */*) rest=${rest#*/} ;; *) rest= ;; esac
    done
fi
if [ "$action" = run ]; then
    "$program" "$mode" "caller=$caller" "$@" verbose >&2 || exit
    # A removal takes the installed uninstaller with it.
    [ -e "$program" ] || { echo null; exit 0; }
fi
exec "$program" "$@" discover=json
