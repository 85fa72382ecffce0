"""What the search server's tests share: a corpus with hostile, long and
mixed-case documents, a server process on 127.0.0.1 as a user starts it, and
plain HTTP requests to it."""

import http.client
import json
import os
import select
import signal
import subprocess
import sys
from urllib.parse import quote, urlsplit

from sqlite_corpus import corpus_lines

# Each would set the marker attribute if it ever ran as markup.
HOSTILE = [
    '<script>document.documentElement.setAttribute("data-pwned", "script")</script> 杭州 脚本',
    "<img src=x onerror=\"document.documentElement.setAttribute('data-pwned', 'img')\"> "
    "\"杭州\" & 'quotes' 图片",
    '"><svg onload=document.documentElement.setAttribute("data-pwned","svg")> 杭州 &lt;b&gt;',
]
# A word of its own far into a long text: the page shows a snippet around it.
LONG = "很长的文档" * 120 + "独一无二" + "后面的文字" * 80
MIXED_CASE = "Hangzhou LongJing tea 杭州"


# JSON Lines records with their own ids, one of them hostile too.
RECORDS = [{"id": "doc-1", "text": "杭州的龙井茶很有名"},
           {"id": 42, "text": "西湖在杭州城西"},
           {"id": '<img src=x onerror="document.documentElement.setAttribute(\'data-pwned\', '
                  '\'id\')">', "text": "杭州 记录"}]


def records_database(folder):
    """A database of RECORDS, one document a record."""
    from pyvornlex_search import build_index
    records = os.path.join(folder, "records.jsonl")
    write_records(records)
    database = os.path.join(folder, "records.db")
    build_index(records, database, documents="record")
    return database


def write_records(path):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("".join(json.dumps(record, ensure_ascii=False) + "\n" for record in RECORDS))


def write_corpus(path, count=200):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("\n".join(corpus_lines(count) + HOSTILE + [LONG, MIXED_CASE]) + "\n")


def search_path(query, k=None):
    path = "/search?q=" + quote(query)
    return path if k is None else f"{path}&k={k}"


class Server:
    """`python -m pyvornlex_search serve DB --port 0`, on 127.0.0.1 unless
    the options name another loopback address."""

    def __init__(self, database, *options, startup=120):
        self.process = subprocess.Popen(
            [sys.executable, "-m", "pyvornlex_search", "serve", database, "--port", "0", *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], startup)
        self.url = self.process.stdout.readline().strip() if ready else ""
        if not self.url.startswith("http://"):
            self.process.kill()
            raise RuntimeError(f"the server did not start: {self.process.communicate()}")
        self.host, self.port = urlsplit(self.url).hostname, urlsplit(self.url).port

    def request(self, path, method="GET", headers=None, connection=None):
        """(status, headers, body) of one request, on `connection` if given."""
        own = connection is None
        connection = connection or http.client.HTTPConnection(self.host, self.port, timeout=60)
        try:
            connection.request(method, path, headers=headers or {})
            response = connection.getresponse()
            return response.status, response.headers, response.read()
        finally:
            if own:
                connection.close()

    def get_json(self, path, **options):
        status, headers, body = self.request(path, **options)
        assert headers["Content-Type"] == "application/json; charset=utf-8", headers
        return status, json.loads(body)

    def interrupt(self, timeout=30):
        """Ctrl-C: (exit status, standard output after the address, standard error)."""
        self.process.send_signal(signal.SIGINT)
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, out, err

    def close(self):
        """Kills the server; returns its standard error."""
        if self.process.poll() is None:
            self.process.kill()  # its workers, if any, stop when it is gone
        return self.process.communicate(timeout=60)[1]


def files_of(folder):
    """name -> content of every file in the folder."""
    contents = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as handle:
            contents[name] = handle.read()
    return contents
