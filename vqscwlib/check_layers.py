#!/usr/bin/env python3
"""Checks that each layer of the library compiles against exactly what the design lets it use.

For every layer, a probe that includes one header of each subsystem (and each public header) is
compiled with the very command line the build uses for that layer's own sources, taken from
compile_commands.json. A header the layer may use must compile; any other must fail to be found.
Usage: check_layers.py BUILD_DIR
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

# What each layer may include: its own subsystem, the ones listed, and base.
MAY_USE = {
    "platform": [],
    "message": [],
    "transport": ["message", "platform"],
    "protocol": ["transport", "message", "platform"],
    "spy": ["protocol", "transport", "message", "platform"],
    "preview": ["platform"],
    "selector": ["spy", "protocol", "transport", "message", "platform", "preview"],
}
# One self-contained header of each subsystem.
PROBES = {
    "base": "vqscwlib/base/byte_order.h",
    "platform": "vqscwlib/platform/clock.h",
    "message": "vqscwlib/message/field_list.h",
    "transport": "vqscwlib/transport/net_address.h",
    "protocol": "vqscwlib/protocol/sdp_writer.h",
    "spy": "vqscwlib/spy/access_list.h",
    "preview": "vqscwlib/preview/pcm_convert.h",
    "selector": "vqscwlib/selector/settings.h",
}
# The public headers and the subsystem each belongs to.
PUBLIC = {
    "vqscw/export.h": "base",
    "vqscw/format.h": "base",
    "vqscw/network.h": "base",
    "vqscw/message.h": "message",
    "vqscw/endpoint.h": "transport",
    "vqscw/host.h": "protocol",
    "vqscw/spy.h": "spy",
    "vqscw/selector.h": "selector",
}


def layer_command(commands, layer):
    """The compile command of one of the layer's own sources, without its input and outputs."""
    marker = f"/vqscw_{layer}.dir/"
    for entry in commands:
        args = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
        if any(marker in a for a in args) and entry["file"].endswith(".cpp"):
            kept, skip = [], False
            for a in args:
                if skip:
                    skip = False
                elif a in ("-o", "-c", "-MF", "-MT"):
                    skip = True
                elif a in ("-MD", "ccache"):
                    pass
                else:
                    kept.append(a)
            return kept, entry["directory"]
    return None, None


def main():
    build = sys.argv[1]
    with open(os.path.join(build, "compile_commands.json")) as f:
        commands = json.load(f)
    failures = []
    checks = 0
    with tempfile.TemporaryDirectory() as scratch:
        for layer, uses in MAY_USE.items():
            command, directory = layer_command(commands, layer)
            if command is None:
                failures.append(f"{layer}: no compile command found for the layer's sources")
                continue
            allowed = set(uses) | {layer, "base"}
            headers = [(h, s) for s, h in PROBES.items()] + list(PUBLIC.items())
            for header, subsystem in headers:
                probe = os.path.join(scratch, "probe.cpp")
                with open(probe, "w") as out:
                    out.write(f'#include "{header}"\n')
                result = subprocess.run(command + ["-fsyntax-only", probe], cwd=directory,
                                        capture_output=True, text=True)
                checks += 1
                if subsystem in allowed:
                    if result.returncode != 0:
                        failures.append(f"{layer} may include {header} but cannot:\n"
                                        f"{result.stderr}")
                elif result.returncode == 0:
                    failures.append(f"{layer} must not see {header}, and compiles with it")
                elif not (f"{header}: No such file" in result.stderr or  # g++
                          f"'{header}' file not found" in result.stderr):  # clang
                    failures.append(f"{layer} including {header} fails for another reason:\n"
                                    f"{result.stderr}")
    for failure in failures:
        print(failure)
    print(f"{checks} includes checked, {len(failures)} wrong")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
