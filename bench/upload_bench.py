#!/usr/bin/python3
"""Upload throughput of httpupload (under Wine) against curl -F.

    python3 bench/upload_bench.py BUILD_DIR [--mib 256] [--i386-peers DIR]

Starts a sink server on 127.0.0.1 (a free port) that reads each request body
in 1 MiB pieces and throws it away, measures that server alone with a raw
socket client first, then posts one file of the given size with the native
curl -F, with Debian's i386 build of curl unpacked under DIR/root (it runs
the way our 32-bit programs do: under the same emulator where the processor
is no x86) and with httpupload, and prints MB/s (10^6 bytes per second) and
the ratios. Each figure is a whole process; each program's start-up alone
(its version or help text) is measured too, and the rate after it is shown
beside: Wine's process start is most of a 256 MiB upload's time here.
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


def timed(cmd, env=None):
    """Runs cmd; answers (seconds, peak resident MiB of its process tree, output)."""
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss.name] + cmd, capture_output=True,
                                timeout=1800, env=env)
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


def i386_curl(peers_dir):
    """Debian's i386 curl unpacked under DIR/root and its environment."""
    root = os.path.join(os.path.abspath(peers_dir), "root")
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = os.path.join(root, "usr/lib/i386-linux-gnu")
    return os.path.join(root, "usr/bin/curl"), env


def curl_version(curl, env=None):
    out = subprocess.run([curl, "--version"], capture_output=True, text=True, env=env).stdout.split()
    return out[1] if len(out) > 1 else "?"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build_dir")
    ap.add_argument("--mib", type=int, default=256)
    ap.add_argument("--i386-peers", metavar="DIR")
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

    # name -> (command prefix before the file arguments, environment, start-up command)
    peers = [("curl %s native" % curl_version("curl"), ["curl", "-s"], None, ["curl", "--version"])]
    if args.i386_peers:
        curl32, env32 = i386_curl(args.i386_peers)
        peers.append(("curl %s i386 build" % curl_version(curl32, env32), [curl32, "-s"], env32, [curl32, "--version"]))

    with tempfile.TemporaryDirectory() as tmp:
        big = os.path.join(tmp, "big.bin")
        small = os.path.join(tmp, "small.bin")
        make_file(big, size)
        make_file(small, size // 8)
        mb = size / 1e6

        alone = server_alone(port, size)
        rows = []
        for name, cmd, env, startup in peers:
            start_s = timed(startup, env)[0]
            whole_s, _, out = timed(cmd + ["-F", "f=@" + big, url], env)
            assert int(out) > size, out
            rows.append((name, whole_s, start_s))
        # A first run starts Wine's services; the second is the one measured.
        up = [wine_run, uploader, "--file"]
        timed(up + ["f=Z:" + small.replace("/", "\\"), url])
        small_s, small_peak, _ = timed(up + ["f=Z:" + small.replace("/", "\\"), url])
        up_s, up_peak, out = timed(up + ["f=Z:" + big.replace("/", "\\"), url])
        assert int(out) > size, out
        up_start = timed([wine_run, uploader, "--help"])[0]

    listener.close()
    print("file: %d MiB over 127.0.0.1" % args.mib)
    print("sink server alone:        %8.1f MB/s" % (mb / alone))
    print("%-34s %12s %14s %26s" % ("", "whole process", "start-up", "after start-up"))
    print("%-34s %7.1f MB/s %11.3f s %14.1f MB/s" % ("httpupload under Wine", mb / up_s, up_start,
                                                    mb / max(up_s - up_start, 1e-6)))
    for name, whole_s, start_s in rows:
        print("%-34s %7.1f MB/s %11.3f s %14.1f MB/s   ratio httpupload / it: %.2f whole, %.2f after start-up"
              % (name, mb / whole_s, start_s, mb / max(whole_s - start_s, 1e-6), whole_s / up_s,
                 (whole_s - start_s) / max(up_s - up_start, 1e-6)))
    if not args.i386_peers:
        print("curl i386 build: not measured (--i386-peers DIR)")
    print("httpupload peak memory:   %8.1f MiB for %d MiB, %.1f MiB for %d MiB (resident, Wine and its"
          " emulator included)" % (up_peak, args.mib, small_peak, args.mib // 8))


if __name__ == "__main__":
    main()
