#!/usr/bin/env bash
# The Wireshark dissector reads a capture of the CLI talking to a simulated
# device with the values both sides sent, and marks broken datagrams with
# expert info instead of failing on them.
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
dissector="$here/../../tools/wireshark/oxlo.lua"
command -v tshark >/dev/null || { echo "tshark is not installed" >&2; exit 77; }
tshark -v 2>/dev/null | grep -q "with Lua" || { echo "tshark has no Lua" >&2; exit 77; }

# tshark reads the dissector under test; a copy in a personal plugins folder
# would clash with it, and an installed one is used only when it is the same.
tshark() { HOME="$work" command tshark "$@"; }
load=(-X lua_script:"$dissector")
if tshark -G protocols 2>/dev/null | grep -qP '\toxlo$'; then
  installed=$(tshark -G folders 2>/dev/null | awk -F'\t' '/^Global Lua Plugins:/ { print $2 }')/oxlo.lua
  cmp -s "$installed" "$dissector" ||
    { echo "another oxlo dissector is installed (${installed}): cannot test $dissector" >&2; exit 77; }
  load=()
fi

source_mac=02-00-5E-00-01-01
target_mac=02-00-5E-00-01-02

# decode CAPTURE FIELDS...: one tab-separated line per oxlo frame, with a
# header; repeated fields joined by '|'. Fails on a Lua error.
decode() {
  local capture=$1; shift
  local fields=() status=0
  for name in "$@"; do fields+=(-e "$name"); done
  tshark -r "$capture" "${load[@]}" -Y oxlo -T fields -E header=y -E occurrence=a \
    -E aggregator='|' "${fields[@]}" >"$work/decoded.tsv" 2>"$work/tshark.err" || status=$?
  [ "$status" = 0 ] || fail "tshark exited $status on $capture: $(cat "$work/tshark.err")"
  ! grep -qi "lua" "$work/tshark.err" || fail "Lua complained on $capture: $(cat "$work/tshark.err")"
  # A Lua error inside a packet shows only in the packet's text.
  tshark -r "$capture" "${load[@]}" -V >"$work/verbose.txt" 2>&1
  ! grep -q "Lua Error" "$work/verbose.txt" ||
    fail "Lua error in $capture: $(grep -m3 "Lua Error" "$work/verbose.txt")"
  ! grep -q "Dissector error" "$work/verbose.txt" ||
    fail "a guard is missing: $(grep -m3 "Dissector error" "$work/verbose.txt")"
}

# --- A capture of the real exchange -------------------------------------------

start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/settings_devices.json"
interface=$(ip -o -4 addr show | awk -v a="$OXLO_LAB_HOST_IP/" 'index($4, a) == 1 { print $2 }')
# The capture lists the ports of what it took (-P), so a probe datagram to a
# port of its own tells when the capture runs and when it has taken all that
# was sent before.
command tshark -i "$interface" -f "udp port 2057 or udp portrange 2100-2199" -w "$work/cap.pcapng" -P -l \
  -T fields -e udp.dstport >"$work/capture.out" 2>"$work/capture.err" &
capture=$!
sim_pids+=("$capture")  # stopped by lib.sh's trap if the test fails first
probe() {
  for _ in $(seq 100); do
    echo probe >/dev/udp/"$OXLO_LAB_DEV_IP"/"$1"
    sleep 0.05
    ! grep -qx "$1" "$work/capture.out" || return 0
  done
  fail "the capture did not take the probe to port $1: $(cat "$work/capture.err")"
}
probe 2100

"$OXLO_CLI" discover --json --timeout 1 >"$work/found.json" || fail "discover exited $?"
"$OXLO_CLI" config get "$source_mac" --json >"$work/source.json" || fail "config get exited $?"
"$OXLO_CLI" assign "$target_mac" --ip 10.57.0.150 --mask 255.255.255.0 --gateway 10.57.0.1 \
  --name Lab-2 --timeout 1 >/dev/null || fail "assign exited $?"
"$OXLO_CLI" export "$source_mac" "$work/source.oxl" >/dev/null || fail "export exited $?"
"$OXLO_CLI" import "$target_mac" "$work/source.oxl" --timeout 1 >/dev/null || fail "import exited $?"
head -c 300 /dev/urandom >"$work/image.bin"
"$OXLO_CLI" firmware "$source_mac" "$work/image.bin" >/dev/null || fail "firmware exited $?"

probe 2101
kill -INT "$capture"
wait "$capture" || true
[ -s "$work/cap.pcapng" ] || fail "nothing was captured: $(cat "$work/capture.err")"

decode "$work/cap.pcapng" frame.number udp.length oxlo.message oxlo.mac oxlo.ip oxlo.mask \
  oxlo.gateway oxlo.dns oxlo.name oxlo.model oxlo.version oxlo.net.type oxlo.port.mode \
  oxlo.port.local_port oxlo.port.alias oxlo.port.type oxlo.port.target_ip oxlo.port.target_port \
  oxlo.port.alive oxlo.port.latency oxlo.port.no_delay oxlo.can.bit_rate oxlo.can.id_format \
  oxlo.can.id oxlo.can.mask oxlo.filter.group oxlo.filter.type oxlo.filter.id oxlo.fw.sequence \
  oxlo.fw.kind oxlo.fw.chunk_length oxlo.fw.image_length oxlo.fw.checksum.status oxlo.fw.status \
  _ws.expert.message _ws.malformed
udp_frames=$(tshark -r "$work/cap.pcapng" -Y "udp.port == 2057" 2>/dev/null | wc -l)

python3 - "$work/decoded.tsv" "$udp_frames" "$work/found.json" "$work/source.json" \
  "$here/settings_devices.json" "$source_mac" "$target_mac" <<'PY'
import csv, json, sys
tsv, udp_frames, found, source, devices, source_mac, target_mac = sys.argv[1:]
rows = list(csv.DictReader(open(tsv, encoding="utf-8"), delimiter="\t", quoting=csv.QUOTE_NONE))
found = {d["mac"]: d for d in json.load(open(found))}
source = json.load(open(source))
device = json.load(open(devices))[0]

assert len(rows) == int(udp_frames), f"{len(rows)} of {udp_frames} UDP frames decoded as oxlo"
for r in rows:
    assert not r["_ws.expert.message"] and not r["_ws.malformed"], \
        f"frame {r['frame.number']} {r['oxlo.message']}: {r['_ws.expert.message']}"

def mac(r):
    return r["oxlo.mac"].upper().replace(":", "-")

def of(message, to=None):
    got = [r for r in rows if r["oxlo.message"] == message and (to is None or mac(r) == to)]
    assert got, f"no {message} for {to}; messages: {sorted({r['oxlo.message'] for r in rows})}"
    return got

def same(r, **fields):
    for key, want in fields.items():
        name = "oxlo." + key.replace("__", ".")
        got = r[name]
        if isinstance(want, int):
            got = int(got, 0)
        assert got == want, f"frame {r['frame.number']} {r['oxlo.message']} {name}: {got!r} != {want!r}"

# What the discovery reply carried, as the CLI listed it.
of("Discovery query")
for r in of("Discovery reply"):
    assert r["udp.length"] == str(8 + 85), r["udp.length"]
    d = dict(found[mac(r)])
    if mac(r) == target_mac and r["oxlo.name"] == found[source_mac]["name"]:
        # The import's check of what the target then has in use.
        d.update({k: found[source_mac][k] for k in ("name", "ip", "mask", "gateway")})
    same(r, name=d["name"], ip=d["ip"], mask=d["mask"], gateway=d["gateway"], model=d["model"],
         version=d["version"])
assert found[source_mac]["name"] == "Förderband Süd"

# The replies config get read, as it printed them.
for request in ("network settings", "operation mode", "CAN settings"):
    of(f"Read request ({request})", source_mac)
for g in range(1, 9):
    of(f"Read request (filter group {g})", source_mac)
net, port, can = source["network"], source["port"], source["can"]
for r in of("Network settings reply", source_mac):
    same(r, name=net["name"], ip=net["ip"], mask=net["mask"], gateway=net["gateway"],
         dns=net["dns"], net__type=["Static IP", "DHCP"].index(net["type"]))
modes = {"COM_Redirector": 1, "TCP_Server": 2, "TCP_Client": 3, "UDP_Server": 6, "UDP_Client": 7}
rates = [20, 50, 100, 125, 200, 250, 300, 500, 800, 1000]
for r in of("Operation mode reply", source_mac):
    same(r, port__mode=modes[port["mode"]], port__local_port=port["local_port"],
         port__alias=port["alias"], port__type=["Data", "Modem"].index(port["type"]),
         port__target_ip=port["target_ip"], port__target_port=port["target_port"],
         port__alive=port["alive"], port__latency=port["latency"],
         port__no_delay=int(port["no_delay"]))
for r in of("CAN settings reply", source_mac):
    same(r, can__bit_rate=rates.index(can["bitrate_kbps"]),
         can__id_format=["11-bit", "29-bit"].index(can["id_format"]) + 1,
         can__id=int(can["id"], 16), can__mask=int(can["mask"], 16))
filters = {(f["group"], f["slot"]): f for f in source["filters"]}
for g in range(1, 9):
    for r in of(f"Filter group {g} reply", source_mac):
        same(r, filter__group=str(g))
        types, ids = r["oxlo.filter.type"].split("|"), r["oxlo.filter.id"].split("|")
        for s in range(4):
            f = filters[(g, s + 1)]
            want = ["Disable", "Standard", "Extend"].index(f["type"])
            assert (int(types[s]), int(ids[s], 16)) == (want, int(f["id"] or "0", 16)), \
                f"group {g} slot {s + 1}: {types[s]} {ids[s]} != {f}"

# The address assignment as given on the command line.
for r in of("Address assignment", target_mac):
    same(r, ip="10.57.0.150", mask="255.255.255.0", gateway="10.57.0.1", name="Lab-2")

# The import wrote the first device's settings into the second one.
for r in of("Network settings", target_mac):
    same(r, name=device["name"], dns=device["network"]["dns"], net__type=device["network"]["type"])
p = device["port"]
for r in of("Operation mode", target_mac):
    same(r, port__mode=modes[p["mode"]], port__local_port=p["local_port"], port__alias=p["alias"],
         port__target_ip=p["target_ip"], port__target_port=p["target_port"])
for r in of("CAN settings", target_mac):
    same(r, can__bit_rate=device["can"]["baud_index"], can__id_format=device["can"]["format"],
         can__id=0x1ABCDEF, can__mask=0x7FF)
for r in of("Filter group 1", target_mac):
    same(r, filter__type="1|2|0|1")
    assert [int(i, 16) for i in r["oxlo.filter.id"].split("|")] == [0x123, 0x1FFFFFFF, 0, 0x7FF]
of("Apply", target_mac)
of("Apply acknowledgement", target_mac)

# The firmware upload: chunks of 128, 128 and 44 bytes, then the end message.
data = of("Firmware data", source_mac)
assert [(r["oxlo.fw.sequence"], r["oxlo.fw.chunk_length"], r["oxlo.fw.checksum.status"])
        for r in data] == [("0", "128", "1"), ("1", "128", "1"), ("2", "44", "1")], data
[end] = of("Firmware end", source_mac)
same(end, fw__sequence=3, fw__image_length=300)
replies = of("Firmware reply", source_mac)
assert [(r["oxlo.fw.sequence"], r["oxlo.fw.status"]) for r in replies] == \
    [(str(n), "0x00") for n in range(4)], replies
PY

# --- Broken datagrams -----------------------------------------------------------

mac=02005E000101
fw_data="0246${mac}30000000000000000031323800000000000000343239343936373239350000"
fw10=${fw_data/3132380000/3130000000}  # a chunk length of 10
# One per line: the payload in hex, the severity and the expert message it gets.
cases=$(cat <<CASES
|error|Empty datagram
004E${mac}03|error|First byte is not STX
024E${mac}00|error|Last byte is not ETX
0267${mac}0A39006F0A3900FE03|error|Discovery reply too short: 17 bytes, ends before its subnet mask
027A${mac}03|error|Unknown code 0x7a
${fw_data}0102030405060708090A03|error|The chunk length says 128 bytes; the datagram holds 10
0266${mac}3500000003|error|Firmware reply too short: 13 bytes, ends before its status byte
0266${mac}3500000000000000020003|warning|The device rejected the firmware message
${fw10/${mac}30/${mac}3F}0102030405060708090A03|error|The sequence number is not decimal digits
${fw10}0102030405060708090B03|error|The chunk checksum is 4294967295; its data gives
024F${mac}000803|error|Operation mode too short: 11 bytes, ends before its local port
024F${mac}0008891300000000000000000000000000000000020A0000010203040500020003|warning|Port type 2 is not in its table
02|error|One byte: no code
CASES
)
cut -d'|' -f1 <<<"$cases" | python3 "$here/write_pcap.py" "$work/broken.pcap"
decode "$work/broken.pcap" frame.number _ws.expert.message _ws.expert.severity
python3 - "$work/decoded.tsv" <<PY
import csv, sys
cases = [line.split("|")[1:] for line in """$cases""".splitlines()]
severities = {"error": 0x00800000, "warning": 0x00600000}
rows = list(csv.DictReader(open(sys.argv[1], encoding="utf-8"), delimiter="\t", quoting=csv.QUOTE_NONE))
assert len(rows) == len(cases), f"{len(rows)} frames decoded of {len(cases)}"
for row, (severity, want) in zip(rows, cases):
    got = list(zip(row["_ws.expert.severity"].split("|"), row["_ws.expert.message"].split("|")))
    found = [(s, m[:len(want)]) for s, m in got]
    assert (str(severities[severity]), want) in found, f"frame {row['frame.number']}: {got}, not {severity} {want!r}"
PY

# Random bytes under every code and at every length up to a full firmware chunk:
# each frame decodes without a Lua error (decode checks the text of every frame).
python3 - >"$work/noise.txt" <<'PY'
import random
rng = random.Random(2057)
codes = [0x67, 0x53, 0x4E, 0x4F, 0x41, 0x6E, 0x6F, 0x61, 0x75, 0x43, 0x63, 0x46, 0x66, 0x00, 0xFF]
codes += list(range(0x01, 0x09)) + list(range(0x11, 0x19))
for code in codes:
    for length in range(0, 171):
        body = bytearray(rng.randrange(256) for _ in range(length))
        if length > 1:
            body[0], body[1], body[-1] = 0x02, code, 0x03
        if code == 0x46 and length > 40 and rng.random() < 0.5:
            body[8:16] = b"7" + bytes(7)
            body[16] = rng.choice([0, 1])
            body[17:27] = str(rng.choice([length - 40, 128, 0, 999999999])).encode().ljust(10, b"\0")
            body[27:39] = b"4294967295\0\0"
        print(body.hex())
PY
python3 "$here/write_pcap.py" "$work/noise.pcap" <"$work/noise.txt"
decode "$work/noise.pcap" frame.number
[ "$(wc -l <"$work/decoded.tsv")" = $(($(wc -l <"$work/noise.txt") + 1)) ] ||
  fail "$(($(wc -l <"$work/decoded.tsv") - 1)) of $(wc -l <"$work/noise.txt") noise frames decoded"
