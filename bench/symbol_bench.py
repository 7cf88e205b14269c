#!/usr/bin/env python3
"""Symbol lookup rate of tdsinfo (under Wine) against llvm-symbolizer.

    symbol_bench.py WINE_RUN TDSINFO_EXE EXECUTABLE [N] [--i386-peers DIR]

N addresses (10,000 unless given) spread over the executable's code are
looked up by tdsinfo from the TD32 information and by llvm-symbolizer from
the DWARF of the same build, each as a whole process, and the rates and
ratios are printed; with --i386-peers, also by Debian's i386 build of
llvm-symbolizer unpacked under DIR/root, which runs the way our 32-bit
programs do (under the same emulator where the processor is no x86).
"""
import os
import random
import re
import subprocess
import sys
import time


def windows_path(path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def i386_peer(peers_dir, relative):
    """A peer from Debian's i386 packages unpacked under DIR/root, with the
    environment that finds its libraries; (None, None) without DIR."""
    if not peers_dir:
        return None, None
    root = os.path.join(os.path.abspath(peers_dir), "root")
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = os.path.join(root, "usr/lib/i386-linux-gnu") + ":" + os.path.join(root, "usr/lib/llvm-14/lib")
    return os.path.join(root, relative), env


def whole_process(cmd, inp, env=None):
    """Seconds for one run of cmd with inp on its standard input, start to end
    (exit code 1 is tdsinfo's "some address had no answer")."""
    t0 = time.perf_counter()
    proc = subprocess.run(cmd, input=inp, capture_output=True, text=True, env=env)
    if proc.returncode not in (0, 1):
        sys.exit("failed (%d): %s\n%s" % (proc.returncode, " ".join(cmd), proc.stderr))
    return time.perf_counter() - t0


def peer_version(cmd, env=None):
    out = subprocess.run(cmd + ["--version"], capture_output=True, text=True, env=env).stdout
    m = re.search(r"LLVM version (\S+)", out)
    return m.group(1) if m else out.strip().splitlines()[0] if out.strip() else "?"


def bench(wine_run, tool, exe, n, peers_dir):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-h", exe], capture_output=True, text=True, check=True).stdout
    m = re.search(r"\.text\s+([0-9a-f]+)\s+([0-9a-f]+)", out)
    size, start = int(m.group(1), 16), int(m.group(2), 16)
    rng = random.Random(42)
    addrs = sorted(start + rng.randrange(size) for _ in range(n))
    inp = "".join("0x%08X\n" % a for a in addrs)
    llvm_args = ["--obj=" + exe, "--inlining", "--functions=linkage", "--demangle"]

    # Every side runs as a whole process on the same addresses: loading,
    # lookups (unit or function, file, line, unmangled name) and answers.
    ours_cmd = [wine_run, tool, "--tab", windows_path(exe)]
    whole_process(ours_cmd, inp)  # the first run starts Wine's services
    ours_s = whole_process(ours_cmd, inp)
    native_s = whole_process(["llvm-symbolizer"] + llvm_args, inp)
    sym32, env32 = i386_peer(peers_dir, "usr/lib/llvm-14/bin/llvm-symbolizer")
    i386_s = whole_process([sym32] + llvm_args, inp, env32) if sym32 else None

    res = subprocess.run([wine_run, tool, "--bench", windows_path(exe)], input=inp, capture_output=True, text=True)
    print(res.stdout.strip())
    stats = subprocess.run([wine_run, tool, "--stats", windows_path(exe)], capture_output=True, text=True).stdout
    print(stats.strip())
    print("%d addresses, whole process each (loading included), lookups per second:" % n)
    print("  tdsinfo under Wine:                 %8.0f" % (n / ours_s))
    print("  llvm-symbolizer %-6s native:       %8.0f   ratio tdsinfo / it: %.2f"
          % (peer_version(["llvm-symbolizer"]), n / native_s, native_s / ours_s))
    if i386_s:
        print("  llvm-symbolizer %-6s i386 build:   %8.0f   ratio tdsinfo / it: %.2f"
              % (peer_version([sym32], env32), n / i386_s, i386_s / ours_s))
    else:
        print("  llvm-symbolizer i386 build: not measured (--i386-peers DIR)")
    return 0


def main():
    args = [a for a in sys.argv[1:]]
    peers = None
    if "--i386-peers" in args:
        at = args.index("--i386-peers")
        peers = args[at + 1]
        del args[at:at + 2]
    wine_run, tool, exe = args[:3]
    n = int(args[3]) if len(args) > 3 else 10000
    return bench(wine_run, tool, exe, n, peers)


if __name__ == "__main__":
    sys.exit(main())
