#!/usr/bin/env python3
"""Times quillmar-link against peers doing the same work, in one run.

Runs are alternated (ours, peer, ours, peer, ...) with a warm page cache, and
the median of the per-pair ratios is reported together with min and max.
Peak memory comes from /usr/bin/time -v, system calls from strace -c.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def make_tree(root, count, size, seed):
    os.makedirs(root)
    block = bytes((i * 31 + seed) & 0xFF for i in range(65536))
    for i in range(count):
        with open(os.path.join(root, "doc%04d.bin" % i), "wb") as out:
            left = size
            while left:
                chunk = block[: min(left, len(block))]
                out.write(chunk)
                left -= len(chunk)


def timed(command, output, shell=False):
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    subprocess.run(command, shell=shell, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def compare(name, ours, peers, output, rounds):
    """ours: argv; peers: {label: shell command}. Prints median ratios."""
    for _ in range(2):  # warm the page cache and the binaries
        timed(ours, output)
        for command in peers.values():
            timed(command, output, shell=True)
    ratios = {label: [] for label in peers}
    ours_times = []
    for _ in range(rounds):
        for label, command in peers.items():
            t_ours = timed(ours, output)
            t_peer = timed(command, output, shell=True)
            ours_times.append(t_ours)
            ratios[label].append(t_ours / t_peer)
    print("%s: ours median %.1f ms" % (name, 1000 * statistics.median(ours_times)))
    results = {}
    for label, values in ratios.items():
        med = statistics.median(values)
        results[label] = med
        print("  vs %-28s ratio median %.3f  (min %.3f, max %.3f, %d pairs)"
              % (label, med, min(values), max(values), len(values)))
    return results


def peak_memory_kib(command):
    result = subprocess.run(["/usr/bin/time", "-v"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True)
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
    return int(match.group(1))


def syscall_counts(command, workdir):
    """{system call name: calls}, with "total" among them, from strace -c."""
    trace = os.path.join(workdir, "strace.txt")
    subprocess.run(["strace", "-f", "-c", "-o", trace] + command, stdout=subprocess.DEVNULL, check=True)
    counts = {}
    with open(trace) as lines:
        for line in lines:
            fields = line.split()
            if len(fields) < 5 or not re.fullmatch(r"[\d.]+", fields[0]):
                continue
            # % time, seconds, usecs/call, calls, [errors,] name
            counts[fields[-1]] = int(fields[3])
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--linker", required=True)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--large-mib", type=int, default=96)
    args = parser.parse_args()
    linker = os.path.abspath(args.linker)

    work = tempfile.mkdtemp(prefix="quillmar-bench-")
    try:
        large = os.path.join(work, "large")
        small = os.path.join(work, "small")
        one = os.path.join(work, "one")
        most = os.path.join(work, "most")
        make_tree(large, 4, args.large_mib * MIB, 1)
        make_tree(small, 1000, 16 * 1024, 2)
        make_tree(one, 1, 16 * 1024, 3)
        make_tree(most, 1023, 16 * 1024, 4)
        out = os.path.join(work, "out.bin")
        files = " ".join(sorted(os.path.join(large, n) for n in os.listdir(large)))

        print("machine: %s, %d cores" % (os.uname().release, os.cpu_count()))
        compare("large documents (4 x %d MiB)" % args.large_mib, [linker, large, out],
                {"cat files >> out": "cat %s >> %s" % (files, out),
                 "cat files > out (kernel copy)": "cat %s > %s" % (files, out)},
                out, args.rounds)
        compare("small documents (1000 x 16 KiB)", [linker, small, out],
                {"tar -cf": "tar -cf %s -C %s ." % (out, small)}, out, args.rounds)

        for label, tree in (("1 document", one), ("1023 documents", most)):
            if os.path.exists(out):
                os.remove(out)
            print("peak memory, %s: %d KiB" % (label, peak_memory_kib([linker, tree, out])))

        if shutil.which("strace"):
            counts = {}
            for label, tree in (("one", one), ("small", small)):
                if os.path.exists(out):
                    os.remove(out)
                counts[label] = syscall_counts([linker, tree, out], work)
            per_document = {name: (counts["small"].get(name, 0) - counts["one"].get(name, 0)) / 999
                            for name in counts["small"]}
            print("system calls: %d for 1 document, %d for 1000 documents: %.2f per extra document"
                  % (counts["one"]["total"], counts["small"]["total"], per_document.pop("total")))
            print("  " + ", ".join("%s %.2f" % (name, value)
                                   for name, value in sorted(per_document.items(), key=lambda kv: -kv[1])
                                   if value >= 0.005))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
