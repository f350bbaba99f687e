#!/usr/bin/env python3
"""Starts the real greyplanes window in a virtual X server and drives it as a user would.

File > Open (typing the name into the file dialog), File > Convert, File > Save C Code,
File > Save Picture and File > Export C Code... (another layout chosen in its dialog, then Save),
all by keyboard; then compares the saved files with what greyplanes-cli writes for the same
picture and options. Then starts it again with the picture named on the command line
(`greyplanes FILE`), zooms in and back by keyboard, converts and saves the C code without any
Open dialog, and compares again. Last it draws with the pencil: a pixel, undone, then another,
and compares the saved picture and text with what greyplanes-cli makes of the edited picture.

Usage: end_to_end.py --app PATH/greyplanes --cli PATH/greyplanes-cli
Exit status 0 on success, 1 on a failure, 77 (skipped) where no virtual X server can run.
"""
import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
OVERALL_TIMEOUT = 180  # seconds; nothing here may hang the test run


def log(message):
    print(message, flush=True)


def write_bitmap(path, width, height):
    """A 24-bit bitmap with a gradient and a few band-edge greys, so all four levels occur."""
    stride = (3 * width + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(width):
            r = (x * 255) // max(1, width - 1)
            g = (y * 255) // max(1, height - 1)
            b = ((x + y) * 37) % 256
            if x == y:
                r = g = b = 127 if x % 2 else 128
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def read_bitmap(path):
    """The pixels of an uncompressed bitmap of 1, 4, 8 or 24 bits as rows of (r, g, b)."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    size, width, height, _, bits = struct.unpack_from("<IiiHH", data, 14)
    palette = [struct.unpack_from("<BBB", data, 14 + size + 4 * i)[::-1]
               for i in range((offset - 14 - size) // 4)]
    stride = ((width * bits + 31) // 32) * 4
    rows = []
    for y in range(abs(height)):
        start = offset + stride * (abs(height) - 1 - y if height > 0 else y)
        row = []
        for x in range(width):
            if bits == 24:
                b, g, r = data[start + 3 * x:start + 3 * x + 3]
                row.append((r, g, b))
            else:
                bit = x * bits
                index = (data[start + bit // 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1)
                row.append(palette[index])
        rows.append(row)
    return rows


def write_rows(path, rows):
    """A 24-bit bottom-up bitmap of rows of (r, g, b)."""
    width, height = len(rows[0]), len(rows)
    stride = (3 * width + 3) & ~3
    data = b"".join(b"".join(bytes((b, g, r)) for r, g, b in row) + bytes(stride - 3 * width)
                    for row in reversed(rows))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


class Driver:
    def __init__(self, deadline):
        self.deadline = deadline

    def xdotool(self, *args, timeout=20):
        left = max(1, min(timeout, self.deadline - time.monotonic()))
        result = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=left)
        return result.returncode, result.stdout.strip()

    def find_all(self, title):
        code, out = self.xdotool("search", "--onlyvisible", "--name", "^%s$" % title)
        return out.split() if code == 0 and out else []

    def find(self, title):
        found = self.find_all(title)
        return found[0] if found else None

    def wait_for(self, title, seconds=30, besides=()):
        """The first window with this title that is not one of `besides`."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            for window in self.find_all(title):
                if window not in besides:
                    return window
            time.sleep(0.2)
        raise AssertionError("no window titled %r appeared" % title)

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window)
        time.sleep(0.3)

    def keys(self, *keys):
        for key in keys:
            self.xdotool("key", "--clearmodifiers", key)
            time.sleep(0.4)

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y))
        time.sleep(0.2)
        self.xdotool("click", "1")
        time.sleep(0.4)

    def menu(self, form, mnemonic):
        """File menu by keyboard: Alt+F, then the entry's underlined letter."""
        self.focus(form)
        self.keys("alt+f", mnemonic)

    def answer_dialog(self, title, name, besides=()):
        dialog = self.wait_for(title, besides=besides)
        self.focus(dialog)
        self.keys("ctrl+a")  # the dialog may offer the last name
        self.xdotool("type", "--delay", "30", name)
        time.sleep(0.5)
        # The first Return may only take a completion that the dialog offers.
        for _ in range(3):
            self.keys("Return")
            if self.wait_gone(dialog, title, 3):
                return
        raise AssertionError("the %r dialog did not accept %s" % (title, name))

    def wait_gone(self, window, title, seconds=10):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if window not in self.find_all(title):
                return True
            time.sleep(0.2)
        return False


def wait_for_file(path, size, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if os.path.exists(path) and os.path.getsize(path) == size:
            return
        time.sleep(0.2)
    raise AssertionError("%s was not written (expected %d bytes)" % (path, size))


def stop(app):
    if app.poll() is None:
        app.send_signal(signal.SIGTERM)
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
            app.wait()


def inner(args):
    deadline = time.monotonic() + OVERALL_TIMEOUT - 20
    with open(args.marker, "w") as f:
        f.write("X server up\n")
    work = tempfile.mkdtemp(prefix="greyplanes-e2e-")
    app = None
    try:
        picture = os.path.join(work, "in.bmp")
        write_bitmap(picture, 37, 23)
        expected_text = os.path.join(work, "expected.txt")
        expected_picture = os.path.join(work, "expected.bmp")
        subprocess.run([args.cli, "-q", "-o", expected_text, "-p", expected_picture, picture],
                       check=True, timeout=60)
        expected_export = os.path.join(work, "expected.h")
        subprocess.run([args.cli, "-q", "--layout", "packed2", "--complete", "-n", "in", "-o",
                        expected_export, picture], check=True, timeout=60)

        env = dict(os.environ)
        env["QT_QPA_PLATFORM"] = "xcb"
        env.setdefault("XDG_RUNTIME_DIR", work)
        app = subprocess.Popen([args.app], env=env, cwd=work)
        d = Driver(deadline)
        form = d.wait_for("Form1")
        log("window shown")

        d.menu(form, "o")
        d.answer_dialog("Open", picture)
        log("picture opened")
        time.sleep(1.5)  # the scan of a small picture is over by then

        d.menu(form, "c")
        time.sleep(1.5)
        log("converted")

        out_text = os.path.join(work, "out.txt")
        d.menu(form, "s")
        d.answer_dialog("Save C Code", out_text)
        wait_for_file(out_text, os.path.getsize(expected_text))
        log("C code saved")

        out_picture = os.path.join(work, "out.bmp")
        d.menu(form, "p")
        d.answer_dialog("Save Picture", out_picture)
        wait_for_file(out_picture, os.path.getsize(expected_picture))
        log("picture saved")

        with open(out_text, "rb") as a, open(expected_text, "rb") as b:
            if a.read() != b.read():
                raise AssertionError("Save C Code wrote other bytes than greyplanes-cli")
        with open(out_picture, "rb") as a, open(expected_picture, "rb") as b:
            if a.read() != b.read():
                raise AssertionError("Save Picture wrote other bytes than greyplanes-cli -p")

        # File > Export C Code...: the third layout in the list (packed2); the dialog starts with
        # a complete header named after the picture.
        d.menu(form, "e")
        export = d.wait_for("Export C Code")
        d.focus(export)
        d.keys("alt+y", "Down", "Down")
        out_export = os.path.join(work, "out.h")
        d.keys("alt+s")
        d.answer_dialog("Export C Code", out_export, besides=(export,))
        wait_for_file(out_export, os.path.getsize(expected_export))
        with open(out_export, "rb") as a, open(expected_export, "rb") as b:
            if a.read() != b.read():
                raise AssertionError("Export C Code wrote other bytes than greyplanes-cli "
                                     "--layout packed2 --complete -n in")
        log("C code exported")
        d.focus(export)
        d.keys("Escape")
        if not d.wait_gone(export, "Export C Code", 5):
            raise AssertionError("the Export C Code dialog did not close")

        if app.poll() is not None:
            raise AssertionError("the window ended on its own (status %s)" % app.returncode)
        log("end-to-end: the saved and exported files match greyplanes-cli")
        stop(app)

        # The picture named on the command line is opened as if chosen in the Open dialog.
        app = subprocess.Popen([args.app, picture], env=env, cwd=work)
        form = d.wait_for("Form1")
        log("window shown with the picture as argument")
        time.sleep(1.5)
        if d.find("Open"):
            raise AssertionError("an Open dialog was shown for a file given on the command line")
        d.focus(form)
        d.keys("ctrl+equal", "ctrl+equal", "ctrl+minus", "ctrl+0")  # the zoom changes no output
        d.menu(form, "c")
        time.sleep(1.5)
        out_text = os.path.join(work, "out-argument.txt")
        d.menu(form, "s")
        d.answer_dialog("Save C Code", out_text)
        wait_for_file(out_text, os.path.getsize(expected_text))
        with open(out_text, "rb") as a, open(expected_text, "rb") as b:
            if a.read() != b.read():
                raise AssertionError("with the picture as argument, Save C Code wrote other bytes")
        if app.poll() is not None:
            raise AssertionError("the window ended on its own (status %s)" % app.returncode)
        log("end-to-end: the picture given as argument converts like the one opened by dialog")

        # The pencil: black somewhere in the picture, undone; then white near the top-left
        # corner, where the picture is dark. Zoom to Fit makes the pixels 11 screen pixels wide
        # (37 x 23 in 417 x 337); the menu bar's height is not known here, so the pixel that was
        # hit is found in the saved picture.
        d.focus(form)
        d.keys("ctrl+9", "1")
        d.click(form, 20 * 11, 30 + 12 * 11)
        d.keys("ctrl+z", "4")
        d.click(form, 3 * 11 + 5, 30 + 3 * 11)
        d.keys("Escape")
        d.menu(form, "c")
        time.sleep(1.5)
        drawn_text = os.path.join(work, "drawn.txt")
        d.menu(form, "s")
        d.answer_dialog("Save C Code", drawn_text)
        drawn_picture = os.path.join(work, "drawn.bmp")
        d.menu(form, "p")
        d.answer_dialog("Save Picture", drawn_picture)
        wait_for_file(drawn_picture, os.path.getsize(expected_picture))
        before = read_bitmap(expected_picture)
        after = read_bitmap(drawn_picture)
        changed = [(x, y) for y in range(len(before)) for x in range(len(before[0]))
                   if before[y][x] != after[y][x]]
        if len(changed) != 1 or after[changed[0][1]][changed[0][0]] != (255, 255, 255):
            raise AssertionError("the pencil changed %s instead of one pixel to white" % changed)
        edited = os.path.join(work, "edited.bmp")
        write_rows(edited, after)
        edited_text = os.path.join(work, "edited.txt")
        edited_picture = os.path.join(work, "edited-levels.bmp")
        subprocess.run([args.cli, "-q", "-o", edited_text, "-p", edited_picture, edited],
                       check=True, timeout=60)
        wait_for_file(drawn_text, os.path.getsize(edited_text))
        for ours, theirs, what in ((drawn_text, edited_text, "Save C Code"),
                                   (drawn_picture, edited_picture, "Save Picture")):
            with open(ours, "rb") as a, open(theirs, "rb") as b:
                if a.read() != b.read():
                    raise AssertionError("after drawing, %s wrote other bytes than "
                                         "greyplanes-cli on the edited picture" % what)
        log("end-to-end: a drawn pixel, undone and drawn again, converts as the edited picture")
        return 0
    except (AssertionError, subprocess.SubprocessError) as e:
        log("FAILED: %s" % e)
        return 1
    finally:
        if app is not None:
            stop(app)
        shutil.rmtree(work, ignore_errors=True)


def outer(args):
    missing = [tool for tool in ("xvfb-run", "Xvfb", "xdotool") if shutil.which(tool) is None]
    if missing:
        log("SKIPPED: %s not installed (Debian packages xvfb, xauth and xdotool)"
            % ", ".join(missing))
        return SKIP
    marker_dir = tempfile.mkdtemp(prefix="greyplanes-e2e-marker-")
    marker = os.path.join(marker_dir, "up")
    command = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -noreset",
               sys.executable, os.path.abspath(__file__), "--inner", "--marker", marker,
               "--app", args.app, "--cli", args.cli]
    try:
        # A session of its own, so that a timeout ends the X server and the window too.
        process = subprocess.Popen(command, start_new_session=True)
        try:
            code = process.wait(OVERALL_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            log("FAILED: the end-to-end run took longer than %d s" % OVERALL_TIMEOUT)
            return 1
        if not os.path.exists(marker):
            log("SKIPPED: no virtual X server could be started here (xvfb-run status %d)" % code)
            return SKIP
        return code
    finally:
        shutil.rmtree(marker_dir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--inner", action="store_true")
    parser.add_argument("--marker")
    args = parser.parse_args()
    return inner(args) if args.inner else outer(args)


if __name__ == "__main__":
    sys.exit(main())
