"""Turns the unpacked Debian Chinese documentation packages into a corpus:
plain text, one paragraph a line, only paragraphs that are mostly Chinese.

Usage: make_corpus.py UNPACKED_DIR OUTPUT_FILE
"""

import gzip
import html.parser
import os
import re
import sys

# Elements whose text forms one paragraph; everything else is inline.
BLOCKS = {
    "p", "li", "dd", "dt", "td", "th", "h1", "h2", "h3", "h4", "h5", "h6",
    "div", "blockquote", "caption", "title", "br", "tr", "pre",
}
SKIPPED = {"script", "style", "pre", "code", "tt", "kbd", "screen"}
HAN = re.compile(r"[\u4e00-\u9fff]")
MIN_HAN = 12
MIN_HAN_SHARE = 0.3


class Paragraphs(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.paragraphs = []
        self.current = []
        self.skipping = 0

    def flush(self):
        text = " ".join("".join(self.current).split())
        if text:
            self.paragraphs.append(text)
        self.current = []

    def handle_starttag(self, tag, attrs):
        if tag in SKIPPED:
            self.skipping += 1
        if tag in BLOCKS:
            self.flush()

    def handle_endtag(self, tag):
        if tag in SKIPPED and self.skipping:
            self.skipping -= 1
        if tag in BLOCKS:
            self.flush()

    def handle_data(self, data):
        if not self.skipping:
            self.current.append(data)


def html_paragraphs(path):
    parser = Paragraphs()
    with open(path, encoding="utf-8", errors="replace") as handle:
        parser.feed(handle.read())
    parser.close()
    parser.flush()
    return parser.paragraphs


ROFF_ESCAPES = re.compile(r"\\f(\[[^]]*\]|\(..|.)|\\s[-+]?\d+|\\\(..|\\[-&e|^ ]|\\\*\(..|\\\*.")


def roff_paragraphs(path):
    """Text lines of a man page joined into paragraphs; requests end them."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt", encoding="utf-8", errors="replace") as handle:
        lines = handle.read().splitlines()
    paragraphs, current = [], []
    for line in lines:
        if line.startswith((".", "'")):
            if current:
                paragraphs.append(" ".join(current))
                current = []
            # Headings and list tags carry text after the request name.
            if line[:3] in (".SH", ".SS", ".IP", ".TP", ".B ", ".I "):
                text = ROFF_ESCAPES.sub("", line[3:]).strip().strip('"')
                if text:
                    paragraphs.append(text)
            continue
        text = ROFF_ESCAPES.sub("", line).replace("\\", "").strip()
        if text:
            current.append(text)
        elif current:
            paragraphs.append(" ".join(current))
            current = []
    if current:
        paragraphs.append(" ".join(current))
    return paragraphs


def mostly_chinese(text):
    han = len(HAN.findall(text))
    visible = len(text) - text.count(" ")
    return han >= MIN_HAN and han >= MIN_HAN_SHARE * visible


def source_files(root):
    for directory, _, names in sorted(os.walk(root)):
        if "zh_TW" in directory or "/zh_TW" in directory:
            continue  # traditional characters; the corpus is simplified Chinese
        for name in sorted(names):
            path = os.path.join(directory, name)
            if name.endswith((".html", ".htm", ".xhtml")):
                yield path, html_paragraphs
            elif "/man/" in path and re.search(r"\.\d\w*(\.gz)?$", name):
                yield path, roff_paragraphs


def main():
    root, output = sys.argv[1], sys.argv[2]
    seen = set()
    kept = []
    for path, reader in source_files(root):
        for paragraph in reader(path):
            if mostly_chinese(paragraph) and paragraph not in seen:
                seen.add(paragraph)
                kept.append(paragraph)
    with open(output + ".tmp", "w", encoding="utf-8") as handle:
        handle.write("\n".join(kept) + "\n")
    os.replace(output + ".tmp", output)
    size = os.path.getsize(output)
    print(f"corpus: {len(kept)} paragraphs, {size / 1e6:.1f} MB in {output}")


if __name__ == "__main__":
    main()
