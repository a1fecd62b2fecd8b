#!/usr/bin/python3
"""Median (min..max) per config, and this server's same-rep ratios against the peer and floor."""
import collections, json, statistics, sys

rows = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
by = collections.defaultdict(dict)
for r in rows:
    by[r["name"]][r["rep"]] = r


def fmt(vals, p=0):
    return "%.*f (%.*f..%.*f)" % (p, statistics.median(vals), p, min(vals), p, max(vals))


print("| config | req/s | p50 ms | p99 ms | server CPU | non-2xx |")
print("|---|---|---|---|---|---|")
for name, reps in by.items():
    rs = list(reps.values())
    print("| %s | %s | %s | %s | %s | %d |" % (
        name, fmt([r["rps"] for r in rs]), fmt([r["p50_ms"] for r in rs], 2),
        fmt([r["p99_ms"] for r in rs], 2), fmt([r["server_cpu"] for r in rs], 2),
        sum(r["err_status"] for r in rs)))

print("\n| ratio of req/s (same rep) | median (min..max) | target |")
print("|---|---|---|")
# The floors are the targets; the tornado ratios move with the machine's loopback speed.
for ours, other, target in [("nuvex_post10", "floor_post10", ">= 0.8"),
                            ("nuvex_post200", "floor_post200", ">= 0.85"),
                            ("nuvex_get200", "floor_get200", ">= 0.9"),
                            ("nuvex_post10", "tornado_post10", "reported"),
                            ("nuvex_post200", "tornado_post200", "reported"),
                            ("nuvex_get200", "tornado_get200", "reported")]:
    common = sorted(set(by[ours]) & set(by[other]))
    if common:
        ratios = [by[ours][k]["rps"] / by[other][k]["rps"] for k in common]
        print("| %s / %s | %s | %s |" % (ours, other, fmt(ratios, 2), target))
