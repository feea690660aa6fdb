"""Capture what brenik prints.

brenik writes its progress and evaluation lines straight to file descriptor 1,
not through `sys.stdout`, so `contextlib.redirect_stdout` does not see them.
`captured_lines` points descriptor 1 at a temporary file for the duration of a
`with` block and hands back the lines written there.
"""

import contextlib
import os
import sys
import tempfile


@contextlib.contextmanager
def captured_lines():
    """with captured_lines() as lines: ... -- `lines` is filled when the block ends."""
    lines = []
    sys.stdout.flush()
    saved = os.dup(1)
    with tempfile.TemporaryFile(mode="w+b") as sink:
        os.dup2(sink.fileno(), 1)
        try:
            yield lines
        finally:
            sys.stdout.flush()
            os.dup2(saved, 1)
            os.close(saved)
            sink.seek(0)
            lines.extend(sink.read().decode("utf-8").splitlines())
