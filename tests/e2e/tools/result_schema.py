#!/usr/bin/env python3
"""Checks result lines against the protocol's JSON Schemas (docs/protocol/).

As a module: problems(text) lists what is wrong with every result line in a
program's standard output. As a program, --check FILE prints one verdict per
line of FILE: "ok", or its problems (the unit tests ask it this way about
their serialisers' lines).
"""

import json
import os
import re
import sys

import jsonschema

SCHEMA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "docs",
                          "protocol")
LINE = re.compile(r"\[(VX[A-Za-z]+)\](.*)")
_validators = {}


def validator(tag):
    if tag not in _validators:
        path = os.path.join(SCHEMA_DIR, f"{tag}.schema.json")
        if not os.path.exists(path):
            return None
        with open(path, encoding="utf-8") as handle:
            schema = json.load(handle)
        jsonschema.Draft202012Validator.check_schema(schema)
        _validators[tag] = jsonschema.Draft202012Validator(schema)
    return _validators[tag]


def line_problems(line):
    match = LINE.fullmatch(line)
    if not match:
        return [f"not a result line: {line!r}"]
    tag, text = match.groups()
    if (checker := validator(tag)) is None:
        return [f"no schema for the tag [{tag}]"]
    try:
        document = json.loads(text)
    except json.JSONDecodeError as error:
        return [f"[{tag}] is not followed by JSON: {error}"]
    return [f"[{tag}] {'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message}"
            for error in sorted(checker.iter_errors(document), key=lambda e: list(e.absolute_path))]


def problems(text):
    """Every line that starts like a result line ("[VX") is one and matches its schema."""
    return [problem for line in text.split("\n") if line.startswith("[VX")
            for problem in line_problems(line)]


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "--check":
        sys.exit(f"usage: {sys.argv[0]} --check FILE")
    with open(sys.argv[2], encoding="utf-8") as handle:
        verdicts = [" | ".join(line_problems(line)) or "ok"
                    for line in handle.read().split("\n")[:-1]]
    print("\n".join(verdicts))
