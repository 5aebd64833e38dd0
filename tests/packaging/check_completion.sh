#!/usr/bin/env bash
# Sources the bash completion files and completes a table of command lines as bash would
# (COMP_WORDS and COMP_CWORD set by hand, the last word being completed), comparing
# COMPREPLY with what a user should be offered.
# Usage: check_completion.sh <folder with the completion files>
set -uo pipefail
folder="$1"
# shellcheck source=/dev/null
source "$folder/kelvaro-ctl" && source "$folder/kelvaro-recorder" &&
  source "$folder/kelvaro-web" || exit 1

failed=0
# check FUNCTION EXPECTED WORD...: EXPECTED is COMPREPLY joined with "|".
check() {
  local function="$1" expected="$2"
  shift 2
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  "$function"
  local got
  got="$(IFS='|'; echo "${COMPREPLY[*]}")"
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $* -> '$got', expected '$expected'"
    failed=1
  fi
}

check _kelvaro_ctl 'values|set|watch|status|bridge' kelvaro-ctl ''
check _kelvaro_ctl 'set|status' kelvaro-ctl s
check _kelvaro_ctl 'watch' kelvaro-ctl --json w
check _kelvaro_ctl '--connect-timeout' kelvaro-ctl --co
check _kelvaro_ctl '--timeout' kelvaro-ctl set 2 1 --ti
check _kelvaro_ctl 'C|F' kelvaro-ctl --unit ''
check _kelvaro_ctl 'ssh://' kelvaro-ctl --host ''
check _kelvaro_ctl 'Time\ Delay' kelvaro-ctl --host ssh://pi/ttyUSB0 set T
check _kelvaro_ctl '' kelvaro-ctl --timeout ''
# The entry boxes after set, also after an option and its value; spaces escaped, or as
# typed inside an opened quote.
check _kelvaro_ctl 'Operation\ Modes' kelvaro-ctl set O
check _kelvaro_ctl 'Time\ Delay' kelvaro-ctl --socket /run/kelvaro/ttyUSB0/kelvaro.sock set T
check _kelvaro_ctl 'Lower\ Time\ Off|Lower\ Time\ On' kelvaro-ctl set 'Lower\ T'
check _kelvaro_ctl 'Low Setpoint Raising|Low Setpoint Falling' kelvaro-ctl set '"Low S'
check _kelvaro_ctl '0|1|2|3|4|5|6|7|8|9|Low\ Setpoint\ Raising|Lower\ Hysterisis|Lower\ Setpoint|Low\ Setpoint\ Falling|Low\ Time\ Off|Low\ Time\ On|Lower\ Time\ Off|Lower\ Time\ On|Operation\ Modes|Time\ Delay' \
  kelvaro-ctl set ''
# Nothing for the value, nor after a complete command line.
check _kelvaro_ctl '' kelvaro-ctl set 7 ''
check _kelvaro_ctl '' kelvaro-ctl values ''
check _kelvaro_recorder '--dir|--device' kelvaro-recorder --d
check _kelvaro_recorder '--mqtt|--mqtt-password-file|--mqtt-ca|--mqtt-discovery-prefix|--mqtt-control' \
  kelvaro-recorder --device /dev/ttyUSB0 --mq
check _kelvaro_recorder 'mqtts://' kelvaro-recorder --mqtt mqtts
check _kelvaro_recorder "$folder" kelvaro-recorder --dir "$folder"
check _kelvaro_web '--tokens|--tls-cert|--tls-key' kelvaro-web --listen 0.0.0.0:8640 --t
check _kelvaro_web 'operator' kelvaro-web --users users --add-user anna --role o
check _kelvaro_web "$folder/kelvaro-web" kelvaro-web --users "$folder/kelvaro-w"
check _kelvaro_web '' kelvaro-web --host-name ''

[ "$failed" = 0 ] && echo "all completions as expected"
exit "$failed"
