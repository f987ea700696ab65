#!/usr/bin/env python3
"""Takes the screenshots of the README and the manual: every window and message box of a
backup-and-restore journey, in English (NAME.png) and in French (NAME-fr.png).

    screenshots.py OUTPUT_FOLDER

Each picture is cut to the window it shows, from a screen that Wine draws itself (captions
included), on a virtual bus whose devices look like a sampler's disks."""

import os
import shutil
import struct
import subprocess
import sys

# The harness that drives the program, shared with the end-to-end tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))

from bus import Disk, write_bus
from harness import (
    DISK_TO_DISK, FILE_TO_DISK, IDCANCEL, IDNO, IDOK, PATH_FIELD, PROCEED, SOURCE_ADAPTER, SOURCE_DEVICE,
    TARGET_ADAPTER, TARGET_DEVICE, Suite, expect, log, wait_for,
)
from journeys import pick_device, select_all, set_mode, start, wait_idle

LANGUAGES = ("en", "fr")


def union(*rects):
    return [min(r[0] for r in rects), min(r[1] for r in rects), max(r[2] for r in rects), max(r[3] for r in rects)]


class Camera:
    def __init__(self, suite, folder, lang):
        self.suite, self.folder, self.lang = suite, folder, lang
        self.taken = []

    def shoot(self, name, rect):
        path = os.path.join(self.folder, f"{name}.png" if self.lang == "en" else f"{name}-{self.lang}.png")
        self.suite.display.screenshot(path + ".tmp.png", rect)
        os.replace(path + ".tmp.png", path)
        self.taken.append(path)
        log(f"    saved {path}")

    def form(self, k, name):
        form = k.spy(["Kestrova"], quick=True).main_form()
        self.shoot(name, form["rect"])

    def message_box(self, k, name):
        box = k.wait_message_box()
        self.shoot(name, box[0]["rect"])
        return box

    def dialog(self, k, title, name, front=True):
        dialog = k.wait_top(title, front=front)
        self.shoot(name, dialog["rect"])
        return dialog


def sampler_bus(journey, slow):
    timing = ["completion = async", "delay_ms = 120"] if slow else []
    disks = [
        Disk(0, 1, 204800, content="zero", product="SAMPLER HD", extra=timing),
        Disk(0, 4, 196608, content="zero", product="CARTRIDGE", extra=["removable = yes"]),
        Disk(1, 0, 204800, content="zero", product="SPARE DISK"),
        Disk(1, 2, 409600, content="zero", product="BIG DISK"),
    ]
    return write_bus(journey, disks, adapters=2, identifier="VBUS SCSI ")


def open_options_entry(k, from_end):
    """Opens an entry of the Options menu (the second), counted from its end: 1 is the last.
    The entries added after the first ones have no key of their own."""
    k.key("F10")
    k.key("Right")
    k.key("Down")
    for _ in range(from_end):
        k.key("Up")
    k.key("Return")


def write_akai_zip(path):
    """An Akai S3000 disk of three partitions (3900, 3900, 3700 blocks of 8 KB) on a ZIP disk."""
    def name(text):
        code = [0x0A] * 12
        for i, c in enumerate(text):
            code[i] = ord(c) - 48 if c.isdigit() else 0x0B + ord(c) - 65 if c.isalpha() else 0x0A
        return bytes(code)
    blocks = [3900, 3900, 3700]
    volumes = [[("DRUMS 1", 3), ("PIANOS", 3)], [("STRINGS", 1)], []]
    with open(path, "r+b") as f:
        start = 0
        for k, size in enumerate(blocks):
            header = bytearray(0x6000)
            struct.pack_into("<H", header, 0, size)
            for i in range(98):
                struct.pack_into("<H", header, 2 + 2 * i, i * 3333 % 65536)
            struct.pack_into("<I", header, 0xC6, 0x002FB9D5 + size)
            for v, (text, kind) in enumerate(volumes[k]):
                header[0xCA + 16 * v:0xCA + 16 * v + 16] = name(text) + bytes([kind, 0, 3, 0])
            if k == 0:
                for i in range(128):
                    struct.pack_into("<H", header, 0x4400 + 2 * i, i * 9999 % 65536)
                header[0x4500] = len(blocks)
                struct.pack_into("<4H", header, 0x4502, *blocks, sum(blocks))
            f.seek(start)
            f.write(header)
            start += size * 8192


def write_emu3(path):
    """An E-mu EMU3 disk of 968 sectors with the folders "Default Folder" and "Loops"."""
    image = bytearray(968 * 512)
    image[0:4] = b"EMU3"
    struct.pack_into("<9I", image, 4, 967, 3, 1, 4, 4, 2, 1, 8, 15)
    struct.pack_into("<H", image, 0x1FE, sum(struct.unpack_from("<255H", image, 0)) % 65536)
    image[1024:1028] = bytes([0x00, 0x80, 0xFF, 0x7F])
    image[1536:1568] = b"Default Folder  " + bytes([0, 0x80, 4, 0]) + b"\xff" * 12
    image[1568:1600] = b"Loops           " + bytes([0, 0x40, 5, 0]) + b"\xff" * 12
    with open(path, "wb") as f:
        f.write(image)


def shoot_language(suite, folder, lang, taken):
    camera = Camera(suite, folder, lang)

    def main_journey(j):
        config = sampler_bus(j, slow=True)
        # The images go to C:\Samples of the Wine prefix, so that the pictures show a short path.
        samples = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Samples")
        shutil.rmtree(samples, ignore_errors=True)
        os.makedirs(samples)
        with open(os.path.join(samples, "bigger.iso"), "wb") as f:
            f.truncate(204800 * 512 + 2048)
        suite.delete_registry_key()
        with j.step("the main window, a source chosen"):
            k = start(j, config=config, lang=lang)
            pick_device(k, SOURCE_ADAPTER, 0, SOURCE_DEVICE, 1)
            camera.form(k, "main-window")
        with j.step("Disk -> File, all sectors"):
            select_all(k, 204800)
            k.set_field(PATH_FIELD, "C:\\Samples\\sampler.iso")
            camera.form(k, "disk-to-file")
        with j.step("the progress box"):
            k.click_control(PROCEED)
            title = k.text["progress"]
            k.wait_top(title, quick=True, front=False)

            def a_few_percent():
                snap = k.spy([title, "Kestrova"], quick=True)
                box = snap.top(title=title)
                expect(box is not None, "the progress box closed")
                text = snap.control(box, 1029)["text"].strip().rstrip("%")
                return (snap, box) if text.isdigit() and int(text) >= 2 else None
            snap, box = wait_for("the copy to pass 2 %", a_few_percent, 60)
            camera.shoot("progress", union(snap.main_form()["rect"], box["rect"]))
            k.click(snap.control(box, 3))
            wait_idle(k, 20)
        with j.step("the overwrite question"):
            k.click_control(PROCEED)
            camera.message_box(k, "message-overwrite")
            k.answer_box(IDNO)
        with j.step("File -> Disk with a bigger file"):
            set_mode(k, FILE_TO_DISK)
            pick_device(k, TARGET_ADAPTER, 1, TARGET_DEVICE, 0)
            select_all(k, 204800)
            k.set_field(PATH_FIELD, "C:\\Samples\\bigger.iso")
            camera.form(k, "file-to-disk")
            k.click_control(PROCEED)
            camera.message_box(k, "message-bigger")
            k.answer_box(IDCANCEL)
        with j.step("Disk -> Disk"):
            set_mode(k, DISK_TO_DISK)
            pick_device(k, TARGET_ADAPTER, 1, TARGET_DEVICE, 2)
            select_all(k, 204800)
            camera.form(k, "disk-to-disk")
        with j.step("the buffer size dialog"):
            k.key("ctrl+b")
            dialog = camera.dialog(k, k.text["buffer"], "buffer-dialog", front=False)
            k.click(k.spy([k.text["buffer"]]).control(dialog, IDCANCEL))
            k.wait_gone(k.text["buffer"])
        with j.step("the About box"):
            k.key("ctrl+a")
            camera.dialog(k, k.text["about"], "about-box")
            k.key("Return")
            k.wait_gone(k.text["about"])
        with j.step("the file dialog"):
            k.key("ctrl+f")
            camera.dialog(k, "Select a image file", "file-dialog")
            k.key("Escape")
            k.wait_gone("Select a image file")
        with j.step("Quit"):
            k.click_control(1024)
            k.expect_exit_zero()
            shutil.rmtree(samples, ignore_errors=True)

    def failure_journey(j):
        faulty = Disk(0, 0, 400, product="WORN DISK", extra=["fault = read lba 100 status 04"])
        config = write_bus(j, [faulty], adapters=1)
        with j.step("a SCSI failure"):
            k = start(j, config=config, lang=lang)
            select_all(k, 400)
            k.click_control(PROCEED)
            camera.message_box(k, "message-scsi-failure")
            k.answer_box(IDOK)
            k.expect_exit_zero()
        for aspi, name in (("builtin", "message-no-adapter"), ("none", "message-no-aspi")):
            with j.step(f"no ASPI layer ({aspi})"):
                k = j.kestrova(aspi=aspi, lang=lang).start()
                camera.message_box(k, name)
                k.answer_box(IDOK)
                k.expect_exit_zero()

    def archive_journey(j):
        # A worn disk: sectors 100 and 101 never read. Slow enough to see the verify pass.
        worn = Disk(0, 1, 8192, content="zero", product="WORN DISK",
                    extra=["fault = read lba 100-101", "completion = async", "delay_ms = 60"])
        config = write_bus(j, [worn], adapters=1, identifier="VBUS SCSI ")
        samples = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Samples")
        shutil.rmtree(samples, ignore_errors=True)
        os.makedirs(samples)
        suite.delete_registry_key()
        title = {"en": "Archiving options", "fr": "Options d'archivage"}[lang]
        with j.step("the archiving options"):
            k = start(j, config=config, lang=lang)
            open_options_entry(k, 2)   # the archiving options, before the disk contents
            dialog = k.wait_top(title)
            snap = k.spy([title])
            for check_box in (1044, 1045, 1046):
                k.click(snap.control(dialog, check_box))
            wait_for("three options ticked",
                     lambda: all(k.spy([title]).control(dialog, c)["check"] == 1 for c in (1044, 1045, 1046)), 10)
            camera.dialog(k, title, "archive-options")
            k.click(k.spy([title]).control(dialog, IDOK))
            k.wait_gone(title)
        with j.step("a worn disk copied: two sectors skipped, then verified"):
            pick_device(k, SOURCE_ADAPTER, 0, SOURCE_DEVICE, 1)
            select_all(k, 8192)
            k.set_field(PATH_FIELD, "C:\\Samples\\worn.img")
            k.click_control(PROCEED)
            progress = k.text["progress"]

            def verifying():
                snap = k.spy([progress, "Kestrova"], quick=True)
                box = snap.top(title=progress)
                if box is None:
                    return None
                text = snap.control(box, 1028)["text"]
                percent = snap.control(box, 1029)["text"].strip().rstrip("%")
                return (snap, box) if ("verif" in text.lower() or "rifie" in text) and percent.isdigit() \
                    and int(percent) >= 5 else None
            snap, box = wait_for("the verify pass to pass 5 %", verifying, 120)
            camera.shoot("progress-verify", union(snap.main_form()["rect"], box["rect"]))
            wait_for("the verify pass to end", lambda: k.spy([progress], quick=True).top(title=progress) is None, 120)
            camera.message_box(k, "message-unreadable")
            k.answer_box(IDOK)
            camera.message_box(k, "message-verify")
            k.answer_box(IDOK)
        with j.step("the retry question"):
            k.click_control(PROCEED)
            camera.message_box(k, "message-retry")
            k.answer_box(IDNO)
            k.wait_message_box()
            k.answer_box(IDNO)
        with j.step("Quit"):
            k.click_control(1024)
            k.expect_exit_zero()
            shutil.rmtree(samples, ignore_errors=True)
            suite.delete_registry_key()

    def contents_journey(j):
        # A ZIP disk with an Akai disk of three partitions, a cartridge with a FAT16 file system,
        # an E-mu image file: the window "Disk contents", then the question before a restore.
        zip_disk = Disk(0, 1, 196608, content="zero", product="ZIP 100", extra=["removable = yes"])
        cartridge = Disk(0, 4, 40960, content="zero", product="CARTRIDGE", extra=["removable = yes"])
        config = write_bus(j, [zip_disk, cartridge], adapters=1, identifier="VBUS SCSI ")
        write_akai_zip(zip_disk.image)
        subprocess.run(["mkfs.fat", "-F", "16", "-n", "K2000 DISK", cartridge.image], check=True,
                       capture_output=True, env=dict(os.environ, PATH=os.environ["PATH"] + ":/usr/sbin:/sbin"))
        samples = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Samples")
        shutil.rmtree(samples, ignore_errors=True)
        os.makedirs(samples)
        write_emu3(os.path.join(samples, "emu.img"))
        suite.delete_registry_key()
        title = {"en": "Disk contents", "fr": "Contenu des disques"}[lang]
        options = {"en": "Archiving options", "fr": "Options d'archivage"}[lang]
        with j.step("the window Disk contents"):
            k = start(j, config=config, lang=lang)
            pick_device(k, SOURCE_ADAPTER, 0, SOURCE_DEVICE, 1)
            k.set_field(PATH_FIELD, "C:\\Samples\\emu.img")
            set_mode(k, DISK_TO_DISK)
            pick_device(k, TARGET_ADAPTER, 0, TARGET_DEVICE, 4)
            open_options_entry(k, 1)
            camera.dialog(k, title, "contents-dialog")
            k.key("Escape")
            k.wait_gone(title)
        with j.step("the question before a restore"):
            open_options_entry(k, 2)
            dialog = k.wait_top(options)
            k.click(k.spy([options]).control(dialog, 1070))
            wait_for("the option ticked", lambda: k.spy([options]).control(dialog, 1070)["check"] == 1, 10)
            k.click(k.spy([options]).control(dialog, IDOK))
            k.wait_gone(options)
            set_mode(k, FILE_TO_DISK)
            pick_device(k, TARGET_ADAPTER, 0, TARGET_DEVICE, 1)
            select_all(k, 196608)
            k.click_control(PROCEED)
            k.wait_message_box()
            k.answer_box(IDOK)          # the file is shorter than the device
            camera.message_box(k, "message-guard")
            k.answer_box(IDNO)
        with j.step("Quit"):
            k.click_control(1024)
            k.expect_exit_zero()
            shutil.rmtree(samples, ignore_errors=True)
            suite.delete_registry_key()

    suite.run(f"screens-{lang}", main_journey)
    suite.run(f"messages-{lang}", failure_journey)
    suite.run(f"archive-{lang}", archive_journey)
    suite.run(f"contents-{lang}", contents_journey)
    taken += camera.taken


def main(argv):
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    folder = os.path.abspath(argv[0])
    os.makedirs(folder, exist_ok=True)
    taken = []
    with Suite("screenshots") as suite:
        for lang in LANGUAGES:
            shoot_language(suite, folder, lang, taken)
        failures = suite.failures
    log(f"{len(taken)} screenshot(s) in {folder}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
