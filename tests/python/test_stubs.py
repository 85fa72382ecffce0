"""The type stub against the running module: the same classes, methods,
overloads (in the same order), parameters, defaults and result types."""

import ast
import os
import re
import unittest

import pyvornlex

SOURCE_DIR = os.environ.get(
    "VORN_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
STUB_FILE = os.path.join(SOURCE_DIR, "python", "pyvornlex-stubs", "__init__.pyi")

# One overload in pybind11's docstring: "name(self: pyvornlex.X, a: T = d) -> R".
SIGNATURE = re.compile(r"^(?:\d+\. )?(\w+)\((.*)\) -> (.+)$")


def split_parameters(text):
    """Splits at the commas that are not inside brackets."""
    parts, depth, start = [], 0, 0
    for i, char in enumerate(text):
        depth += char == "["
        depth -= char == "]"
        if char == "," and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    parts.append(text[start:].strip())
    return [p for p in parts if p]


def runtime_parameter(text):
    """(name or None for positional-only, annotation, default or None)."""
    name, rest = text.split(": ", 1)
    annotation, _, default = rest.partition(" = ")
    positional_only = re.fullmatch(r"arg\d+", name) is not None
    return (None if positional_only else name, annotation, default or None)


def runtime_overloads(function):
    lines = [line for line in function.__doc__.splitlines() if SIGNATURE.match(line)]
    if len(lines) > 1:
        # The first line of an overloaded docstring is "name(*args, **kwargs)".
        lines = [line for line in lines if "*args" not in line]
    overloads = []
    for line in lines:
        name, parameters, result = SIGNATURE.match(line).groups()
        self_parameter, *rest = split_parameters(parameters)
        assert self_parameter.startswith("self: pyvornlex."), line
        overloads.append(([runtime_parameter(p) for p in rest], result))
    return name, overloads


def runtime_class(cls):
    methods = {}
    for name, member in vars(cls).items():
        if callable(member) and (not name.startswith("_") or name == "__init__"):
            method_name, overloads = runtime_overloads(member)
            assert method_name == name
            methods[name] = overloads
    return methods


def stub_parameters(function):
    arguments = function.args
    assert not (arguments.vararg or arguments.kwarg or arguments.kwonlyargs), function.name
    ordered = [(a, True) for a in arguments.posonlyargs] + [(a, False) for a in arguments.args]
    defaults = [None] * (len(ordered) - len(arguments.defaults)) + list(arguments.defaults)
    (self_argument, _), *rest = ordered
    assert self_argument.arg == "self", function.name
    return [(None if positional_only else argument.arg, ast.unparse(argument.annotation),
             None if default is None else ast.unparse(default))
            for (argument, positional_only), default in zip(rest, defaults[1:])]


def is_overload(function):
    return any(ast.unparse(d) in ("overload", "typing.overload") for d in function.decorator_list)


def stub_classes():
    with open(STUB_FILE, encoding="utf-8") as handle:
        tree = ast.parse(handle.read(), STUB_FILE)
    classes = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            methods, decorated = {}, {}
            for function in node.body:
                if isinstance(function, ast.FunctionDef):
                    methods.setdefault(function.name, []).append(
                        (stub_parameters(function), ast.unparse(function.returns)))
                    decorated.setdefault(function.name, []).append(is_overload(function))
            classes[node.name] = (methods, decorated)
        elif not isinstance(node, (ast.ImportFrom, ast.Import)):
            raise AssertionError("unexpected top-level statement in the stub: %s" % ast.dump(node))
    return classes


class StubAgreesWithRuntime(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stub = stub_classes()

    def test_same_classes_as_the_module(self):
        own = {name for name in vars(pyvornlex) if not name.startswith("__")}
        self.assertEqual(set(self.stub), own)

    def test_same_methods_overloads_and_signatures(self):
        for class_name, (stub_methods, _) in self.stub.items():
            with self.subTest(cls=class_name):
                self.assertEqual(stub_methods, runtime_class(getattr(pyvornlex, class_name)))

    def test_overload_decorator_exactly_where_there_are_overloads(self):
        for class_name, (_, decorated) in self.stub.items():
            for method, flags in decorated.items():
                with self.subTest(cls=class_name, method=method):
                    self.assertEqual(flags, [len(flags) > 1] * len(flags))


class ErrorMessages(unittest.TestCase):
    def test_a_call_that_matches_no_overload_lists_the_documented_signatures(self):
        with self.assertRaises(TypeError) as caught:
            pyvornlex.BM25().encode_query(3)
        self.assertIn("1. (self: pyvornlex.BM25, arg0: list[str]) -> dict[str, float]\n"
                      "    2. (self: pyvornlex.BM25, arg0: list[int]) -> dict[int, float]",
                      str(caught.exception))


class SignatureParsing(unittest.TestCase):
    """The comparison above is only as good as the docstring reader."""

    def test_reads_an_overloaded_docstring(self):
        def sample():
            pass
        sample.__doc__ = ("sample(*args, **kwargs)\nOverloaded function.\n\n"
                          "1. sample(self: pyvornlex.BM25, arg0: list[str]) -> dict[str, float]\n\n"
                          "2. sample(self: pyvornlex.BM25, n: int = 3) -> None\n")
        self.assertEqual(runtime_overloads(sample), ("sample", [
            ([(None, "list[str]", None)], "dict[str, float]"),
            ([("n", "int", "3")], "None"),
        ]))

    def test_nested_brackets_do_not_split(self):
        self.assertEqual(split_parameters("self: X, a: dict[str, list[int]], b: float = 0.5"),
                         ["self: X", "a: dict[str, list[int]]", "b: float = 0.5"])

    def test_a_changed_stub_would_differ(self):
        function = ast.parse("def f(self, a: list[str], /, b: float = 1.0) -> None: ...").body[0]
        self.assertEqual(stub_parameters(function),
                         [(None, "list[str]", None), ("b", "float", "1.0")])


if __name__ == "__main__":
    unittest.main()
