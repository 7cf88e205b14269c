#!/usr/bin/python3
"""Upload throughput of httpupload (under Wine) against native curl -F.

    python3 bench/upload_bench.py BUILD_DIR [--mib 256]

Starts a sink server on 127.0.0.1 (a free port) that reads each request body
in 1 MiB pieces and throws it away, measures that server alone with a raw
socket client first, then posts one file of the given size with curl -F and
with httpupload, and prints MB/s (10^6 bytes per second) and their ratio.
The uploader's peak memory (maximum resident set of the Wine process) is
measured for the full size and for an eighth of it: it must not grow with
the file (/usr/bin/time measures it). Everything stays on the loopback interface; each run is one
request, and the script stops its server before it ends.
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

CHUNK = 1 << 20


def serve(listener):
    """One request per connection: read the head, drain the body, answer."""
    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=handle, args=(conn,), daemon=True).start()


def handle(conn):
    with conn:
        head = b""
        while b"\r\n\r\n" not in head:
            data = conn.recv(65536)
            if not data:
                return
            head += data
        head, rest = head.split(b"\r\n\r\n", 1)
        length = 0
        expect = False
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value)
            if name.strip().lower() == b"expect" and b"100-continue" in value.lower():
                expect = True
        if expect:
            conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
        got = len(rest)
        buf = bytearray(CHUNK)
        view = memoryview(buf)
        while got < length:
            n = conn.recv_into(view, min(CHUNK, length - got))
            if n == 0:
                break
            got += n
        body = b"%d\n" % got
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: %d\r\n\r\n%s"
                     % (len(body), body))


def server_alone(port, size):
    """The sink's own rate: a raw client that sends nothing but the body."""
    piece = os.urandom(CHUNK)
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(b"POST /sink HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % size)
        sent = 0
        while sent < size:
            n = min(CHUNK, size - sent)
            s.sendall(piece[:n])
            sent += n
        answer = b""
        while True:
            data = s.recv(4096)
            if not data:
                break
            answer += data
    elapsed = time.perf_counter() - start
    assert answer.endswith(b"%d\n" % size), answer
    return elapsed


def timed(cmd):
    """Runs cmd; answers (seconds, peak resident MiB of its process tree, output)."""
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss.name] + cmd, capture_output=True,
                                timeout=1800)
        elapsed = time.perf_counter() - start
        peak_kib = int(rss.read().split()[-1])
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (result.returncode, " ".join(cmd), result.stderr.decode(errors="replace")))
    return elapsed, peak_kib / 1024.0, result.stdout


def make_file(path, size):
    piece = os.urandom(CHUNK)
    with open(path, "wb") as f:
        for done in range(0, size, CHUNK):
            f.write(piece[:min(CHUNK, size - done)])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build_dir")
    ap.add_argument("--mib", type=int, default=256)
    args = ap.parse_args()
    build = os.path.abspath(args.build_dir)
    wine_run = os.path.join(build, "wine-run")
    uploader = os.path.join(build, "src", "tools", "httpupload.exe")
    size = args.mib << 20

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    port = listener.getsockname()[1]
    threading.Thread(target=serve, args=(listener,), daemon=True).start()
    url = "http://127.0.0.1:%d/sink" % port

    with tempfile.TemporaryDirectory() as tmp:
        big = os.path.join(tmp, "big.bin")
        small = os.path.join(tmp, "small.bin")
        make_file(big, size)
        make_file(small, size // 8)
        mb = size / 1e6

        alone = server_alone(port, size)
        curl_s, _, out = timed(["curl", "-s", "-F", "f=@" + big, url])
        assert int(out) > size, out
        # A first run starts Wine's services; the second is the one measured.
        timed([wine_run, uploader, "--file", "f=Z:" + small.replace("/", "\\"), url])
        small_s, small_peak, _ = timed([wine_run, uploader, "--file", "f=Z:" + small.replace("/", "\\"), url])
        up_s, up_peak, out = timed([wine_run, uploader, "--file", "f=Z:" + big.replace("/", "\\"), url])
        assert int(out) > size, out

    listener.close()
    print("file: %d MiB over 127.0.0.1" % args.mib)
    print("sink server alone:        %8.1f MB/s" % (mb / alone))
    print("curl -F (native):         %8.1f MB/s" % (mb / curl_s))
    print("httpupload under Wine:    %8.1f MB/s  (%.2f of curl)" % (mb / up_s, curl_s / up_s))
    print("httpupload peak memory:   %8.1f MiB for %d MiB, %.1f MiB for %d MiB (resident, Wine and its"
          " emulator included)" % (up_peak, args.mib, small_peak, args.mib // 8))


if __name__ == "__main__":
    main()
