/*
 * Bad input: text of every kind put into the size field by paste and by WM_SETTEXT, a path too
 * long for the program's buffer typed into the path field, stored buffer sizes of every registry
 * type, and buffer sizes too large to allocate or to send in one request.
 */
#include "form_fixture.h"
#include "transfer_bench.h"
#include "app_state.h"
#include "buffer_setting.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "transfers.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
int triedInputs = 0;

/* The build's virtual bus with one configuration, loaded once for the form tests. */
void loadQuietBus(const std::string &ini)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string config = std::string(temp) + "kestrova-input-" + std::to_string(GetCurrentProcessId()) + ".ini";
    writeWholeFile(config, Bytes(ini.begin(), ini.end()));
    SetEnvironmentVariableA("VBUS_CONFIG", config.c_str());
    if (!appState.aspiLibrary) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        std::string exe(path, length);
        appState.aspiLibrary =
            LoadLibraryA((exe.substr(0, exe.find_last_of("\\/")) + "\\..\\bin\\vbus\\wnaspi32.dll").c_str());
    }
    ASSERT_NE(appState.aspiLibrary, nullptr);
    auto supportInfo = reinterpret_cast<uint32_t(__cdecl *)()>(
        reinterpret_cast<void *>(GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo")));
    ASSERT_NE(supportInfo, nullptr);
    ASSERT_EQ((supportInfo() >> 8) & 0xFF, 1u) << ini;
}

class InputTest : public MainFormTest {
protected:
    void paste(int id, const std::string &clip)
    {
        HWND field = GetDlgItem(form, id);
        ASSERT_TRUE(OpenClipboard(form));
        EmptyClipboard();
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, clip.size() + 1);
        std::memcpy(GlobalLock(memory), clip.c_str(), clip.size() + 1);
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
        SendMessageA(field, EM_SETSEL, 0, -1);
        SendMessageA(field, WM_PASTE, 0, 0);
    }
};
}  // namespace

TEST_F(InputTest, SizeFieldTakesOnlySizesWithinTheDevice)
{
    struct Device { int32_t sectors; const char *name; };
    const Device devices[] = {{1000000, "1000000 sectors"}, {2147483647, "2147483647 sectors"}};
    const char *inputs[] = {"abc", "12ab", "-5", "+7", "-", "+", "   ", " 42 ", "\t9", "0", "00000000001",
                            "12345678901", "99999999999999999999", "2147483647", "2147483648", "4294967297",
                            "1 000", "1e6", "0x10", "\xB2\xB3", "-2147483648", ""};
    for (const Device &device : devices) {
        twoDisks(device.sectors, 500);
        appState.mode = TransferMode::DiskToFile;
        refresh();
        for (int byPaste = 0; byPaste < 2; ++byPaste) {
            for (const char *input : inputs) {
                SCOPED_TRACE(std::string(device.name) + (byPaste ? ", pasted \"" : ", WM_SETTEXT \"") + input + "\"");
                setText(IDC_MAIN_SIZE, "100");
                ASSERT_EQ(appState.transferSectors, 100);
                if (byPaste)
                    paste(IDC_MAIN_SIZE, input);
                else
                    setText(IDC_MAIN_SIZE, input);
                const std::string shown = text(IDC_MAIN_SIZE);
                const int32_t size = appState.transferSectors;
                EXPECT_GE(size, 0);
                EXPECT_LE(size, device.sectors);
                /* What the field shows and the size agree once the form is painted again. */
                refresh();
                EXPECT_EQ(text(IDC_MAIN_SIZE), std::to_string(size));
                EXPECT_EQ(appState.transferSectors, size) << "a refresh does not change the size";
                EXPECT_LE(text(IDC_MAIN_SIZE).size(), 10u);
                std::printf("[ reliability ] %-18s %-10s %-24s field \"%s\" -> %d sectors\n", device.name,
                            byPaste ? "paste" : "WM_SETTEXT", (std::string("\"") + input + "\"").c_str(),
                            shown.c_str(), static_cast<int>(size));
                triedInputs++;
            }
        }
        /* Cases where both ways must agree on the number. */
        for (int byPaste = 0; byPaste < 2; ++byPaste) {
            struct Expected { const char *input; int32_t size; };
            /* A paste stops at the field's ten characters; WM_SETTEXT puts the whole text in, and
               the number read is the one the field shows. */
            const int32_t elevenDigits = byPaste ? std::min<int32_t>(1234567890, device.sectors) : device.sectors;
            const Expected expected[] = {{"12ab", 12}, {"abc", 100}, {"   ", 100}, {" 42 ", 42}, {"-5", 0},
                                         {"12345678901", elevenDigits}, {"00000000001", byPaste ? 0 : 1},
                                         {"99999999999999999999", device.sectors},
                                         {"4294967297", device.sectors}, {"0", 0}};
            for (const Expected &e : expected) {
                SCOPED_TRACE(std::string(byPaste ? "pasted " : "set ") + e.input);
                setText(IDC_MAIN_SIZE, "100");
                if (byPaste)
                    paste(IDC_MAIN_SIZE, e.input);
                else
                    setText(IDC_MAIN_SIZE, e.input);
                EXPECT_EQ(appState.transferSectors, e.size);
            }
        }
    }
}

TEST_F(InputTest, PathTooLongForTheProgramIsNeverUsedCut)
{
    loadQuietBus("[bus]\r\n[adapter 0]\r\n[device 0:0]\r\nsectors = 100\r\n");
    twoDisks(100, 100);
    appState.sourceAdapter = 0;
    appState.targetAdapter = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    for (size_t length : {259u, 300u}) {
        SCOPED_TRACE(length);
        std::string path = std::string(temp) + "kestrova-long-";
        path += std::string(length - path.size() - 4, 'p') + ".iso";
        ASSERT_EQ(path.size(), length);
        setText(IDC_MAIN_PATH, path.c_str());
        EXPECT_EQ(std::strlen(appState.imagePath), std::min<size_t>(length, kPathBufferSize - 1));
        EXPECT_EQ(0, std::strncmp(appState.imagePath, path.c_str(), kPathBufferSize - 1));
        appState.transferSectors = 10;
        MessageBoxWatch boxes;
        copyDiskToFile(form);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Impossible to build complete path name");
        boxes.clear();
        copyFileToDisk(form);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Input file does not exist or null sized.");
        /* Nothing was created, neither under the whole name nor under the part that fits. */
        EXPECT_EQ(GetFileAttributesA(appState.imagePath), INVALID_FILE_ATTRIBUTES);
        triedInputs += 2;
    }
}

namespace {
std::string resourceText(UINT id)
{
    char text[100] = "";
    LoadStringA(appState.instance, id, text, sizeof text);
    return text;
}

struct RegistryScope {
    HKEY key = nullptr;
    std::string value = resourceText(IDS_REGISTRY_VALUE);
    RegistryScope() { RegCreateKeyExA(HKEY_LOCAL_MACHINE, resourceText(IDS_REGISTRY_KEY).c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr); }
    ~RegistryScope()
    {
        RegDeleteValueA(key, value.c_str());
        RegCloseKey(key);
    }
    void store(DWORD type, const std::string &bytes)
    {
        RegSetValueExA(key, value.c_str(), 0, type, reinterpret_cast<const BYTE *>(bytes.data()), DWORD(bytes.size()));
    }
    std::string storedText()
    {
        char text[64] = "";
        DWORD length = sizeof text - 1, type = 0;
        RegQueryValueExA(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(text), &length);
        return type == REG_SZ ? text : "(type " + std::to_string(type) + ")";
    }
};
}  // namespace

TEST(StoredBufferSize, EveryRegistryTypeGivesAUsableSize)
{
    struct Case {
        const char *name;
        DWORD type;
        std::string bytes;
        int32_t bufferBlocks;
        const char *storedAfter;   /* nullptr: left as stored */
    };
    const Case cases[] = {
        {"REG_BINARY holding digits", REG_BINARY, "32", 64, nullptr},
        {"REG_BINARY of other bytes", REG_BINARY, std::string("\x01\x02\x03", 3), 32, "16"},
        {"REG_BINARY, 64 bytes without NUL", REG_BINARY, std::string(64, '8'), 32, "16"},
        {"REG_DWORD 0", REG_DWORD, std::string(4, '\0'), 32, "16"},
        {"REG_DWORD 0xFFFFFFFF", REG_DWORD, std::string(4, '\xFF'), 32, "16"},
        {"REG_QWORD 64", REG_QWORD, std::string("\x40\0\0\0\0\0\0\0", 8), 32, "16"},
        {"REG_MULTI_SZ, first string 8", REG_MULTI_SZ, std::string("8\0" "64\0\0", 6), 16, nullptr},
        {"REG_EXPAND_SZ %TEMP%", REG_EXPAND_SZ, std::string("%TEMP%\0", 7), 32, "16"},
        {"REG_NONE, no data", REG_NONE, "", 32, "16"},
        {"REG_SZ without data", REG_SZ, "", 32, "16"},
        {"REG_SZ 11 digits", REG_SZ, std::string("99999999999\0", 12), 32, "16"},
        {"REG_SZ most negative", REG_SZ, std::string("-2147483648\0", 12), 32, "16"},
        {"REG_SZ of 1000 bytes beginning with 64", REG_SZ, "64" + std::string(997, '0') + std::string(1, '\0'), 32,
         "16"},
        {"REG_SZ, blank then digits", REG_SZ, std::string(" 4\0", 3), 8, nullptr},
    };
    RegistryScope registry;
    ASSERT_NE(registry.key, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        registry.store(c.type, c.bytes);
        const std::string before = registry.storedText();
        appState.bufferBlocks = -1;
        restoreBufferSize();
        EXPECT_EQ(appState.bufferBlocks, c.bufferBlocks);
        EXPECT_EQ(registry.storedText(), c.storedAfter ? c.storedAfter : before);
        std::printf("[ reliability ] stored %-40s -> bufferBlocks %d\n", c.name, static_cast<int>(appState.bufferBlocks));
        triedInputs++;
    }
}

/* The largest buffer a stored value can ask for: 1073741823 K, more than any allocation gets. */
class HugeBuffer : public TransferBench {};

TEST_F(HugeBuffer, StoredSizeTooLargeToAllocateIsRefusedWithoutTouchingTheFile)
{
    writeWholeFile(pathOf("source.img"), patternBytes(1, 64 * 512));
    writeWholeFile(pathOf("target.img"), Bytes(64 * 512, 0xEE));
    loadBus({{0, 1, 512, 64, "source.img", ""}, {0, 2, 512, 64, "target.img", ""}});
    {
        RegistryScope registry;
        registry.store(REG_SZ, std::string("1073741823\0", 11));
        restoreBufferSize();
    }
    ASSERT_EQ(appState.bufferBlocks, 2147483646);
    const Bytes previous = patternBytes(2, 4096);
    writeWholeFile(pathOf("old.iso"), previous);
    writeWholeFile(pathOf("in.iso"), patternBytes(3, 64 * 512));
    struct Case { const char *name; void (*copy)(HWND); const char *path; std::vector<std::string> messages; };
    const Case cases[] = {
        {"disk to file, new file", copyDiskToFile, "new.iso", {"Can't allocate I/O buffer"}},
        {"disk to file, existing file", copyDiskToFile, "old.iso",
         {"The file you've selected already exists. Overwrite?", "Can't allocate I/O buffer"}},
        {"file to disk", copyFileToDisk, "in.iso", {"Can't allocate I/O buffer"}},
        {"disk to disk", copyDiskToDisk, "", {"Can't allocate I/O buffer"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(c.path).c_str());
        appState.transferSectors = 64;
        progress() = ProgressRecord();
        MessageBoxWatch boxes;
        c.copy(form());
        std::vector<std::string> texts;
        for (const CapturedBox &box : boxes.boxes())
            texts.push_back(box.text);
        EXPECT_EQ(texts, c.messages);
        EXPECT_EQ(progress().boxesOpened, 0);
        EXPECT_EQ(readWholeFile(pathOf("target.img")), Bytes(64 * 512, 0xEE));
        EXPECT_EQ(readWholeFile(pathOf("old.iso")), previous) << "an image refused is not emptied";
        EXPECT_EQ(GetFileAttributesA(pathOf("new.iso").c_str()), INVALID_FILE_ATTRIBUTES)
            << "a refused copy leaves no file";
        triedInputs++;
    }
}

TEST_F(HugeBuffer, LargeStoredSizeSendsAtMost65535SectorsPerRequest)
{
    /* 100000 K: 200000 sectors of 512 bytes would fit the buffer, the CDB takes 65535. Devices
       without images read zeros and drop writes; the trace shows every request. */
    loadBus({{0, 1, 512, 140000, "", ""}, {0, 2, 512, 140000, "", ""}}, "trace = " + pathOf("trace.txt"));
    {
        RegistryScope registry;
        registry.store(REG_SZ, std::string("100000\0", 7));
        restoreBufferSize();
    }
    ASSERT_EQ(appState.bufferBlocks, 200000);
    appState.transferSectors = 140000;
    MessageBoxWatch boxes;
    copyDiskToDisk(form());
    EXPECT_TRUE(boxes.boxes().empty());
    Bytes trace = readWholeFile(pathOf("trace.txt"));
    std::string lines(trace.begin(), trace.end());
    std::vector<unsigned> counts;
    for (size_t at = lines.find("cdb="); at != std::string::npos; at = lines.find("cdb=", at + 1)) {
        unsigned b[10] = {};
        ASSERT_EQ(std::sscanf(lines.c_str() + at, "cdb=%x %x %x %x %x %x %x %x %x %x", &b[0], &b[1], &b[2], &b[3],
                              &b[4], &b[5], &b[6], &b[7], &b[8], &b[9]), 10);
        counts.push_back(b[7] << 8 | b[8]);
    }
    EXPECT_EQ(counts, (std::vector<unsigned>{65535, 65535, 65535, 65535, 8930, 8930}));
    triedInputs++;
    std::printf("[ reliability ] bad inputs tried: %d\n", triedInputs);
}
