/* The bus scan: fills the device table from the adapters that the ASPI binding counted. */
#ifndef KESTROVA_BUS_SCAN_H
#define KESTROVA_BUS_SCAN_H

#include <windows.h>

/* 1 when every adapter was scanned; 0 when SendASPI32Command is missing (after its message). */
int scanBus(HWND owner);

#endif
