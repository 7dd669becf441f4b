"""A validator for the part of JSON Schema that docs/snapshot.schema.json
uses: $ref into $defs, anyOf, type, enum, properties, required,
additionalProperties, items, minItems, maxItems. Returns the faults found."""

TYPES = {
    "null": lambda v: v is None,
    "boolean": lambda v: isinstance(v, bool),
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
    "string": lambda v: isinstance(v, str),
    "array": lambda v: isinstance(v, list),
    "object": lambda v: isinstance(v, dict),
}
KNOWN = {"$schema", "$defs", "$ref", "title", "description", "anyOf", "type", "enum",
         "properties", "required", "additionalProperties", "items", "minItems", "maxItems"}


def faults(value, schema, root=None, at="$"):
    root = root if root is not None else schema
    unknown = set(schema) - KNOWN
    if unknown:
        return [f"{at}: the schema uses {sorted(unknown)}, which this check does not know"]
    if "$ref" in schema:
        node = root
        for part in schema["$ref"].removeprefix("#/").split("/"):
            node = node[part]
        return faults(value, node, root, at)
    if "anyOf" in schema:
        tries = [faults(value, s, root, at) for s in schema["anyOf"]]
        return [] if any(not t for t in tries) else min(tries, key=len)
    found = []
    types = schema.get("type")
    if types is not None:
        types = [types] if isinstance(types, str) else types
        if not any(TYPES[t](value) for t in types):
            return [f"{at}: {value!r:.60} is not {' or '.join(types)}"]
    if "enum" in schema and not any(value == e and type(value) is type(e)
                                    for e in schema["enum"]):
        found.append(f"{at}: {value!r} is none of {schema['enum']}")
    if isinstance(value, dict):
        props = schema.get("properties", {})
        found += [f"{at}: no {k!r}" for k in schema.get("required", []) if k not in value]
        extra = schema.get("additionalProperties", True)
        for k, v in value.items():
            if k in props:
                found += faults(v, props[k], root, f"{at}.{k}")
            elif extra is False:
                found.append(f"{at}: unexpected key {k!r}")
            elif isinstance(extra, dict):
                found += faults(v, extra, root, f"{at}.{k}")
    if isinstance(value, list):
        if len(value) < schema.get("minItems", 0) or len(value) > schema.get("maxItems", len(value)):
            found.append(f"{at}: {len(value)} items")
        for n, v in enumerate(value):
            if "items" in schema:
                found += faults(v, schema["items"], root, f"{at}[{n}]")
    return found
