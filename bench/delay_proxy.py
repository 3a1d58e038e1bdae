#!/usr/bin/env python3
"""A TCP proxy that adds a fixed delay to every chunk in each direction, to measure the program
as if the database were across a network.

  delay_proxy.py --listen PORT --unix SOCKET_PATH --delay-ms 0.25 [--seconds LIMIT]
  delay_proxy.py --listen PORT --connect HOST:PORT --delay-ms 0.25

Listens on 127.0.0.1:PORT only, forwards each connection to a unix socket (a PostgreSQL test
cluster without TCP) or to a TCP address on this machine, and stops by itself after --seconds
(default one hour). A round trip through it costs twice the delay. Threads with blocking
sockets, because time.sleep keeps microseconds where an event loop's timers round to whole
milliseconds."""

import argparse
import collections
import socket
import threading
import time


def pipe(source, target, delay):
    """Copies source to target, each chunk leaving delay seconds after it arrived, in order."""
    chunks = collections.deque()
    ready = threading.Condition()

    def send():
        while True:
            with ready:
                while not chunks:
                    ready.wait()
                due, data = chunks.popleft()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            try:
                target.sendall(data)
            except OSError:
                break
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    sender = threading.Thread(target=send, daemon=True)
    sender.start()
    while True:
        try:
            data = source.recv(65536)
        except OSError:
            data = b""
        with ready:
            chunks.append((time.monotonic() + delay, data or None))
            ready.notify()
        if not data:
            break
    sender.join()


def serve(client, args):
    if args.unix:
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.connect(args.unix)
    else:
        host, port = args.connect.rsplit(":", 1)
        server = socket.create_connection((host, int(port)))
        server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    delay = args.delay_ms / 1000
    back = threading.Thread(target=pipe, args=(server, client, delay), daemon=True)
    back.start()
    pipe(client, server, delay)
    back.join()
    client.close()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--listen", type=int, required=True)
    target = parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--unix")
    target.add_argument("--connect")
    parser.add_argument("--delay-ms", type=float, required=True)
    parser.add_argument("--seconds", type=float, default=3600)
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.listen))
    listener.listen(64)
    listener.settimeout(0.5)
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        try:
            client, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(client, args), daemon=True).start()


if __name__ == "__main__":
    main()
