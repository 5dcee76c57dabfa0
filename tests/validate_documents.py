#!/usr/bin/env python3
"""Validates kolvane's JSON documents against docs/kolvane-run.schema.json.

  validate_documents.py SCHEMA DOCUMENT...   each document must be valid
  validate_documents.py --planted SCHEMA DOCUMENT
      the document must be valid, and each fault planted in a copy of it (a renamed key, a value
      out of its range, ...) must be refused: the schema can fail, and fails where it should.

Every refusal is printed as "DOCUMENT: /pointer: why". Exit status 0: as expected; 1: not;
2: wrong use; 77: python3-jsonschema is not installed (nothing validated).
"""

import copy
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed")
    sys.exit(77)


def validator(schema_path):
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    cls = jsonschema.validators.validator_for(schema)
    cls.check_schema(schema)
    return cls(schema)


def refusals(check, name, document):
    found = []
    for error in sorted(check.iter_errors(document), key=lambda e: list(e.absolute_path)):
        pointer = "".join("/" + str(part) for part in error.absolute_path)
        found.append(f"{name}: {pointer or '/'}: {error.message}")
    return found


def load(name):
    with open(name, "rb") as f:
        return json.loads(f.read().decode("utf-8"))


def rename(obj, old, new):
    obj[new] = obj.pop(old)


def first_direction(doc):
    return next(iter(doc["directions"].values()))


# Each fault: what it is, and how to plant it in a copy of the document (a run with a read or
# write direction whose latencies were taken, and the origin members).
PLANTED = [
    ("a top-level key renamed", lambda d: rename(d, "interrupted", "stopped")),
    ("a settings key renamed", lambda d: rename(d["settings"], "ibs", "input_bs")),
    ("a latency key renamed",
     lambda d: rename(first_direction(d)["latency_ns"], "p99_9", "p99.9")),
    ("a direction renamed",
     lambda d: rename(d["directions"], next(iter(d["directions"])), "sideways")),
    ("format version 1", lambda d: d.__setitem__("format_version", 1)),
    ("another program", lambda d: d.__setitem__("program", "other")),
    ("a bucket without its count",
     lambda d: first_direction(d)["latency_ns"]["buckets"][0].pop()),
    ("a bucket with a fourth number",
     lambda d: first_direction(d)["latency_ns"]["buckets"][0].append(1)),
    ("a percentile with a fraction", lambda d: first_direction(d)["latency_ns"].update(p50=1.5)),
    ("a percentile null beside a count", lambda d: first_direction(d)["latency_ns"].update(p99=None)),
    ("a negative count", lambda d: d["records"]["in"].update(full=-1)),
    ("a signal that does not stop a run",
     lambda d: d.update(interrupted=True, signal="SIGKILL")),
    ("an arrival law that is not one", lambda d: d["settings"].update(rate=10, arrivals="bursty")),
    ("the origin without its host", lambda d: d.pop("host")),
    ("a start time without milliseconds",
     lambda d: d.update(start_time="2026-12-09T13:50:03Z")),
    ("iodepth past its bound", lambda d: d["settings"].update(iodepth=4097)),
    ("a required member taken away", lambda d: d.pop("exit_status")),
]


def planted(check, name):
    document = load(name)
    failures = refusals(check, name, document)
    for what, plant in PLANTED:
        broken = copy.deepcopy(document)
        plant(broken)
        found = refusals(check, f"{name} with {what}", broken)
        if not found:
            failures.append(f"{name} with {what}: accepted")
        for line in found:
            print("refused as it should be: " + line)
    return failures


def main(argv):
    if len(argv) >= 3 and argv[0] == "--planted":
        check = validator(argv[1])
        failures = [line for name in argv[2:] for line in planted(check, name)]
    elif len(argv) >= 2 and not argv[0].startswith("--"):
        check = validator(argv[0])
        failures = []
        for name in argv[1:]:
            try:
                failures += refusals(check, name, load(name))
            except (OSError, UnicodeDecodeError, ValueError) as e:
                failures.append(f"{name}: not a JSON document: {e}")
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for line in failures:
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
