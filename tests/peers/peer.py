#!/usr/bin/env python3
# Stand-ins for the Console and the Agent, and peers that throw bad input, for
# the end-to-end tests. Each reads and writes the wire on its own terms:
#
#   request  20 bytes: the dotted address the report goes to, zeros to the end.
#   report   4096 bytes: 354 lines ending in LF, then zeros. Line 1 the Agent's
#            dotted address, line 2 the GPU count (one digit 1..8), then 8 GPU
#            parts of 44 lines: full name (1..50 bytes), tab label (at most 49,
#            empty only for a slot without a GPU), 42 decimal numbers. A part
#            beyond the count reads "- empty -", "" and zeros.
#
#   peer.py console --to AGENT [--blocks N] [--timeout-s S] [--expect-gpus N]
#                   [--expect-label L] [--dump] [--no-second] [--agent-port P]
#                   [--listen-port P]
#       asks like the Console (two connections, 1 s of silence, the request on
#       the first), takes the report connection from AGENT only and checks N
#       blocks byte by byte; --dump prints each valid block's fields.
#   peer.py agent [--gpus N] [--bad-first N]
#       waits for one request, connects back and sends an example rig's blocks
#       once a second, the first N malformed (one of each kind in turn).
#   peer.py MODE --to ADDRESS [--own ADDRESS] [--count N] [--connect-ms MS]
#       bad input, then a tally. random (one connection after another), storm
#       (batches of 50 at once, closed after --connect-ms), blocks (each
#       malformed block on its own connection).
#   peer.py MODE --to AGENT --own ADDRESS, for the attacks on an Agent:
#       good            asks at the real Console's pace every 3 s until a whole
#                       block arrives; exit 1 when not served within --limit s.
#       stall           takes the report connection with a 4 KiB window and
#                       never reads; prints "taken".
#       garbage         a 20-byte request naming no address every 0.5 s.
#       silent-address  a request naming 192.0.2.99 every 5 s.
#       flood           30 silent connections a second, held open.
#       patient         --count silent connections; each closed one reopened.
#
import argparse
import errno
import random
import re
import resource
import select
import socket
import sys
import time

PORT = 58680
REQUEST_BYTES = 20
BLOCK_BYTES = 4096
SLOTS = 8
FIELDS = """graphicsClockSupported memoryClockSupported graphicsClock memoryClock
processorClockSupported processorClock videoClockSupported videoClock graphicsClockRated
memoryClockRated processorClockRated videoClockRated graphicsClockScale memoryClockScale
gpuLoadSupported gpuLoad driverModel memoryTotal memoryUsageSupported memoryUsage
temperatureSupported temperature powerDrawSupported powerLimit powerDraw driverModelSupported
pStateSupported pState memoryControllerLoadSupported memoryControllerLoad
videoEngineLoadSupported videoEngineLoad busInterfaceLoadSupported busInterfaceLoad
fanLevelSupported fanLevel fanRpmSupported fanRpm coreVoltageRatedSupported coreVoltageRated
coreVoltageSupported coreVoltage""".split()
SIGNED = {"gpuLoad", "driverModel", "temperature", "pState"}
LINES = 2 + SLOTS * (2 + len(FIELDS))
BAD_KINDS = ("short split nolf longline count9 negcount bigcount random zeros truncated "
             "oversized crlf hugenum noterm").split()


def request_for(address):
    return address.encode("ascii")[:REQUEST_BYTES].ljust(REQUEST_BYTES, b"\0")


def padded(text):
    return text[:BLOCK_BYTES].ljust(BLOCK_BYTES, b"\0")


def example_block(label, gpus, tick):
    """The example rig: slot d of n GPUs, names numbered when n > 1."""
    lines = [label.encode(), b"%d" % gpus]
    for d in range(SLOTS):
        if d >= gpus:
            lines += [b"- empty -", b""] + [b"0"] * len(FIELDS)
            continue
        number = "(%d)" % (d + 1) if gpus > 1 else ""
        tab = "Example GPU%s (%s 接続)" % (number, "HDMI" if d % 2 else "DP")
        v = dict.fromkeys((f for f in FIELDS if f.endswith("Supported")), 1)
        v.update(graphicsClock=1733000 - d * 100000, memoryClock=5005000, videoClock=1620000,
                 graphicsClockRated=1607000, memoryClockRated=5005000, videoClockRated=1506000,
                 graphicsClockScale=1911000, memoryClockScale=5005000, processorClockSupported=0,
                 gpuLoad=(37 + d * 10 + tick * 7) % 101, memoryTotal=8388608,
                 memoryUsage=1203456 + d * 1048576, temperature=54 + d, powerLimit=180000,
                 powerDraw=65432 + d * 10000, memoryControllerLoad=21, busInterfaceLoad=3,
                 fanLevel=33, fanRpm=1125, coreVoltageRated=1062500, coreVoltage=1043000)
        lines += [b"Example GPU", tab.encode("cp932")] + [b"%d" % v.get(f, 0) for f in FIELDS]
    return padded(b"\n".join(lines) + b"\n")


def bad_block(kind, label, seed):
    """A malformed transmission: the pieces, sent 0.3 s apart."""
    good = example_block(label, 2, seed)
    text = good.rstrip(b"\0")
    head = label.encode() + b"\n"
    second_line = text.index(b"\n", len(head))
    return {
        "short": lambda: [good[:4095]],
        "split": lambda: [good[:2000], good[2000:]],
        "nolf": lambda: [b"A" * BLOCK_BYTES],
        "longline": lambda: [padded(head + b"2\n" + (b"7" * 300 + b"\n") * 14)],
        "count9": lambda: [padded(head + b"9" + text[second_line:])],
        "negcount": lambda: [padded(head + b"-3" + text[second_line:])],
        "bigcount": lambda: [padded(head + b"99999999999" + text[second_line:])],
        "random": lambda: [random.Random(seed).randbytes(BLOCK_BYTES)],
        "zeros": lambda: [bytes(BLOCK_BYTES)],
        "truncated": lambda: [padded(head + b"8\nExample GPU\nExample GPU(1)\n1\n1\n")],
        "oversized": lambda: [b"5" * 8192],
        "crlf": lambda: [padded(text.replace(b"\n", b"\r\n"))],
        "hugenum": lambda: [padded(head + b"1\nExample GPU\nExample GPU (DP)\n" +
                                   b"99999999999999999999\n-99999999999999999999\n" * 21)],
        # lines just under and over a 100-byte line buffer
        "noterm": lambda: [padded(head + b"2\n" + (b"x" * 100 + b"\n" + b"x" * 99 + b"\n") * 21)],
    }[kind]()


def check_block(block, expect_gpus, expect_label):
    """(label, count, parts) of a block that follows the layout exactly, or
    an error naming the first fault."""
    parts = block.split(b"\n", LINES)
    if len(parts) <= LINES:
        return "block ends before the line feed of line %d" % len(parts)
    if parts[LINES].strip(b"\0"):
        return "non-zero byte after the last line"
    lines = parts[:LINES]
    for i, line in enumerate(lines):
        if b"\0" in line or b"\r" in line:
            return "line %d: zero byte or carriage return" % (i + 1)
    label = lines[0].decode("latin-1")
    octet = "(0|[1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-5])"
    if not re.fullmatch(r"%s(\.%s){3}" % (octet, octet), label):
        return "line 1: agent label is not dotted IPv4 text [%s]" % label
    if not re.fullmatch(rb"[1-8]", lines[1]):
        return "line 2: gpu count is not one digit 1..8 [%r]" % lines[1]
    count = int(lines[1])
    gpus = []
    for slot in range(SLOTS):
        base = 2 + slot * (2 + len(FIELDS))
        name, tab, numbers = lines[base], lines[base + 1], lines[base + 2:base + 2 + len(FIELDS)]
        where = "line %d:" % (base + 1)
        if not 1 <= len(name) <= 50 or len(tab) > 49:
            return where + " full name or tab label too long or empty"
        values = {}
        for field, t in zip(FIELDS, numbers):
            if field.endswith("Supported"):
                ok = t in (b"0", b"1")
            elif field in SIGNED:
                ok = re.fullmatch(rb"0|-?[1-9][0-9]{0,9}", t) and -2**31 <= int(t) < 2**31
            else:
                ok = re.fullmatch(rb"0|[1-9][0-9]{0,9}", t) and int(t) < 2**32
            if not ok:
                return "%s %s is not a number of its kind [%r]" % (where, field, t)
            values[field] = int(t)
        if slot >= count and ((name, tab) != (b"- empty -", b"") or any(values.values())):
            return where + " slot beyond the gpu count is not empty"
        if slot < count and not tab:
            return where + " GPU in use has an empty tab label"
        gpus.append((name.decode("cp932", "replace"), tab.decode("cp932", "replace"), values))
    if expect_gpus and count != expect_gpus:
        return "gpu count %d, expected %d" % (count, expect_gpus)
    if expect_label and label != expect_label:
        return "agent label %s, expected %s" % (label, expect_label)
    return label, count, gpus


def connect(to, port=PORT, timeout=2.0, own=None):
    s = socket.socket()
    if own:
        s.bind((own, 0))
    s.settimeout(timeout)
    try:
        s.connect((to, port))
        return s
    except OSError:
        s.close()
        return None


def listener(address, port=PORT, receive_buffer=None):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if receive_buffer:
        # Before listen: accepted connections inherit it and their window is small from the start.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind((address, port))
    s.listen(1)
    return s


def accept_from(lst, address, until, since=None):
    """A connection from address before the time until, or None; others are closed."""
    while select.select([lst], [], [], max(0.0, until - time.monotonic()))[0]:
        conn, peer = lst.accept()
        if peer[0] == address:
            if since:
                print("accepted peer=%s after_request_ms=%d" % (peer[0], (time.monotonic() - since) * 1000))
            return conn
        print("refused peer=%s" % peer[0])
        conn.close()
    return None


def receive(conn, timeout):
    """Up to a block, fewer when the peer closes or the time runs out."""
    data = b""
    conn.settimeout(max(0.1, timeout))
    while len(data) < BLOCK_BYTES:
        try:
            chunk = conn.recv(BLOCK_BYTES - len(data))
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


def send_quietly(s, pieces):
    """The pieces 0.3 s apart; False when the peer went."""
    try:
        for i, piece in enumerate(pieces):
            time.sleep(0.3 if i else 0)
            s.sendall(piece)
        return True
    except OSError:
        return False


def console(a):
    lst = listener("0.0.0.0", a.listen_port)
    start = time.monotonic()
    first = connect(a.to, a.agent_port)
    if first is None:
        print("request failed: no connection")
        return 1
    second = None if a.no_second else connect(a.to, a.agent_port)
    own = first.getsockname()[0]
    time.sleep(1.0)
    sent = first.send(request_for(own)) == REQUEST_BYTES
    for s in (second, first):
        if s:
            s.close()
    print("request sent=%d self=%s" % (sent, own))
    deadline = start + a.timeout_s
    conn = accept_from(lst, a.to, deadline, time.monotonic())
    if conn is None:
        print("no report connection within %d s" % a.timeout_s)
        return 1
    valid = invalid = 0
    arrivals = []
    while valid + invalid < a.blocks:
        block = receive(conn, deadline - time.monotonic())
        if len(block) < BLOCK_BYTES:
            print("connection ended bytes=%d after blocks=%d" % (len(block), valid + invalid))
            break
        arrivals.append(time.monotonic())
        got = check_block(block, a.expect_gpus, a.expect_label)
        if isinstance(got, str):
            invalid += 1
            print("block %d INVALID: %s" % (valid + invalid, got))
            continue
        valid += 1
        label, count, gpus = got
        print("block %d ok label=%s gpus=%d" % (valid + invalid, label, count))
        if a.dump:
            print("arrival_unix_ms=%d" % (time.time() * 1000))
            for g, (name, tab, values) in enumerate(gpus[:count]):
                print("gpu%d.fullName=%s\ngpu%d.tabLabel=%s" % (g, name, g, tab))
                for field in FIELDS:
                    print("gpu%d.%s=%d" % (g, field, values[field]))
    gaps = sorted(b - a_ for a_, b in zip(arrivals, arrivals[1:]))
    print("summary valid=%d invalid=%d median_interval_ms=%d" %
          (valid, invalid, gaps[len(gaps) // 2] * 1000 if gaps else -1))
    conn.close()
    return 0 if valid == a.blocks and invalid == 0 else 1


def agent(a):
    lst = listener("0.0.0.0")
    print("listening")
    # The request comes whole on one connection; an empty one is let go.
    request = b""
    while len(request) != REQUEST_BYTES:
        conn, peer = lst.accept()
        try:
            request = conn.recv(REQUEST_BYTES, socket.MSG_WAITALL)
        except OSError:
            pass
        conn.close()
    lst.close()
    address = request.split(b"\0")[0].decode("latin-1") if b"\0" in request[:16] else ""
    print("request peer=%s address=%s" % (peer[0], address))
    s = connect(address, timeout=5.0)
    if s is None:
        print("connect failed address=%s" % address)
        return 1
    label = s.getsockname()[0]
    print("report connected address=%s label=%s" % (address, label))
    tick = 0
    while True:
        kind = BAD_KINDS[tick % len(BAD_KINDS)]
        bad = tick < a.bad_first
        if not send_quietly(s, bad_block(kind, label, tick) if bad else [example_block(label, a.gpus, tick)]):
            break
        if bad:
            print("sent bad block kind=%s" % kind)
        tick += 1
        time.sleep(1.0)
    print("report ended blocks=%d" % tick)
    return 0


def blast(a):
    tally = {"connected": 0, "refused": 0}
    if a.mode == "storm":
        # Batches of 50 connection attempts at once, each closed after the
        # batch's wait: a listener with a backlog of 1 sees a storm of
        # connections and dropped handshakes rather than a polite queue.
        for done in range(0, a.count, 50):
            batch = [opened(a) for _ in range(min(50, a.count - done))]
            time.sleep(a.connect_ms / 1000)
            for s in batch:
                try:
                    up = s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0 and s.getpeername()
                except OSError:
                    up = False
                tally["connected" if up else "refused"] += 1
                s.close()
    else:
        rnd = random.Random(12345)
        for k in range(len(BAD_KINDS) if a.mode == "blocks" else a.count):
            s = connect(a.to, timeout=a.connect_ms / 1000, own=a.own)
            tally["connected" if s else "refused"] += 1
            if s:
                send_quietly(s, bad_block(BAD_KINDS[k], a.own or "192.0.2.20", k) if a.mode == "blocks"
                             else [rnd.randbytes(rnd.randint(1, 8192))])
                time.sleep(0.1)
                s.close()
    print("blast mode=%s %s" % (a.mode, " ".join("%s=%d" % kv for kv in tally.items())))
    return 0


def ask(a, payload):
    """One request at the real Console's pace: connect, 1 s of silence, send."""
    s = connect(a.to, own=a.own)
    if s:
        time.sleep(1.0)
        send_quietly(s, [payload])
        s.close()


def good(a):
    lst = listener(a.own)
    start = time.monotonic()
    asks = 0
    while time.monotonic() - start < a.limit:
        asked = time.monotonic()
        asks += 1
        ask(a, request_for(a.own))
        conn = accept_from(lst, a.to, asked + 3.0)
        if conn is None:
            continue
        block = receive(conn, a.limit - (time.monotonic() - start))
        conn.close()
        if len(block) == BLOCK_BYTES:
            took = time.monotonic() - start
            print("served after %.1f s (%d requests)" % (took, asks))
            return 0 if took <= a.limit else 1
    print("not served within %d s (%d requests)" % (a.limit, asks))
    return 1


def stall(a):
    lst = listener(a.own, receive_buffer=4096)
    conn = None
    while conn is None:
        asked = time.monotonic()
        ask(a, request_for(a.own))
        conn = accept_from(lst, a.to, asked + 3.0)
    print("taken")
    while True:
        time.sleep(60)
        conn.fileno()  # held, never read


def repeat(a, payload, every):
    """The payload every so often; while the Agent does not listen, it is
    tried again every 0.2 s, so that it comes as soon as the Agent listens."""
    while True:
        s = connect(a.to, timeout=1.0, own=a.own)
        if s is None:
            time.sleep(0.2)
            continue
        sent = time.monotonic()
        send_quietly(s, [payload])
        s.close()
        time.sleep(max(0.0, every - (time.monotonic() - sent)))


def opened(a):
    """A connection under way, not waited for."""
    s = socket.socket()
    if a.own:
        s.bind((a.own, 0))
    s.setblocking(False)
    s.connect_ex((a.to, PORT))
    return s


def hold(a, count, per_second):
    """Silent connections, opened per_second while fewer than count are held;
    those the Agent closes (or refuses) are let go, and so opened again."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    held = {}
    poller = select.poll()
    start = time.monotonic()
    tried = 0
    while True:
        if len(held) < count:
            s = opened(a)
            held[s.fileno()] = s
            poller.register(s, select.POLLIN)
            tried += 1
        wait = max(0.0, start + tried / per_second - time.monotonic()) if len(held) < count else None
        for fd, _ in poller.poll(None if wait is None else wait * 1000):
            poller.unregister(fd)
            held.pop(fd).close()


MODES = {"console": console, "agent": agent, "good": good, "stall": stall,
         "flood": lambda a: hold(a, float("inf"), 30), "patient": lambda a: hold(a, a.count, 5),
         "garbage": lambda a: repeat(a, b"GARBAGE-GARBAGE-GARB", 0.5),
         "silent-address": lambda a: repeat(a, request_for("192.0.2.99"), 5.0)}
MODES.update((m, blast) for m in "random storm blocks".split())


def main():
    sys.stdout.reconfigure(encoding="utf-8", line_buffering=True)
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=sorted(MODES))
    p.add_argument("--to")
    p.add_argument("--own")
    p.add_argument("--blocks", type=int, default=5)
    p.add_argument("--timeout-s", type=int, default=30)
    p.add_argument("--expect-gpus", type=int, default=0)
    p.add_argument("--expect-label")
    p.add_argument("--dump", action="store_true")
    p.add_argument("--no-second", action="store_true")
    p.add_argument("--agent-port", type=int, default=PORT)
    p.add_argument("--listen-port", type=int, default=PORT)
    p.add_argument("--gpus", type=int, default=1)
    p.add_argument("--bad-first", type=int, default=0)
    p.add_argument("--count", type=int, default=30)
    p.add_argument("--connect-ms", type=int, default=3000)
    p.add_argument("--limit", type=float, default=30)
    a = p.parse_args()
    return MODES[a.mode](a)


if __name__ == "__main__":
    sys.exit(main())
