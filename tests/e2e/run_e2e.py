#!/usr/bin/env python3
"""Runs one group of end-to-end journeys (or every group) against the built kestrova.exe.

    run_e2e.py GROUP...     the groups of journeys.py; "all" for every group
Exit status 0 when every journey passed."""

import sys

from harness import Suite, log
from journeys import GROUPS


def main(argv):
    groups = list(GROUPS) if argv in ([], ["all"]) else argv
    unknown = [g for g in groups if g not in GROUPS]
    if unknown:
        print(f"unknown group(s) {unknown}; groups: {', '.join(GROUPS)}", file=sys.stderr)
        return 2
    failures = []
    for group in groups:
        with Suite(group) as suite:
            for name, function in GROUPS[group]:
                suite.run(name, function)
            failures += suite.failures
    if failures:
        log(f"\n{len(failures)} journey(s) failed:")
        for failure in failures:
            log(f"  {failure}")
        return 1
    log("every journey passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
