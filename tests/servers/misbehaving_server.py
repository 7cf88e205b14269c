#!/usr/bin/env python3
"""An HTTP server on 127.0.0.1 that misbehaves on purpose, one way per path:

  /silent      reads the request head and never answers
  /stall       reads the head and 64 KiB of the body, then stops reading
  /drip        reads the whole request, then answers ?n=N body bytes (20
               unless given), one a second
  /redirect    reads the whole request, then answers ?code=N (307 unless given)
               with Location: /elsewhere
  /refuse      reads the head only, answers 413 with a short body and closes

Every connection ends after at most two minutes whatever the client does.

    misbehaving_server.py --port-file FILE
"""
import argparse
import socket
import threading
import time
import urllib.parse

HOLD_SECONDS = 120


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(65536)
        if not piece:
            return None, b""
        data += piece
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def content_length(head):
    for line in head.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            return int(value.strip())
    return 0


def read_body(conn, head, rest):
    left = content_length(head) - len(rest)
    while left > 0:
        piece = conn.recv(min(left, 1 << 20))
        if not piece:
            return
        left -= len(piece)


def hold(conn):
    """Keeps the connection open without reading until the client leaves."""
    conn.settimeout(1.0)
    end = time.monotonic() + HOLD_SECONDS
    while time.monotonic() < end:
        try:
            time.sleep(0.2)
            conn.send(b"")
        except OSError:
            return


def handle(conn):
    with conn:
        conn.settimeout(HOLD_SECONDS)
        try:
            head, rest = read_head(conn)
            if head is None:
                return
            target = head.split(" ")[1] if " " in head else "/"
            url = urllib.parse.urlsplit(target)
            query = urllib.parse.parse_qs(url.query)
            if url.path == "/silent":
                hold(conn)
            elif url.path == "/stall":
                got = len(rest)
                while got < 65536:
                    piece = conn.recv(65536 - got)
                    if not piece:
                        return
                    got += len(piece)
                hold(conn)
            elif url.path == "/drip":
                read_body(conn, head, rest)
                n = int(query.get("n", ["20"])[0])
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n" % n)
                for _ in range(n):
                    conn.sendall(b"x")
                    time.sleep(1)
            elif url.path == "/redirect":
                read_body(conn, head, rest)
                code = int(query.get("code", ["307"])[0])
                conn.sendall(b"HTTP/1.1 %d Moved\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n"
                             b"Connection: close\r\n\r\n" % code)
            elif url.path == "/refuse":
                body = b"too large for us"
                conn.sendall(b"HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" % (len(body), body))
                conn.shutdown(socket.SHUT_WR)
                time.sleep(0.5)
            else:
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        except OSError:
            return


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    args = ap.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    import os
    os.replace(args.port_file + ".tmp", args.port_file)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handle, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
