#!/usr/bin/env python3
"""Channels dragged out of one selector process onto the preset buttons of another.

The off-screen platform runs no drags, so this test starts an X server of its own (Xvfb, on a
display number it picks itself; nobody's screen), two selector processes on it (preset_drag_peer)
and moves the pointer with the XTest extension as a user would: press on a row of one selector,
move, release over a preset button of the other. Exit status 0 when every case passes, 1 when one
fails, 77 (skipped) when there is no Xvfb or no XTest library.

Usage: preset_drag_processes_test.py PEER_PROGRAM
"""
import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
WAIT_S = 10  # for the X server and a selector to come up
MOTION_STEPS = 20
STEP_S = 0.03
KEY_ESCAPE = 0xFF1B


class XTest:
    """The pointer and keyboard of an X display, driven through the XTest extension."""

    def __init__(self, display):
        self.x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xtst = ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)

    def close(self):
        self.x11.XCloseDisplay(self.display)

    def move(self, point):
        self.xtst.XTestFakeMotionEvent(self.display, -1, point[0], point[1], 0)
        self.x11.XFlush(self.display)

    def button(self, down):
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1 if down else 0, 0)
        self.x11.XFlush(self.display)

    def key(self, keysym):
        code = self.x11.XKeysymToKeycode(self.display, keysym)
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)

    def drag(self, start, end, escape=False):
        """Presses at `start`, moves to `end` in steps and releases there (after Escape when
        `escape`)."""
        self.move(start)
        time.sleep(0.2)
        self.button(True)
        time.sleep(0.1)
        for i in range(1, MOTION_STEPS + 1):
            self.move((start[0] + (end[0] - start[0]) * i // MOTION_STEPS,
                       start[1] + (end[1] - start[1]) * i // MOTION_STEPS))
            time.sleep(STEP_S)
        time.sleep(0.2)
        if escape:
            self.key(KEY_ESCAPE)
            time.sleep(0.2)
        self.button(False)


class Peer:
    """One selector process and the lines it prints."""

    def __init__(self, program, env, x, y, channels):
        self.process = subprocess.Popen([program, str(x), str(y)] + [str(c) for c in channels],
                                        stdout=subprocess.PIPE, env=env)
        self.buffer = b""
        self.points = {}
        self.presets = None

    def lines(self, timeout):
        """The next lines printed, waiting at most `timeout` seconds for the first of them; none
        when nothing came or the process ended."""
        end = time.monotonic() + timeout
        out = []
        while not out and time.monotonic() < end:
            ready, _, _ = select.select([self.process.stdout], [], [], max(0, end - time.monotonic()))
            if not ready:
                break
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                break
            self.buffer += chunk
            while b"\n" in self.buffer:
                line, self.buffer = self.buffer.split(b"\n", 1)
                out.append(line.decode())
                if line.startswith(b"presets "):
                    self.presets = [int(v) for v in line.split()[1:]]
        return out

    def wait_ready(self):
        end = time.monotonic() + WAIT_S
        while time.monotonic() < end:
            for line in self.lines(end - time.monotonic()):
                if line == "ready":
                    return True
                words = line.split()
                self.points[" ".join(words[:-2])] = (int(words[-2]), int(words[-1]))
            if self.process.poll() is not None:
                return False
        return False

    def presets_after(self, seconds, want=None):
        """The presets last printed (None if none were) once `seconds` have passed, or as soon
        as they are `want`."""
        end = time.monotonic() + seconds
        while time.monotonic() < end and (want is None or self.presets != want):
            self.lines(end - time.monotonic())
        return self.presets

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def start_x_server():
    """An Xvfb on a free display number, and that display's name."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1400x700x24",
                               "-nolisten", "tcp"], pass_fds=(write_end,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    end = time.monotonic() + WAIT_S
    while time.monotonic() < end and not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], max(0, end - time.monotonic()))
        if not ready:
            break
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        server.kill()
        server.wait()
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number.strip().decode()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = sys.argv[1]
    if shutil.which("Xvfb") is None:
        print("SKIP: no Xvfb")
        return SKIP
    try:
        ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xtst") or "libXtst.so.6")
    except OSError:
        print("SKIP: no XTest library")
        return SKIP

    server, display = start_x_server()
    peers = []
    failures = []
    passes = 0
    try:
        with tempfile.TemporaryDirectory() as temp:
            def env_for(name):
                env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                           XDG_RUNTIME_DIR=temp, VQSCW_AUDIO_SINK="fakesink",
                           VQSCW_REGISTRY=os.path.join(temp, name + ".db"))
                env.pop("WAYLAND_DISPLAY", None)
                return env

            target = Peer(program, env_for("target"), 40, 60, [])
            source = Peer(program, env_for("source"), 740, 60, [101, 142])
            peers = [target, source]
            for peer in peers:
                if not peer.wait_ready():
                    raise RuntimeError("a selector did not come up")
            pointer = XTest(display)
            defaults = [1, 2, 3, 4, 5, 6, 7, 8]

            def check(name, got, want):
                nonlocal passes
                if got == want:
                    passes += 1
                    print("PASS:", name)
                else:
                    failures.append(name)
                    print("FAIL: %s: presets %s, expected %s" % (name, got, want))

            # Escape during the drag cancels it: nothing is dropped where the button is released.
            pointer.drag(source.points["row 101"], target.points["preset 4"], escape=True)
            check("escape cancels the drag", target.presets_after(1.0), None)

            # Released over a window that does not take the format: nothing happens.
            pointer.drag(source.points["row 101"], target.points["list"])
            check("the list takes no drop", target.presets_after(1.0), None)

            # Dropped on preset button 3 of the other process: preset 3 holds the channel there.
            pointer.drag(source.points["row 142"], target.points["preset 3"])
            want = [1, 2, 142, 4, 5, 6, 7, 8]
            check("drop on preset 3 of another process", target.presets_after(3.0, want), want)
            check("the dragging selector's presets stay", source.presets_after(0.2), None)

            # And within one process, onto its own preset button 8.
            pointer.drag(source.points["row 101"], source.points["preset 8"])
            want = defaults[:7] + [101]
            check("drop within one process", source.presets_after(3.0, want), want)
            pointer.close()
    except RuntimeError as error:
        failures.append(str(error))
        print("FAIL:", error)
    finally:
        for peer in peers:
            peer.stop()
        server.terminate()
        try:
            server.wait(5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
    print("%d passed, %d failed" % (passes, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
