#!/usr/bin/env python3
"""Writes the seed corpora under tests/fuzz/corpus/: inputs shaped like what each
reader meets in use (settings files from Windows and Linux editors, interface
tables, ICMP packets off the wire, log lines, netlink link dumps). Run it again
after changing an input format; findings are added by hand as crash-<what>."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- number: what users type in the interval box and what Settings.ini holds
for i, text in enumerate([
        "15", " 3.5 ", "1.5", "2.5", "0", "-4", "+7", "&H1F", "&hff", "&O17", "&HFFFF",
        "&H10000", "&HFFFFFFFF", "-2.5E+3", "1D2", "2e-1", "1e999999", "12abc", "abc", "",
        "  1 2\t3\n", "32767", "99999999", "-99999", "1.2.3", "3,5", "\r5", ".5", "5.",
        "1E0003", "0.000000000000000000001e21", "1" * 40, "9" * 30 + "e-30"]):
    put("number", "seed-%02d" % i, text)

# --- event_log: a repeat count, then NUL-separated messages
summary = "Downstream: 2 KB, Upstream: 1 KB (100 secs avg DS: 12 KB, US: 3 KB)"
logs = [
    [b"Monitoring started", ("Ping 192.168.1.1 passed : " + summary).encode(),
     ("Ping 192.168.1.1 failed : " + summary).encode(), b"Running connection refresh",
     ("Last 'good' stats: " + summary).encode(), b"Monitoring stopped"],
    [b"Monitoring started", b"Ping 10.0.0.138 passed : Downstream: 1,220,703 KB"],
    ["Ping r\u00f6uter passed : Downstream: 1.220.703 KB \U0001F642".encode()],
    [b"line one\r\nline two", b"\r", b"\n", b"\r\r\n\n"],
    [b"x" * 3100],
]
for i, messages in enumerate(logs):
    put("event_log", "seed-%02d" % i, bytes([250 - 40 * i]) + b"\0".join(messages))

# --- if_table: a mode byte, then a MIB_IFTABLE image
def row(name, index, kind, mtu, speed, mac, descr, inoct, outoct, admin=1, oper=1,
        descr_len=None):
    r = bytearray(860)
    wide = name.encode("utf-16-le")[:512]
    r[0:len(wide)] = wide
    struct.pack_into("<IIIII", r, 512, index, kind, mtu, speed, len(mac))
    r[532:532 + len(mac)] = mac
    struct.pack_into("<III", r, 540, admin, oper, 123456)
    struct.pack_into("<IIIIII", r, 552, inoct, 1000, 20, 0, 0, 0)
    struct.pack_into("<IIIIII", r, 576, outoct, 900, 10, 0, 0, 0)
    d = descr[:256]
    struct.pack_into("<I", r, 600, len(d) + 1 if descr_len is None else descr_len)
    r[604:604 + len(d)] = d
    return bytes(r)


lo = row("lo", 1, 24, 65536, 0, b"", b"lo", 5000, 5000)
eth = row("eth0", 2, 6, 1500, 1000000000, bytes([0, 0x0C, 0x29, 0xA5, 0x0B, 0x01]),
          b"Intel(R) PRO/1000 MT Network Connection", 0xFFFFFF00, 123456789)
wlan = row("{4D36E972-E325-11CE-BFC1-08002BE10318}", 3, 71, 1500, 54000000,
           bytes([0xA4, 0x5E, 0x60, 0xD1, 0x22, 0x3F]),
           "Wi-Fi Ger\u00e4t \u00fcber USB".encode("utf-8"), 7, 9, 1, 2)
cut = row("veth\u00e91", 9, 6, 1500, 10000000000 & 0xFFFFFFFF, bytes(8),
          "caf\u00e9".encode("utf-8"), 1, 2, descr_len=4)
long_len = row("tap0", 10, 6, 1500, 0, bytes([2, 0, 0, 0, 0, 1, 2, 3]), b"T" * 256, 0, 0,
               descr_len=300)
tables = {
    "three": (0x00, struct.pack("<I", 3) + lo + eth + wlan),
    "empty": (0x00, struct.pack("<I", 0)),
    "count-too-big": (0x00, struct.pack("<I", 50) + lo + eth),
    "cut-character": (0x00, struct.pack("<I", 2) + cut + long_len),
    "not-supported": (0x02, struct.pack("<I", 1) + lo),
    "fill-fails": (0x0C, struct.pack("<I", 1) + eth),
    "grew": (0x40, struct.pack("<I", 2) + lo + eth),
    "shrank": (0x50, struct.pack("<I", 2) + lo + eth),
    "header-only": (0x00, b"\x01\x00"),
}
for name, (mode, table) in tables.items():
    put("if_table", "seed-" + name, bytes([mode]) + table)

# --- icmp_packet: id, sequence, destination, mode byte, then an IPv4 packet
def checksum(b):
    if len(b) % 2:
        b += b"\0"
    s = sum(struct.unpack("!%dH" % (len(b) // 2), b))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def icmp(kind, code, rest, body):
    h = struct.pack("!BBH", kind, code, 0) + rest + body
    return h[:2] + struct.pack("!H", checksum(h)) + h[4:]


def ip(src, dst, payload, ttl=64, tos=0, flags=0x4000):
    h = struct.pack("!BBHHHBBH4s4s", 0x45, tos, 20 + len(payload), 0x1234, flags, ttl, 1, 0,
                    bytes(src), bytes(dst))
    h = h[:10] + struct.pack("!H", checksum(h)) + h[12:]
    return h + payload


ID, SEQ = 0x4D2, 7
me, router, other = [192, 168, 25, 2], [192, 168, 25, 1], [10, 0, 0, 9]
match = struct.pack("!HH", ID, SEQ) + bytes(router)
request = icmp(8, 0, struct.pack("!HH", ID, SEQ), b"Test")
packets = {
    "reply": ip(router, me, icmp(0, 0, struct.pack("!HH", ID, SEQ), b"Test")),
    "reply-loopback": ip([127, 0, 0, 1], [127, 0, 0, 1],
                         icmp(0, 0, struct.pack("!HH", ID, SEQ), b"Test")),
    "reply-other-host": ip(other, me, icmp(0, 0, struct.pack("!HH", ID, SEQ), b"Test")),
    "reply-other-id": ip(router, me, icmp(0, 0, struct.pack("!HH", ID + 1, SEQ), b"Test")),
    "reply-bad-checksum": ip(router, me, icmp(0, 0, struct.pack("!HH", ID, SEQ), b"Tesu")[:-1]
                             + b"t"),
    "host-unreachable": ip(other, me, icmp(3, 1, bytes(4), ip(me, router, request)[:28])),
    "net-unreachable": ip(other, me, icmp(3, 0, bytes(4), ip(me, router, request)[:28])),
    "ttl-exceeded": ip(other, me, icmp(11, 0, bytes(4), ip(me, router, request, ttl=1)[:28]), ttl=3),
    "frag-needed": ip(other, me, icmp(3, 4, struct.pack("!HH", 0, 576), ip(me, router, request))),
    "quoted-wrong-code": ip(other, me, icmp(3, 1, bytes(4),
                                            ip(me, router, icmp(8, 1, struct.pack("!HH", ID, SEQ),
                                                                b"Test"))[:28])),
    "redirect": ip(other, me, icmp(5, 1, bytes(router), ip(me, router, request)[:28])),
    "echo-request": ip(me, router, request),
    "ip-options": bytes([0x46]) + ip(router, me, b"\x01\x01\x01\x00" +
                                     icmp(0, 0, struct.pack("!HH", ID, SEQ), b"Test"))[1:],
    "truncated": ip(router, me, icmp(0, 0, struct.pack("!HH", ID, SEQ), b"Test"))[:25],
}
for name, packet in packets.items():
    put("icmp_packet", "seed-" + name, match + b"\x00" + packet)
put("icmp_packet", "seed-mended", match + b"\x1f" + packets["reply-other-host"])
put("icmp_packet", "seed-spoiled", match + b"\x3f" + packets["reply"])

# --- profile: operation byte, [section NUL key NUL] value NUL, then the file
windows = ("[Options]\r\nFix path=C:\\Tools\\renew.bat\r\nIP=192.168.1.1\r\nInterval=15\r\n"
           "Changes only=0\r\nSave log on exit=1\r\n")
files = {
    "windows": windows,
    "linux": windows.replace("\r\n", "\n"),
    "mac-classic": windows.replace("\r\n", "\r"),
    "mixed": "; my settings\n[Options]\r\nIP = 10.0.0.138\nInterval\t=\t5\r\n\r\n[Other]\nIP=x\r\n",
    "no-final-end": "[Options]\r\nIP=192.168.1.1",
    "utf8-bom": "\ufeff" + windows,
    "quoted": "[Options]\r\nFix path=\"C:\\Program Files\\fix.bat\"\r\nIP='1.2.3.4'\r\n",
    "two-sections": "[Options]\r\nIP=1\r\n[Options]\r\nIP=2\r\n[Window]\r\nLeft=10\r\n",
    "blank-lines": "\r\n\r\n[Options]\r\n\r\nIP=1\r\n\r\n\r\n[Later]\r\nA=b\r\n\r\n",
    "no-section": "IP=1.1.1.1\r\nInterval=3\r\n",
    "empty": "",
    "comment-only": "; nothing here\r\n",
    "long-value": "[Options]\r\nFix path=" + "x" * 300 + "\r\n",
    "nul-in-value": "[Options]\r\nIP=192.168\x00.1.1\r\n",
}
for name, text in files.items():
    data = text.encode("utf-8")
    put("profile", "seed-%s-write" % name, bytes([0x00]) + b"10.0.0.1\0" + data)
    put("profile", "seed-%s-interval" % name,
        bytes([0x04]) + b"Options\0Interval\0" + b"30\0" + data)
for name in ["windows", "mixed", "two-sections"]:
    data = files[name].encode("utf-8")
    put("profile", "seed-%s-delete-key" % name, bytes([0x02]) + b"x\0" + data)
    put("profile", "seed-%s-delete-section" % name, bytes([0x07]) + b"Options\0x\0x\0" + data)
    put("profile", "seed-%s-new-section" % name, bytes([0x04]) + b"Quorrel\0Left\0" + b"7\0" + data)
# Notepad's "Unicode": UTF-16LE behind its byte-order mark.
notepad = b"\xff\xfe" + (windows + "[Fenster]\r\nTitel=Gr\u00fc\u00dfe\r\n").encode("utf-16-le")
put("profile", "seed-utf16-write", bytes([0x00]) + b"10.0.0.1\0" + notepad)
put("profile", "seed-utf16-new-key", bytes([0x04]) + b"Options\0Changes only\0" + b"1\0" + notepad)
put("profile", "seed-utf16-no-final-end", bytes([0x00]) + b"10.0.0.1\0" + b"\xff\xfe" +
    "[Options]\r\nIP=1".encode("utf-16-le"))

# --- netlink: sequence (4 bytes LE), a probe byte, then datagrams, each a
# 16-bit LE length and its bytes, as a route socket delivers a dump
NLMSG_DONE, NLMSG_ERROR, RTM_NEWLINK, RTM_DELLINK, RTM_NEWSTATS = 3, 2, 16, 17, 92
NLM_F_MULTI, NLM_F_DUMP_INTR = 2, 16
IFF_UP, IFF_RUNNING, IFF_LOOPBACK, IFF_BROADCAST, IFF_MULTICAST = 1, 0x40, 8, 2, 0x1000
IFLA_ADDRESS, IFLA_BROADCAST, IFLA_IFNAME, IFLA_MTU, IFLA_LINK = 1, 2, 3, 4, 5
IFLA_STATS64, IFLA_OPERSTATE, IFLA_LINKINFO, IFLA_IFALIAS, IFLA_CARRIER_CHANGES = 23, 16, 18, 20, 35
IFLA_INFO_KIND, IFLA_STATS_LINK_64 = 1, 1


def align(b):
    return b + bytes(-len(b) % 4)


def attr(kind, payload):
    return align(struct.pack("<HH", 4 + len(payload), kind) + payload)


def nlmsg(kind, flags, seq, payload):
    return align(struct.pack("<IHHII", 16 + len(payload), kind, flags, seq, 4242) + payload)


def link(index, arp, flags, name, mtu, mac, oper, kind=None, alias=None, carrier=1, family=0):
    body = struct.pack("<BBHiII", family, 0, arp, index, flags, 0)
    if name is not None:
        body += attr(IFLA_IFNAME, name + b"\0")
    body += attr(IFLA_MTU, struct.pack("<I", mtu))
    if mac is not None:
        body += attr(IFLA_ADDRESS, mac) + attr(IFLA_BROADCAST, b"\xff" * len(mac))
    body += attr(IFLA_OPERSTATE, bytes([oper]))
    body += attr(IFLA_CARRIER_CHANGES, struct.pack("<I", carrier))
    if kind is not None:
        body += attr(IFLA_LINKINFO, attr(IFLA_INFO_KIND, kind + b"\0"))
    if alias is not None:
        body += attr(IFLA_IFALIAS, alias + b"\0")
    body += attr(IFLA_STATS64, bytes(8 * 24))
    return body


def stats(index, rx, tx):
    s = struct.pack("<24Q", 100, 90, rx, tx, 1, 2, 3, 4, 5, *([0] * 15))
    return struct.pack("<BBHII", 0, 0, 0, index, 1) + attr(IFLA_STATS_LINK_64, s)


def datagrams(*chunks):
    return b"".join(struct.pack("<H", len(c)) + c for c in chunks)


SEQ = 7
lo_msg = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ, link(1, 772, IFF_UP | IFF_RUNNING | IFF_LOOPBACK,
                                                    b"lo", 65536, bytes(6), 0))
eth_msg = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ,
                link(2, 1, IFF_UP | IFF_RUNNING | IFF_BROADCAST | IFF_MULTICAST, b"eth0", 1500,
                     bytes([0, 0x0C, 0x29, 0xA5, 0x0B, 0x01]), 6))
veth_msg = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ,
                 link(7, 1, IFF_BROADCAST, b"veth-q0", 1500, bytes([0x2, 0, 0, 0, 0, 7]), 2,
                      kind=b"veth", alias="Br\u00fccke zum Test".encode()))
wg_msg = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ,
               link(9, 65534, IFF_UP | IFF_RUNNING, b"wg0", 1420, None, 0, kind=b"wireguard"))
nameless = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ, link(11, 1, IFF_UP, None, 1500, bytes(6), 6))
bridge_port = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ, link(12, 1, IFF_UP, b"br-port", 1500,
                                                        bytes(6), 6, family=7))
done = nlmsg(NLMSG_DONE, NLM_F_MULTI, SEQ, struct.pack("<i", 0))
intr = nlmsg(NLMSG_DONE, NLM_F_MULTI | NLM_F_DUMP_INTR, SEQ, struct.pack("<i", 0))
error = nlmsg(NLMSG_ERROR, 0, SEQ, struct.pack("<i", -22) + bytes(16))
stale = nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ - 1, link(3, 1, IFF_UP, b"old0", 1500, bytes(6), 6))
dumps = {
    "dump": (SEQ, [lo_msg + eth_msg, veth_msg + wg_msg + done]),
    "dump-one-datagram": (SEQ, [lo_msg + eth_msg + veth_msg + done]),
    "dump-interrupted": (SEQ, [lo_msg + eth_msg + intr]),
    "dump-error": (SEQ, [error]),
    "dump-stale-first": (SEQ, [stale + lo_msg, done]),
    "nameless-link": (SEQ, [lo_msg + nameless + eth_msg + done]),
    "bridge-port": (SEQ, [bridge_port + eth_msg + done]),
    "notification-new": (0, [nlmsg(RTM_NEWLINK, 0, 0, link(8, 1, IFF_UP | IFF_RUNNING, b"veth-q1",
                                                            9000, bytes([2, 0, 0, 0, 0, 8]), 6,
                                                            kind=b"veth"))]),
    "notification-gone": (0, [nlmsg(RTM_DELLINK, 0, 0, struct.pack("<BBHiII", 0, 0, 1, 8, 0, 0))]),
    "stats": (SEQ, [nlmsg(RTM_NEWSTATS, NLM_F_MULTI, SEQ, stats(1, 5000, 5000)) +
                    nlmsg(RTM_NEWSTATS, NLM_F_MULTI, SEQ, stats(2, 0x1FFFFFFFF, 123456789)),
                    done]),
    "truncated": (SEQ, [(lo_msg + eth_msg)[:150]]),
    "long-name": (SEQ, [nlmsg(RTM_NEWLINK, NLM_F_MULTI, SEQ,
                              link(20, 1, IFF_UP, "\u00e9".encode() * 140, 1500, bytes(32), 6,
                                   alias="\u00fc".encode() * 200)), done]),
}
for name, (seq, chunks) in dumps.items():
    put("netlink", "seed-" + name, struct.pack("<I", seq) + b"\x0a" + datagrams(*chunks))
