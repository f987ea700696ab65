/*
 * The fixture of the journeys on the emulated PCs: the program's scan and copies over the bridge,
 * single requests, and what reached each device.
 */
#ifndef KESTROVA_MACHINE_JOURNEY_H
#define KESTROVA_MACHINE_JOURNEY_H

#include "bridge_bench.h"
#include "app_state.h"
#include "bus_scan.h"
#include "transfers.h"
#include <algorithm>

class MachineJourney : public BridgeBench {
protected:
    /* The program's device entries of an adapter, "none" entries left out. */
    std::vector<std::string> shown(int adapter)
    {
        std::vector<std::string> labels;
        const AdapterRecord &a = adapterTable.adapters[adapter];
        for (int t = 0; t < a.maxTargets && t < 16; t++)
            if (a.devices[t].deviceType != 31)
                labels.push_back(a.devices[t].label);
        return labels;
    }

    void copyToFile(int adapter, int target, int32_t sectors, const std::string &unit)
    {
        SCOPED_TRACE("disk to file from " + unit);
        appState.transferSectors = sectors;
        selectSource(adapter, target);
        usePath(unit + ".iso");
        DeleteFileA(pathOf(unit + ".iso").c_str());   /* no question before overwriting */
        copyDiskToFile(form());
        EXPECT_TRUE(readWholeFile(pathOf(unit + ".iso")) == medium(unit));
    }

    void copyFromFile(int adapter, int target, int32_t sectors, const std::string &unit, uint32_t seed)
    {
        SCOPED_TRACE("file to disk onto " + unit);
        const Bytes data = patternBytes(seed, medium(unit).size());
        writeWholeFile(pathOf("in.iso"), data);
        appState.transferSectors = sectors;
        selectTarget(adapter, target);
        usePath("in.iso");
        copyFileToDisk(form());
        EXPECT_TRUE(medium(unit) == data);
    }

    void copyDisk(int fromAdapter, int fromTarget, int toAdapter, int toTarget, int32_t sectors,
                  const std::string &from, const std::string &to)
    {
        SCOPED_TRACE("disk to disk, " + from + " onto " + to);
        appState.transferSectors = sectors;
        selectSource(fromAdapter, fromTarget);
        selectTarget(toAdapter, toTarget);
        copyDiskToDisk(form());
        EXPECT_TRUE(medium(to) == medium(from));
    }

    SRB_ExecSCSICmd writeSector(uint8_t adapter, uint8_t target, uint32_t seed)
    {
        const Bytes data = patternBytes(seed, 512);
        std::copy(data.begin(), data.end(), sector_);
        return execute(adapter, target, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_DIR_OUT, sector_, 512);
    }

    static bool reached(const std::string &unit, uint8_t opcode)
    {
        const std::vector<uint8_t> &seen = emulatedStack().unit(unit).opcodes;
        return std::find(seen.begin(), seen.end(), opcode) != seen.end();
    }

    static int damage()
    {
        int writes = 0;
        for (const EmulatedVolume &v : emulatedStack().volumes)
            writes += v.damagingWrites;
        return writes;
    }

    uint8_t sector_[512] = {};
};

#endif
