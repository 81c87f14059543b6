# Sections, repair, delegation and the login files' modes, under dash and bash.
. "$TARVO_SRC/tests/profile/lib.sh"

# What a shell sourcing /etc/profile.QZ with the given QZ_SECTION sees of V.
sh_sees() { QZ_SECTION=$1 dash -c '. /etc/profile.QZ; printf "%s\n" "${V-}"'; }
csh_sees() { printf 'setenv QZ_SECTION %s; source /etc/csh_login.QZ; if ( $?V ) echo "$V"\n' "$1" | tcsh -f; }

for SH in $SHELLS; do
    start_shell
    clean_machine
    qzp -s QZSHCOMP /opt/x
    qzp -s V public
    expect_eq "$SH: public" "$(sh_sees vorn)" public

    # Putting a public variable in a section replaces its public definition.
    expect_status 0 "$SH: section S1" qzp -s V one -section S1
    expect_lacks /etc/csh_login.QZ "setenv V public"
    expect_eq "$SH: S1 outside, inside, csh" "$(sh_sees vorn)|$(sh_sees S1)|$(csh_sees S1)" "|one|one"

    # A second section keeps the first; setting S2 again replaces only S2.
    qzp -s V two -section S2
    qzp -s V three -section S2
    expect_eq "$SH: S1 kept, S2, csh S2, all sees the last" \
        "$(sh_sees S1)|$(sh_sees S2)|$(csh_sees S2)|$(sh_sees all)" "one|three|three|three"
    expect_eq "$SH: two blocks per file" "$(grep -c '^V=' /etc/profile.QZ)$(grep -c '^setenv V ' /etc/csh_login.QZ)" 22
    expect_eq "$SH: minimum sees only QZSHCOMP" "$(QZ_SECTION=minimum dash -c '. /etc/profile.QZ; echo "$QZSHCOMP|${V-}"')" "/opt/x|"

    # A private variable with attached scripts, sourced from below its value.
    mkdir -p /opt/w/env
    echo 'W_SH=yes' >/opt/w/env/w.sh
    echo 'setenv W_CSH yes' >/opt/w/env/w.csh
    expect_status 0 "$SH: private" qzp -s W /opt/w env/w.sh env/w.csh -private
    expect_eq "$SH: private script" "$(QZ_SECTION=W dash -c '. /etc/profile.QZ; echo "$W $W_SH"')" "/opt/w yes"
    expect_eq "$SH: private csh script" "$(printf 'setenv QZ_SECTION W; source /etc/csh_login.QZ; echo "$W $W_CSH"\n' | tcsh -f)" "/opt/w yes"

    # Deleting from one section, then a section whole.
    expect_status 0 "$SH: delete V from S2" qzp -d V -section S2
    expect_status 0 "$SH: V not in S9" qzp -d V -section S9
    expect_eq "$SH: S2 gone, S1 still" "$(sh_sees S2)|$(sh_sees S1)" "|one"
    expect_status 0 "$SH: delete section W" qzp -d -section W
    expect_lacks /etc/csh_login.QZ "setenv W "
    expect_status 0 "$SH: delete V" qzp -d V
    expect_lacks /etc/csh_login.QZ "setenv V"
    expect_eq "$SH: only QZSHCOMP left" "$(grep -c -v -e QZ_SECTION -e QZ_ETC_QZPROFILE -e QZSHCOMP -e _flag -e _setu /etc/profile.QZ)" 0
    expect_status 0 "$SH: delete absent name" qzp -d NOT_THERE

    # -F rebuilds damaged start and end lines; a second -F changes nothing.
    good=$(cat /etc/profile.QZ)
    sed -i -e '1d' -e '/^}; QZ_ETC_QZPROFILE/d' /etc/profile.QZ
    echo 'QZ_SECTION=${QZ_SECTION:-old}; export QZ_SECTION' >>/etc/profile.QZ
    chmod 600 /etc/profile.QZ
    expect_status 0 "$SH: repair" qzp -F
    expect_eq "$SH: repaired, with its mode" "$(cat /etc/profile.QZ; stat -c %a /etc/profile.QZ)" "$good${NL}644"
    qzp -F
    expect_eq "$SH: repair is stable" "$(cat /etc/profile.QZ)" "$good"

    # Files of an older version: lines that stopped early go, "$1" tests become $QZ_SECTION.
    printf '%s\n' 'if ( "$1" != "all" )  exit 0' >>/etc/csh_login.QZ
    sed -i '3i [ "$QZ_SECTION" != "all" ] && return 0' /etc/profile.QZ
    printf '%s\n' 'if [ "$1" = "old" ];then' 'OLDV=1; export OLDV' 'fi' >/tmp/old
    sed -i '/^}; QZ_ETC_QZPROFILE/e cat /tmp/old' /etc/profile.QZ
    qzp -s QZSHCOMP /opt/x
    expect_lacks /etc/csh_login.QZ '"all" )  exit 0'
    expect_lacks /etc/profile.QZ '!= "all" ]'
    expect_contains /etc/profile.QZ 'if [ "$QZ_SECTION" = "old" ];then'

    # Login files keep their modes, also when replaced through a scratch file.
    clean_machine
    printf 'PS1=x\n' >"$HOME/.profile"
    chmod 4751 /etc/profile
    chmod 640 "$HOME/.profile"
    qzp -s QZSHCOMP /opt/x
    expect_eq "$SH: modes kept" "$(stat -c %a /etc/profile "$HOME/.profile" | tr '\n' ' ')" "4751 640 "
    expect_eq "$SH: .profile ends with the source line" "$(tail -n 1 "$HOME/.profile")" \
        'test -r /etc/profile.QZ && { QZ_SECTION=vorn; export QZ_SECTION; . /etc/profile.QZ; unset QZ_SECTION; } # Added by Qorzel'
    expect_present "$HOME/.profile.vornbackup"
    chmod 644 /etc/profile

    # An installed copy takes over, unless overridden or already delegated to.
    clean_machine
    qzp -s QZSHCOMP /opt/x
    mkdir -p /opt/x/csutils/bin
    printf '#!/bin/sh\necho "delegate $QZPROFILE_RUNONCE $*"\nexit 42\n' >/opt/x/csutils/bin/qzprofile
    expect_out "$SH: delegated" "42:delegate 1 -q QZSHCOMP" qzp -q QZSHCOMP
    expect_out "$SH: override" "0:/opt/x" env QZPROFILE_OVERRIDE=1 "$SH" "$QZP" -q QZSHCOMP
    expect_out "$SH: run once" "0:/opt/x" env QZPROFILE_RUNONCE=1 "$SH" "$QZP" -q QZSHCOMP
    expect_status 0 "$SH: override set" env QZPROFILE_OVERRIDE=1 "$SH" "$QZP" -s QZLIB /opt/x/lib
    expect_eq "$SH: override wrote" "$(QZPROFILE_OVERRIDE=1 "$SH" "$QZP" -q QZLIB)" /opt/x/lib
    rm -rf /opt/x
done
finish
