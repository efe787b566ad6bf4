"""The library page shows the example programs whole, as the install test runs them.

Usage: library_page_examples.py SOURCE_DIR
"""
import os
import sys

source = sys.argv[1]
with open(os.path.join(source, "docs", "library.md"), encoding="utf-8") as file:
    page = file.read()
missing = []
for name in ["qr_hello.c", "qr_hello.py", "CMakeLists.txt"]:
    with open(os.path.join(source, "docs", "examples", name), encoding="utf-8") as file:
        if file.read() not in page:
            missing.append(name)
if missing:
    sys.exit("docs/library.md does not show docs/examples/ as they are: " + ", ".join(missing))
