"""The journeys: what a person does with Kestrova, step by step, and what must then be true.

Each group is one ctest entry (run_e2e.py GROUP)."""

import os
import shutil
import time

from bus import Disk, trace_lines, write_bus
from harness import (
    ABOUT, BROWSE, DISK_TO_DISK, DISK_TO_FILE, FILE_TO_DISK, HELPERS, MEGABYTES, PATH_FIELD, PROCEED, QUIT,
    RESCAN, SELECT_ALL, SIZE_FIELD, SOURCE_ADAPTER, SOURCE_DEVICE, SOURCE_INFO, TARGET_ADAPTER, TARGET_DEVICE,
    TITLE, JourneyFailed, expect, expect_equal, same_bytes, wait_for, winpath,
)

SCSI_FAILURE_TEXT = "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)"


# -- steps shared by the journeys ----------------------------------------------------------------

def start(journey, **options):
    k = journey.kestrova(**options).start()
    k.wait_main_form()
    return k


def pick_device(k, adapter_list, adapter, device_list, device):
    k.choose_in_list(adapter_list, adapter)
    k.choose_in_list(device_list, device)


def select_all(k, expected_sectors):
    """Ticks "Sel. All Sectors" unless it is ticked already (a click would clear it)."""
    if k.control(SELECT_ALL)["check"] != 1:
        k.click_control(SELECT_ALL)
    wait_for(f"the size field to read {expected_sectors}",
             lambda: k.field_text(SIZE_FIELD) == str(expected_sectors), 10)
    expect_equal(k.control(SELECT_ALL)["check"], 1, "\"Sel. All Sectors\" after the click")


def set_mode(k, radio):
    k.click_control(radio)
    wait_for("the mode to be marked", lambda: k.control(radio)["check"] == 1, 10)


def proceed_and_wait(k, answers=(), click=True, timeout=60):
    """Proceed (button or keys), answers the questions that come up in order, waits for the end."""
    if click:
        k.click_control(PROCEED)
    for caption, text, button in answers:
        box = k.wait_message_box()
        expect_equal((box[1], box[2]), (caption, text), "message box (caption, text)")
        k.answer_box(button)
    wait_idle(k, timeout)


def wait_idle(k, timeout=60):
    def idle():
        snap = k.spy()
        box = snap.message_box()
        if box:
            raise JourneyFailed(f"unexpected message box {box[1]!r}: {box[2]!r}")
        form = snap.main_form()
        return form and form["enabled"] and snap.top(title=k.text["progress"]) is None
    wait_for("the transfer to end and the form to be enabled", idle, timeout)


def expect_image(image, device_image, sectors, sector_size):
    """An image file: the device's first sectors, then zeros up to a multiple of 2048 bytes."""
    data_length = sectors * sector_size
    pad = (2048 - data_length % 2048) % 2048
    expect_equal(os.path.getsize(image), data_length + pad, f"length of {os.path.basename(image)}")
    same, detail = same_bytes(image, device_image, data_length)
    expect(same, f"{os.path.basename(image)} differs from the device: {detail}")
    with open(image, "rb") as f:
        f.seek(data_length)
        expect(f.read() == bytes(pad), "the padding of the image is not all zeros")


def quit_with_button(k):
    k.click_control(QUIT)
    k.expect_exit_zero()


# -- transfers ------------------------------------------------------------------------------------

def journey_backup_restore_copy(j):
    source = Disk(0, 2, 1001, seed=11, product="SAMPLER DISK")
    blank = Disk(1, 0, 1001, content="zero", product="BLANK DISK")
    third = Disk(1, 3, 2000, seed=33, product="THIRD DISK")
    config = write_bus(j, [source, blank, third])
    third_before = j.path("third-before.img")
    shutil.copyfile(third.image, third_before)

    with j.step("start Kestrova on a bus of two adapters"):
        k = start(j, config=config)
        adapters = k.control(SOURCE_ADAPTER)["items"]
        expect_equal(len(adapters), 2, "adapters in the source list")
    with j.step("pick the source disk 0:2 in the lists"):
        pick_device(k, SOURCE_ADAPTER, 0, SOURCE_DEVICE, 2)
        info = k.field_text(SOURCE_INFO)
        expect("1001 sect. (512 B/sect.)" in info and "Hard Disk" in info, f"source information: {info!r}")
    with j.step("Disk -> File, Sel. All Sectors"):
        set_mode(k, DISK_TO_FILE)
        select_all(k, 1001)
        expect_equal(k.field_text(MEGABYTES), "  0.5 MBytes", "megabyte label")
    with j.step("type the image path"):
        k.set_field(PATH_FIELD, "backup.img")
    with j.step("Proceed: the backup"):
        proceed_and_wait(k)
    with j.step("from the next refresh the path field shows the absolute path"):
        k.click_control(DISK_TO_FILE)   # the mode it is in: the click only refreshes the form
        absolute = winpath(j.path("backup.img"))
        wait_for(f"the path field to read {absolute}", lambda: k.field_text(PATH_FIELD).lower() == absolute.lower(), 10)
    with j.step("the image holds the device's sectors and the zero padding"):
        expect_image(j.path("backup.img"), source.image, 1001, 512)

    with j.step("File -> Disk onto the blank disk 1:0"):
        set_mode(k, FILE_TO_DISK)
        pick_device(k, TARGET_ADAPTER, 1, TARGET_DEVICE, 0)
        select_all(k, 1001)
    with j.step("Proceed: the restore asks about the bigger file, OK"):
        proceed_and_wait(k, answers=[("WARNING", "File is bigger than device.", "OK")])
    with j.step("the blank disk now holds the image"):
        same, detail = same_bytes(blank.image, j.path("backup.img"), blank.size)
        expect(same, f"restored disk differs from the image: {detail}")
        expect_equal(os.path.getsize(blank.image), blank.size, "size of the restored disk's image")

    with j.step("Disk -> Disk from the restored disk 1:0 onto 1:3"):
        set_mode(k, DISK_TO_DISK)
        pick_device(k, SOURCE_ADAPTER, 1, SOURCE_DEVICE, 0)
        pick_device(k, TARGET_ADAPTER, 1, TARGET_DEVICE, 3)
        select_all(k, 1001)
    with j.step("Proceed: the disk to disk copy"):
        proceed_and_wait(k)
    with j.step("the third disk starts with the restored disk and keeps the rest"):
        same, detail = same_bytes(third.image, blank.image, blank.size)
        expect(same, f"third disk differs from the restored one: {detail}")
        with open(third.image, "rb") as a, open(third_before, "rb") as b:
            a.seek(blank.size)
            b.seek(blank.size)
            expect(a.read() == b.read(), "the third disk's sectors beyond the copy changed")
    with j.step("Quit: exit status 0"):
        quit_with_button(k)


def journey_abort(j, lang="en"):
    slow = Disk(0, 0, 4001, seed=5, product="SLOW DISK", extra=["completion = async", "delay_ms = 150"])
    config = write_bus(j, [slow], adapters=1)
    j.suite.delete_registry_key()   # the default buffer of 16 KB: 126 chunks of 150 ms
    with j.step(f"start on a slow asynchronous disk ({lang})"):
        k = start(j, config=config, lang=lang)
    with j.step("Disk -> File of the whole disk"):
        select_all(k, 4001)
        k.set_field(PATH_FIELD, "aborted.img")
    with j.step("Proceed: the progress box shows the copy"):
        k.click_control(PROCEED)
        box = k.wait_top(k.text["progress"], quick=True, front=False)
        snap = k.spy([k.text["progress"], "Kestrova"], quick=True)
        description = snap.control(box, 1028)["text"]
        expect(description.startswith("Kestrova is Writing:   2.0 Mbytes \n(4001 sectors, 512 bytes/sector)\nto  file "),
               f"progress text: {description!r}")
        expect_equal(snap.main_form()["enabled"], 0, "main form enabled while the box is open")
        expect(not snap.top(title=k.text["progress"])["style"] & 0x00080000, "the progress box has a close box")

        def percent():
            snap = k.spy([k.text["progress"]], quick=True)
            box = snap.top(title=k.text["progress"])
            expect(box is not None, "the progress box closed before ABORT")
            text = snap.control(box, 1029)["text"].strip().rstrip("%")
            return snap if text.isdigit() and 10 <= int(text) < 80 else None
        snap = wait_for("the copy to pass 10 %", percent, 30)
    with j.step("click ABORT with the mouse"):
        abort = snap.control(snap.top(title=k.text["progress"]), 3)
        expect_equal(abort["text"], k.text["abort"], "ABORT button text")
        k.click(abort)
        wait_idle(k, 10)
    with j.step("the copy stopped: part of the disk and the padding are in the file"):
        length = os.path.getsize(j.path("aborted.img"))
        pad = 2048 - (4001 * 512) % 2048
        data = length - pad
        expect(0 < data < 4001 * 512 and data % 512 == 0, f"aborted image of {length} bytes")
        same, detail = same_bytes(j.path("aborted.img"), slow.image, data)
        expect(same, f"aborted image differs from the disk: {detail}")
        time.sleep(1.0)
        expect_equal(os.path.getsize(j.path("aborted.img")), length, "image length a second after ABORT")
    with j.step("the form still works: About box, then Quit"):
        k.click_control(ABOUT)
        k.wait_top(k.text["about"])
        k.key("Return")
        k.wait_gone(k.text["about"])
        quit_with_button(k)


def journey_scsi_failure(j):
    faulty = Disk(0, 0, 400, seed=9, product="FAULTY DISK", extra=["fault = read lba 100 status 04"])
    config = write_bus(j, [faulty], adapters=1)
    j.suite.delete_registry_key()
    with j.step("start; the buffer is the default 16 KB"):
        k = start(j, config=config)
    with j.step("back up the whole disk"):
        select_all(k, 400)
        k.set_field(PATH_FIELD, "failed.img")
        k.click_control(PROCEED)
    with j.step("the SCSI failure is reported"):
        box = k.wait_message_box(20)
        expect_equal((box[1], box[2].rstrip("\n")), ("Error", SCSI_FAILURE_TEXT), "message box (caption, text)")
        k.answer_box("OK")
    with j.step("the program ends with status 0"):
        k.expect_exit_zero()
    with j.step("the image holds the three chunks before the failing one"):
        expect_equal(os.path.getsize(j.path("failed.img")), 3 * 32 * 512, "length of the image")
        same, detail = same_bytes(j.path("failed.img"), faulty.image, 3 * 32 * 512)
        expect(same, f"image differs from the disk: {detail}")


# -- keys -----------------------------------------------------------------------------------------

def journey_keys(j):
    disk = Disk(0, 0, 64, seed=3)
    config = write_bus(j, [disk], adapters=1)
    reader_dir = j.path("reader")
    os.makedirs(reader_dir)
    shutil.copyfile(os.path.join(HELPERS, "fake_reader.exe"), os.path.join(reader_dir, "acroread.exe"))
    record = j.path("reader-record.txt")
    j.suite.delete_registry_key()
    with j.step("start with a recording reader on the PATH"):
        k = start(j, config=config, extra_path=reader_dir, env={"KESTROVA_E2E_RECORD": winpath(record)})
    with j.step("Ctrl+S rescans the bus"):
        inquiries = sum("HA_INQUIRY" in line for line in trace_lines(j))
        k.key("ctrl+s")
        wait_for("a second bus scan in the trace",
                 lambda: sum("HA_INQUIRY" in line for line in trace_lines(j)) > inquiries, 10)
    with j.step("Ctrl+B opens the buffer dialog; 64 KB, OK"):
        k.key("ctrl+b")
        dialog = k.wait_top(k.text["buffer"], front=False)
        snap = k.spy()
        sizes = snap.control(dialog, 1042)["items"]
        expect(any("64" in s for s in sizes), f"buffer sizes offered: {sizes}")
        k.choose_in_list_of(dialog, 1042, next(i for i, s in enumerate(sizes) if "64" in s))
        k.click(k.spy().control(k.spy().top(title=k.text["buffer"]), 1))
        k.wait_gone(k.text["buffer"])
        values = j.suite.registry_values()
        expect(values and values.get(k.text["registry_value"], {}).get("data") == "64",
               f"registry values after OK: {values}")
    with j.step("Ctrl+A opens the About box with the new size; Escape leaves it, Enter closes it"):
        k.key("ctrl+a")
        about = k.wait_top(k.text["about"])
        snap = k.spy()
        expect_equal(snap.control(about, 1038)["text"], "Kestrova V1.31", "About box version")
        expect_equal(snap.control(about, 1040)["text"], "Buffer: 64K", "About box buffer line")
        k.key("Escape")
        time.sleep(0.5)
        expect(k.spy().top(title=k.text["about"]) is not None, "Escape closed the About box")
        k.key("Return")
        k.wait_gone(k.text["about"])
    with j.step("Ctrl+F opens the file dialog; Escape cancels it"):
        before = k.field_text(PATH_FIELD)
        k.key("ctrl+f")
        k.wait_top("Select a image file")
        k.key("Escape")
        k.wait_gone("Select a image file")
        expect_equal(k.field_text(PATH_FIELD), before, "path field after a cancelled file dialog")
    with j.step(f"{k.text['other_proceed_key']} does nothing in this language"):
        select_all(k, 64)
        k.set_field(PATH_FIELD, "other-key.img")
        k.key(k.text["other_proceed_key"])
        time.sleep(1.5)
        expect(not os.path.exists(j.path("other-key.img")), "the other language's Proceed key started a copy")
        k.no_message_box()
    with j.step(f"{k.text['proceed_key']} proceeds"):
        k.set_field(PATH_FIELD, "proceed-key.img")
        k.key(k.text["proceed_key"])
        wait_for("the image of the Proceed key", lambda: os.path.exists(j.path("proceed-key.img")), 10)
        wait_idle(k)
        expect_image(j.path("proceed-key.img"), disk.image, 64, 512)
    with j.step("F1 starts the reader with the manual's path as one argument"):
        k.key("F1")
        line = wait_for("the reader to record its start", lambda: os.path.exists(record) and open(record).read(), 10)
        fields = line.splitlines()[0].split("\t")
        manual = winpath(j.path("Kestrova v1.31.pdf"))
        expect_equal(fields[1:], ["winhelp", manual], "the reader's arguments")
        # Under Wine the start and end of another program leave no window in front; a person
        # clicks the form's caption before using the keys again.
        time.sleep(1.5)
        k.activate()
    with j.step("Ctrl+Q ends with status 0"):
        k.key("ctrl+q")
        k.expect_exit_zero()
    with j.step("Ctrl+X ends with status 0"):
        k = start(j, config=config)
        k.key("ctrl+x")
        k.expect_exit_zero()
    with j.step("the close box ends with status 0"):
        k = start(j, config=config)
        form = k.spy().main_form()
        left, top, right, bottom = form["rect"]
        k.click_at(right - 12, top + 12)
        k.expect_exit_zero()


# -- French -----------------------------------------------------------------------------------------

def journey_french(j):
    disk = Disk(0, 0, 64, seed=4)
    config = write_bus(j, [disk], adapters=1)
    j.suite.delete_registry_key()
    with j.step("start under a French user interface"):
        k = start(j, config=config, lang="fr")
    with j.step("the form speaks French"):
        for control, text in ((BROWSE, "S\u00e9lectionner"), (PROCEED, "Executer"), (QUIT, "Quitter"),
                              (SELECT_ALL, "Tout le disque"), (RESCAN, "Relit bus SCSI"), (ABOUT, "A propos")):
            expect_equal(k.field_text(control), text, f"text of control {control}")
        expect_equal(k.field_text(TITLE), "Kestrova V1.31", "title")
        info = k.field_text(SOURCE_INFO)
        expect("Capacit\u00e9" in info and "Disque dur" in info, f"source information: {info!r}")
    with j.step("the buffer size is stored under the French value name"):
        values = j.suite.registry_values()
        expect(values is not None, "no registry key")
        expect_equal(values.get("Buffer d'entr\u00e9es sortie", {}).get("data"), "16", "French registry value")
        expect("IO buffer size" not in values, f"English value present: {values}")
    with j.step("Ctrl+B shows the French buffer dialog; Annuler"):
        k.key("ctrl+b")
        dialog = k.wait_top("Param\u00e8trage du buffer", front=False)
        k.click(k.spy().control(dialog, 2))
        k.wait_gone("Param\u00e8trage du buffer")
    with j.step("Ctrl+P does nothing in French"):
        select_all(k, 64)
        k.set_field(PATH_FIELD, "ctrl-p.img")
        k.key("ctrl+p")
        time.sleep(1.5)
        expect(not os.path.exists(j.path("ctrl-p.img")), "Ctrl+P started a copy under the French interface")
    with j.step("Ctrl+E proceeds"):
        k.set_field(PATH_FIELD, "ctrl-e.img")
        k.key("ctrl+e")
        wait_for("the image of Ctrl+E", lambda: os.path.exists(j.path("ctrl-e.img")), 10)
        wait_idle(k)
        expect_image(j.path("ctrl-e.img"), disk.image, 64, 512)
    with j.step("Quitter ends with status 0"):
        quit_with_button(k)


# -- no ASPI layer -----------------------------------------------------------------------------------

def journey_no_aspi(j):
    for aspi, message in (("builtin", "Host Adapter Inquiry returned an supported status"),
                          ("none", "Can't load or initialize ASPI for Windows")):
        j.suite.delete_registry_key()
        with j.step(f"start with {'Wine' if aspi == 'builtin' else 'no'} ASPI library"):
            k = j.kestrova(aspi=aspi).start()
            box = k.wait_message_box(20)
            expect_equal((box[1], box[2]), ("ERROR", message), "message box (caption, text)")
        with j.step(f"OK ends the program with status 0 ({aspi})"):
            k.answer_box("OK")
            k.expect_exit_zero()
        with j.step(f"the buffer setting was still read and its default stored ({aspi})"):
            values = j.suite.registry_values()
            expect(values and values.get("IO buffer size", {}).get("data") == "16", f"registry values: {values}")


GROUPS = {
    "transfers": [("backup_restore_copy", journey_backup_restore_copy)],
    "abort_and_failure": [("abort", journey_abort), ("abort_fr", lambda j: journey_abort(j, "fr")),
                          ("scsi_failure", journey_scsi_failure)],
    "keys": [("keys", journey_keys)],
    "french": [("french", journey_french)],
    "no_aspi": [("no_aspi", journey_no_aspi)],
}
