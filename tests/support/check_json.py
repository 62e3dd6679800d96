#!/usr/bin/env python3
"""Checks what vespanode-cli wrote against the schemas in docs/schema/.

Usage: check_json.py SCHEMA_FOLDER FILE...

Each FILE holds one JSON object (inspect --json, ports --json) or one object per line (--json
events, --record). Every object is matched to its schema by its shape: an event stream object by
its `type`, a record by its times, the others by the fields only they have. Exit 0 when every
object matches, 1 (with what is wrong, object by object) when one does not, 2 when the check
itself cannot run.
"""
import json
import pathlib
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("check_json.py: the jsonschema module is missing (Debian: python3-jsonschema; "
             "scripts/install-deps --test installs it)")

STREAM_TYPES = ("event", "box", "detail", "summary")


def load_schemas(folder):
    schemas = {}
    for path in sorted(pathlib.Path(folder).glob("*.schema.json")):
        schema = json.loads(path.read_text(encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        schemas[schema["$id"]] = schema
    return schemas


def make_validators(schemas):
    """One validator per schema, each able to follow $ref into the others."""
    try:
        # jsonschema 4.18 and later resolve references through `referencing`.
        from referencing import Registry, Resource
        registry = Registry().with_resources(
            (id_, Resource.from_contents(schema)) for id_, schema in schemas.items())
        return {id_: jsonschema.Draft202012Validator(schema, registry=registry)
                for id_, schema in schemas.items()}
    except ImportError:
        return {id_: jsonschema.Draft202012Validator(
                    schema, resolver=jsonschema.RefResolver(id_, schema, store=schemas))
                for id_, schema in schemas.items()}


def schema_of(obj):
    if not isinstance(obj, dict):
        return None
    if obj.get("type") in STREAM_TYPES:
        return obj["type"] + ".schema.json"
    if "start" in obj and "result" in obj:
        return "record.schema.json"
    if ("fileSize" in obj and "regions" in obj) or ("sound" in obj and "failure" in obj):
        return "inspect.schema.json"
    if "sources" in obj and "failureKinds" in obj:
        return "report.schema.json"
    if "comNames" in obj or "com_names" in obj:
        return "ports.schema.json"
    return None


def objects_in(text):
    """(line number, object or the text that did not parse) for each object the text holds."""
    try:
        yield 1, json.loads(text)
        return
    except ValueError:
        pass
    for number, line in enumerate(text.splitlines(), 1):
        try:
            yield number, json.loads(line)
        except ValueError:
            yield number, line


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    validators = make_validators(load_schemas(argv[1]))
    problems = 0
    checked = 0
    for name in argv[2:]:
        text = pathlib.Path(name).read_text(encoding="utf-8")
        if not text.strip():
            continue
        for number, obj in objects_in(text):
            where = f"{name}:{number}"
            schema = schema_of(obj)
            if schema is None:
                print(f"{where}: no schema fits this: {str(obj)[:200]}")
                problems += 1
                continue
            checked += 1
            errors = list(validators[schema].iter_errors(obj))
            for error in errors:
                path = "/".join(str(part) for part in error.absolute_path) or "(the object)"
                print(f"{where}: {schema}: {path}: {error.message}")
            if errors:
                print(f"{where}: the object: {json.dumps(obj)[:600]}")
                problems += len(errors)
    if problems:
        return 1
    if checked == 0:
        print("check_json.py: no object to check")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
