"""The search server: `python -m pyvornlex_search serve DB`. It loads the
segmenter and the index once and answers, as JSON, `GET /search?q=...&k=...`
and `GET /info`, and serves the search page (page.html) at `GET /`.

The standard library's threading HTTP server is enough here: a search costs
milliseconds, and the page is one file. Each request runs on a thread of its
own; the threads borrow open indexes from a small pool, each with its own
read-only connection, which refreshes its model when another process changes
the database, and they all share one `Jieba` (the costly part to build)."""

from __future__ import annotations

import base64
import hashlib
import ipaddress
import queue
import re
import socket
import socketserver
import sqlite3
import sys
import threading
import time
import traceback
from contextlib import contextmanager
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from typing import Any, Iterator
from urllib.parse import parse_qsl, urlsplit

from pyvornlex import Jieba
from pyvornlex_data import dict_paths

from .answers import answer, to_json
from .errors import EmptyQueryError, SearchToolError
from .search import SearchIndex

__all__ = ["IndexPool", "serve", "MAX_K", "MAX_QUERY", "DEFAULT_PORT"]

DEFAULT_PORT = 8000
MAX_K = 100
MAX_QUERY = 1000  # characters
DEFAULT_K = 10
# More searches at once than this would only queue for the interpreter lock.
POOL_SIZE = 8
# Connections served at once; the next ones wait in the listen queue. Idle
# connections are closed after IDLE_SECONDS, so that none holds a thread long.
MAX_CONNECTIONS = 64
IDLE_SECONDS = 30


class IndexPool:
    """Open indexes of one database, each lent to one thread at a time, all
    sharing one segmenter. Opened when first needed, up to `size`; the first
    is opened at once, so that a bad database fails before serving."""

    def __init__(self, database: str, size: int = POOL_SIZE, *,
                 jieba: Jieba | None = None) -> None:
        self.database = database
        self._jieba = jieba if jieba is not None else Jieba(*dict_paths())
        self._size = size
        self._free = threading.BoundedSemaphore(size)
        self._idle: queue.LifoQueue[SearchIndex] = queue.LifoQueue()
        self._closed = False
        first = self._open()
        first.words("预热")  # builds its word filter before the first query waits for it
        self._idle.put(first)

    def _open(self) -> SearchIndex:
        return SearchIndex(self.database, jieba=self._jieba)

    @contextmanager
    def index(self) -> Iterator[SearchIndex]:
        """An index for this thread alone until the block ends."""
        with self._free:
            if self._closed:
                raise SearchToolError("the server is stopping")
            try:
                index = self._idle.get_nowait()
            except queue.Empty:
                index = self._open()
            try:
                yield index
            finally:
                if self._closed:
                    index.close()
                else:
                    self._idle.put(index)

    def close(self, wait: float = 2.0) -> None:
        """Closes every index, waiting up to `wait` seconds for the lent ones
        to come back (a search takes milliseconds); one that comes back later
        is closed then. Closing the last connection removes the database's
        -wal and -shm files, as if the server had never run."""
        self._closed = True
        deadline = time.monotonic() + wait
        for _ in range(self._size):
            if not self._free.acquire(timeout=max(0.0, deadline - time.monotonic())):
                break
        while True:
            try:
                self._idle.get_nowait().close()
            except queue.Empty:
                return


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


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections open between requests
    server_version = "pyvornlex_search"
    timeout = IDLE_SECONDS
    server: _Server

    def do_GET(self) -> None:  # noqa: N802 (the name http.server calls)
        try:
            status, body, kind, headers = self._route()
        except _Refusal as refusal:
            self._send_error_json(refusal.status, str(refusal))
            return
        except EmptyQueryError as error:
            self._send_error_json(HTTPStatus.BAD_REQUEST, str(error))
            return
        except SearchToolError as error:
            self._send_error_json(HTTPStatus.INTERNAL_SERVER_ERROR, str(error))
            return
        except sqlite3.Error as error:
            self._send_error_json(HTTPStatus.SERVICE_UNAVAILABLE,
                                  f"the database cannot be read now ({error})")
            return
        except Exception:  # noqa: BLE001: the client gets a status, the log the details
            sys.stderr.write(f"error answering {self.path!r}:\n{traceback.format_exc()}")
            self._send_error_json(HTTPStatus.INTERNAL_SERVER_ERROR, "internal error")
            return
        self._send(status, body, kind, headers)

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
                counts: dict[str, Any] = {"database": index.database, **index.statistics(),
                                          "stale_documents": index.stale_documents()}
            return HTTPStatus.OK, _json_body(counts), _JSON, []
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
    daemon_threads = True  # a stop never waits for idle keep-alive connections
    request_queue_size = 128

    def __init__(self, address: Any, family: socket.AddressFamily,
                 pool: IndexPool, page: _Page) -> None:
        self.address_family = family
        self.pool, self.page = pool, page
        self._hosts: set[str] | None = None  # any Host header
        self._slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        super().__init__(address, _Handler)

    def server_bind(self) -> None:
        # HTTPServer's own looks the host's name up, which can hang without DNS.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = str(self.server_address[0]), self.server_address[1]

    def answer_only(self, names: set[str]) -> None:
        """Answers only requests whose Host header is one of `names` with the
        port (or none): on loopback, a page elsewhere that points its own
        name at 127.0.0.1 gets nothing."""
        port = self.server_address[1]
        self._hosts = {f"{name}:{port}" for name in names}
        if port == 80:
            self._hosts |= names

    def host_allowed(self, host: str | None) -> bool:
        return self._hosts is None or host is None or host.lower() in self._hosts

    def process_request(self, request: Any, client_address: Any) -> None:
        self._slots.acquire()
        try:
            super().process_request(request, client_address)
        except BaseException:
            self._slots.release()
            raise

    def process_request_thread(self, request: Any, client_address: Any) -> None:
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._slots.release()

    def handle_error(self, request: Any, client_address: Any) -> None:
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return  # the client went away: nothing to tell anyone
        sys.stderr.write(f"error serving {client_address}:\n{traceback.format_exc()}")


def _resolve(host: str, port: int) -> tuple[socket.AddressFamily, Any]:
    if not 0 <= port <= 65535:
        raise SearchToolError(f"the port must be from 0 to 65535, not {port}")
    try:
        found = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM,
                                   flags=socket.AI_PASSIVE)
    except socket.gaierror as error:
        raise SearchToolError(f"cannot listen on {host!r}: {error.strerror}") from None
    family, _, _, _, address = found[0]
    return family, address


def _url(host: str, port: int) -> str:
    return f"http://[{host}]:{port}/" if ":" in host else f"http://{host}:{port}/"


def _loopback(host: str) -> bool:
    return ipaddress.ip_address(host.split("%")[0]).is_loopback


def serve(database: str, host: str = "127.0.0.1", port: int = DEFAULT_PORT) -> None:
    """Serves until interrupted (KeyboardInterrupt comes out, once the
    server is closed). Prints the address as the first line of standard
    output when it is ready for queries."""
    family, address = _resolve(host, port)
    pool = IndexPool(database)
    try:
        try:
            server = _Server(address, family, pool, _Page())
        except OSError as error:
            raise SearchToolError(f"cannot listen on {host}:{port}: {error.strerror}") from None
        with server:
            bound, bound_port = str(server.server_address[0]), server.server_address[1]
            if _loopback(bound):
                server.answer_only({"localhost", bound, f"[{bound}]", host.lower()})
            else:
                print(f"warning: listening on {bound}, not on loopback: whoever can reach "
                      f"this address can read every document of {database}", file=sys.stderr)
            url = _url(bound, bound_port)
            print(url, flush=True)
            print(f"serving {database} at {url} (Ctrl-C stops)", file=sys.stderr, flush=True)
            server.serve_forever()
    finally:
        pool.close()

