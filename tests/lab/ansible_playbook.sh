#!/usr/bin/env bash
# The Ansible collection against simulated devices, through the example
# playbook: a first run addresses and configures two devices; a second
# changes nothing and writes nothing; --check --diff shows the old and new
# values and writes nothing; a bad value or a taken address fails the play
# with oxlo's message; oxlo_facts lists every device as it now is.
# oxlo_firmware upgrades two devices and confirms them; a second run and
# check mode send no firmware; a device that is not there fails the task by
# its MAC, a bad image with oxlo's message.
source "$(dirname "$0")/lib.sh"

command -v ansible-playbook >/dev/null || { echo "ansible-playbook is missing" >&2; exit 77; }

repo=$(cd "$(dirname "$0")/../.." && pwd)
oxlo=$(realpath "$OXLO_CLI")
mkdir -p "$work/collections/ansible_collections/oxlo" "$work/home" "$work/tmp"
ln -s "$repo/integrations/ansible" "$work/collections/ansible_collections/oxlo/gateway"
unset ANSIBLE_CONFIG
export ANSIBLE_COLLECTIONS_PATH=$work/collections HOME=$work/home LC_ALL=C.UTF-8 \
  ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp ANSIBLE_NOCOLOR=1

mkdir "$work/saved"
start_sim "$OXLO_LAB_DEV_NS" dev --devices 3 --version-after 2.0.0 --reboot-ms 500 --firmware-out "$work/saved"

# inventory PORT1 MAC2 IP2 SETTINGS2: localhost with two devices; the first
# gets local port PORT1, the second (given with colons) address IP2 and SETTINGS2.
inventory() {
  cat >"$work/hosts.yml" <<EOF
all:
  hosts:
    localhost:
      ansible_connection: local
      ansible_python_interpreter: /usr/bin/python3
      oxlo_program: $oxlo
      oxlo_timeout: 0.5
      oxlo_gateways:
        - mac: 02-00-00-00-00-01
          name: Line 1
          ip: 10.57.0.201
          mask: 255.255.255.0
          gateway: 10.57.0.1
          settings: {port: {local_port: $1}, can: {bitrate_kbps: 250}}
        - mac: "$2"
          name: Line 2
          ip: $3
          settings: $4
EOF
}
good='{port: {mode: UDP_Server}, can: {bitrate_kbps: 125}}'

# play NAME [ARGS...]: the example playbook with ARGS, its output in $work/NAME.out; prints the exit status.
play() {
  local name=$1 status=0; shift
  (cd "$work" && ansible-playbook -i hosts.yml "$@" "$repo/integrations/ansible/examples/site.yml") \
    >"$work/$name.out" 2>&1 || status=$?
  echo "$status"
}
recap() { sed -n '/^PLAY RECAP/{n;s/.*\(changed=[0-9]*\).*\(failed=[0-9]*\).*/\1 \2/p}' "$work/$1.out"; }
# sent: the settings writes and address assignments the devices received.
sent() { echo "$(writes dev) 53x$(log_lines dev 0253)"; }

inventory 4101 02:00:00:00:00:02 10.57.0.202 "$good"
[ "$(play first)" = 0 ] || fail "first run: $(cat "$work/first.out")"
[ "$(recap first)" = "changed=2 failed=0" ] || fail "first run: $(recap first)"
! grep -q WARNING "$work/first.out" || fail "first run warned: $(grep WARNING "$work/first.out")"
[ "$(sent)" = "41x2 43x2 4Fx2 53x2" ] || fail "first run sent: $(sent)"

[ "$(play second)" = 0 ] || fail "second run: $(cat "$work/second.out")"
[ "$(recap second)" = "changed=0 failed=0" ] || fail "second run: $(recap second)"
[ "$(sent)" = "41x2 43x2 4Fx2 53x2" ] || fail "second run sent: $(sent)"

inventory 4111 02:00:00:00:00:02 10.57.0.212 "$good"
[ "$(play check --check --diff)" = 0 ] || fail "check run: $(cat "$work/check.out")"
[ "$(recap check)" = "changed=2 failed=0" ] || fail "check run: $(recap check)"
for line in "-port.local_port: 4101" "+port.local_port: 4111" "-ip: 10.57.0.202" "+ip: 10.57.0.212"; do
  grep -qxF -- "$line" "$work/check.out" || fail "the diff lacks '$line': $(cat "$work/check.out")"
done
[ "$(sent)" = "41x2 43x2 4Fx2 53x2" ] || fail "check run sent: $(sent)"

# Refused before anything is sent: the play fails with oxlo's own words.
while IFS='|' read -r mac ip settings message; do
  inventory 4101 "$mac" "$ip" "$settings"
  [ "$(play bad)" = 2 ] || fail "$settings: the play did not fail: $(cat "$work/bad.out")"
  [ "$(recap bad)" = "changed=0 failed=1" ] || fail "$settings: $(recap bad)"
  grep -qF "$message" "$work/bad.out" || fail "$settings: no '$message' in $(cat "$work/bad.out")"
  [ "$(sent)" = "41x2 43x2 4Fx2 53x2" ] || fail "$settings: sent $(sent)"
done <<'CASES'
02-00-00-00-00-02|10.57.0.202|{can: {id: xyz}}|"msg": "oxlo: can.id: Please Check CAN ID Fomat"
02-00-00-00-00-02|10.57.0.202|{port: {mode: Serial}}|"msg": "oxlo: port.mode: Please Check Operation Mode"
02-00-00-00-00-02|10.57.0.103|{}|"msg": "oxlo: refused: 10.57.0.103 is also held by 02-00-00-00-00-03
02-00-00-00-00-77|10.57.0.177|{}|"msg": "02-00-00-00-00-77 did not answer the search
CASES

cat >"$work/facts.yml" <<EOF
- hosts: localhost
  gather_facts: false
  tasks:
    - oxlo.gateway.oxlo_facts: {oxlo: "$oxlo", search_timeout: 0.5, timeout: 0.5}
    - ansible.builtin.copy: {content: "{{ ansible_facts.oxlo_devices | to_json }}", dest: "$work/facts.json"}
EOF
(cd "$work" && ansible-playbook -i hosts.yml facts.yml) >"$work/facts.out" 2>&1 || fail "facts: $(cat "$work/facts.out")"
[ "$(json_query "$work/facts.json" 'sorted((x["mac"], x["name"], x["ip"]) for x in d)')" = \
  "[('02-00-00-00-00-01', 'Line 1', '10.57.0.201'), ('02-00-00-00-00-02', 'Line 2', '10.57.0.202'), ('02-00-00-00-00-03', 'Oxlo-3', '10.57.0.103')]" ] ||
  fail "facts: $(cat "$work/facts.json")"
[ "$(json_query "$work/facts.json" '[(x["settings"]["port"]["local_port"], x["settings"]["port"]["mode"], x["settings"]["can"]["bitrate_kbps"]) for x in sorted(d, key=lambda x: x["mac"])][:2]')" = \
  "[(4101, 'TCP_Server', 250), (4001, 'UDP_Server', 125)]" ] || fail "facts: $(cat "$work/facts.json")"
for i in 0 1 2; do
  json_query "$work/facts.json" "json.dumps(d[$i]['settings'])" >"$work/one.json"
  settings_valid "$work/one.json"
done

# Firmware: the result of each run in $work/firmware.json, check mode too.
head -c 4000 /dev/urandom >"$work/image.bin"
cat >"$work/firmware.yml" <<EOF
- hosts: localhost
  gather_facts: false
  tasks:
    - name: Firmware 2.0.0
      oxlo.gateway.oxlo_firmware:
        oxlo: "$oxlo"
        image: "{{ image | default('$work/image.bin') }}"
        version: "2.0.0"
        macs: "{{ macs | default(omit) }}"
        inventory: "{{ fleet | default(omit) }}"
        search_timeout: 0.5
        back_within: 30
      register: upgrade
    - ansible.builtin.copy: {content: "{{ upgrade | to_json }}", dest: "$work/firmware.json"}
      check_mode: false
      changed_when: false
EOF
two='{"macs": ["02-00-00-00-00-01", "02:00:00:00:00:02"]}'
firmware() {  # firmware NAME ARGS...: the firmware playbook; prints its exit status
  local name=$1 status=0; shift
  rm -f "$work/firmware.json"
  (cd "$work" && ansible-playbook -i hosts.yml "$@" firmware.yml) >"$work/$name.out" 2>&1 || status=$?
  echo "$status"
}
results() { json_query "$work/firmware.json" '[(x["mac"], x["result"], x["version_after"]) for x in d["devices"]]'; }

[ "$(firmware fw-check --check --diff -e "$two")" = 0 ] || fail "firmware check: $(cat "$work/fw-check.out")"
[ "$(recap fw-check)" = "changed=1 failed=0" ] || fail "firmware check: $(recap fw-check)"
[ "$(json_query "$work/firmware.json" '[(x["mac"], x["result"]) for x in d["devices"]]')" = \
  "[('02-00-00-00-00-01', 'would_upgrade'), ('02-00-00-00-00-02', 'would_upgrade')]" ] ||
  fail "firmware check: $(cat "$work/firmware.json")"
for line in "-02-00-00-00-00-01: 1.0.1" "+02-00-00-00-00-01: 2.0.0" "-02-00-00-00-00-02: 1.1.0"; do
  grep -qxF -- "$line" "$work/fw-check.out" || fail "the firmware diff lacks '$line': $(cat "$work/fw-check.out")"
done
[ "$(log_lines dev 0246)" = 0 ] || fail "check mode sent $(log_lines dev 0246) firmware messages"

[ "$(firmware fw-first -e "$two")" = 0 ] || fail "firmware: $(cat "$work/fw-first.out")"
[ "$(recap fw-first)" = "changed=1 failed=0" ] || fail "firmware: $(recap fw-first)"
[ "$(results)" = "[('02-00-00-00-00-01', 'upgraded', '2.0.0'), ('02-00-00-00-00-02', 'upgraded', '2.0.0')]" ] ||
  fail "firmware: $(cat "$work/firmware.json")"
[ "$(json_query "$work/firmware.json" 'd["summary"]')" = \
  "{'upgraded': 2, 'unchanged': 0, 'failed': 0, 'not_started': 0}" ] || fail "firmware: $(cat "$work/firmware.json")"
for mac in 02-00-00-00-00-01 02-00-00-00-00-02; do
  cmp "$work/saved/$mac.bin" "$work/image.bin" || fail "firmware: $mac holds another image"
done
sent_firmware=$(log_lines dev 0246)

[ "$(firmware fw-second -e "$two")" = 0 ] || fail "firmware again: $(cat "$work/fw-second.out")"
[ "$(recap fw-second)" = "changed=0 failed=0" ] || fail "firmware again: $(recap fw-second)"
[ "$(results)" = "[('02-00-00-00-00-01', 'unchanged', '2.0.0'), ('02-00-00-00-00-02', 'unchanged', '2.0.0')]" ] ||
  fail "firmware again: $(cat "$work/firmware.json")"
[ "$(log_lines dev 0246)" = "$sent_firmware" ] || fail "the second firmware run sent firmware"

# A device that is not there fails the task by its MAC, the others listed
# still; a bad image fails with oxlo's message. Nothing more is sent.
printf 'devices:\n  - mac: 02-00-00-00-00-01\n  - mac: 02-00-00-00-00-77\n' >"$work/fleet.yml"
while IFS='|' read -r vars also message; do
  [ "$(firmware fw-bad -e "$vars")" = 2 ] || fail "$vars: the play did not fail: $(cat "$work/fw-bad.out")"
  [ "$(recap fw-bad)" = "changed=0 failed=1" ] || fail "$vars: $(recap fw-bad)"
  for text in "$message" "$also"; do
    grep -qF -- "$text" "$work/fw-bad.out" || fail "$vars: no '$text' in $(cat "$work/fw-bad.out")"
  done
  [ "$(log_lines dev 0246)" = "$sent_firmware" ] || fail "$vars: firmware was sent"
done <<CASES
{"fleet": "$work/fleet.yml"}|"result": "unchanged"|"msg": "firmware failed: 02-00-00-00-00-77 (
{"fleet": "$work/fleet.yml", "image": "$work/none.bin"}|"rc": 2|"msg": "oxlo: 
{"fleet": "$work/fleet.yml", "macs": ["02-00-00-00-00-01"]}|"changed": false|parameters are mutually exclusive: macs|inventory
CASES
