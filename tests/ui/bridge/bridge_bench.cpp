/* The bridge's test bench. */
#include "bridge_bench.h"
#include "app_state.h"
#include "aspi.h"
#include "bridge.h"
#include "bus_scan.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

/* A failed request ends the program with status 0 (the program's own rule): in the parent that
   would pass unnoticed, so an exit in the middle of a test turns into a failure. A child run for
   a failure case is meant to end that way. */
void exitInsideATest()
{
    if (testing::UnitTest::GetInstance()->current_test_info()) {
        fprintf(stderr, "the program ended inside a test (a request failed)\n");
        std::_Exit(1);
    }
}

}  // namespace

void BridgeBench::SetUp()
{
    TransferBench::SetUp();
    static bool guarded = false;
    char child[8];
    if (!guarded && !GetEnvironmentVariableA(kChildVariable, child, sizeof child))
        guarded = std::atexit(exitInsideATest) == 0;
    SetEnvironmentVariableA(kTraceVariable, pathOf("trace.log").c_str());
    bridgeUseWindows(&emulatedWindowsCalls());
    appState.aspiLibrary = GetModuleHandleA(nullptr);
}

void BridgeBench::TearDown()
{
    bridgeUseWindows(nullptr);
    EXPECT_EQ(emulatedStack().openHandles, 0) << "the bridge left handles open";
    for (EmulatedUnit &u : emulatedStack().units)
        closeImage(*u.device);
    for (const char *name : {kTraceVariable, kInternalPortsVariable})
        SetEnvironmentVariableA(name, nullptr);
    appState.aspiLibrary = nullptr;
    TransferBench::TearDown();
}

void BridgeBench::load(const MachineProfile &machine)
{
    bridgeUseWindows(&emulatedWindowsCalls());
    for (EmulatedUnit &u : emulatedStack().units)
        closeImage(*u.device);
    loadMachine(machine, folder());
}

uint32_t BridgeBench::supportInfo()
{
    FARPROC entry = GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo");
    return entry ? reinterpret_cast<GetASPI32SupportInfoFn>(reinterpret_cast<void *>(entry))() : 0;
}

void BridgeBench::bindAndScan(uint8_t adapters)
{
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | adapters);
    appState.adapterCount = adapters;
    ASSERT_EQ(scanBus(form()), 1);
}

uint8_t BridgeBench::send(void *block)
{
    SendASPI32CommandFn entry = lookupSendCommand();
    return entry ? uint8_t(entry(block)) : 0;
}

SRB_ExecSCSICmd BridgeBench::execute(uint8_t adapter, uint8_t target, const std::vector<uint8_t> &cdb,
                                     uint8_t flags, uint8_t *buffer, uint32_t length)
{
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Flags = flags;
    srb.SRB_Target = target;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = kSenseLength;
    srb.SRB_CDBLen = uint8_t(cdb.size());
    std::copy(cdb.begin(), cdb.end(), srb.CDBByte);
    const uint8_t returned = send(&srb);
    EXPECT_EQ(returned, srb.SRB_Status);
    return srb;
}

void BridgeBench::usePath(const std::string &name)
{
    snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(name).c_str());
}

Bytes BridgeBench::medium(const std::string &unit)
{
    return readWholeFile(emulatedStack().unit(unit).device->image);
}

std::string BridgeBench::traceText()
{
    Bytes text = readWholeFile(pathOf("trace.log"));
    return std::string(text.begin(), text.end());
}
