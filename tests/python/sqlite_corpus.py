"""A small Chinese corpus for the pyvornlex_search tests, made from a fixed
seed: Zipf-like word frequencies (so that the commonest words occur more
often than there are documents and get negative IDFs), duplicated lines
(ties), blank lines and punctuation-only lines."""

import random

WORDS = ["的", "在", "杭州", "北京", "龙井茶", "西湖", "冬天", "火锅", "公司", "研究所",
         "中文", "分词", "搜索引擎", "文章", "词语", "权重", "游客", "春天", "桃花", "茶农",
         "清明", "上山", "采茶", "喜欢", "家里", "热茶", "开满", "湖边", "坐船", "城西",
         "软件", "安装", "文件", "系统", "命令", "选项", "显示", "设置", "用户", "目录"]


def corpus_lines(count=400, seed=7):
    """`count` document lines, plus some blank and punctuation-only ones."""
    chooser = random.Random(seed)
    weights = [1.0 / rank for rank in range(1, len(WORDS) + 1)]
    lines = []
    for number in range(count):
        if number % 37 == 5 and lines:
            lines.append(lines[-3 if len(lines) > 3 else -1])  # an exact duplicate: ties
            continue
        words = chooser.choices(WORDS, weights, k=chooser.randint(1, 14))
        lines.append(chooser.choice(["", " ", "，"]).join(words) + chooser.choice(["", "。"]))
    lines.insert(10, "")
    lines.insert(20, "   ")
    lines.insert(30, "，。！")
    return lines


def queries(count, seed=11):
    """Query texts of 1 to 8 words, common and rare, some not in the corpus."""
    chooser = random.Random(seed)
    pool = WORDS + ["不存在的词", "量子", "火车站"]
    return ["".join(chooser.sample(pool, chooser.randint(1, 8))) for _ in range(count)]
