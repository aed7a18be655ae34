#!/usr/bin/env python3
"""Peers that attack an Agent's port, and a good Console that keeps the real
Console's pace, for the end-to-end tests.

  hostile_peer.py MODE --agent ADDRESS --own ADDRESS [options]

  good            listens on --own:PORT, connects to the Agent, stays silent
                  1 s, sends the request naming --own, and asks again every
                  3 s until a whole 4096-byte block arrives from the Agent.
                  Prints the seconds it took; exit 1 when not served within
                  --limit seconds.
  stall           asks like good, takes the report connection with a 4 KiB
                  receive buffer and never reads; prints "taken" then holds it.
  garbage         a 20-byte request naming no address every 0.5 s.
  silent-address  a request naming --name (an address that answers nothing)
                  every 5 s.
                  (Both try again every 0.2 s while the Agent does not listen.)
  flood           --rate silent connections a second, held open.
  patient         --count silent connections held open; each one the Agent
                  closes is opened again at once.

The request is 20 bytes: the dotted address, a zero byte, zeros to the end.
"""
import argparse
import resource
import select
import socket
import sys
import time

REQUEST_BYTES = 20
BLOCK_BYTES = 4096


def request_for(address):
    text = address.encode("ascii")
    return text + b"\0" * (REQUEST_BYTES - len(text))


def connect(args, timeout):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((args.own, 0))
    s.settimeout(timeout)
    try:
        s.connect((args.agent, args.port))
    except OSError:
        s.close()
        return None
    return s


def ask(args, payload):
    """One request at the real Console's pace: connect, 1 s of silence, send."""
    s = connect(args, 2.0)
    if s is None:
        return False
    time.sleep(1.0)
    try:
        s.sendall(payload)
        return True
    except OSError:
        return False
    finally:
        s.close()


def report_listener(args, receive_buffer=None):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if receive_buffer:
        # Before listen: accepted connections inherit it and their window is small from the start.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind((args.own, args.port))
    s.listen(4)
    return s


def accept_from_agent(listener, args, until):
    """A report connection from the Agent's address before the time until, or None."""
    while time.monotonic() < until:
        ready, _, _ = select.select([listener], [], [], max(0.0, until - time.monotonic()))
        if not ready:
            return None
        conn, peer = listener.accept()
        if peer[0] == args.agent:
            return conn
        conn.close()
    return None


def good(args):
    listener = report_listener(args)
    start = time.monotonic()
    asks = 0
    while time.monotonic() - start < args.limit:
        asked = time.monotonic()
        asks += 1
        ask(args, request_for(args.own))
        conn = accept_from_agent(listener, args, asked + 3.0)
        if conn is None:
            continue
        conn.settimeout(max(0.5, args.limit - (time.monotonic() - start)))
        got = 0
        try:
            while got < BLOCK_BYTES:
                chunk = conn.recv(BLOCK_BYTES - got)
                if not chunk:
                    break
                got += len(chunk)
        except OSError:
            pass
        conn.close()
        if got == BLOCK_BYTES:
            took = time.monotonic() - start
            print("served after %.1f s (%d requests)" % (took, asks), flush=True)
            return 0 if took <= args.limit else 1
    print("not served within %d s (%d requests)" % (args.limit, asks), flush=True)
    return 1


def stall(args):
    listener = report_listener(args, receive_buffer=4096)
    while True:
        asked = time.monotonic()
        ask(args, request_for(args.own))
        conn = accept_from_agent(listener, args, asked + 3.0)
        if conn is not None:
            break
    print("taken", flush=True)
    while True:
        time.sleep(60)
        conn.fileno()  # held, never read


def repeat(args, payload, every):
    """The payload every so often; while the Agent does not listen, it is
    tried again every 0.2 s, so that it comes as soon as the Agent listens."""
    while True:
        s = connect(args, 1.0)
        if s is None:
            time.sleep(0.2)
            continue
        sent = time.monotonic()
        try:
            s.sendall(payload)
        except OSError:
            pass
        s.close()
        time.sleep(max(0.0, every - (time.monotonic() - sent)))


def flood(args):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    held = []
    poller = select.poll()
    start = time.monotonic()
    opened = 0
    while True:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind((args.own, 0))
        s.setblocking(False)
        try:
            s.connect((args.agent, args.port))
        except BlockingIOError:
            pass
        except OSError:
            s.close()
            s = None
        if s is not None:
            held.append(s)
            poller.register(s, select.POLLIN)
        opened += 1
        # Connections the Agent closed are let go; the rest stay open.
        by_fd = {c.fileno(): c for c in held}
        for fd, _ in poller.poll(0):
            c = by_fd.get(fd)
            if c is not None:
                poller.unregister(fd)
                held.remove(c)
                c.close()
        time.sleep(max(0.0, start + opened / args.rate - time.monotonic()))


def patient(args):
    held = []
    while True:
        while len(held) < args.count:
            s = connect(args, 1.0)
            if s is None:
                time.sleep(0.2)
                continue
            held.append(s)
        ready, _, _ = select.select(held, [], [])
        for s in ready:
            try:
                closed = not s.recv(4096)
            except OSError:
                closed = True
            if closed:
                held.remove(s)
                s.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("mode", choices=["good", "stall", "garbage", "silent-address", "flood", "patient"])
    p.add_argument("--agent", required=True)
    p.add_argument("--own", required=True)
    p.add_argument("--port", type=int, default=58680)
    p.add_argument("--limit", type=float, default=30)
    p.add_argument("--name", default="192.0.2.99")
    p.add_argument("--rate", type=float, default=30)
    p.add_argument("--count", type=int, default=4)
    args = p.parse_args()
    if args.mode == "good":
        return good(args)
    if args.mode == "stall":
        return stall(args)
    if args.mode == "garbage":
        # Letters all the way: no terminator, so no address.
        return repeat(args, b"GARBAGE-GARBAGE-GARB", 0.5)
    if args.mode == "silent-address":
        return repeat(args, request_for(args.name), 5.0)
    if args.mode == "patient":
        return patient(args)
    return flood(args)


if __name__ == "__main__":
    sys.exit(main())
