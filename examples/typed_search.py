"""Both classes from fully annotated code: type checkers take the types from
the stubs that come with pyvornlex (mypy --strict passes on this file)."""

from typing import Dict, List, Sequence, Tuple

from pyvornlex import BM25, Jieba
from pyvornlex_data import dict_paths

TEXTS = ["西湖在杭州城西", "杭州的龙井茶很有名", "北京的冬天很冷"]


def score(query: Dict[str, float], document: Dict[str, float]) -> float:
    return sum(weight * document.get(token, 0.0) for token, weight in query.items())


def rank(model: BM25, documents: Sequence[List[str]], query: List[str]) -> List[Tuple[float, int]]:
    query_vector = model.encode_query(query)
    scores = [(score(query_vector, model.encode_document(d)), n) for n, d in enumerate(documents)]
    return sorted(scores, reverse=True)


def main() -> None:
    jieba = Jieba(*dict_paths())
    documents: List[List[str]] = [jieba.cut(text) for text in TEXTS]
    model = BM25(b=0.75, k1=1.2)
    for tokens in documents:
        model.train(tokens)
    ids: Dict[int, float] = model.encode_query([7, 42])  # integer ids give integer keys
    best_score, best = rank(model, documents, jieba.cut("杭州龙井茶"))[0]
    print(f"best match: {TEXTS[best]} ({best_score:.4f}); id query {ids}")


if __name__ == "__main__":
    main()
