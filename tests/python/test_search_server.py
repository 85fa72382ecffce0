"""The search server and the command line's JSON and standard-input modes,
as a program uses them: answers equal to `SearchIndex.search`, errors as JSON
with their status, a database changed under a running server, Ctrl-C, and
many clients at once on 127.0.0.1."""

import contextlib
import http.client
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

from pyvornlex_search import EmptyQueryError, Hit, SearchIndex, add_documents, build_index
from pyvornlex_search.analysis import fold_text
from pyvornlex_search.answers import marks
from pyvornlex_search import server as server_module
from pyvornlex_search.server import MAX_K, MAX_QUERY

from search_server import (HOSTILE, RECORDS, Server, files_of, search_path, write_corpus,
                           records_database)
from sqlite_corpus import queries


def children(pid, count=0):
    """The process's children, once there are `count` of them (forking takes a moment)."""
    deadline = time.monotonic() + 30
    while True:
        with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as handle:
            found = [int(child) for child in handle.read().split()]
        if len(found) >= count or time.monotonic() > deadline:
            return found
        time.sleep(0.05)


def running(pids, seconds=30):
    """Those of the processes that still run (not gone, not waiting to be
    reaped) after up to `seconds`: a process lets go of its files before it
    has ended."""
    def runs(pid):
        try:
            with open(f"/proc/{pid}/stat", encoding="ascii") as handle:
                return handle.read().rsplit(")", 1)[1].split()[0] != "Z"
        except FileNotFoundError:
            return False
    deadline = time.monotonic() + seconds
    while any(map(runs, pids)) and time.monotonic() < deadline:
        time.sleep(0.05)
    return [pid for pid in pids if runs(pid)]


def expected_answer(index, query, k):
    """What the server must answer, from the library alone (None: a 400)."""
    try:
        hits = index.search(query, k)
    except EmptyQueryError:
        return None
    return {"query": query, "words": list(dict.fromkeys(index.words(query))), "k": k,
            "hits": [{"rank": rank, **hit._asdict(), "marks": mock.ANY}
                     for rank, hit in enumerate(hits, 1)]}


class Marks(unittest.TestCase):
    """Where the page marks the query's words: found on the folded text,
    given as offsets of the text as it is, in UTF-16 code units."""

    def test_folded_forms_are_marked_where_they_stand(self):
        fold = fold_text
        self.assertEqual(marks(fold, "学ＰＹＴＨＯＮ和Python", ["python"]), [[1, 7], [8, 14]])
        self.assertEqual(marks(fold, "Straße python", ["python"]), [[7, 13]])  # ß folds to ss
        self.assertEqual(marks(fold, "𠮷python𠮷", ["python", "𠮷"]), [[0, 2], [2, 8], [8, 10]])
        self.assertEqual(marks(fold, "龙井茶龙井茶", ["龙井茶", "井茶龙"]), [[0, 6]])  # overlaps joined
        self.assertEqual(marks(fold, "杭州", ["西湖", ""]), [])


class Fixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="search-server-")
        cls.corpus = os.path.join(cls.scratch.name, "corpus.txt")
        write_corpus(cls.corpus)
        cls.database = os.path.join(cls.scratch.name, "corpus.db")
        build_index(cls.corpus, cls.database)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()


class Api(Fixture):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = Server(cls.database)
        cls.index = SearchIndex(cls.database)

    @classmethod
    def tearDownClass(cls):
        cls.index.close()
        cls.server.close()
        super().tearDownClass()

    def test_answers_equal_the_library(self):
        cases = [(query, k) for query in queries(40) + ["杭州", "LongJing", "脚本 图片", "独一无二"]
                 for k in (1, 10, MAX_K)]
        for query, k in cases:
            with self.subTest(query=query, k=k):
                status, body = self.server.get_json(search_path(query, k))
                expected = expected_answer(self.index, query, k)
                if expected is None:
                    self.assertEqual(status, 400)
                else:
                    self.assertEqual(status, 200)
                    self.assertEqual(body, expected)  # scores too, to the last bit
        status, body = self.server.get_json(search_path("杭州"))
        self.assertEqual(body["k"], 10)
        self.assertEqual(len(body["hits"]), 10)
        self.assertEqual(set(body["hits"][0]), {"rank", *Hit._fields, "marks"})

    def test_hostile_text_comes_back_as_it_was_stored(self):
        status, body = self.server.get_json(search_path("脚本 图片", 2))
        self.assertEqual(status, 200)
        self.assertEqual(sorted(hit["text"] for hit in body["hits"]), sorted(HOSTILE[:2]))

    def test_info_says_what_info_prints(self):
        status, body = self.server.get_json("/info")
        self.assertEqual(status, 200)
        self.assertEqual(body, json.loads(json.dumps(self.index.info())))

    def test_errors_are_json_with_their_status(self):
        cases = [
            ("/search", 400, "no query"),
            (search_path("  "), 400, "no query"),
            (search_path("，。！"), 400, "cuts to no searchable word"),
            (search_path("杭州", 0), 400, "k must be a whole number from 1 to 100"),
            (search_path("杭州", MAX_K + 1), 400, "not '101'"),
            (search_path("杭州", "1.5"), 400, "not '1.5'"),
            (search_path("杭州", ""), 400, "not ''"),
            (search_path("杭州") + "&q=%E5%8C%97", 400, "given twice"),
            (search_path("杭" * (MAX_QUERY + 1)), 400, "longer than 1000 characters"),
            ("/search?q=%FF", 400, "not UTF-8"),
            ("/nowhere", 404, "no such path: '/nowhere'"),
            ("/search/", 404, "no such path"),
            ("/page.html", 404, "no such path"),
        ]
        for path, status, message in cases:
            with self.subTest(path=path):
                got, body = self.server.get_json(path)
                self.assertEqual((got, body["status"]), (status, status))
                self.assertIn(message, body["error"])
        self.assertEqual(self.server.get_json(search_path("杭" * MAX_QUERY))[0], 200)

        got, body = self.server.get_json("/search", method="POST")
        self.assertEqual((got, body["status"]), (405, 405))
        # A page elsewhere whose name points at 127.0.0.1 gets nothing.
        got, body = self.server.get_json("/info", headers={"Host": "evil.example:80"})
        self.assertEqual(got, 403)
        got, _ = self.server.get_json("/info", headers={"Host": f"localhost:{self.server.port}"})
        self.assertEqual(got, 200)

    def test_malformed_requests_get_json_too(self):
        for raw in (b"GET / HTTP/1.1\r\n" + b"X: y\r\n" * 101 + b"\r\n",
                    b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n"):
            with self.subTest(raw=raw[:20]), socket.create_connection(
                    ("127.0.0.1", self.server.port), timeout=30) as client:
                client.sendall(raw)
                response = http.client.HTTPResponse(client)
                response.begin()
                body = json.loads(response.read())
                self.assertIn(response.status, (431, 414))
                self.assertEqual(body["status"], response.status)

    def test_many_clients_at_once(self):
        # Bounded: 8 clients x 15 queries, each on one kept-alive connection,
        # to threads of one process and to two worker processes.
        texts = [query for query in queries(30) if expected_answer(self.index, query, 5)]
        expected = {query: expected_answer(self.index, query, 5) for query in texts}
        workers = Server(self.database, "--workers", "2")
        try:
            for server in (self.server, workers):
                with self.subTest(workers=server is workers):
                    self.assertEqual(self.load(server, texts, expected), [])
        finally:
            workers.close()

    @staticmethod
    def load(server, texts, expected):
        """What went wrong when 8 clients sent 15 queries each at once."""
        failures = []

        def client(offset):
            connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
            try:
                for step in range(15):
                    query = texts[(offset * 7 + step) % len(texts)]
                    status, _, body = server.request(search_path(query, 5),
                                                     connection=connection)
                    if status != 200 or json.loads(body) != expected[query]:
                        failures.append((query, status, body[:200]))
            except Exception as error:  # noqa: BLE001: counted, then reported
                failures.append(repr(error))
            finally:
                connection.close()

        threads = [threading.Thread(target=client, args=(n,)) for n in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=120)
        if any(thread.is_alive() for thread in threads):
            failures.append("a client was still waiting after 120 s")
        return failures


class Lifetime(Fixture):
    def test_a_database_changed_by_add_is_searched_at_the_next_query(self):
        server = Server(self.database)
        try:
            self.assertEqual(server.get_json(search_path("量子计算机"))[1]["hits"], [])
            more = os.path.join(self.scratch.name, "more.txt")
            with open(more, "w", encoding="utf-8") as handle:
                handle.write("量子计算机\n")
            added = add_documents(more, self.database)
            status, body = server.get_json(search_path("量子计算机"))
            self.assertEqual(status, 200)
            self.assertEqual([hit["doc"] for hit in body["hits"]][:1], [added.first_doc])
            with SearchIndex(self.database) as index:
                self.assertEqual(body, expected_answer(index, "量子计算机", 10))
                self.assertEqual(server.get_json("/info")[1]["documents"],
                                 index.statistics()["documents"])
        finally:
            server.close()

    def test_ctrl_c_stops_with_130_and_changes_nothing(self):
        for options in ((), ("--workers", "2")):
            with self.subTest(options=options):
                folder = tempfile.mkdtemp(dir=self.scratch.name)
                database = os.path.join(folder, "copy.db")
                shutil.copy(self.database, database)
                before = files_of(folder)
                server = Server(database, *options)
                try:
                    for _ in range(4):
                        self.assertEqual(server.get_json(search_path("杭州"))[0], 200)
                    count = int(options[1]) if options else 0
                    workers = children(server.process.pid, count)
                    self.assertEqual(len(workers), count)
                    # A client still connected does not hold the stop up.
                    idle = socket.create_connection(("127.0.0.1", server.port))
                    status, out, err = server.interrupt()
                    idle.close()
                finally:
                    server.close()
                self.assertEqual(status, 130)
                self.assertEqual(out, "")
                self.assertNotIn("Traceback", err)
                self.assertIn("interrupted", err)
                self.assertEqual(running(workers), [])
                self.assertEqual(files_of(folder), before)

    def test_workers_stop_when_their_parent_is_killed(self):
        server = Server(self.database, "--workers", "2")
        try:
            workers = children(server.process.pid, 2)
            self.assertEqual(len(workers), 2)
        finally:
            server.close()  # SIGKILL to the parent alone; returns once the workers let go
        self.assertEqual(running(workers), [])

    def test_another_loopback_address_when_asked(self):
        server = Server(self.database, "--host", "::1")
        try:
            self.assertRegex(server.url, r"^http://\[::1\]:\d+/$")
            self.assertEqual(server.get_json("/info")[0], 200)  # Host: [::1]:port
            self.assertEqual(server.get_json("/info", headers={"Host": "127.0.0.1"})[0], 403)
        finally:
            self.assertNotIn("warning", server.close())  # loopback: nothing to warn of

    def test_records_come_back_with_their_own_ids(self):
        database = records_database(self.scratch.name)
        server = Server(database)
        try:
            status, body = server.get_json(search_path("杭州"))
            with SearchIndex(database) as index:
                self.assertEqual(body, expected_answer(index, "杭州", 10))
            self.assertEqual(sorted(map(str, (hit["id"] for hit in body["hits"]))),
                             sorted(str(record["id"]) for record in RECORDS))
        finally:
            server.close()

    def test_what_cannot_be_served_fails_before_listening(self):
        def serve(*arguments):
            return subprocess.run([sys.executable, "-m", "pyvornlex_search", "serve", *arguments],
                                  capture_output=True, text=True, timeout=120)

        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = str(taken.getsockname()[1])
            cases = [((self.database, "--port", "70000"), "the port must be from 0 to 65535"),
                     ((self.database, "--port", port), f"cannot listen on 127.0.0.1:{port}"),
                     ((os.path.join(self.scratch.name, "none.db"), "--port", "0"),
                      "no such database")]
            for arguments, message in cases:
                with self.subTest(arguments=arguments):
                    result = serve(*arguments)
                    self.assertEqual((result.returncode, result.stdout), (1, ""))
                    self.assertIn(message, result.stderr)
                    self.assertNotIn("Traceback", result.stderr)


class StopWhileAThreadStarts(unittest.TestCase):
    def test_a_connection_closed_by_ctrl_c_as_its_thread_starts_is_not_an_error(self):
        # Ctrl-C inside Thread.start(): socketserver closes the request,
        # and the thread, already running, finds its connection gone.
        listener = socket.create_server(("127.0.0.1", 0))
        client = socket.create_connection(listener.getsockname())
        server = server_module._Server(listener, None, None, None)
        started = []

        def start_interrupted(thread):
            started.append(thread)
            raise KeyboardInterrupt

        try:
            with mock.patch.object(threading.Thread, "start", start_interrupted), \
                    self.assertRaises(KeyboardInterrupt):
                server._handle_request_noblock()
            with contextlib.redirect_stderr(io.StringIO()) as said:
                started[0].run()  # as it runs once the request is closed
            self.assertEqual(said.getvalue(), "")
            # Other failures are still told.
            with contextlib.redirect_stderr(io.StringIO()) as said:
                try:
                    raise OSError("something else")
                except OSError:
                    server.handle_error(client, ("127.0.0.1", 1))
            self.assertIn("error serving", said.getvalue())
        finally:
            client.close()
            listener.close()


class CommandLine(Fixture):
    def run_search(self, *arguments, stdin=b""):
        return subprocess.run([sys.executable, "-m", "pyvornlex_search", "search",
                               *arguments], input=stdin, capture_output=True, timeout=300)

    def test_json_answers_equal_the_library(self):
        result = self.run_search("--json", self.database, "杭州龙井茶", "-k", "4")
        self.assertEqual(result.returncode, 0, result.stderr)
        with SearchIndex(self.database) as index:
            self.assertEqual(json.loads(result.stdout),
                             expected_answer(index, "杭州龙井茶", 4))

    def test_queries_from_standard_input(self):
        lines = ["杭州", "", "，。", "北京 冬天"]
        stdin = "\n".join(lines).encode() + b"\n\xff\xfe\n" + "西湖\r\n".encode()
        result = self.run_search("--json", self.database, "-", "-k", "3", stdin=stdin)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"error: 3 queries could not be answered", result.stderr)
        answers = [json.loads(line) for line in result.stdout.decode().splitlines()]
        self.assertEqual([answer["query"] for answer in answers], lines + [None, "西湖"])
        with SearchIndex(self.database) as index:
            for answer in answers:
                expected = expected_answer(index, answer["query"] or "", 3)
                if expected is None:
                    self.assertIn("error", answer)
                else:
                    self.assertEqual(answer, expected)

        text = self.run_search(self.database, "-", stdin="杭州\n北京\n".encode())
        self.assertEqual(text.returncode, 0, text.stderr)
        output = text.stdout.decode().splitlines()
        self.assertEqual(output[0], "query 1: 杭州")
        self.assertEqual(len(output), 2 + 2 * 10 + 2 * 10)

    def test_each_query_is_answered_as_it_comes(self):
        process = subprocess.Popen(
            [sys.executable, "-m", "pyvornlex_search", "search", "--json", self.database, "-"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            for query in ("杭州", "西湖"):
                process.stdin.write(query.encode() + b"\n")
                process.stdin.flush()  # and the input stays open
                self.assertEqual(json.loads(process.stdout.readline())["query"], query)
            process.stdin.close()
            self.assertEqual(process.wait(timeout=60), 0)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()
            process.stderr.close()


if __name__ == "__main__":
    unittest.main()
