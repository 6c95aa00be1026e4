#!/usr/bin/env python3
"""Checks a JSON document against a JSON Schema.

Covers the part of JSON Schema (draft 7) that kelvarin-cli's schemas use:
type, const, enum, properties, required, additionalProperties, items,
minimum, maximum, pattern and local $ref.  A keyword it does not know is an
error, so a schema cannot silently check less than it says.

Usage: json_schema_check.py SCHEMA DOCUMENT   (DOCUMENT "-" reads stdin)
Exit status 0 when the document is valid, 1 with the reasons otherwise.
"""
import json
import re
import sys

KNOWN = {"$schema", "$id", "title", "description", "definitions", "type", "const", "enum",
         "properties", "required", "additionalProperties", "items", "minimum", "maximum",
         "pattern", "$ref"}

TYPES = {
    "object": lambda v: isinstance(v, dict),
    "array": lambda v: isinstance(v, list),
    "string": lambda v: isinstance(v, str),
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
    "boolean": lambda v: isinstance(v, bool),
    "null": lambda v: v is None,
}


def resolve(root, ref):
    if not ref.startswith("#/"):
        raise ValueError("only local references are supported: " + ref)
    node = root
    for part in ref[2:].split("/"):
        node = node[part]
    return node


def check(root, schema, value, path, errors):
    unknown = set(schema) - KNOWN
    if unknown:
        errors.append("%s: schema uses unsupported keywords %s" % (path, sorted(unknown)))
    if "$ref" in schema:
        check(root, resolve(root, schema["$ref"]), value, path, errors)
    if "type" in schema:
        types = schema["type"] if isinstance(schema["type"], list) else [schema["type"]]
        if not any(TYPES[t](value) for t in types):
            errors.append("%s: %r is not of type %s" % (path, value, "/".join(types)))
            return
    if "const" in schema and value != schema["const"]:
        errors.append("%s: %r is not %r" % (path, value, schema["const"]))
    if "enum" in schema and value not in schema["enum"]:
        errors.append("%s: %r is not one of %r" % (path, value, schema["enum"]))
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        if "minimum" in schema and value < schema["minimum"]:
            errors.append("%s: %r is below %r" % (path, value, schema["minimum"]))
        if "maximum" in schema and value > schema["maximum"]:
            errors.append("%s: %r is above %r" % (path, value, schema["maximum"]))
    if isinstance(value, str) and "pattern" in schema:
        if not re.search(schema["pattern"], value):
            errors.append("%s: %r does not match %s" % (path, value, schema["pattern"]))
    if isinstance(value, dict):
        props = schema.get("properties", {})
        for name in schema.get("required", []):
            if name not in value:
                errors.append("%s: member %r is missing" % (path, name))
        for name, member in value.items():
            if name in props:
                check(root, props[name], member, path + "." + name, errors)
            elif schema.get("additionalProperties", True) is False:
                errors.append("%s: member %r is not in the schema" % (path, name))
    if isinstance(value, list) and "items" in schema:
        for i, item in enumerate(value):
            check(root, schema["items"], item, "%s[%d]" % (path, i), errors)


def validate(schema, document):
    errors = []
    check(schema, schema, document, "$", errors)
    return errors


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    text = sys.stdin.read() if argv[2] == "-" else open(argv[2], encoding="utf-8").read()
    try:
        document = json.loads(text)
    except ValueError as e:
        print("not JSON: %s" % e)
        return 1
    errors = validate(schema, document)
    for e in errors:
        print(e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
