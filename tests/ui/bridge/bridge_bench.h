/*
 * The bench of the bridge's tests: the transfer bench (the program's window, buffers, image
 * folder) over the bridge over the emulated storage stack, loaded with one of the machines.
 * This test program is itself the ASPI layer of the in-process tests: it links the bridge's code
 * and exports its two entry points, so appState.aspiLibrary is this program's own module.
 */
#ifndef KESTROVA_BRIDGE_BENCH_H
#define KESTROVA_BRIDGE_BENCH_H

#include <string>
#include <vector>
#include "aspi_blocks.h"
#include "machine_profiles.h"
#include "transfer_bench.h"

/* Set in a child run of this program that is meant to end the process (a failed copy). */
constexpr const char *kChildVariable = "KESTROVA_BRIDGE_CHILD";

class BridgeBench : public TransferBench {
protected:
    void SetUp() override;
    void TearDown() override;

    /* The machine the next GetASPI32SupportInfo finds (the bridge lets go of the last one). */
    void load(const MachineProfile &machine);
    uint32_t supportInfo();
    /* The program's own bind and scan, which must find this many adapters. */
    void bindAndScan(uint8_t adapters);
    uint8_t send(void *block);
    /* One SC_EXEC_SCSI_CMD; the block afterwards. */
    SRB_ExecSCSICmd execute(uint8_t adapter, uint8_t target, const std::vector<uint8_t> &cdb, uint8_t flags,
                            uint8_t *buffer, uint32_t length);
    void usePath(const std::string &name);
    /* The medium of a unit, as its image file holds it now. */
    Bytes medium(const std::string &unit);
    std::string traceText();
};

#endif
