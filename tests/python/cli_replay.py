#!/usr/bin/env python3
"""pictrove-cli's answers, kept where the tool runs and given back where it
does not: the package's table compares the package with the tool, and a bare
root that has the package alone has no tool.

    PICTROVE_CLI_RECORDS=FOLDER PICTROVE_CLI_REAL=TOOL cli_replay.py ARGS...
        runs the tool and keeps what it answered in FOLDER
    PICTROVE_CLI_RECORDS=FOLDER cli_replay.py ARGS...
        answers as the tool did for the same arguments

An answer is the exit status, standard output and error, and every file the
run wrote at or below a whole path among its arguments (extract's folder,
thumbnail's picture, a collection file). Replayed at the same paths, so the
table runs with the same folders in both places. Arguments never answered
before are an error (exit 99) naming them.
"""

import base64
import hashlib
import json
import os
import subprocess
import sys


def record_path(argv):
    return os.path.join(os.environ["PICTROVE_CLI_RECORDS"],
                        hashlib.sha256(json.dumps(argv).encode()).hexdigest() + ".json")


def state(path):
    """{file: (size, mtime)} of a file or of every file below a folder."""
    if os.path.isfile(path):
        info = os.stat(path)
        return {path: (info.st_size, info.st_mtime_ns)}
    found = {}
    for folder, _, names in os.walk(path):
        for name in names:
            whole = os.path.join(folder, name)
            info = os.stat(whole)
            found[whole] = (info.st_size, info.st_mtime_ns)
    return found


def record(argv):
    paths = [a for a in argv if os.path.isabs(a)]
    before = {p: state(p) for p in paths}
    done = subprocess.run([os.environ["PICTROVE_CLI_REAL"], *argv], capture_output=True)
    written = {}
    for path in paths:
        for whole, stamp in state(path).items():
            if before[path].get(whole) != stamp:
                with open(whole, "rb") as f:
                    written[whole] = base64.b64encode(f.read()).decode()
    os.makedirs(os.environ["PICTROVE_CLI_RECORDS"], exist_ok=True)
    with open(record_path(argv), "w") as f:
        json.dump({"argv": argv, "status": done.returncode, "stdout": base64.b64encode(done.stdout).decode(),
                   "stderr": base64.b64encode(done.stderr).decode(), "written": written}, f)
    return done.returncode, done.stdout, done.stderr


def replay(argv):
    try:
        with open(record_path(argv)) as f:
            answer = json.load(f)
    except FileNotFoundError:
        return 99, b"", ("cli_replay: no answer was recorded for %s\n" % json.dumps(argv)).encode()
    for whole, content in answer["written"].items():
        os.makedirs(os.path.dirname(whole), exist_ok=True)
        with open(whole, "wb") as f:
            f.write(base64.b64decode(content))
    return answer["status"], base64.b64decode(answer["stdout"]), base64.b64decode(answer["stderr"])


def main():
    argv = sys.argv[1:]
    status, out, err = (record if os.environ.get("PICTROVE_CLI_REAL") else replay)(argv)
    sys.stdout.buffer.write(out)
    sys.stderr.buffer.write(err)
    return status


if __name__ == "__main__":
    sys.exit(main())
