# Sections, repair, files of an older version and delegation, under dash and bash.
. "$TARVO_SRC/tests/profile/lib.sh"

for SH in $SHELLS; do
    start_shell
    clean_machine
    # Putting a public variable in a section replaces its public definition; a second section keeps
    # the first; setting S2 again replaces only S2; "all" sees the last; "minimum" only QZSHCOMP.
    for args in "QZSHCOMP /opt/x" "V public" "V one -section S1" "V two -section S2" "V three -section S2"; do
        # shellcheck disable=SC2086 # a word list
        qzp -s $args
    done
    expect_eq "$SH: vorn, S1, S2, all" "$(section_sees vorn) $(section_sees S1) $(section_sees S2) $(section_sees all)" "| one|one three|three three|three"
    expect_eq "$SH: two blocks per file, minimum" "$(grep -c '^V=' /etc/profile.QZ)$(grep -c '^setenv V ' /etc/csh_login.QZ) $(QZ_SECTION=minimum dash -c '. /etc/profile.QZ; echo "$QZSHCOMP|${V-}"')" "22 /opt/x|"
    # A private variable with attached scripts, sourced from below its value.
    mkdir -p /opt/w/env
    echo 'V=yes' >/opt/w/env/w.sh
    echo 'setenv V yes' >/opt/w/env/w.csh
    expect_status 0 "$SH: private" qzp -s W /opt/w env/w.sh env/w.csh -private
    expect_eq "$SH: private value and scripts" "$(QZ_SECTION=W dash -c '. /etc/profile.QZ; echo "$W"') $(section_sees W)" "/opt/w yes|yes"

    # Deleting from one section, then a section whole.
    expect_status 0 "$SH: delete V from S2" qzp -d V -section S2
    expect_status 0 "$SH: W not in S9" qzp -d W -section S9
    expect_eq "$SH: S2 gone, S1 and W still" "$(section_sees S2) $(section_sees S1) $(section_sees W)" "| one|one yes|yes"
    expect_status 0 "$SH: delete section W" qzp -d -section W
    expect_status 0 "$SH: delete V" qzp -d V NOT_THERE
    expect_eq "$SH: only QZSHCOMP left" "$(grep -c -v -e QZ_SECTION -e QZ_ETC_QZPROFILE -e QZSHCOMP -e _flag -e _setu /etc/profile.QZ; grep -c ' [VW] ' /etc/csh_login.QZ)" "0${NL}0"

    # -F rebuilds damaged start and end lines, empty lines and an end line that does not start its line, with the mode; a second -F changes nothing.
    good=$(cat /etc/profile.QZ)
    sed -i -e '1d' -e '/^}; QZ_ETC_QZPROFILE/d' -e '2a\\' /etc/profile.QZ
    printf '%s\n' 'QZ_SECTION=${QZ_SECTION:-old}; export QZ_SECTION' '' ': ; }; QZ_ETC_QZPROFILE $QZ_SECTION' >>/etc/profile.QZ
    chmod 600 /etc/profile.QZ
    expect_status 0 "$SH: repair" qzp -F
    expect_eq "$SH: repaired" "$(cat /etc/profile.QZ; stat -c %a /etc/profile.QZ)" "$good${NL}644"
    qzp -F
    expect_eq "$SH: repair is stable" "$(cat /etc/profile.QZ)" "$good"

    # Files of an older version: lines that stopped early go, "$1" tests become $QZ_SECTION.
    printf '%s\n' 'if ( "$1" != "all" )  exit 0' >>/etc/csh_login.QZ
    sed -i -e '3i [ "$QZ_SECTION" != "all" ] && return 0' -e '/^}; QZ_ETC_QZPROFILE/i if [ "$1" = "old" ];then\nOLDV=1; export OLDV\nfi' /etc/profile.QZ
    qzp -s QZSHCOMP /opt/y
    expect_eq "$SH: older lines" "$(cat /etc/*.QZ | grep -c -e '"all" )  exit 0' -e '!= "all" ]' -e '"$1" = "old"' -e '"$QZ_SECTION" = "old"')" 1
    # QZSHCOMP leaving its section takes the closing lines along.
    qzp -s W w && qzp -s QZSHCOMP /opt/y -section S1 && qzp -d QZSHCOMP -section S1
    expect_eq "$SH: closing lines gone with QZSHCOMP" "$(grep -c -e QZSHCOMP -e _flag /etc/profile.QZ)" 0

    # An installed copy takes over, unless overridden or already delegated to.
    clean_machine
    qzp -s QZSHCOMP /opt/x
    mkdir -p /opt/x/csutils/bin
    printf '#!/bin/sh\necho "delegate $QZPROFILE_RUNONCE $*"\nexit 42\n' >/opt/x/csutils/bin/qzprofile
    expect_out "$SH: delegated" "42:delegate 1 -q QZSHCOMP" qzp -q QZSHCOMP
    expect_out "$SH: run once" "0:/opt/x" env QZPROFILE_RUNONCE=1 "$SH" "$QZP" -q QZSHCOMP
    expect_status 0 "$SH: override set" env QZPROFILE_OVERRIDE=1 "$SH" "$QZP" -s QZLIB /opt/x/lib
    expect_out "$SH: override" "0:/opt/x/lib" env QZPROFILE_OVERRIDE=1 "$SH" "$QZP" -q QZLIB
    rm -rf /opt/x
done
finish
