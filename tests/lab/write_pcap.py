#!/usr/bin/env python3
"""Writes UDP datagrams to port 2057 into a classic libpcap file.

    write_pcap.py OUT.pcap < PAYLOADS

PAYLOADS has one datagram per line as hex digits (blanks allowed); an empty
line is an empty datagram. Each becomes an Ethernet/IPv4/UDP broadcast from
10.57.0.2, so a capture reader decodes it as the devices' traffic.
"""
import struct
import sys

PORT = 2057


def ipv4_checksum(header):
    total = sum(struct.unpack(f"!{len(header) // 2}H", header))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def frame(payload, ident):
    udp = struct.pack("!HHHH", PORT, PORT, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), ident & 0xFFFF, 0, 64, 17, 0,
                         bytes([10, 57, 0, 2]), bytes([255] * 4))
    header = header[:10] + struct.pack("!H", ipv4_checksum(header)) + header[12:]
    ethernet = bytes([0xFF] * 6) + bytes([0x02, 0x00, 0x5E, 0x00, 0x01, 0x01]) + b"\x08\x00"
    return ethernet + header + udp


def write(path, payloads):
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, payload in enumerate(payloads):
            data = frame(payload, i)
            out.write(struct.pack("<IIII", 1700000000 + i, 0, len(data), len(data)))
            out.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write(sys.argv[1], [bytes.fromhex(line) for line in sys.stdin.read().splitlines()])
