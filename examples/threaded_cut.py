"""Cutting a long text on several threads that share one Jieba.

Jieba.cut lets go of the interpreter lock while cppjieba works, so threads
really cut side by side; cutting only reads the loaded dictionaries, so one
segmenter (loaded once, which is the slow part) serves every thread.
"""

from collections import Counter
from concurrent.futures import ThreadPoolExecutor

from pyvornlex import Jieba
from pyvornlex_data import dict_paths

PARAGRAPH = (
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造。"
    "他来到了网易杭研大厦，研究中文分词和搜索引擎。"
    "西湖在杭州城西，春天湖边开满桃花，游客坐船看山看水。"
    "杭州的龙井茶很有名，茶农每年清明前后上山采茶。\n"
)
THREADS = 4


def pieces(text, size):
    """Splits `text` after sentence ends into pieces of about `size`
    characters. A word never spans a full stop or a line feed (each is a word
    of its own), so cutting the pieces apart gives the words of the whole."""
    result, start = [], 0
    while start < len(text):
        end = min(start + size, len(text))
        while end < len(text) and text[end - 1] not in "。\n":
            end += 1
        result.append(text[start:end])
        start = end
    return result


def main():
    text = PARAGRAPH * 3000  # about 300,000 characters
    jieba = Jieba(*dict_paths())
    parts = pieces(text, 20_000)

    with ThreadPoolExecutor(max_workers=THREADS) as pool:
        # map keeps the order of the pieces, so the words stay in text order.
        shared = [word for words in pool.map(jieba.cut, parts) for word in words]

    alone = [word for part in parts for word in jieba.cut(part)]
    assert shared == alone, "threads must cut exactly as one thread does"
    assert "".join(shared) == text, "the words must join back into the text"
    print(f"{len(text)} characters in {len(parts)} pieces, cut on {THREADS} threads "
          f"into {len(shared)} words, as one thread cuts them")
    common = Counter(w for w in shared if len(w) > 1).most_common(5)
    print("most common words:", ", ".join(f"{w} ({n})" for w, n in common))


if __name__ == "__main__":
    main()
