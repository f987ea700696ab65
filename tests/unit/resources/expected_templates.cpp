/* The expected templates, control by control, in template order. */
#include "expected_templates.h"

#include <commctrl.h>
#include <iterator>

const char *kindClass(Kind kind)
{
    switch (kind) {
    case Kind::GroupBox:
    case Kind::PushButton:
    case Kind::DefaultButton:
    case Kind::CheckBox:
    case Kind::RadioButton: return "Button";
    case Kind::Label:
    case Kind::CentredText:
    case Kind::Icon: return "Static";
    case Kind::EditField: return "Edit";
    case Kind::DropDownList: return "ComboBox";
    case Kind::ProgressBar: return "msctls_progress32";
    }
    return "";
}

DWORD kindStyle(Kind kind)
{
    const DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
    case Kind::GroupBox: return child | BS_GROUPBOX;
    case Kind::Label: return child | SS_LEFT | WS_GROUP;
    case Kind::CentredText: return child | SS_CENTER | WS_GROUP;
    case Kind::EditField: return child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    case Kind::DropDownList:
        return child | CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | WS_VSCROLL | WS_GROUP | WS_TABSTOP;
    case Kind::PushButton: return child | BS_PUSHBUTTON | WS_TABSTOP;
    case Kind::DefaultButton: return child | BS_DEFPUSHBUTTON | WS_TABSTOP;
    case Kind::CheckBox: return child | BS_AUTOCHECKBOX | WS_TABSTOP;
    case Kind::RadioButton: return child | BS_AUTORADIOBUTTON | BS_NOTIFY;
    case Kind::Icon: return child | SS_ICON;
    case Kind::ProgressBar: return child | WS_BORDER;
    }
    return 0;
}

namespace {

constexpr Box S = kSameAsEnglish;
constexpr DWORD kButtonEdges = WS_EX_CLIENTEDGE | WS_EX_STATICEDGE;

const ExpectedControl kMainFormControls[] = {
    {-1, Kind::GroupBox, "Source SCSI Device", "P\xE9riph\xE9rique SCSI source", {4, 0, 130, 41}, S, 0, 0},
    {1009, Kind::CentredText, "", "", {142, 9, 93, 39}, S, 0, 0},
    {-1, Kind::GroupBox, "File, Size and Mode", "Fichier, taille et mode", {4, 100, 130, 75}, S, 0, 0},
    {1005, Kind::EditField, "", "", {9, 119, 120, 12}, S, 0, 0},
    {1007, Kind::EditField, "", "", {64, 133, 66, 12}, S, ES_NUMBER, 0},
    {1008, Kind::CheckBox, "Sel. All Sectors", "Tout le disque", {64, 161, 65, 11}, S, 0, WS_EX_DLGMODALFRAME},
    {1015, Kind::DropDownList, "", "", {9, 10, 121, 94}, S, 0, 0},
    {1017, Kind::DropDownList, "", "", {9, 25, 121, 164}, S, 0, 0},
    {1018, Kind::PushButton, "Browse", "S\xE9lectionner", {94, 107, 35, 10}, {82, 107, 47, 10}, 0, WS_EX_STATICEDGE},
    {1019, Kind::PushButton, "Proceed", "Executer", {194, 142, 40, 15}, S, 0, WS_EX_DLGMODALFRAME | kButtonEdges},
    {1020, Kind::PushButton, "Rescan SCSI Bus", "Relit bus SCSI", {36, 86, 66, 11}, S, 0, WS_EX_STATICEDGE},
    {1021, Kind::PushButton, "About", "A propos", {144, 142, 40, 15}, S, 0, kButtonEdges},
    {1022, Kind::PushButton, "Help!", "Aide!", {144, 158, 40, 15}, S, 0, kButtonEdges},
    {1037, Kind::CentredText, "static", "static", {140, 105, 96, 24}, {141, 105, 94, 24}, 0, 0},
    {-1, Kind::GroupBox, "", "", {139, 99, 100, 32}, S, 0, 0},
    {-1, Kind::Label, "File name", "Nom de fichier", {10, 110, 54, 8}, S, 0, 0},
    {-1, Kind::Label, "Size (sectors)", "Taille (sectors)", {16, 135, 43, 8}, {16, 135, 46, 8}, 0, 0},
    {1026, Kind::Label, "", "", {64, 147, 66, 11}, S, WS_BORDER | SS_SUNKEN, 0},
    {-1, Kind::GroupBox, "Source Device Infos", "Infos p\xE9riph\xE9rique source", {139, 0, 100, 50}, S, 0, 0},
    {1033, Kind::RadioButton, "Disk -> File", "Disk -> File", {8, 154, 51, 10}, S, 0, 0},
    {1034, Kind::RadioButton, "File   -> Disk", "File   -> Disk", {8, 145, 51, 10}, S, 0, 0},
    {1035, Kind::RadioButton, "Disk -> Disk", "Disk -> Disk", {8, 163, 51, 10}, S, 0, 0},
    {-1, Kind::GroupBox, "Controls", "Controls", {139, 132, 100, 43}, S, 0, 0},
    {-1, Kind::GroupBox, "Target SCSI Device", "P\xE9riph\xE9rique SCSI destination", {4, 43, 130, 40}, S, 0, 0},
    {1010, Kind::CentredText, "", "", {142, 59, 93, 39}, S, 0, 0},
    {1016, Kind::DropDownList, "", "", {9, 52, 121, 94}, S, 0, 0},
    {1023, Kind::DropDownList, "", "", {9, 67, 121, 176}, S, 0, 0},
    {-1, Kind::GroupBox, "Target Device Infos", "Infos p\xE9riph\xE9rique destination", {139, 50, 100, 50}, S, 0, 0},
    {1024, Kind::PushButton, "Quit", "Quitter", {194, 158, 40, 15}, S, 0, kButtonEdges},
};

const ExpectedControl kProgressBoxControls[] = {
    {3, Kind::DefaultButton, "ABORT", "Abandonner", {65, 39, 50, 14}, S, BS_NOTIFY, 0},
    {1028, Kind::CentredText, "Static", "Static", {1, 1, 176, 36}, S, 0, 0},
    {1030, Kind::ProgressBar, "Progress1", "Progress1", {11, 64, 155, 14}, S, 0, WS_EX_CLIENTEDGE},
    {1029, Kind::CentredText, "Static", "Static", {69, 55, 38, 8}, S, 0, 0},
};

const ExpectedControl kBufferDialogControls[] = {
    {1, Kind::DefaultButton, "OK", "OK", {109, 7, 50, 14}, S, 0, 0},
    {2, Kind::PushButton, "Cancel", "Annuler", {109, 24, 50, 14}, S, 0, 0},
    {1043, Kind::Label, "Communication buffer size:", "Taille du buffer:", {12, 10, 89, 11}, {21, 10, 55, 10}, 0, 0},
    {1042, Kind::DropDownList, "", "", {12, 22, 81, 216}, S, 0, 0},
};

/* The two contact lines are the maker's own wording; nullptr: any text, the same in both languages. */
const ExpectedControl kAboutBoxControls[] = {
    {1, Kind::DefaultButton, "OK", "OK", {111, 9, 50, 14}, S, BS_NOTIFY, 0},
    {-1, Kind::Icon, "KESTROVA", "KESTROVA", {73, 7, 20, 20}, {73, 7, 21, 20}, 0, 0},
    {1038, Kind::CentredText, "version", "version", {2, 9, 67, 8}, S, 0, 0},
    {-1, Kind::Label, nullptr, nullptr, {34, 63, 105, 8}, S, 0, 0},
    {-1, Kind::Label, nullptr, nullptr, {17, 71, 144, 8}, {15, 70, 156, 8}, 0, 0},
    {-1, Kind::GroupBox, "", "", {3, 56, 173, 25}, S, 0, 0},
    {1040, Kind::CentredText, "size", "size", {0, 22, 71, 8}, S, 0, 0},
};

constexpr DWORD kBoxStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;

} // namespace

const ExpectedTemplate kMainFormTemplate = {
    "KESTROVA", true,
    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_3DLOOK | DS_SETFONT | DS_SETFOREGROUND, 0,
    {250, 100, 243, 178}, "#120", "Kestrova", "Kestrova", "Kestrova",
    kMainFormControls, std::size(kMainFormControls)};

const ExpectedTemplate kProgressBoxTemplate = {
    "PROCEEDBOX", true, kBoxStyle, WS_EX_TOOLWINDOW | WS_EX_CLIENTEDGE,
    {30, 30, 179, 84}, "", "", "Reading disk to file", "Lecture en cours",
    kProgressBoxControls, std::size(kProgressBoxControls)};

const ExpectedTemplate kBufferDialogTemplate = {
    "BUFFER", false, kBoxStyle, 0,
    {35, 40, 166, 47}, "", "", "Buffer settings", "Param\xE8trage du buffer",
    kBufferDialogControls, std::size(kBufferDialogControls)};

const ExpectedTemplate kAboutBoxTemplate = {
    "ABOUTBOX", true, kBoxStyle | DS_3DLOOK, WS_EX_TOOLWINDOW,
    {30, 10, 179, 84}, "", "", "About Kestrova", "A propos de Kestrova",
    kAboutBoxControls, std::size(kAboutBoxControls)};
