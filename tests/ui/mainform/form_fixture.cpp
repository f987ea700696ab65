/* The test form: the real template under a procedure that routes like the program's. */
#include "form_fixture.h"
#include <cstring>
#include <fstream>
#include <sstream>
#include "main_form.h"
#include "resource_ids.h"

int MainFormTest::paints = 0;
int MainFormTest::destroys = 0;

namespace {

char scratchBuffer[kScratchTextSize];
char imagePathBuffer[kPathBufferSize];
char helpPathBuffer[kPathBufferSize];

LRESULT CALLBACK routingFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        ++MainFormTest::paints;
        refreshMainForm(window);
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_COMMAND:
        return onMainFormCommand(window, message, wParam, lParam);
    case WM_DESTROY:
        ++MainFormTest::destroys;
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void registerRoutingClass()
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = routingFormProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
    windowClass.lpszClassName = "Kestrova";
    registered = RegisterClassExA(&windowClass) != 0;
}

}  // namespace

void MainFormTest::SetUp()
{
    adapterTable = {};
    appState.adapterCount = 0;
    appState.sourceAdapter = appState.sourceDevice = appState.targetAdapter = appState.targetDevice = 0;
    appState.mode = TransferMode::DiskToFile;
    appState.transferSectors = 0;
    appState.abortRequested = 0;
    appState.bufferBlocks = 32;
    appState.scratchText = scratchBuffer;
    appState.imagePath = imagePathBuffer;
    appState.helpDocPath = helpPathBuffer;
    std::strcpy(imagePathBuffer, ".\\NewFile.iso");
    std::strcpy(helpPathBuffer, "Z:\\nonexistent\\Kestrova v1.31.pdf");
    appState.progressBox = nullptr;

    registerRoutingClass();
    form = CreateDialogParamA(GetModuleHandleA(nullptr), MAIN_FORM_NAME, nullptr, nullptr, 0);
    ASSERT_NE(form, nullptr) << "the main form template did not give a window, error " << GetLastError();
    appState.mainForm = form;
    /* The form stays hidden: its controls work the same, and Wine under a bare X server waits
       about two seconds for every visible window it destroys. */
    paints = 0;
    destroys = 0;
}

void MainFormTest::TearDown()
{
    if (form)
        DestroyWindow(form);
    appState.mainForm = nullptr;
    /* Nothing the tests leave behind reaches the next one. */
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void MainFormTest::setAdapter(int a, const char *name, uint8_t maxTargets)
{
    AdapterRecord &adapter = adapterTable.adapters[a];
    std::snprintf(adapter.name, sizeof adapter.name, "%s", name);
    adapter.maxTargets = maxTargets;
    adapter.scsiId = 7;
}

DeviceRecord &MainFormTest::setDevice(int a, int d, const char *label, int32_t sectors, int32_t sectorSize,
                                      int32_t deviceType, int32_t removable)
{
    DeviceRecord &device = adapterTable.adapters[a].devices[d];
    std::snprintf(device.label, sizeof device.label, "%s", label);
    device.sectorCount = sectors;
    device.sectorSize = sectorSize;
    device.deviceType = deviceType;
    device.removable = removable;
    return device;
}

void MainFormTest::twoDisks(int32_t sourceSectors, int32_t targetSectors)
{
    appState.adapterCount = 2;
    setAdapter(0, "Adapter zero", 8);
    setAdapter(1, "Adapter one", 8);
    for (int a = 0; a < 2; ++a)
        for (int d = 0; d < 8; ++d)
            setDevice(a, d, (std::to_string(d) + ": none").c_str(), 0, 0, 31);
    setDevice(0, 0, "0: SOURCE DISK", sourceSectors);
    setDevice(1, 0, "0: TARGET DISK", targetSectors);
    appState.sourceAdapter = 0;
    appState.targetAdapter = 1;
}

void MainFormTest::command(int id, int code) const
{
    SendMessageA(form, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(form, id)));
}

void MainFormTest::type(int id, const char *keys) const
{
    HWND field = GetDlgItem(form, id);
    for (const char *key = keys; *key; ++key)
        SendMessageA(field, WM_CHAR, static_cast<unsigned char>(*key), 1);
}

std::string MainFormTest::text(int id) const
{
    char buffer[512] = "";
    GetDlgItemTextA(form, id, buffer, sizeof buffer);
    return buffer;
}

std::string MainFormTest::item(int id, int index) const
{
    char buffer[64] = "";
    if (SendDlgItemMessageA(form, id, CB_GETLBTEXTLEN, index, 0) >= static_cast<LRESULT>(sizeof buffer))
        return "<too long>";
    SendDlgItemMessageA(form, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}
