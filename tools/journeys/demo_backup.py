#!/usr/bin/env python3
"""`make run` without a display: Kestrova on a virtual display, driven like a person would drive
it through a short backup of the demo disk; the image is checked, the screen saved, and what was
done is printed with the places of the files.

    demo_backup.py BUS_INI OUTPUT_FOLDER"""

import os
import re
import sys

# The harness that drives the program, shared with the end-to-end tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))

from harness import (
    EXE, PATH_FIELD, PROCEED, SIZE_FIELD, SOURCE_ADAPTER, SOURCE_DEVICE, SOURCE_INFO, Suite, expect, log, same_bytes,
    winpath,
)
from journeys import pick_device, set_mode, start, wait_idle, DISK_TO_FILE

SECTORS = 2048   # the first megabyte of the demo disk


def device_image(ini, device="0:0"):
    """The image file of a device of the bus, as the INI names it (relative to the INI's folder)."""
    section = None
    with open(ini, errors="replace") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                section = line.strip("[]").strip()
            elif section == f"device {device}" and re.match(r"image\s*=", line):
                name = line.split("=", 1)[1].split(" ;")[0].strip().strip('"')
                return os.path.join(os.path.dirname(ini), name)
    return None


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    ini, out = os.path.abspath(argv[0]), os.path.abspath(argv[1])
    os.makedirs(out, exist_ok=True)
    image = os.path.join(out, "demo-backup.img")
    screenshot = os.path.join(out, "kestrova-demo.png")
    if os.path.exists(image):
        os.remove(image)
    report = {}

    def journey(j):
        with j.step("start Kestrova on the demo bus, from the folder of kestrova.exe"):
            k = start(j, config=ini, cwd=os.path.dirname(EXE))
            adapters = k.control(SOURCE_ADAPTER)["items"]
            devices = k.control(SOURCE_DEVICE)["items"]
            log(f"    adapters: {adapters}")
            log(f"    devices of adapter 0: {devices}")
        with j.step("choose the demo hard disk 0:0 as the source, Disk -> File"):
            pick_device(k, SOURCE_ADAPTER, 0, SOURCE_DEVICE, 0)
            set_mode(k, DISK_TO_FILE)
            report["info"] = k.field_text(SOURCE_INFO)
        with j.step(f"type {SECTORS} sectors and the image path"):
            k.set_field(SIZE_FIELD, str(SECTORS))
            k.set_field(PATH_FIELD, winpath(image))
        with j.step("Proceed"):
            k.click_control(PROCEED)
            wait_idle(k, 120)
            k.click_control(DISK_TO_FILE)   # a refresh: the form as the user then sees it
        with j.step("the image holds the first megabyte of the disk"):
            disk = device_image(ini)
            expect(disk and os.path.exists(disk), f"the demo disk's image {disk} is missing")
            expect(os.path.getsize(image) == SECTORS * 512, f"the image has {os.path.getsize(image)} bytes")
            same, detail = same_bytes(image, disk, SECTORS * 512)
            expect(same, f"the image differs from the disk: {detail}")
            report["disk"] = disk
        with j.step("save the screen"):
            form = k.spy(["Kestrova"]).main_form()
            j.suite.display.screenshot(screenshot, form["rect"])
        with j.step("Quit"):
            k.click_control(1024)
            k.expect_exit_zero()

    with Suite("demo", leave_registry=True) as suite:
        suite.run("backup", journey)
        failed = bool(suite.failures)
        trace = os.path.join(os.path.dirname(ini), "vbus-trace.log")
    if failed:
        log("run: the scripted backup failed (see above)")
        return 1
    log("")
    log("run: no display, so Kestrova ran on a virtual display and was driven like this:")
    log("       chose the demo hard disk 0:0 as the source, Disk -> File, typed "
        f"{SECTORS} sectors and the image path, pressed Proceed, then Quit (exit status 0)")
    info = " ".join(report["info"].split("\n")).strip()
    log(f"     source device: {info}")
    log(f"     image written: {image} ({os.path.getsize(image)} bytes, equal to the first "
        f"{SECTORS} sectors of {report['disk']})")
    log(f"     screenshot:    {screenshot}")
    if os.path.exists(trace):
        log(f"     bus trace:     {trace}")
    log("     With a display, `make run` opens Kestrova's window on the same demo bus.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
