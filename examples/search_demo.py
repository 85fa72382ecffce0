"""Keyword search over Chinese text: cut with Jieba, weigh with BM25, rank;
then the same through an SQLite database with pyvornlex_search."""

import os
import tempfile

from pyvornlex import BM25
from pyvornlex_search import Analyzer, SearchIndex, build_index

CORPUS = [
    "西湖在杭州城西，春天湖边开满桃花，游客坐船看山看水。",
    "杭州的龙井茶很有名，茶农每年清明前后上山采茶。",
    "北京的冬天很冷，人们喜欢在家里吃火锅、喝热茶。",
    "这家公司在杭州开了新的研究所，研究中文分词和搜索引擎。",
    "搜索引擎先把文章切成词语，再用词语的权重给文章打分。",
]
QUERY = "在杭州喝龙井茶"


def dot(query_vector, document_vector):
    return sum(weight * document_vector.get(token, 0.0) for token, weight in query_vector.items())


def main():
    # Jieba's cut of the folded text (case and width), less punctuation and
    # stop words (的, 在, ...): the words that the search tool indexes too.
    analyzer = Analyzer()
    documents = [analyzer.words(text) for text in CORPUS]

    model = BM25()  # b = 0.75, k1 = 1.2
    for tokens in documents:
        model.train(tokens)
    document_vectors = [model.encode_document(tokens) for tokens in documents]
    query_tokens = analyzer.words(QUERY)
    query_vector = model.encode_query(query_tokens)

    print(f"query {QUERY!r} cut into {query_tokens}")
    print("query vector:")
    for token, weight in query_vector.items():
        print(f"  {token}\t{weight:.6f}")
    print("document vectors:")
    for number, vector in enumerate(document_vectors):
        print(f"  doc {number}: " + ", ".join(f"{t}={w:.4f}" for t, w in vector.items()))

    print("ranking:")
    scores = [dot(query_vector, vector) for vector in document_vectors]
    for rank, number in enumerate(sorted(range(len(CORPUS)), key=lambda n: -scores[n]), 1):
        print(f"  {rank}. {scores[number]:.6f}  {CORPUS[number]}")

    # The same texts, one per line, indexed into a database and searched there.
    with tempfile.TemporaryDirectory() as folder:
        corpus, database = os.path.join(folder, "corpus.txt"), os.path.join(folder, "corpus.db")
        with open(corpus, "w", encoding="utf-8") as file:
            file.write("\n".join(CORPUS) + "\n")
        build_index(corpus, database, analyzer=analyzer)
        print("from the SQLite database (documents that share no word are left out):")
        with SearchIndex(database, analyzer=analyzer) as index:
            for rank, hit in enumerate(index.search(QUERY, k=5), 1):
                print(f"  {rank}. {hit.score:.6f}  doc {hit.doc}  {hit.text}")
                assert hit.score == scores[hit.doc - 1]


if __name__ == "__main__":
    main()
