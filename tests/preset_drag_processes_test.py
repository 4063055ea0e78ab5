#!/usr/bin/env python3
"""Channels dragged out of one selector process onto the preset buttons of another.

The off-screen platform runs no drags, so this test starts an X server of its own (Xvfb, on a
display number it picks itself; nobody's screen), two selectors on it (preset_drag_peer) and moves
the pointer with the XTest extension as a user would. Exit status 0 when every case passes, 1 when
one fails, 77 (skipped) without Xvfb or the XTest library.

Usage: preset_drag_processes_test.py PEER_PROGRAM
"""
import ctypes
import itertools
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
STOP_S = 5  # for the X server to end after SIGTERM
KEY_ESCAPE = 0xFF1B
COPY_ACTION = 1  # Qt::CopyAction, as the selectors print it
IS_VIEWABLE = 2  # an XWindowAttributes map_state
PR_SET_PDEATHSIG = 1
P, I, U = ctypes.c_void_p, ctypes.c_int, ctypes.c_ulong


def ends_with_this_test(sig):
    """A child's step before it runs its program: it gets `sig` when this test's process ends,
    also when the test is killed (a time-out), so no X server or selector outlives it."""
    parent = os.getpid()
    libc = ctypes.CDLL(None, use_errno=True)

    def arrange():
        libc.prctl(PR_SET_PDEATHSIG, sig)
        if os.getppid() != parent:  # the test ended before the child could ask
            os.kill(os.getpid(), sig)
    return arrange


class WindowAttributes(ctypes.Structure):
    """Xlib's XWindowAttributes."""
    _fields_ = [("x", I), ("y", I), ("width", I), ("height", I), ("border_width", I),
                ("depth", I), ("visual", P), ("root", U), ("class_", I), ("bit_gravity", I),
                ("win_gravity", I), ("backing_store", I), ("backing_planes", U),
                ("backing_pixel", U), ("save_under", I), ("colormap", U), ("map_installed", I),
                ("map_state", I), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", I), ("screen", P)]


# Errors about windows that went away are answered as failed calls, not by Xlib's default handler
# (which ends the process).
X_ERROR_HANDLER = ctypes.CFUNCTYPE(I, P, P)(lambda display, event: 0)


class Pointer:
    """The pointer and keyboard of an X display, driven through the XTest extension."""

    def __init__(self, display):
        self.x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        self.xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
        self.x11.XOpenDisplay.restype = P
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XFlush.argtypes = self.x11.XCloseDisplay.argtypes = [P]
        self.x11.XKeysymToKeycode.argtypes = [P, U]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XDefaultRootWindow.argtypes = [P]
        self.x11.XDefaultRootWindow.restype = U
        self.x11.XGetWindowAttributes.argtypes = [P, U, ctypes.POINTER(WindowAttributes)]
        self.x11.XTranslateCoordinates.argtypes = [P, U, U, I, I, ctypes.POINTER(I),
                                                   ctypes.POINTER(I), ctypes.POINTER(U)]
        self.x11.XSetErrorHandler(X_ERROR_HANDLER)
        self.xtst.XTestFakeMotionEvent.argtypes = [P, I, I, I, U]
        self.xtst.XTestFakeButtonEvent.argtypes = self.xtst.XTestFakeKeyEvent.argtypes = [
            P, ctypes.c_uint, I, U]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)

    def close(self):
        self.x11.XCloseDisplay(self.display)

    def window_shown(self, window, origin):
        """Whether the X server has `window` mapped with its top left corner at `origin`."""
        attributes = WindowAttributes()
        if not self.x11.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return False
        x, y, child = I(), I(), U()
        return (attributes.map_state == IS_VIEWABLE and
                self.x11.XTranslateCoordinates(self.display, window,
                                               self.x11.XDefaultRootWindow(self.display), 0, 0,
                                               ctypes.byref(x), ctypes.byref(y),
                                               ctypes.byref(child)) != 0 and
                (x.value, y.value) == origin)

    def _flush(self, pause):
        self.x11.XFlush(self.display)
        time.sleep(pause)

    def press_and_move(self, start, end):
        """Presses the button at `start` and moves to `end` in steps, at a hand's pace."""
        self.xtst.XTestFakeMotionEvent(self.display, -1, start[0], start[1], 0)
        self._flush(0.1)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self._flush(0.05)
        steps = 20
        for i in range(1, steps + 1):
            self.xtst.XTestFakeMotionEvent(self.display, -1,
                                           start[0] + (end[0] - start[0]) * i // steps,
                                           start[1] + (end[1] - start[1]) * i // steps, 0)
            self._flush(0.02)

    def nudge(self, point, step):
        """Moves one pixel off `point` and back, as a hand resting there would."""
        self.xtst.XTestFakeMotionEvent(self.display, -1, point[0] + step % 2, point[1], 0)
        self._flush(0)

    def press_escape(self):
        code = self.x11.XKeysymToKeycode(self.display, KEY_ESCAPE)
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self._flush(0)

    def release(self):
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self._flush(0)


class Peer:
    """One selector process: where its rows and buttons are, and the presets it printed last."""

    def __init__(self, program, env, x, y, channels):
        self.process = subprocess.Popen([program, str(x), str(y)] + [str(c) for c in channels],
                                        stdout=subprocess.PIPE, env=env,
                                        preexec_fn=ends_with_this_test(signal.SIGKILL))
        self.pending = b""
        self.ended = False
        self.window = None
        self.points = {}
        self.presets = None
        self.ready = False
        self.dragging = False  # a drag out of this selector runs
        self.drag_action = None  # what it would end in, as it last said

    def read(self, timeout):
        """Takes in what the process prints within `timeout` seconds, returning at the first
        chunk; at the end of its output, sets `ended`."""
        ready, _, _ = select.select([self.process.stdout], [], [], max(0, timeout))
        if not ready:
            return
        chunk = os.read(self.process.stdout.fileno(), 4096)
        self.ended = not chunk
        self.pending += chunk
        while b"\n" in self.pending:
            line, self.pending = self.pending.split(b"\n", 1)
            words = line.decode().split()
            if not words:
                continue
            if words == ["ready"]:
                self.ready = True
            elif words[0] == "presets":
                self.presets = [int(v) for v in words[1:]]
            elif words == ["drag", "started"]:
                self.dragging, self.drag_action = True, None
            elif words == ["drag", "ended"]:
                self.dragging = False
            elif words[:2] == ["drag", "action"]:
                self.drag_action = int(words[2])
            elif words[0] == "window":
                self.window = (int(words[1]), (int(words[2]), int(words[3])))
            else:
                self.points[" ".join(words[:-2])] = (int(words[-2]), int(words[-1]))

    def wait(self, done, seconds):
        end = time.monotonic() + seconds
        while not done() and not self.ended and time.monotonic() < end:
            self.read(end - time.monotonic())
        return done()

    def presets_after(self, seconds, want=None):
        """The presets last printed (None if none were) after `seconds`, or once they are
        `want`."""
        self.wait(lambda: want is not None and self.presets == want, seconds)
        return self.presets

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()


def wait_until(done, seconds, pause=0.02):
    """Whether `done()` holds within `seconds`, asking every `pause` seconds."""
    end = time.monotonic() + seconds
    while not done():
        if time.monotonic() >= end:
            return False
        time.sleep(pause)
    return True


def read_line(fd, seconds):
    """What the other end writes to `fd` up to its first newline (or its end) within `seconds`;
    the writer may hand over one line in several writes."""
    text = b""
    end = time.monotonic() + seconds
    while b"\n" not in text:
        ready, _, _ = select.select([fd], [], [], max(0, end - time.monotonic()))
        chunk = os.read(fd, 64) if ready else b""
        if not chunk:
            break
        text += chunk
    return text


def stop_x_server(server):
    """Ends the X server with SIGTERM, so that it removes its socket and lock file; kills it when
    it does not end in time."""
    server.terminate()
    try:
        server.wait(STOP_S)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def start_x_server():
    """An Xvfb on a free display number, and that display's name."""
    read_end, write_end = os.pipe()
    log = tempfile.TemporaryFile()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1400x700x24",
                               "-nolisten", "tcp"], pass_fds=(write_end,),
                              stdout=subprocess.DEVNULL, stderr=log,
                              preexec_fn=ends_with_this_test(signal.SIGTERM))
    os.close(write_end)
    # Xvfb writes the number once it takes connections; it ends when it cannot write the rest of
    # the line, so the pipe stays open until the newline is in.
    line = read_line(read_end, WAIT_S)
    os.close(read_end)
    number = line.strip()
    if not line.endswith(b"\n") or not number.isdigit() or server.poll() is not None:
        stop_x_server(server)
        log.seek(0)
        raise RuntimeError("Xvfb did not start (it wrote %r): %s" % (
            line, log.read().decode(errors="replace").strip()))
    log.close()
    return server, ":" + number.decode()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    try:
        ctypes.cdll.LoadLibrary("libXtst.so.6")
    except OSError:
        print("SKIP: no XTest library")
        return SKIP
    if shutil.which("Xvfb") is None:
        print("SKIP: no Xvfb")
        return SKIP

    results = []
    try:
        server, display = start_x_server()
    except RuntimeError as error:
        print("FAIL: %s" % error)
        return 1
    peers = []
    pointer = None
    try:
        with tempfile.TemporaryDirectory() as temp:
            def env_for(name):
                env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                           XDG_RUNTIME_DIR=temp, VQSCW_REGISTRY=os.path.join(temp, name + ".db"))
                env.pop("WAYLAND_DISPLAY", None)
                return env

            target = Peer(sys.argv[1], env_for("target"), 40, 60, [])
            source = Peer(sys.argv[1], env_for("source"), 740, 60, [101, 142])
            peers = [target, source]
            if not all(peer.wait(lambda p=peer: p.ready, WAIT_S) for peer in peers):
                raise RuntimeError("a selector did not come up")
            pointer = Pointer(display)
            # The selectors' windows are where they said, as the X server sees it, before any
            # pointer event is sent.
            if not all(wait_until(lambda p=peer: pointer.window_shown(*p.window), WAIT_S)
                       for peer in peers):
                raise RuntimeError("a selector's window is not where it said")

            def drag(start, end, before_release):
                """Drags from `start` to `end` out of the source selector and releases the
                button there once `before_release()` is done; the drag is over on return."""
                pointer.press_and_move(start, end)
                if not source.wait(lambda: source.dragging, WAIT_S):
                    raise RuntimeError("the drag did not start")
                before_release(end)
                pointer.release()
                if not source.wait(lambda: not source.dragging, WAIT_S):
                    raise RuntimeError("the drag did not end")

            def until_taken(end):
                """Rests on `end` until the window there has told the source it takes the data
                (releasing earlier, before the window system's exchange is done, drops
                nothing)."""
                deadline = time.monotonic() + WAIT_S
                for step in itertools.count():
                    if source.drag_action == COPY_ACTION or time.monotonic() >= deadline:
                        break
                    pointer.nudge(end, step)
                    source.wait(lambda: source.drag_action == COPY_ACTION, 0.1)
                if source.drag_action != COPY_ACTION:
                    raise RuntimeError("the drop target did not take the drag")

            def escape(end):
                pointer.press_escape()
                if not source.wait(lambda: not source.dragging, WAIT_S):
                    raise RuntimeError("Escape did not end the drag")

            def rest(end):
                """Rests on `end` for as long as a window that takes the data needs to say so."""
                for step in range(5):
                    pointer.nudge(end, step)
                    source.wait(lambda: source.drag_action == COPY_ACTION, 0.1)

            # Escape during the drag cancels it; a window that does not take the format gets
            # nothing.
            drag(source.points["row 101"], target.points["preset 4"], escape)
            results.append(("escape cancels the drag", target.presets_after(0.5), None))
            drag(source.points["row 101"], target.points["list"], rest)
            results.append(("the list takes no drop", target.presets_after(0.5), None))
            results.append(("the list refuses the drag", source.drag_action or None, None))

            # Dropped on preset button 3 of the other process: that process's preset 3 holds it.
            want = [1, 2, 142, 4, 5, 6, 7, 8]
            drag(source.points["row 142"], target.points["preset 3"], until_taken)
            results.append(("drop on another process", target.presets_after(WAIT_S, want), want))
            results.append(("the source's presets stay", source.presets_after(0.2), None))

            want = [1, 2, 3, 4, 5, 6, 7, 101]
            drag(source.points["row 101"], source.points["preset 8"], until_taken)
            results.append(("drop within one process", source.presets_after(WAIT_S, want), want))
    except RuntimeError as error:
        results.append((str(error), False, True))
    finally:
        for peer in peers:
            peer.stop()
        if pointer is not None:
            pointer.close()
        stop_x_server(server)
    failed = 0
    for name, got, want in results:
        print("%s: %s" % ("PASS" if got == want else "FAIL", name))
        if got != want:
            print("  presets %s, expected %s" % (got, want))
            failed += 1
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
