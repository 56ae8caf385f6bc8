#!/usr/bin/env python3
"""Writes the small seed files of the fuzz corpora (fuzz/<area>/corpus/<target>/).

Run from anywhere; existing seeds of the same name are overwritten, files the
fuzzers added (and regression inputs) are left alone. The seeds follow the
byte fixtures of the unit tests: one well-formed case per form, plus the
truncations and edge values those tests name.
"""
import os
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))


def put(area, target, name, data):
    d = os.path.join(ROOT, area, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)


def rtp(seq, payload, marker=False, cc=0, ext=None, pt=26, version=2):
    b0 = (version << 6) | cc | (0x10 if ext is not None else 0)
    out = bytes([b0, (0x80 if marker else 0) | pt]) + struct.pack(">HII", seq, 90000, 0x01020304)
    out += b"\xC0\xC1\xC2\xC3" * cc
    if ext is not None:
        out += struct.pack(">HH", 0xABCD, ext) + b"\xEE" * (4 * ext)
    return out + payload


# --- transport/rtp_packet
put("transport", "rtp_packet", "one-byte-payload", rtp(0x1234, b"\xAA", marker=True))
put("transport", "rtp_packet", "header-only", rtp(1, b""))
put("transport", "rtp_packet", "version1", rtp(1, b"\xAA", version=1))
put("transport", "rtp_packet", "cc15-72", rtp(1, b"", cc=15))
put("transport", "rtp_packet", "cc15-short", rtp(1, b"", cc=15)[:60])
put("transport", "rtp_packet", "ext-empty", rtp(1, b"", ext=0))
put("transport", "rtp_packet", "ext-300", rtp(1, b"\x01\x02\x03", ext=300))
put("transport", "rtp_packet", "ext-cut", rtp(1, b"", ext=1)[:15])
put("transport", "rtp_packet", "jpeg-start", rtp(7, bytes.fromhex("FFD8FFE000104A464946"), marker=False))

# --- transport/rtp_sequence: a start offset (2 bytes), then numbers
def seqs(offset, numbers):
    return struct.pack(">H", offset) + b"".join(struct.pack(">H", n & 0xFFFF) for n in numbers)

put("transport", "rtp_sequence", "wrap", seqs(0, [65533, 65534, 65535, 0, 1, 2]))
put("transport", "rtp_sequence", "three-wraps", seqs(0, list(range(0, 65536 * 3 + 10, 2900))))
put("transport", "rtp_sequence", "jump-confirmed", seqs(0, [10, 11, 5000, 5001, 5002]))
put("transport", "rtp_sequence", "jump-unconfirmed", seqs(0, [10, 11, 5000, 12, 13]))
put("transport", "rtp_sequence", "reorder-dup", seqs(0, [100, 101, 101, 99, 102, 40, 103]))
put("transport", "rtp_sequence", "near-wrap-offset", seqs(65500, [0, 1, 2, 40, 41, 80, 81]))

# --- transport/rtcp_receive: guid(4) start(4) answer delay(2), records
def sr(ssrc=0xCAFEBABE, high=0x11223344, low=0x55667788):
    return bytes([0x80, 200, 0, 6]) + struct.pack(">IIIIII", ssrc, high, low, 90000, 25, 50000)

def dgram(data, source=0):
    return bytes([0, source, len(data)]) + data

def seq(n):
    return bytes([1]) + struct.pack(">H", n)

def step(ms):
    return bytes([2]) + struct.pack(">H", ms)

head = struct.pack(">IIH", 0x5EED5EED, 10000, 1500)
put("transport", "rtcp_receive", "sr-then-rtp", head + dgram(sr()) + seq(65535) + seq(0) + seq(1) + step(1500))
put("transport", "rtcp_receive", "rr-first", head + dgram(bytes([0x81, 201, 0, 7]) + b"\0" * 28) + dgram(sr()))
put("transport", "rtcp_receive", "stranger", head + dgram(sr(), source=1) + dgram(sr(), source=2) + seq(5))
put("transport", "rtcp_receive", "short", head + dgram(b"\x80") + dgram(b"\x80\xC8\x00") + dgram(b"", 0) + dgram(sr(), 4))
put("transport", "rtcp_receive", "clock-zero", struct.pack(">IIH", 1, 0, 0) + dgram(sr()) + step(65535))

# --- web/http_response: option byte, then replies "ctl chunk cut bytes" joined by "\n%%\n"
SEP = "\n%%\n"

def replies(option, *parts):
    return chr(option) + SEP.join(parts)

def rep(text, ctl=0, chunk=0, cut=0):
    return chr(ctl) + chr(chunk) + chr(cut) + text

ok = "HTTP/1.1 200 OK\r\nContent-Length: 24\r\nContent-Type: text/plain\r\n\r\nSensor1=0\r\nSensor2=1\r\n\r\n"
put("web", "http_response", "200", replies(0, rep(ok)))
put("web", "http_response", "200-twice-kept", replies(2, rep(ok, ctl=4), rep(ok, ctl=4)))
put("web", "http_response", "200-slow", replies(0, rep(ok, ctl=3, chunk=5)))
put("web", "http_response", "200-bytewise", replies(0, rep(ok, ctl=1, chunk=0)))
put("web", "http_response", "204", replies(0, rep("HTTP/1.1 204 No Content\r\n\r\n")))
put("web", "http_response", "no-length", replies(0, rep("HTTP/1.0 200 OK\r\n\r\nbody to the end")))
put("web", "http_response", "longer-than-length", replies(0, rep("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcdefgh")))
put("web", "http_response", "shorter-than-length", replies(0, rep("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\nabc", ctl=4)))
put("web", "http_response", "chunked", replies(0, rep("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")))
put("web", "http_response", "401-digest", replies(1,
    rep('HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm="cam", nonce="abc", qop="auth"\r\nContent-Length: 0\r\n\r\n', ctl=4),
    rep(ok)))
put("web", "http_response", "401-basic", replies(1,
    rep('HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm="cam"\r\nContent-Length: 0\r\n\r\n')))
put("web", "http_response", "401-token68", replies(1,
    rep('HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Newauth abc==, Negotiate\r\nWWW-Authenticate: NTLM\r\n\r\n')))
put("web", "http_response", "404", replies(0, rep("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")))
put("web", "http_response", "500", replies(0, rep("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")))
put("web", "http_response", "100-continue", replies(0, rep("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")))
put("web", "http_response", "cut-head", replies(0, rep(ok, ctl=8, cut=5)))
put("web", "http_response", "reset", replies(0, rep(ok, ctl=8 | 16, cut=12)))
put("web", "http_response", "hang", replies(0, rep("HTTP/1.1 200 OK\r\n", ctl=96)))
put("web", "http_response", "redirect", replies(0, rep("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n")))
put("web", "http_response", "garbage", replies(0, rep("ICY 200 OK\r\n\r\n")))
put("web", "http_response", "read-data", replies(4, rep(ok, ctl=2, chunk=3)))
put("web", "http_response", "cancel-between", replies(2 | 8, rep(ok, ctl=4), rep(ok)))

# --- web/http_text: selector byte, then text
put("web", "http_text", "status", "\x00HTTP/1.1 200 OK\r\n")
put("web", "http_text", "status-short", "\x00HTTP/1.0 40")
put("web", "http_text", "decimal", "\x01  4294967295 \r\n")
put("web", "http_text", "decimal-over", "\x01 4294967296")
put("web", "http_text", "challenge", '\x02Newauth realm="a,b", Digest realm="x", Basic')
put("web", "http_text", "challenge-token68", "\x02Bearer abc=, NTLM")
put("web", "http_text", "target", "\x03command/inquiry.cgi?inq=sensor&x=<a b>")
put("web", "http_text", "header", "\x04X-Name:  value \r\n")

# --- settings: the shipped model files and the tests' odd ones
models = os.path.join(ROOT, "..", "models")
for name in ("SNC-RZ50N.xml", "SNC-DF80P.xml", "SNC-CS50N.xml"):
    with open(os.path.join(models, name), "rb") as f:
        data = f.read()
    put("settings", "driver_configuration", name, data)
    put("settings", "model_capabilities", name, data)
odd = {
    "caps-true": '<sony><resolutions><cif value="TRUE"/><cifx value="352"/><cify value="288"/></resolutions></sony>',
    "width0": '<sony><resolutions><cif value="true"/><cifx value="0"/><cify value="288"/></resolutions></sony>',
    "inherit-rate": '<sony><resolutions><cif value="true"/><cifx value="352"/><cify value="288"/>'
                    '<cif2 value="true"/><cif2x value="704"/><cif2y value="288"/></resolutions>'
                    '<framerate><res1 value="25"/></framerate></sony>',
    "counts": '<sony><cameraCount value="0"/><CameraCount value="4"/><io><input value="2"/><output value="x"/></io>'
              '<mode value="mpeg jpeg"/></sony>',
    "mpeg4-root": '<other><mpeg4/><resolutions><cif4 value="true"/><cif4x value="704"/><cif4y value="576"/>'
                  '</resolutions><framerate><res3 value="60"/></framerate></other>',
    "comments": '<?xml version="1.0"?><!-- c --><sony><quality><min value="1"/><max>7</max></quality>'
                '<videomode value="pal"/><rtp><keepalive value="-5"/></rtp><resolutions><qcif value="true"/>'
                '<qcifx value="176abc"/><qcify value=" 144"/></resolutions></sony>',
}
for name, text in odd.items():
    put("settings", "driver_configuration", name, text)
    put("settings", "model_capabilities", name, text)

# --- channels/jpeg_frame_header: picture bytes
sof = bytes.fromhex("FFD8FFE00010") + b"J" * 14 + bytes.fromhex("FFC000110801E0028003")
put("channels", "jpeg_frame_header", "sof0", sof + b"\x01" * 20)
put("channels", "jpeg_frame_header", "sos-first", bytes.fromhex("FFD8FFDA000C03010002110311003F00") + b"\x00" * 8)
put("channels", "jpeg_frame_header", "sof-cut", sof[:28])
put("channels", "jpeg_frame_header", "rst-and-dht", bytes.fromhex("FFD8FFD0FFC4000400FFFFC20011080100010003"))
put("channels", "jpeg_frame_header", "length-past-end", bytes.fromhex("FFD8FFE0FFFF00"))

# --- channels/frame_assembly: width(2) height(2) answer byte, then packets:
#     flags (bit0 marker, bit1 explicit seq), [seq(2)], length(2), bytes
#     (length bit 15: sent by another host)
def packet(data, marker=False, seqno=None, foreign=False):
    flags = (1 if marker else 0) | (2 if seqno is not None else 0)
    out = bytes([flags])
    if seqno is not None:
        out += struct.pack(">H", seqno)
    return out + struct.pack(">H", len(data) | (0x8000 if foreign else 0)) + data

picture = sof + b"\x10" * 40 + bytes.fromhex("FFD9")
def whole(pic, parts, first=None):
    step_ = (len(pic) + parts - 1) // parts
    out = b""
    for i in range(0, len(pic), step_):
        out += packet(pic[i:i + step_], marker=i + step_ >= len(pic), seqno=first if i == 0 else None)
    return out

fa_head = struct.pack(">HHB", 704, 480, 0)
put("channels", "frame_assembly", "two-pictures", fa_head + packet(b"x", marker=True, seqno=10) + whole(picture, 3) + whole(picture, 2))
put("channels", "frame_assembly", "gap", fa_head + packet(b"x", marker=True, seqno=10) + packet(picture[:20], seqno=11) +
    packet(picture[20:], marker=True, seqno=13) + whole(picture, 1))
put("channels", "frame_assembly", "wrap", fa_head + packet(b"x", marker=True, seqno=65533) + whole(picture, 4))
put("channels", "frame_assembly", "empty-marker", fa_head + packet(b"x", marker=True, seqno=5) + packet(picture) + packet(b"", marker=True) + packet(b"", marker=True))
put("channels", "frame_assembly", "refused", struct.pack(">HHB", 352, 288, 1) + packet(b"x", marker=True, seqno=1) + whole(picture, 2) + whole(picture, 2) + whole(picture, 2))
# A stranger's three datagrams (break the sequence, end the discarding, a
# picture) between the camera's pictures, and one cut-short picture.
put("channels", "frame_assembly", "foreign", struct.pack(">HH", 352, 288) + packet(b"x", marker=True, seqno=10) +
    whole(picture, 2) + packet(b"y", marker=True, seqno=500, foreign=True) +
    packet(b"z", marker=True, seqno=501, foreign=True) + packet(picture, marker=True, seqno=502, foreign=True) +
    whole(picture, 3) + packet(picture[:-2], marker=True) + whole(picture, 1))
put("channels", "frame_assembly", "no-frame", struct.pack(">HHB", 176, 144, 2) + packet(b"x", marker=True, seqno=1) + whole(picture, 2))

# --- io/sensor_answer: count byte, then the answer text
put("io", "sensor_answer", "two", "\x02Sensor1=0\r\nSensor2=1\r\n")
put("io", "sensor_answer", "caps", "\x01SENSOR1=1\r\n")
put("io", "sensor_answer", "spaced", "\x01sensor1 = 1\r\n")
put("io", "sensor_answer", "sensor10", "\x01sensor10=1\nsensor1\n=0")
put("io", "sensor_answer", "value2", "\x03sensor1=2\rsensor2=-0\rsensor3=+1\r")
put("io", "sensor_answer", "empty-value", "\x02sensor1=\r\nsensor1=1\r\nsensor2")
