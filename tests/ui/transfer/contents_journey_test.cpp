/*
 * "Disk contents" end to end, on the real main form and the virtual bus: the menu command opens
 * the dialog, which describes the source device (a ZIP disk with three Akai partitions), the
 * target device and the image file of the path field in the user's language, and its button puts
 * the size the source's file systems use into the size field; the question before a restore with
 * the option on; the image report's contents. The images follow the fact sheet's designs
 * (tests/unit/contents/disk_images.h).
 */
#include "transfer_bench.h"
#include "app_state.h"
#include "disk_images.h"
#include "main_form.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "settings_support.h"
#include "transfers.h"
#include "ui_language.h"
#include <cstring>
#include <functional>

namespace {

constexpr int32_t kZipSectors = 196608;
constexpr int32_t kTargetSectors = 800;
char helpPath[kPathBufferSize] = "";

/* The form's own procedure does more at creation (binding, scan): route as it does otherwise. */
LRESULT CALLBACK routingFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        refreshMainForm(window);
    else if (message == WM_COMMAND)
        return onMainFormCommand(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

void saveImage(const DiskImage &image, const std::string &path, bool wholeLength)
{
    writeWholeFile(path, Bytes());
    for (const auto &[number, sector] : image.sectors)
        writeFileRange(path, int64_t(number) * 512, Bytes(sector.begin(), sector.end()));
    if (wholeLength) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = int64_t(image.bytes);
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    }
}

std::string fullText(HWND control)
{
    std::string text(size_t(GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(size_t(GetWindowTextA(control, &text[0], int(text.size()))));
    return text;
}

class Contents : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = routingFormProc;
        windowClass.cbWndExtra = DLGWINDOWEXTRA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "Kestrova";
        RegisterClassExA(&windowClass);   /* fails harmlessly from the second test on */
        appState.helpDocPath = helpPath;
        appState.archive = ArchiveOptions();
        /* A ZIP drive holding an Akai disk of three partitions, a small disk holding a FAT12
           floppy's file system (cut short by the disk's end), and an E-mu image file. */
        saveImage(zipAkai(), pathOf("zip.img"), false);
        saveImage(fa12(), pathOf("small.img"), false);
        saveImage(em1(), pathOf("emu.img"), true);
        loadBus({{0, 1, 512, kZipSectors, "zip.img", ""}, {0, 2, 512, kTargetSectors, "small.img", ""},
                 {0, 3, 512, 1000, "", ""}},
                "trace = trace.log");
        std::snprintf(adapterTable.adapters[0].devices[1].label, sizeof(DeviceRecord::label), "1: VBUS ZIP 100");
        usePathOf("emu.img");
        appState.mode = TransferMode::DiskToFile;
        appState.transferSectors = 0;
    }
    void TearDown() override
    {
        if (mainForm_)
            DestroyWindow(mainForm_);
        appState.archive = ArchiveOptions();
        TransferBench::TearDown();
    }

    /* The real form, from its template, in the language of the run. */
    HWND openForm()
    {
        mainForm_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAIN_FORM_NAME, nullptr, nullptr, 0);
        EXPECT_NE(mainForm_, nullptr);
        appState.mainForm = mainForm_;
        SendMessageA(mainForm_, WM_PAINT, 0, 0);
        return mainForm_;
    }

    /* Opens the dialog from the menu; action gets it once it shows. */
    bool runDialog(const char *caption, const std::function<void(HWND)> &action)
    {
        WhenWindowAppears seen([caption] { return findThreadWindow(caption); }, action);
        SendMessageA(mainForm_, WM_COMMAND, MAKEWPARAM(IDM_DISK_CONTENTS, 0), 0);
        return seen.ran();
    }

    void usePathOf(const std::string &name) { std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(name).c_str()); }

    /* READ(10) requests the bus saw for a target. */
    int readsOf(int target)
    {
        Bytes t = readWholeFile(pathOf("trace.log"));
        const std::string trace(t.begin(), t.end()), key = " target=" + std::to_string(target) + " ";
        int reads = 0;
        for (size_t start = 0, end; start < trace.size(); start = end + 1) {
            end = trace.find('\n', start);
            end = end == std::string::npos ? trace.size() : end;
            const std::string line = trace.substr(start, end - start);
            reads += line.find(key) != std::string::npos && line.find("cdb=28 ") != std::string::npos;
        }
        return reads;
    }

    HWND mainForm_ = nullptr;
};

TEST_F(Contents, TheDialogDescribesDevicesAndImageAndItsButtonSetsTheSize)
{
    HWND form = openForm();
    std::string text;
    bool buttonEnabled = false;
    ASSERT_TRUE(runDialog("Disk contents", [&](HWND dialog) {
        text = fullText(GetDlgItem(dialog, IDC_CONTENTS_TEXT));
        buttonEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_CONTENTS_USED)) != FALSE;
        PostMessageA(GetDlgItem(dialog, IDC_CONTENTS_USED), BM_CLICK, 0, 0);
    }));
    const std::string lines[] = {
        "Source device 1: VBUS ZIP 100, adapter 0  (196608 sectors of 512 bytes)\r\n"
        "    Akai S3000: sectors 0 to 183999 (89.8 MB)\r\n"
        "      Partition A: 62400 sectors from sector 0 (30.5 MB)\r\n"
        "        Volume DRUMS 1 (S3000)\r\n"
        "        Volume PIANOS (S3000)\r\n"
        "      Partition B: 62400 sectors from sector 62400 (30.5 MB)\r\n"
        "        Volume STRINGS (S1000)\r\n"
        "      Partition C: 59200 sectors from sector 124800 (28.9 MB)\r\n"
        "    Not used by any file system: 12608 sectors (6.2 MB) at the end\r\n",
        "Target device 2: VBUS DISK, adapter 0  (800 sectors of 512 bytes)\r\n"
        "    FAT12 \"SAMPLES\": sectors 0 to 2879 (1.4 MB)\r\n"
        "      Truncated: 800 of its 2880 sectors are there\r\n",
        "Image file " + pathOf("emu.img") + "  (495616 bytes)\r\n"
        "    E-mu EMU3: sectors 0 to 967 (0.5 MB)\r\n"
        "      Volume Default Folder\r\n"
        "      Volume Loops\r\n",
    };
    for (const std::string &line : lines)
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nnot in\n" << text;
    EXPECT_TRUE(buttonEnabled);
    /* The button typed the Akai file system's size into the field, whose rule then held. */
    EXPECT_EQ(appState.transferSectors, 184000);
    char field[16] = "";
    GetDlgItemTextA(form, IDC_MAIN_SIZE, field, sizeof field);
    EXPECT_STREQ(field, "184000");
    EXPECT_EQ(IsDlgButtonChecked(form, IDC_MAIN_SELECT_ALL), BST_UNCHECKED);
    EXPECT_GT(readsOf(1), 0);
    EXPECT_LE(readsOf(1), 12) << "a handful of requests for a disk of three partitions";

    /* In French, on a blank source in File -> Disk: the button takes the image's size, which
       the field's rule lowers to the target's 800 sectors. */
    appState.sourceDevice = 3;
    appState.mode = TransferMode::FileToDisk;
    DestroyWindow(form);
    UiLanguageScope french(kLanguageFrench);
    form = openForm();
    ASSERT_TRUE(runDialog("Contenu des disques", [&](HWND dialog) {
        text = fullText(GetDlgItem(dialog, IDC_CONTENTS_TEXT));
        PostMessageA(GetDlgItem(dialog, IDC_CONTENTS_USED), BM_CLICK, 0, 0);
    }));
    EXPECT_NE(text.find("P\xE9riph\xE9rique source 3: VBUS DISK, adaptateur 0  (1000 secteurs de 512 octets)\r\n"
                        "    Vierge : que des z\xE9ros l\xE0 o\xF9 commencerait un syst\xE8me de fichiers\r\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("    E-mu EMU3 : secteurs 0 \xE0 967 (0.5 Mo)\r\n"), std::string::npos) << text;
    EXPECT_EQ(appState.transferSectors, kTargetSectors);
}

TEST_F(Contents, WithTheOptionOnARestoreNamesWhatItWouldOverwrite)
{
    saveImage(ak1(), pathOf("akai.img"), true);
    const Bytes targetBefore = readWholeFile(pathOf("small.img"));
    struct Step { TransferMode mode; int32_t sectors; std::vector<int> answers; std::vector<std::string> texts; bool written; };
    const std::string overwrite = "The target holds a FAT12 disk named SAMPLES. Overwrite it?";
    const std::string tooBig = "The source holds an Akai S3000 disk that needs 1024 sectors (0.5 MB); the target has "
                               "only 800 sectors (0.4 MB). The copy would cut it short. Copy anyway?";
    const Step steps[] = {
        /* File -> Disk: the file-length question first, then the two of the option. */
        {TransferMode::FileToDisk, kTargetSectors, {IDOK, IDYES, IDNO}, {"File is bigger than device.", overwrite, tooBig}, false},
        {TransferMode::FileToDisk, kTargetSectors, {IDOK, IDNO}, {"File is bigger than device.", overwrite}, false},
        /* Disk -> Disk from the ZIP disk: its 184000 sectors of Akai do not fit either. */
        {TransferMode::DiskToDisk, kTargetSectors, {IDYES, IDNO}, {overwrite,
            "The source holds an Akai S3000 disk that needs 184000 sectors (89.8 MB); the target has only 800 "
            "sectors (0.4 MB). The copy would cut it short. Copy anyway?"}, false},
        {TransferMode::FileToDisk, kTargetSectors, {IDOK, IDYES, IDYES}, {"File is bigger than device.", overwrite, tooBig}, true},
    };
    appState.archive.guardRestore = true;
    usePathOf("akai.img");
    for (const Step &step : steps) {
        SCOPED_TRACE(int(step.mode));
        MessageBoxWatch boxes;
        for (int answer : step.answers)
            boxes.answer(answer);
        appState.mode = step.mode;
        appState.transferSectors = step.sectors;
        step.mode == TransferMode::FileToDisk ? copyFileToDisk(form()) : copyDiskToDisk(form());
        ASSERT_EQ(boxes.boxes().size(), step.texts.size());
        for (size_t i = 0; i < step.texts.size(); i++)
            EXPECT_EQ(boxes.boxes()[i].text, step.texts[i]);
        const Bytes target = readFileRange(pathOf("small.img"), 0, 512);
        EXPECT_EQ(target == readFileRange(pathOf("akai.img"), 0, 512), step.written);
        if (!step.written) {
            EXPECT_TRUE(readWholeFile(pathOf("small.img")) == targetBefore);
        }
    }
}

TEST_F(Contents, TheImageReportNamesTheFormatAndListsTheVolumes)
{
    appState.archive.report = true;
    appState.mode = TransferMode::DiskToFile;
    appState.transferSectors = 4096;   /* the first 2 MB of the ZIP disk: partition A, cut short */
    usePathOf("part.img");
    copyDiskToFile(form());
    Bytes r = readWholeFile(pathOf("part.img.txt"));
    const std::string report(r.begin(), r.end());
    EXPECT_NE(report.find("\r\nContents:\r\n"
                          "  Akai S3000: sectors 0 to 183999 (89.8 MB)\r\n"
                          "    Truncated: 4096 of its 184000 sectors are there\r\n"
                          "    Partition A: 62400 sectors from sector 0 (30.5 MB)\r\n"
                          "      Truncated: 4096 of its 62400 sectors are there\r\n"
                          "      Volume DRUMS 1 (S3000)\r\n"
                          "      Volume PIANOS (S3000)\r\n"
                          "    Partition B: 62400 sectors from sector 62400 (30.5 MB)\r\n"
                          "      Missing: it would start beyond the end\r\n"),
              std::string::npos)
        << report;
}

}  // namespace
