#!/usr/bin/env python3
"""tdsinfo_cli.py WINE_RUN TDSINFO_EXE EXECUTABLE: tdsinfo as programs drive it. Output forms agree, bad
addresses are answered without ending the batch, -r, standard input is answered while it stays open."""
import json, os, queue, subprocess, sys, threading

WINE_RUN, TOOL, EXE = sys.argv[1:4]
MODULE = "Z:" + os.path.abspath(EXE).replace("/", "\\")  # as Wine's Z: drive shows it
failures = []
check = lambda ok, what: ok or failures.append(what)

def run(args, stdin=""):
    p = subprocess.run([WINE_RUN, TOOL] + args, input=stdin.encode("latin-1"), capture_output=True, timeout=120)
    return p.returncode, p.stdout.decode("utf-8").replace("\r\n", "\n").splitlines()

def parse(form, lines):
    """(procedure, file, line, offset or None) per answer; None for an answer with an error."""
    if form == "--json":
        return [None if "error" in j else (j["procedure"], j["file"], j["line"], j["offset"])
                for j in map(json.loads, lines)]
    if form == "--addr2line":
        return [(n, fl.rsplit(":", 1)[0], int(fl.rsplit(":", 1)[1]), None) for n, fl in zip(lines[::2], lines[1::2])]
    blocks = []  # an address line, then "  key: value" lines
    for l in lines:
        if not l.startswith(" "):
            blocks.append({})
        else:
            key, value = l.strip().split(": ", 1)
            blocks[-1][key] = value
    return [(b["proc"].rsplit("+0x", 1)[0], b["file"], int(b["line"].split()[0]),
             int(b["proc"].rsplit("+0x", 1)[1], 16)) for b in blocks]

def coprocess(args, questions):
    """Writes each question and reads its answer (bounded) before the next, stdin open until the end."""
    p = subprocess.Popen([WINE_RUN, TOOL] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    lines, got = queue.Queue(), []
    threading.Thread(target=lambda: [lines.put(l.decode().rstrip("\r\n")) for l in p.stdout], daemon=True).start()
    try:
        for text, count in questions:
            p.stdin.write(text.encode() + b"\n")
            p.stdin.flush()
            got.append([lines.get(timeout=60) for _ in range(count)])
    except queue.Empty:
        got.append("no answer")
    p.stdin.close()
    return got, p.wait(timeout=60)

nm = subprocess.run(["i686-w64-mingw32-nm", "--defined-only", "-C", EXE], capture_output=True, text=True).stdout
fn = {f: int(l.split()[0], 16) for l in nm.splitlines() for f in ["FindSourceLine", "ReadNames", "Unload"]
      if " T crash::td32::TReader::%s(" % f in l}
addrs = ["0x%08X" % fn[f] for f in sorted(fn)] + ["0x%08X" % (fn["ReadNames"] + 5)]

# The default form answers each function with the offset; addr2line and JSON say the same.
ref = parse("", run(["--args", MODULE] + addrs)[1])
check([("::%s(" % f in r[0], r[1].endswith("Td32Reader.cpp"), r[3])
       for f, r in zip(sorted(fn) + ["ReadNames"], ref)] == [(True, True, o) for o in [0, 0, 0, 5]], "%r" % ref)
for form in ["--addr2line", "--json"]:
    code, lines = run([form, "--args", MODULE] + addrs)
    check(code == 0 and parse(form, lines) == [r[:3] + ((r[3],) if form == "--json" else (None,)) for r in ref],
          "%s: exit code %d, %r" % (form, code, lines))

# A bad address gets its answer, the next one still does, exit code 1. JSON gives the word back:
# quotes, backslash and control character escaped, ANSI (1252 in the test prefix) as UTF-8.
for form, word, bad in [("", "zz", ["zz (bad address: not a hexadecimal number)"]),
                        ("--tab", "123456789", ["123456789\tbad address: more than 8 hexadecimal digits"]),
                        ("--addr2line", "-1", ["?? (bad address: not a hexadecimal number)", "??:0"]),
                        ("--json", 'a"b\\c\x01\xe9', [{"address": 'a"b\\c\x01\xe9',
                                                      "error": "bad address: not a hexadecimal number"}])]:
    base = [a for a in (form, MODULE) if a]
    code, lines = run(base, "%s %s\n%s\n" % (addrs[0], word, addrs[1]))
    good = run(base + addrs[:2])[1]  # the answers either side of it
    norm = (lambda ls: list(map(json.loads, ls))) if form == "--json" else (lambda ls: ls)
    k = len(good) // 2
    check(code == 1 and len(good) > 1 and norm(lines) == norm(good[:k]) + bad + norm(good[k:]),
          "%s with %r: exit code %d, %r" % (form, word, code, lines))

# Return addresses are looked up one byte earlier and printed as given.
for args, address, inside in [([], fn["ReadNames"], True), (["-r"], fn["ReadNames"] + 1, True),
                              (["--return-addresses"], fn["ReadNames"], False)]:
    j = json.loads(run(["--json", MODULE] + args + ["0x%X" % address])[1][0])
    check(j["address"] == "0x%08X" % address and ("ReadNames" in j.get("procedure", "")) == inside and
          (not inside or j["line"] == ref[1][2]), "%s 0x%X: %r" % (args, address, j))

# Standard input is answered line by line while it stays open.
for args, questions, want, want_code in [
        (["--json", "--args", MODULE], [(addrs[0], 1), ("zz, " + addrs[1], 2)], [ref[0:1], [None] + ref[1:2]], 1),
        (["--unmangle", "--args"], [("@Foo@bar$qqrpxc", 1), (" @Foo@bar$qqrpxc", 1)],
         [["__fastcall Foo::bar(const char *)"]] * 2, 0)]:
    got, code = coprocess(args, questions)
    if args[0] == "--json":
        got = [g if g == "no answer" else parse("--json", g) for g in got]
    check(got == want and code == want_code, "%s as a coprocess: %r, exit code %r" % (args[0], got, code))

# Bad usage stays exit code 2.
usage = [["--tab", "--json", MODULE], ["-a", MODULE], ["--no-such-option", MODULE]]
check([run(args + addrs[:1])[0] for args in usage] == [2] * 3, "bad usage: exit code 2 expected")
print("\n".join(["FAIL: " + f for f in failures] + ["%d failed" % len(failures) if failures else "all passed"]))
sys.exit(1 if failures else 0)
