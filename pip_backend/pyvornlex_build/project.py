"""The [project] table of pyproject.toml, and the core metadata made from it."""

import json
import os
import re

try:
    import tomllib
except ImportError:  # Python 3.10 has no TOML reader of its own
    tomllib = None

# The reader below understands just what pyproject.toml uses: table headers,
# comments and `key = value` lines whose value is a JSON-compatible string or
# array of strings on one line, or an inline table of such strings.
_TABLE = re.compile(r"^\[([A-Za-z0-9_.-]+)\]$")
_PAIR = re.compile(r"^([A-Za-z0-9_-]+)\s*=\s*(.+)$")
_INLINE_TABLE = re.compile(r"^\{(.*)\}$")


def _value(text, where):
    inline = _INLINE_TABLE.match(text)
    if inline:
        table = {}
        for item in filter(None, (part.strip() for part in inline.group(1).split(","))):
            key, _, value = item.partition("=")
            table[key.strip()] = _value(value.strip(), where)
        return table
    try:
        return json.loads(text)
    except ValueError:
        raise ValueError("%s: the build backend reads only strings, arrays of strings "
                         "and inline tables of strings on one line" % where) from None


def _read_simple_toml(text, path):
    document, table = {}, None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        header = _TABLE.match(line)
        if header:
            table = document.setdefault(header.group(1), {})
            continue
        pair = _PAIR.match(line)
        if pair is None or table is None:
            raise ValueError("%s, line %d: not understood by the build backend" % (path, number))
        table[pair.group(1)] = _value(pair.group(2), "%s, line %d" % (path, number))
    return document


def read_project(source_dir):
    """The [project] table as a dict."""
    path = os.path.join(source_dir, "pyproject.toml")
    with open(path, "rb") as handle:
        data = handle.read()
    if tomllib is not None:
        return tomllib.loads(data.decode("utf-8"))["project"]
    return _read_simple_toml(data.decode("utf-8"), path)["project"]


def distribution_name(project):
    """The name as file names spell it (PEP 427): runs of -_. become one _."""
    return re.sub(r"[-_.]+", "_", project["name"]).lower()


def core_metadata(project, source_dir):
    """The METADATA (wheel) or PKG-INFO (sdist) text, version 2.1."""
    lines = [
        "Metadata-Version: 2.1",
        "Name: %s" % project["name"],
        "Version: %s" % project["version"],
    ]
    if "description" in project:
        lines.append("Summary: %s" % project["description"])
    if "requires-python" in project:
        lines.append("Requires-Python: %s" % project["requires-python"])
    for classifier in project.get("classifiers", []):
        lines.append("Classifier: %s" % classifier)
    for url_name, url in project.get("urls", {}).items():
        lines.append("Project-URL: %s, %s" % (url_name, url))
    body = ""
    readme = project.get("readme")
    if readme:
        lines.append("Description-Content-Type: text/markdown")
        with open(os.path.join(source_dir, readme), encoding="utf-8") as handle:
            body = handle.read()
    return "\n".join(lines) + "\n\n" + body
