"""Drives the real kestrova.exe under Wine as a person would: real keys and mouse clicks through
xdotool on a display of its own, windows read back with winspy.exe, files compared byte for byte.

Every Wine program of a journey runs in a Wine virtual desktop of its own, which Wine draws
itself, captions and close boxes included, so that no window manager is needed. Coordinates
that winspy reports are those of that desktop; the desktop's X window sits at the top left of
the display, so they are also X coordinates.

A journey is a sequence of named steps. When a step fails, the journey stops there: the screen
is saved as <work>/FAILED-<journey>.png, the windows as <work>/FAILED-<journey>-windows.txt, and
the failure names the journey and the step.
"""

import contextlib
import json
import os
import queue
import random
import shutil
import signal
import subprocess
import sys
import threading
import time
import traceback

ROOT = os.environ.get("KESTROVA_ROOT") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RUN_BUILD = os.environ.get("KESTROVA_RUN_BUILD", "")
LOADER = os.environ.get("KESTROVA_WINE_LOADER", "/usr/lib/wine/wine64")
# The program as it ships where Wine runs 32-bit code (scripts/wine-env.sh), else the run build's.
EXE = os.path.join(os.environ.get("KESTROVA_PROGRAM_BIN") or os.path.join(RUN_BUILD, "bin"), "kestrova.exe")
VBUS_DIR = os.path.join(RUN_BUILD, "bin", "vbus")
HELPERS = os.path.join(RUN_BUILD, "tests", "e2e")
SCREEN = (1024, 768)

# Captions and texts of the program, by language.
TEXTS = {
    "en": {
        "progress": "Reading disk to file", "about": "About Kestrova", "buffer": "Buffer settings",
        "abort": "ABORT", "proceed": "Proceed", "quit": "Quit", "browse": "Browse",
        "select_all": "Sel. All Sectors", "rescan": "Rescan SCSI Bus", "help": "Help!",
        "about_button": "About", "registry_value": "IO buffer size", "disk": "Hard Disk",
        "capacity": "Capacity", "source_group": "Source SCSI Device", "cancel": "Cancel",
        "proceed_key": "ctrl+p", "other_proceed_key": "ctrl+e",
    },
    "fr": {
        "progress": "Lecture en cours", "about": "A propos de Kestrova", "buffer": "Param\u00e8trage du buffer",
        "abort": "Abandonner", "proceed": "Executer", "quit": "Quitter", "browse": "S\u00e9lectionner",
        "select_all": "Tout le disque", "rescan": "Relit bus SCSI", "help": "Aide!",
        "about_button": "A propos", "registry_value": "Buffer d'entr\u00e9es sortie", "disk": "Disque dur",
        "capacity": "Capacit\u00e9", "source_group": "P\u00e9riph\u00e9rique SCSI source", "cancel": "Annuler",
        "proceed_key": "ctrl+e", "other_proceed_key": "ctrl+p",
    },
}
LOCALES = {"en": "en_US.UTF-8", "fr": "fr_FR.UTF-8"}

# Main form control ids.
PATH_FIELD, SIZE_FIELD, SELECT_ALL = 1005, 1007, 1008
SOURCE_INFO, TARGET_INFO = 1009, 1010
SOURCE_ADAPTER, TARGET_ADAPTER, SOURCE_DEVICE, TARGET_DEVICE = 1015, 1016, 1017, 1023
BROWSE, PROCEED, RESCAN, ABOUT, HELP, QUIT = 1018, 1019, 1020, 1021, 1022, 1024
MEGABYTES, TITLE = 1026, 1037
DISK_TO_FILE, FILE_TO_DISK, DISK_TO_DISK = 1033, 1034, 1035
IDOK, IDCANCEL, IDABORT, IDYES, IDNO = 1, 2, 3, 6, 7
REGISTRY_KEY = r"HKLM\SOFTWARE\Talvenor\Kestrova"


class JourneyFailed(Exception):
    pass


def log(text):
    print(text, flush=True)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_for(what, probe, timeout=10.0, interval=0.15):
    """Calls probe until it returns something true; returns that, or fails naming `what`."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
            last_error = None
        except JourneyFailed:
            raise
        except Exception as error:  # a window that vanished between two looks, and so on
            last_error = error
        if time.monotonic() > deadline:
            extra = f" (last error: {last_error})" if last_error else ""
            raise JourneyFailed(f"timed out after {timeout:.0f} s waiting for {what}{extra}")
        time.sleep(interval)


def expect(condition, message):
    if not condition:
        raise JourneyFailed(message)


def expect_equal(actual, wanted, what):
    if actual != wanted:
        raise JourneyFailed(f"{what}: expected {wanted!r}, got {actual!r}")


def same_bytes(path_a, path_b, length=None):
    """Byte-for-byte comparison with cmp; `length` limits it to the first bytes."""
    command = ["cmp"] + (["-n", str(length)] if length is not None else []) + [path_a, path_b]
    result = subprocess.run(command, capture_output=True, text=True)
    return result.returncode == 0, (result.stdout + result.stderr).strip()


def make_random_file(path, size, seed):
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size))


def wine_builtin_dir():
    """The folder of Wine's own Windows libraries. The project's prefix has no wnaspi32.dll in
    system32 (the virtual bus must be found along the PATH), so the journey that runs on Wine's
    own library puts this folder on the PATH: with wnaspi32=b Wine then loads its builtin."""
    import glob
    arch = "x86_64-windows" if LOADER.endswith("64") else "i386-windows"
    for pattern in (f"/usr/lib/*/wine/{arch}/wnaspi32.dll", f"/usr/lib/wine/{arch}/wnaspi32.dll",
                    f"/usr/lib*/wine/{arch}/wnaspi32.dll", f"/opt/wine*/lib*/wine/{arch}/wnaspi32.dll"):
        found = glob.glob(pattern)
        if found:
            return os.path.dirname(found[0])
    raise JourneyFailed("Wine's own wnaspi32.dll was not found")


class Window(dict):
    """One line of winspy: a window with its class, id, text, rect, check, sel, items ..."""

    @property
    def center(self):
        left, top, right, bottom = self["rect"]
        return (left + right) // 2, (top + bottom) // 2


class Snapshot:
    """Every window of the journey's desktop at one moment."""

    def __init__(self, lines):
        header = json.loads(lines[0]) if lines else {}
        self.foreground = header.get("foreground", 0)
        self.focus = header.get("focus", 0)
        self.windows = [Window(json.loads(line)) for line in lines[1:] if line.strip()]

    def tops(self, visible=True):
        return [w for w in self.windows if w["parent"] == 0 and (w["visible"] or not visible)]

    def top(self, cls=None, title=None):
        for w in self.tops():
            if (cls is None or w["class"].lower() == cls.lower()) and (title is None or w["text"] == title):
                return w
        return None

    def children(self, top):
        return [w for w in self.windows if w["top"] == top["hwnd"] and w["hwnd"] != top["hwnd"]]

    def control(self, top, control_id, cls=None):
        for w in self.children(top):
            if w["id"] == control_id and (cls is None or w["class"].lower() == cls.lower()):
                return w
        return None

    def main_form(self):
        return self.top(cls="Kestrova")

    def dialogs(self):
        return [w for w in self.tops() if w["class"] == "#32770"]

    def message_box(self):
        """The message box on screen, as (window, caption, text, button texts), or None."""
        for w in self.dialogs():
            kids = self.children(w)
            texts = [k for k in kids if k["class"].lower() == "static" and k["id"] in (-1, 0xFFFF) and k["text"]]
            buttons = [k for k in kids if k["class"].lower() == "button"]
            others = [k for k in kids if k["class"].lower() not in ("static", "button")]
            if texts and buttons and not others:
                return w, w["text"], texts[0]["text"], [b["text"] for b in buttons]
        return None

    def dump(self):
        out = [f"foreground={self.foreground} focus={self.focus}"]
        for w in self.windows:
            if not w["visible"]:
                continue
            indent = "" if w["parent"] == 0 else "    "
            extra = ""
            for key in ("check", "sel", "items", "pos"):
                if key in w:
                    extra += f" {key}={w[key]!r}"
            out.append(f"{indent}{w['hwnd']} {w['class']} id={w['id']} enabled={w['enabled']} "
                       f"rect={w['rect']} text={w['text']!r}{extra}")
        return "\n".join(out)


class Display:
    """An Xvfb display of the suite's own and the name of the Wine desktop its programs use."""

    def __init__(self, name):
        self.name = name
        self.xvfb = None
        self.display = None
        self.desktop_window = None

    def start(self):
        for number in range(150, 250):
            if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
                                     "-nolisten", "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists(f"/tmp/.X11-unix/X{number}") or xvfb.poll() is not None:
                    break
                time.sleep(0.05)
            time.sleep(0.2)
            if xvfb.poll() is None and os.path.exists(f"/tmp/.X11-unix/X{number}"):
                self.xvfb, self.display = xvfb, f":{number}"
                return
            xvfb.kill()
            xvfb.wait()
        raise RuntimeError("could not start Xvfb")

    def stop(self):
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None

    def x_env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.x_env(), capture_output=True, text=True,
                                timeout=20)
        return result.stdout.strip()

    def find_desktop_window(self):
        if not self.desktop_window:
            found = self.xdotool("search", "--name", f"^{self.name} - Wine desktop$").split()
            self.desktop_window = found[0] if found else None
        return self.desktop_window

    def screenshot(self, path, rect=None):
        command = ["import", "-window", "root"]
        if rect:
            left, top, right, bottom = rect
            command += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(command + [path], env=self.x_env(), capture_output=True, timeout=30)


class Kestrova:
    """One run of kestrova.exe, with the Wine processes it starts, and the hands and eyes to use it."""

    def __init__(self, suite, journey, lang="en", aspi="vbus", config=None, extra_path=None, env=None, cwd=None):
        self.suite = suite
        self.cwd = cwd or journey.work
        self.journey = journey
        self.lang = lang
        self.text = TEXTS[lang]
        self.display = suite.display
        self.process = None
        self.output = os.path.join(journey.work, "kestrova-output.txt")
        environment = dict(os.environ)
        environment["DISPLAY"] = self.display.display
        environment["LC_ALL"] = LOCALES[lang]
        environment["LANG"] = LOCALES[lang]
        overrides = environment.get("WINEDLLOVERRIDES", "mscoree,mshtml=")
        overrides = ";".join(p for p in overrides.split(";") if "wnaspi32" not in p)
        path = []
        if aspi == "vbus":       # our virtual bus, found along the Wine PATH
            overrides = "wnaspi32=n;" + overrides
            path.append(winpath(VBUS_DIR))
        elif aspi == "builtin":  # Wine's own library, which knows no adapter
            overrides = "wnaspi32=b;" + overrides
            path.append(winpath(wine_builtin_dir()))
        elif aspi == "none":     # no library at all
            overrides = "wnaspi32=;" + overrides
        if extra_path:
            path.append(winpath(extra_path))
        environment["WINEDLLOVERRIDES"] = overrides
        environment["WINEPATH"] = ";".join(path)
        if config:
            environment["VBUS_CONFIG"] = winpath(config)
        else:
            environment.pop("VBUS_CONFIG", None)
        environment.update(env or {})
        self.env = environment

    # -- the process ------------------------------------------------------------------------

    def start(self):
        self.journey.programs.append(self)
        with open(self.output, "ab") as out:
            self.process = subprocess.Popen([LOADER, EXE], cwd=self.cwd, env=self.env,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                            start_new_session=True)
        return self

    def wait_exit(self, timeout=15.0):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise JourneyFailed(f"kestrova.exe did not end within {timeout:.0f} s")

    def expect_exit_zero(self, timeout=15.0):
        status = self.wait_exit(timeout)
        expect_equal(status, 0, "exit status of kestrova.exe")

    def running(self):
        return self.process is not None and self.process.poll() is None

    def kill(self):
        if self.running():
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait()

    # -- eyes ---------------------------------------------------------------------------------

    def spy(self, titles=(), quick=False):
        return self.suite.spy(titles, quick)

    def wait_main_form(self, timeout=20.0):
        def ready():
            if not self.running():
                raise JourneyFailed(f"kestrova.exe ended with status {self.process.returncode} before its form showed")
            snap = self.spy()
            form = snap.main_form()
            return (snap, form) if form and form["enabled"] and not form.get("busy") and snap.control(form, TITLE) else None
        snap, form = wait_for("the main form", ready, timeout)
        return form

    def form(self):
        snap = self.spy()
        form = snap.main_form()
        expect(form is not None, "the main form is not on screen")
        return snap, form

    def control(self, control_id):
        snap, form = self.form()
        control = snap.control(form, control_id)
        expect(control is not None, f"control {control_id} not found on the main form")
        return control

    def field_text(self, control_id):
        return self.control(control_id)["text"]

    def wait_message_box(self, timeout=10.0):
        return wait_for("a message box", lambda: self.spy().message_box(), timeout)

    def wait_top(self, title, timeout=10.0, cls="#32770", quick=False, front=True):
        """Waits for a window and, unless front is False, for it to be in front with the keyboard
        focus inside it, so that keys pressed next reach it."""
        def shown():
            snap = self.spy([title], quick)
            top = snap.top(cls=cls, title=title)
            if top and front and not (snap.foreground == top["hwnd"] and
                                      any(w["hwnd"] == snap.focus for w in [top] + snap.children(top))):
                return None
            return top
        return wait_for(f"the window \"{title}\"" + (" in front" if front else ""), shown, timeout)

    def wait_gone(self, title, timeout=10.0, cls="#32770"):
        wait_for(f"the window \"{title}\" to close", lambda: self.spy([title]).top(cls=cls, title=title) is None,
                 timeout)

    def activate(self):
        """Clicks the main form's caption, as a person does to bring the window back to the front."""
        def in_front():
            snap = self.spy(["Kestrova"], quick=True)
            form = snap.main_form()
            expect(form is not None, "the main form is not on screen")
            if snap.foreground == form["hwnd"]:
                return True
            left, top, right, bottom = form["rect"]
            self.click_at(left + 80, top + 10)
            time.sleep(0.5)
            return False
        wait_for("the main form to be in front", in_front, 15)

    def no_message_box(self):
        box = self.spy().message_box()
        expect(box is None, f"unexpected message box {box[1]!r}: {box[2]!r}" if box else "")

    # -- hands --------------------------------------------------------------------------------

    def click_at(self, x, y):
        self.display.xdotool("mousemove", "--sync", x, y, "click", "1")

    def click(self, window):
        x, y = window.center
        self.click_at(x, y)

    def click_control(self, control_id):
        self.click(self.control(control_id))

    def key(self, *keys):
        desktop = self.display.find_desktop_window()
        expect(desktop is not None, "the Wine desktop window is not on the display")
        self.display.xdotool("windowfocus", "--sync", desktop, "key", "--clearmodifiers", *keys)

    def type_text(self, text):
        desktop = self.display.find_desktop_window()
        self.display.xdotool("windowfocus", "--sync", desktop, "type", "--delay", "20", text)

    def set_field(self, control_id, text):
        """Clicks into a field, selects what it holds and types the new text over it."""
        self.click_control(control_id)
        self.key("End", "shift+Home", "BackSpace")
        if text:
            self.type_text(text)
        wait_for(f"field {control_id} to read {text!r}", lambda: self.field_text(control_id) == text, 10)

    def choose_in_list(self, control_id, index):
        """Opens a drop-down list of the main form with the mouse, moves to an entry with the keys
        and confirms it with Enter."""
        self.choose_in_combo(lambda: self.control(control_id), f"list {control_id}", index)

    def choose_in_list_of(self, dialog, control_id, index):
        """The same in a list of another window."""
        self.choose_in_combo(lambda: self.spy().control(dialog, control_id), f"list {control_id}", index)

    def choose_in_combo(self, look, name, index):
        combo = look()
        expect(combo is not None, f"{name} is not on screen")
        expect(combo["enabled"], f"{name} is disabled")
        expect(0 <= index < len(combo["items"]), f"{name} has no entry {index}: {combo['items']}")
        self.click(combo)
        wait_for(f"{name} to drop down", lambda: look().get("dropped") == 1, 10)
        self.key("Home", *(["Down"] * index), "Return")
        wait_for(f"{name} to show entry {index}",
                 lambda: (lambda c: c.get("dropped") == 0 and c["sel"] == index)(look()), 10)

    def answer_box(self, button):
        """Clicks a button of the message box on screen: by its text, or by its id (IDYES ...),
        which does not depend on the language of Wine's own buttons."""
        snap = self.spy()
        box = snap.message_box()
        expect(box is not None, "no message box to answer")
        for child in snap.children(box[0]):
            if child["class"].lower() != "button":
                continue
            if child["id"] == button if isinstance(button, int) else child["text"].replace("&", "") == button:
                self.click(child)
                wait_for("the message box to close",
                         lambda: (lambda b: b is None or b[0]["hwnd"] != box[0]["hwnd"])(self.spy().message_box()), 10)
                return
        raise JourneyFailed(f"the message box has no button {button!r}: {box[3]}")


class Journey:
    def __init__(self, suite, name):
        self.suite = suite
        self.name = name
        self.work = os.path.join(suite.work, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.programs = []
        self.current = "start"

    @contextlib.contextmanager
    def step(self, name):
        self.current = name
        log(f"  - {name}")
        yield

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def kestrova(self, **options):
        return Kestrova(self.suite, self, **options)


class Suite:
    """The journeys of one group, run one after the other on one display."""

    def __init__(self, group, leave_registry=False):
        self.group = group
        self.leave_registry = leave_registry
        self.work = os.path.join(RUN_BUILD, "tests", "e2e", "work", group)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.desktop = f"e2e-{group}-{os.getpid()}"
        self.display = Display(self.desktop)
        self.failures = []

    # -- Wine helpers ----------------------------------------------------------------------

    def wine(self, *args, timeout=60):
        env = self.display.x_env()
        result = subprocess.run([LOADER, *args], env=env, capture_output=True, timeout=timeout,
                                stdin=subprocess.DEVNULL)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def _start_spy(self):
        """winspy in serve mode: it answers every look at the screen, and it stays in the desktop
        from the start, so that the desktop is created once, before any journey, and is not
        closed and reopened between two programs."""
        self.spy_process = subprocess.Popen([LOADER, os.path.join(HELPERS, "winspy.exe"), "serve"],
                                            env=self.display.x_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL, start_new_session=True)
        self.spy_lines = queue.Queue()

        def pump(stream, lines):
            for line in stream:
                lines.put(line.decode("utf-8", "replace"))
            lines.put(None)
        threading.Thread(target=pump, args=(self.spy_process.stdout, self.spy_lines), daemon=True).start()
        self._spy_answer(60, restart=False)

    def _stop_spy(self):
        if getattr(self, "spy_process", None):
            try:
                os.killpg(self.spy_process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.spy_process.wait()
            self.spy_process = None

    def _spy_answer(self, timeout, restart=True):
        lines = []
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.spy_lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                line = False
            if line is None or line is False:
                self._stop_spy()
                if restart:
                    self._start_spy()
                raise RuntimeError("winspy did not answer" if line is False else "winspy ended")
            if line.startswith('{"end": '):
                return int(line[8:].strip().rstrip("}")), lines
            lines.append(line)

    def _spy_request(self, *args, timeout=15):
        self.spy_process.stdin.write(("\t".join(args) + "\n").encode("utf-8"))
        self.spy_process.stdin.flush()
        return self._spy_answer(timeout)

    def spy(self, titles=(), quick=False):
        args = [a for title in titles for a in ("--title", title)] + (["--quick"] if quick else [])
        status, lines = self._spy_request("list", *args)
        return Snapshot(lines)

    def registry_values(self, key=REGISTRY_KEY):
        status, lines = self._spy_request("reg", key)
        if status != 0:
            return None
        return {v["name"]: v for v in map(json.loads, filter(str.strip, lines))}

    def delete_registry_key(self, key=REGISTRY_KEY):
        self.wine("reg", "delete", key, "/f")

    def _desktop_keys(self, add):
        for program in ("kestrova.exe", "winspy.exe"):
            key = rf"HKCU\Software\Wine\AppDefaults\{program}\Explorer"
            if add:
                self.wine("reg", "add", key, "/v", "Desktop", "/d", self.desktop, "/f")
            else:
                self.wine("reg", "delete", key, "/f")
        key = r"HKCU\Software\Wine\Explorer\Desktops"
        if add:
            self.wine("reg", "add", key, "/v", self.desktop, "/d", f"{SCREEN[0]}x{SCREEN[1]}", "/f")
        else:
            self.wine("reg", "delete", key, "/v", self.desktop, "/f")

    # -- running --------------------------------------------------------------------------

    def __enter__(self):
        for needed in (EXE, os.path.join(HELPERS, "winspy.exe")):
            if not os.path.exists(needed):
                raise SystemExit(f"e2e: {needed} is missing: build first")
        # ctest ends a test that runs too long with SIGTERM: leave through the same clean-up
        # (programs, display, registry keys) as any other ending.
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        self.display.start()
        self._desktop_keys(True)
        self._start_spy()
        wait_for("the Wine desktop window", self.display.find_desktop_window, 30)
        return self

    def __exit__(self, *exc):
        try:
            self._stop_spy()
            self._desktop_keys(False)
            if not self.leave_registry:
                # The journeys change the stored buffer size; the test programs that run after
                # them find the prefix as a first start would.
                self.delete_registry_key()
        finally:
            self.display.stop()
        return False

    def run(self, name, function):
        journey = Journey(self, name)
        log(f"journey {self.group}/{name}")
        started = time.monotonic()
        try:
            function(journey)
            log(f"  ok ({time.monotonic() - started:.1f} s)")
        except Exception as error:
            shot = os.path.join(self.work, f"FAILED-{name}.png")
            self.display.screenshot(shot)
            try:
                with open(os.path.join(self.work, f"FAILED-{name}-windows.txt"), "w") as f:
                    f.write(self.spy().dump() + "\n")
            except Exception:
                pass
            detail = str(error) if isinstance(error, JourneyFailed) else traceback.format_exc()
            message = f"journey {self.group}/{name} FAILED at step \"{journey.current}\": {detail}"
            log(message)
            log(f"  screen saved to {shot}")
            self.failures.append(message)
        finally:
            for program in journey.programs:
                program.kill()
            self.wait_desktop_empty()

    def wait_desktop_empty(self):
        """Waits until no window of a previous journey is left on the desktop."""
        def empty():
            snap = self.spy()
            return not [w for w in snap.tops() if w["class"] not in ("Shell_TrayWnd",)]
        try:
            wait_for("an empty desktop", empty, 10)
        except JourneyFailed:
            pass
