#!/usr/bin/env python3
"""Proves that the engine's layering holds at compile time.

Each engine layer may include its own headers and those of the layers it
builds on, and nothing else. For every layer this compiles a one-line
source that includes a header of every other layer, with the flags the
build gives that layer's own sources (from compile_commands.json): the
allowed includes must compile and the others must fail to find the header.

Usage: check_layering.py BUILD_DIR
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

# What each layer builds on, as engine/CMakeLists.txt links them.
BELOW = {
    "format": [],
    "db": ["format"],
    "check": ["db", "format"],
    "compact": ["check", "db", "format"],
    "repair": ["compact", "check", "db", "format"],
    "build": ["db", "format"],
}


def main():
    build_dir = sys.argv[1]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    engine = os.path.join(root, "engine")
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        commands = json.load(f)

    def command_for(layer):
        prefix = os.path.join(engine, layer) + os.sep
        for entry in commands:
            if entry["file"].startswith(prefix):
                return entry
        raise SystemExit(f"no source of engine/{layer} in the build's compile commands")

    def a_header(layer):
        return sorted(h for h in os.listdir(os.path.join(engine, layer)) if h.endswith(".h"))[0]

    faults = []
    with tempfile.TemporaryDirectory() as scratch:
        for layer, below in BELOW.items():
            entry = command_for(layer)
            args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
            # Keep the compiler and its flags; drop the output and the source.
            kept, skip = [], False
            for arg in args:
                if skip:
                    skip = False
                    continue
                if arg in ("-o", "-c", "-MF", "-MT", "-MQ"):
                    skip = arg != "-c"
                    continue
                if arg == entry["file"] or arg.endswith(os.path.basename(entry["file"])):
                    continue
                kept.append(arg)
            for other in BELOW:
                source = os.path.join(scratch, f"{layer}_includes_{other}.cpp")
                with open(source, "w") as f:
                    f.write(f'#include "{other}/{a_header(other)}"\n')
                result = subprocess.run(kept + ["-fsyntax-only", source], cwd=entry["directory"],
                                        capture_output=True, text=True)
                allowed = other == layer or other in below
                if allowed and result.returncode != 0:
                    faults.append(f"engine/{layer} cannot include {other}/: {result.stderr.strip()}")
                if not allowed and result.returncode == 0:
                    faults.append(f"engine/{layer} can include {other}/, a layer it does not build on")
    for fault in faults:
        print(fault)
    print(f"layering: {len(BELOW)} layers, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
