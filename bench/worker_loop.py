"""What the benchmark's worker processes share: reading the corpus and
answering timed commands from standard input, one a line, each with one line
"seconds words"; "quit" ends the loop."""

import sys


def read_corpus(path):
    with open(path, encoding="utf-8") as handle:
        return [line for line in handle.read().split("\n") if line]


def serve(lines, commands):
    """Announces readiness, then runs the named commands until "quit"."""
    print("ready", len(lines), flush=True)
    for command in sys.stdin:
        command = command.strip()
        if command == "quit":
            break
        if command not in commands:
            print("unknown command " + command, file=sys.stderr, flush=True)
            return 1
        seconds, words = commands[command]()
        print(seconds, words, flush=True)
    return 0
