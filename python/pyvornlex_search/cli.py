"""The command line: python -m pyvornlex_search
{index,add,sync,delete,reencode,search,info,serve}.

Exit statuses: 0 done; 1 refused or failed, with one line `error: ...` on
standard error and the database as it was; 2 a wrong command line (one
`error:` line too); 130 interrupted before the change was complete, the
database as it was. Ctrl-C that comes while a change commits waits for the
commit: the command then reports the change, says so, and exits with 0."""

from __future__ import annotations

import argparse
import math
import os
import signal
import sqlite3
import sys
import threading
from typing import Callable, NoReturn, Sequence

from .analysis import Analysis
from .answers import answer_queries
from .changes import delete_documents, sync
from .corpus import SHAPES, corpus_files, database_files
from .errors import SearchToolError
from .indexing import DEFAULT_WAIT, add_documents, build_index, reencode
from .progress import ProgressLine
from .report import IndexReport
from .search import SearchIndex
from .server import DEFAULT_PORT, serve
from .transaction import CommitAware, CommittedButInterrupted

__all__ = ["main"]

_PROG = "python -m pyvornlex_search"
_EXAMPLES = f"""examples:
  {_PROG} index corpus.txt corpus.db
  {_PROG} index notes/ notes.db --documents file --user-dict my_words.txt
  {_PROG} search corpus.db "如何安装软件包"
  {_PROG} search --json corpus.db - < queries.txt
  {_PROG} serve corpus.db --port 8000
  {_PROG} sync notes/ notes.db
  {_PROG} delete notes.db --file notes/old.txt

exit statuses: 0 done; 1 refused or failed (the database as it was);
2 a wrong command line; 130 interrupted (the database as it was)
"""


class _Parser(argparse.ArgumentParser):
    """Mistakes on the command line are one `error:` line, as every other error."""

    def error(self, message: str) -> NoReturn:
        sys.stderr.write(f"error: {message} (see {self.prog} --help)\n")
        sys.exit(2)


def _number(check: Callable[[float], bool], what: str) -> Callable[[str], float]:
    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            value = math.nan
        if not (math.isfinite(value) and check(value)):
            raise argparse.ArgumentTypeError(f"must be {what}, not {text!r}")
        return value
    return parse


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be a whole number of at least 1, not {text!r}")
    return value


def _writing_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--wait", type=_number(lambda v: v >= 0, "a number of seconds"),
                        default=DEFAULT_WAIT, metavar="SECONDS",
                        help=f"how long to wait while another process writes the database "
                             f"(default {DEFAULT_WAIT:g})")
    _cutting_options(parser)


def _cutting_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--threads", type=_positive_int, default=None,
                        help="threads that cut text (default: up to 2)")
    shown = parser.add_mutually_exclusive_group()
    shown.add_argument("--quiet", action="store_true", help="no progress on standard error")
    shown.add_argument("--progress", action="store_true",
                       help="progress on standard error even when it is not a terminal")


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=_PROG, epilog=_EXAMPLES,
                     formatter_class=argparse.RawDescriptionHelpFormatter,
                     description="Index a corpus into an SQLite database and search it with "
                                 "Jieba and BM25, exactly.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND",
                                     parser_class=_Parser)
    index = commands.add_parser("index", help="index a corpus into a new database")
    index.add_argument("corpus", help="a text file, or a folder of them")
    index.add_argument("database", help="the database to create (must not exist)")
    index.add_argument("--documents", choices=SHAPES, default="line",
                       help="what a document is: each line (default), each file, or each "
                            "JSON Lines record")
    index.add_argument("--id-field", default="id", help="a record's id field (default 'id')")
    index.add_argument("--text-field", default="text",
                       help="a record's text field (default 'text')")
    index.add_argument("--encoding", default="utf-8",
                       help="the corpus's encoding (default utf-8; e.g. gb18030, which covers "
                            "GBK); UTF-16 files with a byte-order mark are read as such")
    index.add_argument("--user-dict", nargs="+", default=[], metavar="FILE",
                       help="cppjieba user dictionaries: words to keep whole")
    index.add_argument("--stop-words", default="standard", metavar="FILE|none",
                       help="words left out: 'standard' (the shipped list, default), 'none', "
                            "or a file of one word a line")
    index.add_argument("--no-fold", action="store_true",
                       help="keep case and width (default: NFKC and case folding)")
    index.add_argument("--b", type=_number(lambda v: 0 <= v <= 1, "a number from 0 to 1"),
                       default=0.75, help="BM25 b (default 0.75)")
    index.add_argument("--k1", type=_number(lambda v: v > 0, "a positive number"),
                       default=1.2, help="BM25 k1 (default 1.2)")
    _cutting_options(index)
    for name, text in (("add", "add the documents of new files to a database"),
                       ("sync", "make a database hold exactly what a file or folder holds now")):
        command = commands.add_parser(name, help=text)
        command.add_argument("corpus")
        command.add_argument("database")
        _writing_options(command)
    delete = commands.add_parser("delete", help="remove the documents of files or records")
    delete.add_argument("database")
    delete.add_argument("--file", nargs="+", default=[], metavar="PATH",
                        help="files whose documents go")
    delete.add_argument("--id", nargs="+", default=[], metavar="ID", help="records that go")
    _writing_options(delete)
    again = commands.add_parser("reencode", help="cut every document again")
    again.add_argument("database")
    again.add_argument("--use-current-files", action="store_true",
                       help="take the analysis's files (user dictionaries, stop words) as they "
                            "are now and store their new fingerprints")
    _writing_options(again)
    search = commands.add_parser("search", help="print the best documents for a query")
    search.add_argument("database")
    search.add_argument("query", help="the query, or - to answer each line of standard input")
    search.add_argument("--json", action="store_true",
                        help="print each query's answer as one line of JSON")
    search.add_argument("-k", type=_positive_int, default=10,
                        help="how many documents (default 10)")
    info = commands.add_parser("info", help="print what a database holds")
    info.add_argument("database")
    server = commands.add_parser("serve", help="serve a search page and a JSON API over HTTP")
    server.add_argument("database")
    server.add_argument("--host", default="127.0.0.1",
                        help="the address to listen on (default 127.0.0.1, this machine only)")
    server.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help=f"the port (default {DEFAULT_PORT}; 0 picks a free one)")
    server.add_argument("--workers", type=_positive_int, default=1,
                        help="processes that serve (default 1; one per core uses every core)")
    return parser


def _analysis(arguments: argparse.Namespace) -> Analysis:
    stop_words = arguments.stop_words
    if stop_words == "none":
        stop_words = None
    elif stop_words != "standard":
        stop_words = os.path.abspath(stop_words)
    return Analysis(fold=not arguments.no_fold,
                    user_dictionaries=tuple(os.path.abspath(path) for path in arguments.user_dict),
                    stop_words=stop_words)


def _progress(arguments: argparse.Namespace, action: str,
              total_bytes: int = 0, total_documents: int = 0) -> ProgressLine | None:
    if arguments.quiet or not (arguments.progress or sys.stderr.isatty()):
        return None
    return ProgressLine(action, total_bytes=total_bytes, total_documents=total_documents)


def _corpus_bytes(corpus: str, database: str) -> int:
    try:
        return sum(source.size for source in corpus_files(corpus, database_files(database)))
    except SearchToolError:
        return 0  # the run itself says what is wrong


def _print_report(action: str, report: IndexReport) -> None:
    if report.documents:
        last = report.first_doc + report.documents - 1
        print(f"{action} {report.documents} documents (numbers {report.first_doc} to {last}), "
              f"{report.postings} postings, in {report.seconds:.2f} s, into {report.database}")
    if report.removed:
        print(f"removed {report.removed} documents")
    if report.new_files or report.changed_files or report.removed_files or report.unchanged_files:
        print(f"files: {report.new_files} new, {report.changed_files} changed, "
              f"{report.removed_files} gone, {report.unchanged_files} unchanged")
    if not (report.documents or report.removed):
        print(f"nothing changed in {report.database}")
    if report.not_utf8:
        shown = ", ".join(f"{path}:{line}" if line else path
                          for path, line in report.not_utf8[:5])
        more = " ..." if len(report.not_utf8) > 5 else ""
        print(f"skipped {len(report.not_utf8)} lines or files that do not decode: {shown}{more}; "
              "if the corpus is in another encoding, index it with --encoding NAME "
              "(e.g. --encoding gb18030)")
    if report.binary_files:
        print(f"skipped {len(report.binary_files)} binary files: "
              + ", ".join(report.binary_files[:3]) + (" ..." if len(report.binary_files) > 3
                                                     else ""))
    if report.bad_records:
        path, line, why = report.bad_records[0]
        print(f"skipped {len(report.bad_records)} records that are not usable, the first "
              f"{path}:{line} ({why})")
    if report.blank_lines or report.wordless_lines:
        print(f"skipped {report.blank_lines} blank lines and {report.wordless_lines} documents "
              "without a searchable word")


_DONE = {"index": "indexed", "add": "added", "sync": "synced", "delete": "deleted",
         "reencode": "re-encoded"}


def _write(arguments: argparse.Namespace) -> IndexReport:
    """Runs a writing command; returns its report."""
    command, database = arguments.command, arguments.database
    common = {"threads": arguments.threads}
    if command == "index":
        progress = _progress(arguments, "indexed", _corpus_bytes(arguments.corpus, database))
        return _closing(progress, lambda: build_index(
            arguments.corpus, database, analysis=_analysis(arguments),
            documents=arguments.documents, id_field=arguments.id_field,
            text_field=arguments.text_field, encoding=arguments.encoding, b=arguments.b,
            k1=arguments.k1, progress=progress, **common))
    common["wait"] = arguments.wait
    if command in ("add", "sync"):
        progress = _progress(arguments, _DONE[command],
                             _corpus_bytes(arguments.corpus, database))
        run = add_documents if command == "add" else sync
        return _closing(progress, lambda: run(
            arguments.corpus, database, progress=progress, **common))
    if command == "delete":
        if not (arguments.file or arguments.id):
            raise _UsageError("delete needs --file PATH... or --id ID...")
        progress = _progress(arguments, "deleted")
        return _closing(progress, lambda: delete_documents(
            database, files=arguments.file, ids=arguments.id, progress=progress, **common))
    progress = _progress(arguments, "re-encoded", total_documents=_documents(database))
    return _closing(progress, lambda: reencode(
        database, use_current_files=arguments.use_current_files, progress=progress, **common))


def _documents(database: str) -> int:
    try:
        with SearchIndex(database) as index:
            return index.statistics()["documents"]
    except (SearchToolError, sqlite3.Error):
        return 0


def _closing(progress: ProgressLine | None, run: Callable[[], IndexReport]) -> IndexReport:
    try:
        return run()
    finally:
        if progress is not None:
            progress.close()


class _UsageError(Exception):
    pass


def _search(arguments: argparse.Namespace) -> None:
    answer_queries(arguments.database, arguments.query, arguments.k, arguments.json)


def _info(arguments: argparse.Namespace) -> None:
    with SearchIndex(arguments.database) as index:
        info = index.info()
    print(f"{arguments.database}: {info['documents']} documents from {info['files']} files, "
          f"{info['words']} words, {info['postings']} postings")
    print(f"documents: {info['documents_are']}")
    print(f"analysis: {info['analysis']}")


def main(argv: Sequence[str] | None = None) -> int:
    # The gate takes Ctrl-C before the command line is parsed, so that no
    # moment of the run is left to the interpreter's traceback.
    gate = CommitAware()
    if threading.current_thread() is not threading.main_thread():
        return _main(argv, gate)
    previous = signal.signal(signal.SIGINT, gate)
    try:
        return _main(argv, gate)
    finally:
        signal.signal(signal.SIGINT, previous)


def _main(argv: Sequence[str] | None, gate: CommitAware) -> int:
    writing = True  # until the command is known: nothing was changed either way
    try:
        arguments = _parser().parse_args(argv)
        writing = arguments.command not in ("search", "info", "serve")
        if arguments.command == "search":
            _search(arguments)
        elif arguments.command == "info":
            _info(arguments)
        elif arguments.command == "serve":
            serve(arguments.database, arguments.host, arguments.port, arguments.workers)
        else:
            _print_report(_DONE[arguments.command], _write(arguments))
    except _UsageError as error:
        print(f"error: {error} (see {_PROG} {arguments.command} --help)", file=sys.stderr)
        return 2
    except (SearchToolError, ValueError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    except sqlite3.Error as error:
        print(f"error: {arguments.database}: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    except CommittedButInterrupted as interrupt:
        if isinstance(interrupt.result, IndexReport):
            _print_report(_DONE[arguments.command], interrupt.result)
        print(_LATE, file=sys.stderr)
        return 0
    except KeyboardInterrupt:
        print("interrupted: nothing was changed" if writing else "interrupted", file=sys.stderr)
        return 130
    if gate.late:
        print(_LATE, file=sys.stderr)
    return 0


_LATE = "interrupted after the change was complete: the database holds it"
