/* What the target holds and whether the source fits, asked before a restore writes. */
#include "restore_guard.h"

#include <algorithm>
#include <cstdio>
#include "contents_text.h"
#include "disk_contents.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr int kTextSize = 512;
constexpr size_t kVolumesNamed = 6;

bool askYes(HWND owner, const char *text)
{
    return showMessage(owner, text, "Warning!", MB_YESNO | MB_ICONWARNING) == IDYES;
}

/* The target's file system by its name and its volumes (or its label), and whether to overwrite it. */
bool overwriteAccepted(HWND owner, const FileSystem &held)
{
    char format[kTextSize], what[kTextSize] = "", text[kTextSize];
    const std::string volumes = volumeList(held, kVolumesNamed);
    if (!volumes.empty())
        std::snprintf(what, sizeof what, loadText(IDS_GUARD_VOLUMES, format, sizeof format), volumes.c_str());
    else if (!held.label.empty())
        std::snprintf(what, sizeof what, loadText(IDS_GUARD_NAMED, format, sizeof format), held.label.c_str());
    std::snprintf(text, sizeof text, loadText(IDS_GUARD_OVERWRITE, format, sizeof format), articleAndName(held).c_str(),
                  what);
    return askYes(owner, text);
}

/* The source's file systems end beyond the target's last sector. */
bool shortTargetAccepted(HWND owner, const DiskContents &source, const FileSystem &main, const DeviceRecord &target)
{
    char format[kTextSize], text[kTextSize];
    const int32_t needed = sectorsInUse(source, target.sectorSize);
    std::snprintf(text, sizeof text, loadText(IDS_GUARD_TOO_BIG, format, sizeof format), articleAndName(main).c_str(),
                  int(needed), sizeInMegabytes(needed, target.sectorSize), int(target.sectorCount),
                  sizeInMegabytes(target.sectorCount, target.sectorSize));
    return askYes(owner, text);
}

}  // namespace

int confirmRestore(HWND owner, TransferMode mode, SendASPI32CommandFn sendCommand)
{
    if (!appState.archive.guardRestore || mode == TransferMode::DiskToFile)
        return 1;
    const DeviceRecord &target = targetDeviceRecord();
    const DiskContents held = probeDevice(sendCommand, appState.targetAdapter, appState.targetDevice);
    if (const FileSystem *fs = mainFileSystem(held))
        if (!overwriteAccepted(owner, *fs))
            return 0;

    DiskContents source;
    if (mode == TransferMode::FileToDisk)
        probeImageFile(appState.imagePath, -1, source);
    else
        source = probeDevice(sendCommand, appState.sourceAdapter, appState.sourceDevice);
    const FileSystem *main = mainFileSystem(source);
    const uint64_t targetBytes = uint64_t(std::max(target.sectorCount, 0)) * uint64_t(std::max(target.sectorSize, 0));
    if (main && source.usedBytes > targetBytes && !shortTargetAccepted(owner, source, *main, target))
        return 0;
    return 1;
}
