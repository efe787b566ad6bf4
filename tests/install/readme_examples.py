"""The README shows the example programs whole, as the install test runs them.

Usage: readme_examples.py SOURCE_DIR
"""
import os
import sys

source = sys.argv[1]
with open(os.path.join(source, "README.md"), encoding="utf-8") as file:
    readme = file.read()
missing = []
for name in ["qr_hello.c", "qr_hello.py", "CMakeLists.txt"]:
    with open(os.path.join(source, "docs", "examples", name), encoding="utf-8") as file:
        if file.read() not in readme:
            missing.append(name)
if missing:
    sys.exit("README.md does not show docs/examples/ as they are: " + ", ".join(missing))
