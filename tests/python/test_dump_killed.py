"""A process killed while it dumps leaves the earlier model or the new one,
whole, and no temporary file beside it."""

import json
import os
import random
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from pyvornlex import BM25

# A child that dumps a large model again and again; it says when it starts.
DUMP_LOOP = """
import sys
from pyvornlex import BM25
model = BM25()
for start in range(0, 400000, 400):
    model.train(["token%d" % i for i in range(start, start + 400)] + ["shared"])
print("ready", flush=True)
while True:
    model.dump(sys.argv[1])
"""


class Killed(unittest.TestCase):
    def test_a_process_killed_while_it_dumps_leaves_a_whole_model_and_no_litter(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        path = os.path.join(directory.name, "model.json")
        first = BM25()
        first.train(["a", "b", "a"])
        first.train(["b", "c"])
        first.dump(path)
        random_source = random.Random(13)
        kills = 30
        for _ in range(kills):
            child = subprocess.Popen([sys.executable, "-c", DUMP_LOOP, path],
                                     stdout=subprocess.PIPE, text=True)
            self.assertEqual(child.stdout.readline().strip(), "ready")
            time.sleep(random_source.uniform(0.0, 0.4))
            child.send_signal(signal.SIGKILL)
            child.wait()
            child.stdout.close()
            self.assertEqual(os.listdir(directory.name), ["model.json"])
            with open(path, encoding="utf-8") as file:
                text = file.read()
            BM25().load(text)  # raises on a partial file
            document = json.loads(text)
            self.assertIn((document["_doc_count"], len(document["_doc_token_frequency"])),
                          ((2, 3), (1000, 400001)))


if __name__ == "__main__":
    unittest.main()
