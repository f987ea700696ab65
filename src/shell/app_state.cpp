/* The single instances of the shared state, and the devices its selections pick. */
#include "app_state.h"

AppState appState = {};
AdapterTable adapterTable = {};

DeviceRecord &sourceDeviceRecord()
{
    /* Selections are 8-bit list positions; keep them inside the table whatever they hold. */
    return adapterTable.adapters[appState.sourceAdapter % kMaxAdapters]
        .devices[appState.sourceDevice % kMaxDevices];
}

DeviceRecord &targetDeviceRecord()
{
    return adapterTable.adapters[appState.targetAdapter % kMaxAdapters]
        .devices[appState.targetDevice % kMaxDevices];
}

DeviceRecord &referenceDevice()
{
    return appState.mode == TransferMode::FileToDisk ? targetDeviceRecord() : sourceDeviceRecord();
}

double sizeInMegabytes(int32_t sectors, int32_t sectorSize)
{
    return sectors / 1048576.0 * sectorSize;
}
