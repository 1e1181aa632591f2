#!/usr/bin/env python3
"""check-stub refuses a stub whose manifest resource names another architecture or lacks
what the program needs. Each case alters a copy of a built stub in place, at the same
length. Usage: check_stub_test.py CHECK_STUB STUB..."""
import os
import re
import subprocess
import sys
import tempfile


def comment_out(text):
    return b"<!--" + text[4:-3] + b"-->"


CASES = [  # what is altered, how, the refusal expected (None: accepted as built)
    (rb"", lambda t: t, None),
    (rb'processorArchitecture="(x86|amd64)"',
     lambda t: t.replace(b"x86", b"arm").replace(b"amd64", b"arm64"), "architecture"),
    (rb'level="requireAdministrator"', lambda t: b'level="asInvoker"'.ljust(len(t)),
     "execution level"),
    (rb'<supportedOS Id="\{8e0f7a12[^"]*"/>', comment_out, "supportedOS missing"),
    (rb"<dpiAware [^>]*>true</dpiAware>", comment_out, "not DPI aware"),
    (rb'version="6.0.0.0"', lambda t: b'version="5.8.0.0"', "common controls"),
]
failures = 0
for stub in sys.argv[2:]:
    data = open(stub, "rb").read()
    for pattern, alter, expected in CASES:
        altered = re.sub(pattern, lambda m: alter(m.group(0)), data, count=1)
        assert len(altered) == len(data) and (altered != data) == bool(pattern), pattern
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, "uninstall.exe")
            open(copy, "wb").write(altered)
            run = subprocess.run([sys.executable, sys.argv[1], copy], capture_output=True, text=True)
        accepted = run.returncode == 0
        if accepted != (expected is None) or expected and expected not in run.stdout:
            failures += 1
            print(f"{stub}: {pattern}: expected {expected or 'accepted'}, got:\n{run.stdout}")
sys.exit(1 if failures or not sys.argv[2:] else 0)
