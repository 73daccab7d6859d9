#!/usr/bin/env python3
"""The project's mutation run: do the native tests catch real faults?

Each mutant in mutants.txt is a one-place change of the product's portable
code of the kind a developer makes (an off-by-one bound, a dropped update, a
swapped operand). The run copies the working tree (tracked and untracked,
not ignored files) to build/mutation/tree, builds the native configuration
there once, and then for each mutant: applies it, rebuilds incrementally,
runs the native tests but the native player's end-to-end ones (stopping at
the first failure), and restores the file. A mutant is "killed" when a test fails, "survived" when all pass, and
"did not build" when the change does not compile. The last line is
"K of M mutants killed", M counting the mutants that built.

  scripts/mutation/mutate.py [--only ID[,ID...]] [--list] [--check]

Not part of the test command: a developer runs it before and after changing
tests (about a minute per mutant on two cores).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
MUTANTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mutants.txt")
WORK = os.path.join(ROOT, "build", "mutation")
TREE = os.path.join(WORK, "tree")
BUILD = os.path.join(TREE, "build", "native")


class Mutant:
    def __init__(self, ident, path, fault, old, new, line):
        self.ident, self.path, self.fault, self.old, self.new, self.line = ident, path, fault, old, new, line


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def read_mutants():
    """Blocks of 'id:', 'file:', 'fault:', 'old:', 'new:' lines, separated by
    blank lines; '#' lines are comments. In old and new, \\n stands for a
    line break, and leading blanks after the colon and one blank are kept."""
    mutants, block, start = [], {}, 0
    with open(MUTANTS) as f:
        lines = f.read().split("\n")
    for number, raw in enumerate(lines + [""], 1):
        if raw.startswith("#"):
            continue
        if not raw.strip():
            if block:
                missing = {"id", "file", "fault", "old", "new"} - block.keys()
                if missing:
                    sys.exit(f"mutants.txt:{start}: missing {', '.join(sorted(missing))}")
                mutants.append(Mutant(block["id"], block["file"], block["fault"],
                                      unescape(block["old"]), unescape(block["new"]), start))
                block = {}
            continue
        key, sep, value = raw.partition(":")
        if not sep or key not in ("id", "file", "fault", "old", "new"):
            sys.exit(f"mutants.txt:{number}: expected 'id:', 'file:', 'fault:', 'old:' or 'new:'")
        if not block:
            start = number
        block[key] = value[1:] if value.startswith(" ") else value
    seen = set()
    for m in mutants:
        if m.ident in seen:
            sys.exit(f"mutants.txt:{m.line}: id {m.ident} used twice")
        seen.add(m.ident)
    return mutants


def run(cmd, cwd, timeout=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)


def copy_tree():
    """Mirrors the working tree into TREE, leaving unchanged files untouched so
    that the copy's build stays incremental between runs."""
    files = run(["git", "ls-files", "-co", "--exclude-standard", "-z"], ROOT).stdout.split("\0")
    files = [f for f in files if f and os.path.isfile(os.path.join(ROOT, f))]
    os.makedirs(TREE, exist_ok=True)
    # Files deleted from the working tree go from the copy too (its build
    # folder aside), or the copy would still build and run them.
    keep = set(files)
    for folder, dirs, names in os.walk(TREE):
        rel_folder = os.path.relpath(folder, TREE)
        if rel_folder == "build" or rel_folder.startswith("build" + os.sep):
            dirs[:] = []
            continue
        for name in names:
            rel = os.path.normpath(os.path.join(rel_folder, name))
            if rel not in keep:
                os.remove(os.path.join(folder, name))
    for rel in files:
        src, dst = os.path.join(ROOT, rel), os.path.join(TREE, rel)
        if os.path.exists(dst):
            with open(src, "rb") as a, open(dst, "rb") as b:
                if a.read() == b.read():
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy(src, dst)  # a new time, so the build sees the change
    # Tests find the conformance movies beside the tree.
    shared = os.path.join(WORK, "shared")
    if not os.path.exists(shared) and os.path.isdir(os.path.join(ROOT, "..", "shared")):
        os.symlink(os.path.abspath(os.path.join(ROOT, "..", "shared")), shared)


def build():
    if not os.path.exists(os.path.join(BUILD, "build.ninja")):
        r = run(["cmake", "-S", TREE, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], TREE)
        if r.returncode:
            return False, r.stdout
    r = run(["cmake", "--build", BUILD, "-j", str(os.cpu_count() or 2)], TREE)
    return r.returncode == 0, r.stdout


def tests_pass():
    # The native player's screen-and-sound tests (sdl_*) take minutes each
    # under Xvfb: a run of all mutants through them would take hours.
    r = run(["ctest", "--test-dir", BUILD, "-j", str(os.cpu_count() or 2), "--stop-on-failure",
             "--timeout", "120", "-E", "^sdl_"], TREE)
    # The names after "The following tests FAILED:" (not the ones that did
    # not run), each up to its status in parentheses.
    listed = r.stdout.split("The following tests FAILED:", 1)
    failed = re.findall(r"^\s*\d+ - (.+?) \(", listed[1], re.M) if len(listed) > 1 else []
    return r.returncode == 0, failed


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--only", help="comma-separated mutant ids")
    ap.add_argument("--list", action="store_true", help="list the mutants and exit")
    ap.add_argument("--check", action="store_true",
                    help="only check that each mutant's old text is found once in the working tree")
    args = ap.parse_args()
    mutants = read_mutants()
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m.ident in wanted]
    if args.list:
        for m in mutants:
            print(f"{m.ident:20} {m.path:40} {m.fault}")
        return 0
    if args.check:
        bad = 0
        for m in mutants:
            with open(os.path.join(ROOT, m.path)) as f:
                count = f.read().count(m.old)
            if count != 1:
                bad += 1
                print(f"{m.ident}: old text found {count} times in {m.path}")
        print(f"{len(mutants) - bad} of {len(mutants)} mutants apply")
        return 1 if bad else 0

    copy_tree()
    ok, log = build()
    if not ok:
        print(log[-4000:])
        sys.exit("mutate: the unchanged tree does not build")
    ok, failed = tests_pass()
    if not ok:
        sys.exit(f"mutate: the unchanged tree fails its tests: {' '.join(failed)}")

    killed, survived, broken = [], [], []
    started = time.time()
    for n, m in enumerate(mutants, 1):
        path = os.path.join(TREE, m.path)
        with open(path) as f:
            original = f.read()
        count = original.count(m.old)
        if count != 1:
            broken.append(m)
            print(f"[{n}/{len(mutants)}] {m.ident}: old text found {count} times in {m.path}: not applied",
                  flush=True)
            continue
        with open(path, "w") as f:
            f.write(original.replace(m.old, m.new))
        try:
            ok, _ = build()
            if not ok:
                broken.append(m)
                verdict = "did not build"
            else:
                passed, failed = tests_pass()
                if passed:
                    survived.append(m)
                    verdict = "survived"
                else:
                    killed.append(m)
                    verdict = "killed by " + (failed[0] if failed else "a failing test")
        finally:
            with open(path, "w") as f:
                f.write(original)
        print(f"[{n}/{len(mutants)}] {m.ident}: {verdict}  ({m.path}: {m.fault})", flush=True)

    build()  # leave the copy's build matching the tree
    minutes = (time.time() - started) / 60
    if survived:
        print("\nSurvived:")
        for m in survived:
            print(f"  {m.ident:10} {m.path}: {m.fault}")
    if broken:
        print("\nNot applied or did not build (fix the list):")
        for m in broken:
            print(f"  {m.ident:10} {m.path}: {m.fault}")
    print(f"\n{len(killed)} killed, {len(survived)} survived, {len(broken)} did not build, in {minutes:.0f} min")
    print(f"{len(killed)} of {len(killed) + len(survived)} mutants killed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
