"""The search page in a real browser, headless Chromium: a query typed
through the address shows the expected hits with their words highlighted;
hostile documents and queries show as text and run nothing; a long text
shows a snippet and the whole; errors show; and a screenshot is taken."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from html.parser import HTMLParser
from urllib.parse import quote

from pyvornlex_search import build_index

from search_server import (HOSTILE, LONG, RECORDS, Server, search_path, write_corpus,
                           records_database)

CHROMIUM = shutil.which("chromium")
# The sanitizer job preloads its runtime into the tests' processes: the
# browser is not ours to check, and would not start with it.
BROWSER_ENVIRONMENT = {name: value for name, value in os.environ.items()
                       if name not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
VOID = {"meta", "input", "img", "br", "link", "hr", "source", "wbr"}


class Element:
    def __init__(self, tag, attributes):
        self.tag, self.attributes, self.children = tag, dict(attributes), []

    def classes(self):
        return (self.attributes.get("class") or "").split()

    def text(self):
        return "".join(child if isinstance(child, str) else child.text()
                       for child in self.children)

    def find(self, tag=None, cls=None):
        """Every element below this one with the tag and class given."""
        for child in self.children:
            if isinstance(child, Element):
                if (tag is None or child.tag == tag) and (cls is None or cls in child.classes()):
                    yield child
                yield from child.find(tag, cls)

    def first(self, tag=None, cls=None, **attributes):
        return next(element for element in self.find(tag, cls)
                    if all(element.attributes.get(k) == v for k, v in attributes.items()))


class _Builder(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Element("#document", {})
        self.open = [self.root]

    def handle_starttag(self, tag, attributes):
        element = Element(tag, attributes)
        self.open[-1].children.append(element)
        if tag not in VOID:
            self.open.append(element)

    def handle_endtag(self, tag):
        while len(self.open) > 1 and self.open.pop().tag != tag:
            pass

    def handle_data(self, data):
        self.open[-1].children.append(data)


def parse(html):
    builder = _Builder()
    builder.feed(html)
    return builder.root


def marked(text, words):
    """The text's stretches that the page must highlight: the words, longest
    first where two start at one place, case ignored."""
    ordered = sorted(words, key=len, reverse=True)
    return re.findall("|".join(map(re.escape, ordered)), text, re.IGNORECASE)


@unittest.skipIf(CHROMIUM is None, "chromium is not installed (bash scripts/setup.sh installs it)")
class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="search-page-")
        corpus = os.path.join(cls.scratch.name, "corpus.txt")
        write_corpus(corpus)
        database = os.path.join(cls.scratch.name, "corpus.db")
        build_index(corpus, database)
        cls.server = Server(database)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        cls.scratch.cleanup()

    def browse(self, query, *options, url=None):
        """Chromium's output for the page at /?q=query once its script has run."""
        with tempfile.TemporaryDirectory(dir=self.scratch.name) as profile:
            result = subprocess.run(
                [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
                 f"--user-data-dir={profile}", "--virtual-time-budget=10000", *options,
                 f"{url or self.server.url}?q={quote(query)}"],
                capture_output=True, text=True, timeout=180, env=BROWSER_ENVIRONMENT)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        return result.stdout

    def page(self, query):
        return parse(self.browse(query, "--dump-dom"))

    def expected(self, query, k=10):
        status, body = self.server.get_json(search_path(query, k))
        self.assertEqual(status, 200)
        return body

    def test_a_query_in_the_address_shows_its_hits_highlighted(self):
        query = "杭州龙井茶 longjing"
        document, expected = self.page(query), self.expected(query)
        items = list(document.first("ol", id="hits").find("li", "hit"))
        self.assertEqual(len(items), len(expected["hits"]))
        for item, hit in zip(items, expected["hits"]):
            with self.subTest(rank=hit["rank"]):
                self.assertEqual(item.first("span", "doc").text(), f"doc {hit['doc']}")
                self.assertEqual(item.first("span", "score").text(), f"{hit['score']:.6f}")
                self.assertEqual(item.first("span", "source").text(),
                                 f"{hit['source']}:{hit['line']}")
                text = item.first("p", "text")
                self.assertEqual(text.text(), hit["text"])
                self.assertEqual([mark.text() for mark in text.find("mark")],
                                 marked(hit["text"], expected["words"]))
        status = document.first("p", id="status")
        self.assertEqual([mark.text() for mark in status.find("mark")], expected["words"])

    def test_highlights_ignore_case(self):
        text = self.page("tea LONGJING").first("ol", id="hits").first("p", "text")
        self.assertEqual([mark.text() for mark in text.find("mark")], ["LongJing", "tea"])

    def test_hostile_documents_and_queries_show_as_text(self):
        for query in ("脚本 图片 onload", '"><img src=x onerror=alert(1)> 杭州 <script> <svg>'):
            with self.subTest(query=query):
                html = self.browse(query, "--dump-dom")
                document = parse(html)
                self.assertNotIn("data-pwned=", html)  # as an attribute: it never ran
                status = document.first("p", id="status")
                self.assertEqual([mark.text() for mark in status.find("mark")],
                                 self.expected(query)["words"])
                hits = document.first("ol", id="hits")
                texts = [element.text() for element in hits.find("p", "text")]
                for hostile in HOSTILE:
                    self.assertIn(hostile, texts)
                self.assertEqual([e.tag for e in hits.find() if e.tag in ("img", "svg", "script")],
                                 [])

    def test_a_long_text_shows_a_snippet_and_the_whole(self):
        item = self.page("独一无二").first("li", "hit")
        snippet = item.first("p", "text")
        self.assertTrue(snippet.text().startswith("… "))
        self.assertLess(len(snippet.text()), 320)
        self.assertEqual([mark.text() for mark in snippet.find("mark")], ["独一无二"])
        details = item.first("details")
        self.assertEqual(details.first("summary").text(), f"full text ({len(LONG)} characters)")
        self.assertEqual(details.first("p", "full").text(), LONG)

    def test_records_show_their_ids_as_text(self):
        database = records_database(self.scratch.name)
        server = Server(database)
        try:
            html = self.browse("杭州", "--dump-dom", url=server.url)
        finally:
            server.close()
        self.assertNotIn("data-pwned=", html)
        hits = parse(html).first("ol", id="hits")
        self.assertEqual(sorted(element.text() for element in hits.find("span", "id")),
                         sorted(f"id {record['id']}" for record in RECORDS))
        self.assertEqual([e.tag for e in hits.find() if e.tag == "img"], [])

    def test_an_error_shows_its_message(self):
        status = self.page("，。").first("p", id="status")
        self.assertEqual(status.attributes.get("class"), "error")
        self.assertIn("cuts to no searchable word", status.text())

    def test_screenshot(self):
        path = os.path.join(self.scratch.name, "page.png")
        self.browse("杭州 脚本", f"--screenshot={path}", "--window-size=1000,900",
                    "--hide-scrollbars")
        with open(path, "rb") as handle:
            head = handle.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (1000, 900))
        self.assertGreater(os.path.getsize(path), 10000)


if __name__ == "__main__":
    unittest.main()
