"""Keyword search with BM25 sparse vectors: train, encode, rank."""

from pyvornlex import BM25

CORPUS = [
    "the quick brown fox jumps over the lazy dog".split(),
    "a fast brown fox and a quick red fox".split(),
    "dogs and cats live together in peace".split(),
    "the lazy cat sleeps all day long".split(),
    "foxes are quick and clever animals".split(),
]
QUERY = "quick brown fox".split()


def dot(query_vector, document_vector):
    return sum(weight * document_vector.get(token, 0.0) for token, weight in query_vector.items())


def main():
    model = BM25()  # b = 0.75, k1 = 1.2
    for tokens in CORPUS:
        model.train(tokens)

    documents = [model.encode_document(tokens) for tokens in CORPUS]
    query = model.encode_query(QUERY)

    print("query vector:")
    for token, weight in query.items():
        print(f"  {token:>8} {weight:+.6f}")
    print("document vectors:")
    for number, vector in enumerate(documents):
        print(f"  doc {number}: " + ", ".join(f"{t}={w:.4f}" for t, w in vector.items()))

    print(f"ranking for {' '.join(QUERY)!r}:")
    ranked = sorted(range(len(CORPUS)), key=lambda n: dot(query, documents[n]), reverse=True)
    for rank, number in enumerate(ranked, 1):
        print(f"  {rank}. {dot(query, documents[number]):.6f}  {' '.join(CORPUS[number])}")


if __name__ == "__main__":
    main()
