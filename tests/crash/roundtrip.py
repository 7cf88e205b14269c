#!/usr/bin/env python3
"""Round trip of the debug information: for every function of a test
executable, the TD32 answer of tdsinfo (file, line, procedure) must agree with
LLVM's reading of the DWARF of the same build.

    roundtrip.py WINE_RUN TDSINFO_EXE EXECUTABLE

Function addresses come from the executable's symbol table; LLVM's answers
from llvm-symbolizer (the DWARF library behind llvm-dwarfdump --lookup), ours
from one run of tdsinfo under Wine.
"""
import os
import re
import subprocess
import sys


def text_symbols(exe):
    """Function addresses, and the demangled names of each address."""
    out = subprocess.run(["i686-w64-mingw32-nm", "--defined-only", "-C", exe], capture_output=True, text=True,
                         check=True).stdout
    names = {}
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in "Tt":
            names.setdefault(int(parts[0], 16), []).append(parts[2])
    return sorted(names), names


def llvm_answers(exe, addrs):
    """address -> (file, line, outermost function) from llvm-symbolizer."""
    inp = "".join("0x%x\n" % a for a in addrs)
    out = subprocess.run(["llvm-symbolizer", "--obj=" + exe, "--inlining", "--functions=linkage", "--demangle"],
                         input=inp, capture_output=True, text=True, check=True).stdout
    blocks = out.strip("\n").split("\n\n")
    # Linkage names are demangled here, the same way for every symbol.
    names = [b.splitlines()[-2] if len(b.splitlines()) >= 2 else "" for b in blocks]
    demangled = subprocess.run(["c++filt"], input="\n".join(names) + "\n", capture_output=True, text=True,
                               check=True).stdout.splitlines()
    plain = dict(zip(names, (re.sub(r" \[clone [^]]*\]", "", d) for d in demangled)))
    result = {}
    for addr, block in zip(addrs, blocks):
        lines = block.splitlines()
        frames = [(lines[i], lines[i + 1]) for i in range(0, len(lines) - 1, 2)]
        if not frames or frames[0][1].startswith("??"):
            continue
        loc = frames[0][1].rsplit(":", 2)
        result[addr] = (loc[0], int(loc[1]), plain.get(frames[-1][0], frames[-1][0]))
    return result


def windows_path(path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def our_answers(wine_run, tool, exe, addrs):
    inp = "".join("0x%08X\n" % a for a in addrs)
    proc = subprocess.run([wine_run, tool, "--tab", "--args", windows_path(exe)], input=inp, capture_output=True,
                          text=True)
    result = {}
    for line in proc.stdout.splitlines():
        f = line.rstrip("\r").split("\t")
        if len(f) != 6:
            continue
        result[int(f[0], 16)] = (f[2], int(f[3]) if f[3] else 0, f[5])
    return result


def qualified(name):
    """The qualified name without argument list, return type or qualifiers."""
    name = re.sub(r"\[abi:[^]]*\]", "", name.strip())
    name = re.sub(r"\boperator (?=\W)", "operator", name)
    name = re.sub(r"\s+(const|volatile|&|&&)$", "", name)
    depth, cut = 0, len(name)
    for i in range(len(name) - 1, -1, -1):  # the argument list is the last top-level (...)
        c = name[i]
        if c == ")":
            depth += 1
        elif c == "(":
            depth -= 1
            if depth == 0:
                cut = i
                break
    name = name[:cut] if name.endswith(")") else name
    if name.endswith("operator"):
        name += "()"
    # A return type before the name (template functions): the last top-level blank.
    depth = 0
    for i in range(len(name) - 1, -1, -1):
        c = name[i]
        if c in ">)":
            depth += 1
        elif c in "<(":
            depth -= 1
        elif c == " " and depth == 0 and not name[:i].endswith("operator"):
            name = name[i + 1:]
            break
    return name.replace("> >", ">>")


def plain(name):
    """A name without template arguments, clone suffixes and ABI tags, for
    comparing spellings that differ only there."""
    name = re.sub(r"(\.(isra|part|constprop|cold)(\.\d+)?)+", "", name)
    name = re.sub(r"\[abi:[^]]*\]", "", name)
    out, depth, i = [], 0, 0
    while i < len(name):
        c = name[i]
        if name.startswith("operator", i) and depth == 0:
            j = i + 8
            while j < len(name) and name[j] in "<>=-":
                j += 1
            out.append(name[i:j])
            i = j
            continue
        if c == "<":
            depth += 1
        elif c == ">" and depth:
            depth -= 1
        elif depth == 0:
            out.append(c)
        i += 1
    return "".join(out)


def same_procedure(ours, llvm, aliases):
    if llvm.startswith("_Z"):
        return True  # LLVM could not demangle it either
    if "<lambda>" in ours and "{lambda" in llvm:
        return True  # a lambda's closure has no name in the DWARF
    o = plain(qualified(ours))
    for candidate in [llvm] + aliases:
        l = plain(qualified(candidate))
        if base_name(o) == base_name(l):
            return True
        # An inherited constructor: ours names the class, LLVM the base class.
        if o.rsplit("::", 1)[0] == l.rsplit("::", 1)[0] and o.endswith("::" + base_name(o.rsplit("::", 1)[0])):
            return True
        # Names cut at 255 bytes: what is left must begin the full name.
        if len(ours) == 255 and l.startswith(o[:-40] if len(o) > 60 else o):
            return True
    return False


def base_name(q):
    depth = 0
    for i in range(len(q) - 1, 0, -1):
        c = q[i]
        if c == ">":
            depth += 1
        elif c == "<":
            depth -= 1
        elif c == ":" and q[i - 1] == ":" and depth == 0:
            return q[i + 1:]
    return q


def compare(llvm, ours, aliases):
    checked = file_bad = line_bad = proc_bad = qual_diff = 0
    base_name_only = 0
    problems = []
    for addr, (lfile, lline, lfunc) in sorted(llvm.items()):
        if addr not in ours:
            problems.append("0x%08X: no answer from tdsinfo" % addr)
            continue
        ofile, oline, ofunc = ours[addr]
        checked += 1
        if lline != 0 or oline != 0:
            if ofile.replace("\\", "/").split("/")[-1] != lfile.split("/")[-1] or not lfile.replace("/", "\\").endswith(
                    ofile.lstrip(".")):
                file_bad += 1
                problems.append("0x%08X: file %s, LLVM %s" % (addr, ofile, lfile))
            if oline != lline:
                line_bad += 1
                problems.append("0x%08X: line %d, LLVM %d" % (addr, oline, lline))
        lq, oq = qualified(lfunc), qualified(ofunc)
        same = same_procedure(ofunc, lfunc, aliases.get(addr, []))
        if not same:
            proc_bad += 1
            problems.append("0x%08X: procedure %r, LLVM %r" % (addr, ofunc, lfunc))
        elif lq != oq:
            qual_diff += 1  # same function, scopes spelt differently (lambdas, template arguments)
    return checked, file_bad, line_bad, proc_bad, qual_diff, problems


def main():
    wine_run, tool, exe = sys.argv[1:4]
    addrs, aliases = text_symbols(exe)
    llvm = llvm_answers(exe, addrs)
    ours = our_answers(wine_run, tool, exe, sorted(llvm))
    checked, file_bad, line_bad, proc_bad, qual_diff, problems = compare(llvm, ours, {a: n for a, n in aliases.items() if len(n) > 1})
    for p in problems[:40]:
        print(p)
    print("functions with DWARF: %d, checked: %d, file mismatches: %d, line mismatches: %d, "
          "procedure mismatches: %d, scope spelt differently: %d" % (len(llvm), checked, file_bad, line_bad, proc_bad,
                                                                     qual_diff))
    failed = file_bad + line_bad + proc_bad + (len(llvm) - checked)
    # Every function counts once: passed when file, line and procedure agree.
    bad = len({p.split(":")[0] for p in problems})
    print("%d passed, %d failed" % (len(llvm) - bad, bad))
    return 0 if checked > 100 and failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
