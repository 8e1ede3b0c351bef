#!/usr/bin/python3
"""Validates JSON documents against one of the project's JSON Schemas.

Usage: validate_json.py SCHEMA [--lines] [FILE ...]

SCHEMA is a schema file; the schemas beside it (*.schema.json) are what its relative
references reach, so nothing is fetched. Each FILE (standard input when none) is one JSON
document, or with --lines one document per line (JSON Lines, empty lines refused). The
schemas themselves are checked against their meta-schema first. Prints one line per error
("FILE:LINE: PATH: MESSAGE") and exits 1 when there is any; 2 for a schema that is not valid.
Needs Debian's python3-jsonschema (run with /usr/bin/python3).
"""

import json
import pathlib
import sys

import jsonschema


def load_schemas(schema_path):
    folder = schema_path.resolve().parent
    store = {}
    for other in sorted(folder.glob("*.schema.json")):
        with open(other, encoding="utf-8") as f:
            document = json.load(f)
        jsonschema.Draft202012Validator.check_schema(document)
        store[other.as_uri()] = document
    schema = store[schema_path.resolve().as_uri()]
    resolver = jsonschema.RefResolver(schema_path.resolve().as_uri(), schema, store=store)
    return jsonschema.Draft202012Validator(schema, resolver=resolver)


def documents(name, text, lines):
    if not lines:
        yield 1, text
        return
    for number, line in enumerate(text.split("\n"), start=1):
        if line == "" and number == text.count("\n") + 1:
            break  # after the last newline
        yield number, line


def main(argv):
    args = [a for a in argv[1:] if a != "--lines"]
    lines = "--lines" in argv[1:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        validator = load_schemas(pathlib.Path(args[0]))
    except (OSError, ValueError, KeyError, jsonschema.SchemaError) as error:
        print(f"{args[0]}: not a valid schema: {error}", file=sys.stderr)
        return 2
    errors = 0
    inputs = args[1:] or ["-"]
    for name in inputs:
        text = sys.stdin.read() if name == "-" else pathlib.Path(name).read_text(encoding="utf-8")
        for number, line in documents(name, text, lines):
            try:
                document = json.loads(line)
            except ValueError as error:
                print(f"{name}:{number}: not JSON: {error}")
                errors += 1
                continue
            for error in sorted(validator.iter_errors(document), key=lambda e: list(e.path)):
                path = "/".join(str(p) for p in error.absolute_path) or "(document)"
                print(f"{name}:{number}: {path}: {error.message}")
                errors += 1
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
