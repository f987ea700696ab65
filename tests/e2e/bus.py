"""Virtual SCSI buses for the journeys: an INI file of the virtual bus and the device images
beside it, written into the journey's folder."""

import os

from harness import make_random_file


class Disk:
    def __init__(self, adapter, target, sectors, sector_size=512, content="random", seed=1,
                 product="E2E DISK", extra=None):
        self.adapter, self.target = adapter, target
        self.sectors, self.sector_size = sectors, sector_size
        self.content, self.seed, self.product = content, seed, product
        self.extra = extra or []
        self.image = None

    @property
    def size(self):
        return self.sectors * self.sector_size


def write_bus(journey, disks, adapters=2, bus_lines=None, name="bus.ini", identifier="E2E BUS"):
    """Writes the images and the configuration; returns the configuration's path."""
    lines = ["; written by the end-to-end journeys", "[bus]", "trace = trace.txt"]
    lines += bus_lines or []
    for a in range(adapters):
        lines += ["", f"[adapter {a}]", "scsi_id = 7", f'identifier = "{identifier}{a}"', "max_targets = 8"]
    for disk in disks:
        disk.image = journey.path(f"disk-{disk.adapter}-{disk.target}.img")
        if disk.content == "random":
            make_random_file(disk.image, disk.size, disk.seed)
        else:
            with open(disk.image, "wb") as f:
                f.truncate(disk.size)
        lines += ["", f"[device {disk.adapter}:{disk.target}]", "type = disk", 'vendor = "KESTREL"',
                  f'product = "{disk.product}"', 'revision = "1.0"', f"sector_size = {disk.sector_size}",
                  f"sectors = {disk.sectors}", f"image = {os.path.basename(disk.image)}"]
        lines += disk.extra
    path = journey.path(name)
    with open(path, "w") as f:
        f.write("\r\n".join(lines) + "\r\n")
    return path


def trace_lines(journey):
    try:
        with open(journey.path("trace.txt"), "r", errors="replace") as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []
