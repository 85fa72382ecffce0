"""The search server: `python -m pyvornlex_search serve DB`. It loads the
analyzer and the index once and answers, as JSON, `GET /search?q=...&k=...`
and `GET /info`, and serves the search page (page.html) at `GET /`.

The standard library's threading HTTP server is enough here: a search costs
milliseconds, and the page is one file. Each request runs on a thread of its
own; the threads borrow open indexes from a small pool, each with its own
read-only connection, which refreshes its model when another process changes
the database, and they all share one analyzer (its Jieba is the costly part
to build)."""

from __future__ import annotations

import base64
import hashlib
import ipaddress
import re
import socket
import sqlite3
import sys
import threading
import traceback
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from typing import Any
from urllib.parse import parse_qsl, urlsplit

from .analysis import Analyzer
from .answers import answer, to_json
from .errors import EmptyQueryError, SearchToolError
from .index_pool import IndexPool
from .search import SearchIndex
from .workers import run_workers

__all__ = ["serve", "MAX_K", "MAX_QUERY", "DEFAULT_PORT"]

DEFAULT_PORT = 8000
MAX_K = 100
MAX_QUERY = 1000  # characters
DEFAULT_K = 10
# Connections served at once; the next ones wait in the listen queue. Idle
# connections are closed after IDLE_SECONDS, so that none holds a thread long.
MAX_CONNECTIONS = 64
IDLE_SECONDS = 30


class _Refusal(Exception):
    """A request answered with an error status and a message."""

    def __init__(self, status: HTTPStatus, message: str) -> None:
        super().__init__(message)
        self.status = status


class _Page:
    """The page's bytes and a content policy that lets only its own inline
    script and style run: a document's text that ever became markup could
    run nothing."""

    def __init__(self) -> None:
        self.body = resources.files(__package__).joinpath("page.html").read_bytes()
        text = self.body.decode("utf-8")
        self.policy = (
            "default-src 'none'; " + f"script-src {self._hashes(text, 'script')}; "
            f"style-src {self._hashes(text, 'style')}; connect-src 'self'; "
            "form-action 'self'; base-uri 'none'; frame-ancestors 'none'")

    @staticmethod
    def _hashes(text: str, element: str) -> str:
        blocks = re.findall(rf"<{element}>(.*?)</{element}>", text, re.DOTALL)
        return " ".join(
            "'sha256-" + base64.b64encode(hashlib.sha256(block.encode()).digest()).decode() + "'"
            for block in blocks) or "'none'"


def _parameters(query_string: str) -> dict[str, str]:
    try:
        pairs = parse_qsl(query_string, keep_blank_values=True, errors="strict",
                          max_num_fields=16)
    except (UnicodeDecodeError, ValueError):
        raise _Refusal(HTTPStatus.BAD_REQUEST,
                       "the parameters are not UTF-8 text in URL encoding (at most 16)") from None
    parameters: dict[str, str] = {}
    for name, value in pairs:
        if name in parameters:
            raise _Refusal(HTTPStatus.BAD_REQUEST, f"the parameter {name!r} is given twice")
        parameters[name] = value
    return parameters


def _k(parameters: dict[str, str]) -> int:
    given = parameters.get("k", str(DEFAULT_K))
    if not re.fullmatch(r"[0-9]{1,4}", given) or not 1 <= int(given) <= MAX_K:
        raise _Refusal(HTTPStatus.BAD_REQUEST,
                       f"k must be a whole number from 1 to {MAX_K}, not {given!r}")
    return int(given)


def _query(parameters: dict[str, str]) -> str:
    query = parameters.get("q", "")
    if not query.strip():
        raise _Refusal(HTTPStatus.BAD_REQUEST, "no query: give one as /search?q=...")
    if len(query) > MAX_QUERY:
        raise _Refusal(HTTPStatus.BAD_REQUEST,
                       f"the query is longer than {MAX_QUERY} characters ({len(query)})")
    return query


def _failure(error: Exception, path: str) -> tuple[HTTPStatus, str]:
    """The status and message of a request that failed; the log gets the
    details of what the client cannot act on."""
    if isinstance(error, _Refusal):
        return error.status, str(error)
    if isinstance(error, EmptyQueryError):
        return HTTPStatus.BAD_REQUEST, str(error)
    if isinstance(error, SearchToolError):
        return HTTPStatus.INTERNAL_SERVER_ERROR, str(error)
    if isinstance(error, sqlite3.Error):
        return HTTPStatus.SERVICE_UNAVAILABLE, f"the database cannot be read now ({error})"
    sys.stderr.write(f"error answering {path!r}:\n{traceback.format_exc()}")
    return HTTPStatus.INTERNAL_SERVER_ERROR, "internal error"


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections open between requests
    # The head and the body go out in two writes: with Nagle's algorithm the
    # second would wait for the client's delayed acknowledgement (40 ms).
    disable_nagle_algorithm = True
    server_version = "pyvornlex_search"
    timeout = IDLE_SECONDS
    server: _Server

    def do_GET(self) -> None:  # noqa: N802 (the name http.server calls)
        try:
            response = self._route()
        except Exception as error:  # noqa: BLE001: every failure gets a status
            self._send_error_json(*_failure(error, self.path))
            return
        self._send(*response)

    do_HEAD = do_GET  # noqa: N815: _send leaves out the body

    def _not_allowed(self) -> None:
        self.close_connection = True  # a body may follow, unread
        self._send_error_json(HTTPStatus.METHOD_NOT_ALLOWED,
                              f"{self.command} is not served: only GET and HEAD",
                              [("Allow", "GET, HEAD")])

    do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = _not_allowed  # noqa: N815

    def _route(self) -> tuple[HTTPStatus, bytes, str, list[tuple[str, str]]]:
        if not self.server.host_allowed(self.headers.get("Host")):
            raise _Refusal(HTTPStatus.FORBIDDEN,
                           f"this server does not answer for the host {self.headers['Host']!r}")
        url = urlsplit(self.path)
        if url.path == "/":
            page = self.server.page
            return (HTTPStatus.OK, page.body, "text/html; charset=utf-8",
                    [("Content-Security-Policy", page.policy)])
        if url.path == "/search":
            parameters = _parameters(url.query)
            query, k = _query(parameters), _k(parameters)
            with self.server.pool.index() as index:
                result = answer(index, query, k)
            return HTTPStatus.OK, _json_body(result), _JSON, []
        if url.path == "/info":
            with self.server.pool.index() as index:
                info = index.info()
            return HTTPStatus.OK, _json_body(info), _JSON, []
        raise _Refusal(HTTPStatus.NOT_FOUND,
                       f"no such path: {url.path!r} (there are /, /search and /info)")

    def send_error(self, code: int, message: str | None = None,
                   explain: str | None = None) -> None:
        """http.server's own errors (a malformed request, a line too long) as JSON too."""
        self.close_connection = True
        self._send_error_json(HTTPStatus(code), message or HTTPStatus(code).phrase)

    def _send_error_json(self, status: HTTPStatus, message: str,
                         headers: list[tuple[str, str]] | None = None) -> None:
        body = _json_body({"error": message, "status": int(status)})
        self._send(status, body, _JSON, headers or [])

    def _send(self, status: HTTPStatus, body: bytes, kind: str,
              headers: list[tuple[str, str]]) -> None:
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Referrer-Policy", "no-referrer")
        for name, value in headers:
            self.send_header(name, value)
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def log_message(self, format: str, *args: Any) -> None:  # noqa: A002
        """No access log, and no line for each idle connection that times out."""


_JSON = "application/json; charset=utf-8"


def _json_body(value: Any) -> bytes:
    return to_json(value).encode("utf-8")


class _Server(ThreadingHTTPServer):
    """One thread per connection (daemon threads: a stop never waits for
    idle kept-alive connections), at most MAX_CONNECTIONS at once."""

    def __init__(self, listener: socket.socket, pool: IndexPool, page: _Page,
                 hosts: set[str] | None) -> None:
        self.address_family = socket.AddressFamily(listener.family)
        super().__init__(listener.getsockname(), _Handler, bind_and_activate=False)
        self.socket.close()
        self.socket = listener
        self.server_name, self.server_port = str(self.server_address[0]), self.server_address[1]
        self.pool, self.page, self._hosts = pool, page, hosts
        self._slots = threading.BoundedSemaphore(MAX_CONNECTIONS)

    def host_allowed(self, host: str | None) -> bool:
        """On loopback, only requests for a loopback name: a page elsewhere
        that points its own name at 127.0.0.1 gets nothing."""
        return self._hosts is None or host is None or host.lower() in self._hosts

    def process_request(self, request: Any, client_address: Any) -> None:
        self._slots.acquire()
        thread = threading.Thread(target=self.process_request_thread,
                                  args=(request, client_address), daemon=True)
        try:
            thread.start()
        except RuntimeError:  # no thread: its slot is free again
            self._slots.release()
            raise
        # Ctrl-C while the thread starts comes out here, the slot still the
        # thread's: catching it would keep the server running.

    def process_request_thread(self, request: Any, client_address: Any) -> None:
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._slots.release()

    def handle_error(self, request: Any, client_address: Any) -> None:
        # The client went away, or Ctrl-C closed its connection while the
        # thread that serves it started (socketserver shuts a request down
        # when process_request raises): nothing to tell anyone.
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)) or \
                request.fileno() == -1:
            return
        sys.stderr.write(f"error serving {client_address}:\n{traceback.format_exc()}")


def _listen(host: str, port: int) -> socket.socket:
    if not 0 <= port <= 65535:
        raise SearchToolError(f"the port must be from 0 to 65535, not {port}")
    try:
        family, kind, protocol, _, address = socket.getaddrinfo(
            host, port, type=socket.SOCK_STREAM, flags=socket.AI_PASSIVE)[0]
    except socket.gaierror as error:
        raise SearchToolError(f"cannot listen on {host!r}: {error.strerror}") from None
    listener = socket.socket(family, kind, protocol)
    try:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(address)
        listener.listen(128)
    except OSError as error:
        listener.close()
        raise SearchToolError(f"cannot listen on {host}:{port}: {error.strerror}") from None
    # Workers that share it all wake for a connection; those that lose the
    # race must go back to waiting, not block in accept.
    listener.setblocking(False)
    return listener


def _allowed_hosts(host: str, listener: socket.socket) -> set[str] | None:
    """The Host headers answered: on loopback, loopback names with the port
    (or without it on port 80); elsewhere, any."""
    bound, port = listener.getsockname()[:2]
    if not ipaddress.ip_address(bound.split("%")[0]).is_loopback:
        return None
    names = {"localhost", bound, f"[{bound}]", host.lower()}
    return {f"{name}:{port}" for name in names} | (names if port == 80 else set())


def _work(listener: socket.socket, database: str, analyzer: Analyzer, page: _Page,
          hosts: set[str] | None) -> None:
    """Serves on the listener until interrupted."""
    pool = IndexPool(database, analyzer)
    try:
        _Server(listener, pool, page, hosts).serve_forever()
    finally:
        pool.close()


def serve(database: str, host: str = "127.0.0.1", port: int = DEFAULT_PORT,
          workers: int = 1) -> None:
    """Serves until interrupted (KeyboardInterrupt comes out once every
    index is closed). Prints the address as the first line of standard
    output once the analyzer is built. With `workers` above 1, as many
    processes serve the same socket, each with its own threads."""
    if workers < 1:
        raise SearchToolError(f"workers must be at least 1, not {workers}")
    with _listen(host, port) as listener:
        # A database that cannot be searched fails at the opening, before the
        # costly part: the analyzer (its Jieba), built once, before any fork,
        # so that every thread and worker shares it (and its memory pages).
        with SearchIndex(database) as first:
            analyzer = first.analyzer
        page = _Page()
        bound, bound_port = listener.getsockname()[:2]
        hosts = _allowed_hosts(host, listener)
        if hosts is None:
            print(f"warning: listening on {bound}, not on loopback: whoever can reach "
                  f"this address can read every document of {database}", file=sys.stderr)
        url = f"http://[{bound}]:{bound_port}/" if ":" in bound else f"http://{bound}:{bound_port}/"
        print(url, flush=True)
        print(f"serving {database} at {url} with {workers} worker(s) (Ctrl-C stops)",
              file=sys.stderr, flush=True)
        if workers == 1:
            _work(listener, database, analyzer, page, hosts)
        else:
            run_workers(workers, lambda: _work(listener, database, analyzer, page, hosts))
