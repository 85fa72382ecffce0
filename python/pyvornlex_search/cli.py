"""The command line: python -m pyvornlex_search {index,add,reencode,search,info}."""

from __future__ import annotations

import argparse
import sys
from typing import Sequence

from .errors import SearchToolError
from .indexing import IndexReport, add_documents, build_index, reencode
from .search import SearchIndex

__all__ = ["main"]

_EXAMPLES = """examples:
  python -m pyvornlex_search index corpus.txt corpus.db
  python -m pyvornlex_search search corpus.db "如何安装软件包"
  python -m pyvornlex_search add more.txt corpus.db
  python -m pyvornlex_search reencode corpus.db
"""


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m pyvornlex_search", epilog=_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Index a corpus (one document per line) into an SQLite database "
                    "and search it with Jieba and BM25.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    index = commands.add_parser("index", help="index a corpus into a new database")
    index.add_argument("corpus", help="a text file, one document per line, or a folder of them")
    index.add_argument("database", help="the database to create (must not exist)")
    index.add_argument("--b", type=float, default=0.75, help="BM25 b (default 0.75)")
    index.add_argument("--k1", type=float, default=1.2, help="BM25 k1 (default 1.2)")
    add = commands.add_parser("add", help="add a corpus's documents to a database")
    add.add_argument("corpus")
    add.add_argument("database")
    again = commands.add_parser("reencode",
                                help="encode every document again with the current model")
    again.add_argument("database")
    search = commands.add_parser("search", help="print the best documents for a query")
    search.add_argument("database")
    search.add_argument("query")
    search.add_argument("-k", type=int, default=10, help="how many documents (default 10)")
    info = commands.add_parser("info", help="print what a database holds")
    info.add_argument("database")
    return parser


def _print_report(action: str, report: IndexReport) -> None:
    last = report.first_doc + report.documents - 1
    print(f"{action} {report.documents} documents (numbers {report.first_doc} to {last}), "
          f"{report.postings} postings, in {report.seconds:.2f} s, into {report.database}")
    if report.not_utf8:
        shown = ", ".join(f"{path}:{line}" for path, line in report.not_utf8[:5])
        more = " ..." if len(report.not_utf8) > 5 else ""
        print(f"skipped {len(report.not_utf8)} lines that are not UTF-8: {shown}{more}")
    if report.blank_lines or report.wordless_lines:
        print(f"skipped {report.blank_lines} blank lines and {report.wordless_lines} lines "
              "without a searchable word")


def _run(arguments: argparse.Namespace) -> None:
    if arguments.command == "index":
        _print_report("indexed", build_index(arguments.corpus, arguments.database,
                                             b=arguments.b, k1=arguments.k1))
    elif arguments.command == "add":
        _print_report("added", add_documents(arguments.corpus, arguments.database))
        with SearchIndex(arguments.database) as index:
            stale = index.stale_documents()
        if stale:
            print(f"{stale} documents stored before keep weights of the old average length; "
                  f"'python -m pyvornlex_search reencode {arguments.database}' refreshes them")
    elif arguments.command == "reencode":
        _print_report("re-encoded", reencode(arguments.database))
    elif arguments.command == "search":
        with SearchIndex(arguments.database) as index:
            hits = index.search(arguments.query, arguments.k)
        if not hits:
            print("no document holds a word of the query")
        for rank, hit in enumerate(hits, 1):
            print(f"{rank:>3}. {hit.score:.6f}  doc {hit.doc}  ({hit.source}:{hit.line})")
            print(f"     {hit.text}")
    else:
        with SearchIndex(arguments.database) as index:
            counts = index.statistics()
            stale = index.stale_documents()
        print(f"{arguments.database}: {counts['documents']} documents, {counts['words']} "
              f"words, {counts['postings']} postings; {stale} documents with stale weights")


def main(argv: Sequence[str] | None = None) -> int:
    arguments = _parser().parse_args(argv)
    if getattr(arguments, "k", 1) < 1:
        print("error: -k must be at least 1", file=sys.stderr)
        return 2
    try:
        _run(arguments)
    except SearchToolError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted: the database is as it was before", file=sys.stderr)
        return 130
    return 0
