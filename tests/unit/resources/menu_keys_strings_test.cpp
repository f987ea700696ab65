/*
 * Menu 120, accelerator table 123, the string table, the icon and the version block as compiled
 * into the program, read back in English and in French and compared with the expected tables.
 */
#include <gtest/gtest.h>

#include <iterator>

#include "resource_reader.h"
#include "ui_language.h"

namespace {

struct ExpectedEntry { WORD id; const char *english; const char *french; };
struct ExpectedPopup { const char *english; const char *french; std::vector<ExpectedEntry> entries; };

const ExpectedPopup kMenu[] = {
    {"File", "Fichier", {
        {40007, "File Name\tCTRL+F", "Nom de Fichier\tCTRL+F"},
        {40005, "Quit\tCTRL+Q", "Quitter\tCTRL+Q"}}},
    {"Options", "Options", {
        {40006, "Proceed\tCTRL+P", "Executer\tCTRL+E"},
        {40003, "Set Buffer Size\tCTRL+B", "Taille du buffer\tCTRL+B"},
        {40008, "Scan SCSI bus\tCTRL+S", "Relire le bus SCSI\tCTRL+S"},
        {40009, "Archiving options...", "Options d'archivage..."},
        {40030, "Disk contents...", "Contenu des disques..."}}},
    {"?", "?", {
        {40001, "Help\tF1", "Aide\tF1"},
        {40002, "About\tCTRL+A", "A propos\tCTRL+A"}}},
};

struct ExpectedKey { WORD key; bool control; WORD command; };

const ExpectedKey kEnglishKeys[] = {
    {'A', true, 40002}, {'B', true, 40003}, {'F', true, 40007}, {'P', true, 40006},
    {'Q', true, 40005}, {'S', true, 40008}, {VK_F1, false, 40001}, {'X', true, 40005},
};
const ExpectedKey kFrenchKeys[] = {
    {'A', true, 40002}, {'B', true, 40003}, {'E', true, 40006}, {'F', true, 40007},
    {'Q', true, 40005}, {'S', true, 40008}, {VK_F1, false, 40001}, {'X', true, 40005},
};

struct ExpectedString { UINT id; const char *english; const char *french; };

const ExpectedString kStrings[] = {
    {1, "Kestrova V1.31", "Kestrova V1.31"},
    {4, "SOFTWARE\\Talvenor\\Kestrova", "SOFTWARE\\Talvenor\\Kestrova"},
    {5, "IO buffer size", "Buffer d'entr\xE9" "es sortie"},
    {7, "Failed to open app key in registry", "Impossible d'ouvrit une clef de la registery"},
    {8, "Can't save registry value", "Impossible de sauver dans la registery"},
    {9, "Capacity: %5.1f MBytes\n%d sect. (%d B/sect.)\n", "Capacit\xE9: %5.1f MBytes\n%d sect. (%d B/sect.)\n"},
    {10, "(Removable) ", "(Amovible) "},
    {11, "Hard Disk\n", "Disque dur\n"},
    {12, "Tape\n", "Lecteur de bande\n"},
    {14, "Printer\n", "Imprimante\n"},
    {15, "Processor\n", "Processeur\n"},
    {16, "Worm\n", "Worm\n"},
    {17, "CDRom\n", "CDRom\n"},
    {18, "Scanner\n", "Scanner\n"},
    {19, "Optical\n", "Disque Optique\n"},
    {20, "Media Changer\n", "Changeur\n"},
    {21, "Comm device\n", "Communication\n"},
    {22, "Rsvd Low\n", "Rsvd Low\n"},
    {23, "Rsvd Hi\n", "Rsvd Hi\n"},
    {24, "Unknown\n", "Inconnu\n"},
};

const LANGID kLanguages[] = {kLanguageEnglish, kLanguageFrench};

const char *languageName(LANGID language)
{
    return language == kLanguageFrench ? "French" : "English";
}

} // namespace

TEST(MenuResource, ThreeMenusWithTheirCommandsInOrder)
{
    for (LANGID language : kLanguages) {
        SCOPED_TRACE(languageName(language));
        const bool french = language == kLanguageFrench;
        auto bytes = findResourceBytes(RT_MENU, MAKEINTRESOURCEA(120), language);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(resourceLanguages(RT_MENU, MAKEINTRESOURCEA(120)),
                  (std::vector<LANGID>{kLanguageEnglish, kLanguageFrench}));
        std::vector<MenuNode> menu;
        ASSERT_TRUE(parseMenu(*bytes, menu));
        ASSERT_EQ(menu.size(), std::size(kMenu));
        for (size_t i = 0; i < menu.size(); ++i) {
            const ExpectedPopup &want = kMenu[i];
            EXPECT_EQ(menu[i].text, french ? want.french : want.english);
            EXPECT_EQ(menu[i].flags & ~MF_END, MF_POPUP) << "no popup, or greyed, disabled, checked";
            ASSERT_EQ(menu[i].children.size(), want.entries.size());
            for (size_t j = 0; j < want.entries.size(); ++j) {
                const MenuNode &entry = menu[i].children[j];
                SCOPED_TRACE(want.entries[j].english);
                EXPECT_EQ(entry.id, want.entries[j].id);
                EXPECT_EQ(entry.text, french ? want.entries[j].french : want.entries[j].english);
                /* no separator, and never greyed, disabled or checked */
                EXPECT_EQ(entry.flags & ~MF_END, 0);
                EXPECT_EQ(entry.text.find('&'), std::string::npos) << "no mnemonic markers";
            }
        }
    }
}

TEST(AcceleratorResource, EightVirtualKeysPerLanguage)
{
    for (LANGID language : kLanguages) {
        SCOPED_TRACE(languageName(language));
        const ExpectedKey *keys = language == kLanguageFrench ? kFrenchKeys : kEnglishKeys;
        auto bytes = findResourceBytes(RT_ACCELERATOR, MAKEINTRESOURCEA(123), language);
        ASSERT_TRUE(bytes);
        std::vector<AcceleratorEntry> table;
        ASSERT_TRUE(parseAccelerators(*bytes, table));
        ASSERT_EQ(table.size(), 8u);
        for (size_t i = 0; i < table.size(); ++i) {
            SCOPED_TRACE("entry " + std::to_string(i));
            EXPECT_EQ(table[i].key, keys[i].key);
            EXPECT_EQ(table[i].command, keys[i].command);
            WORD flags = FVIRTKEY | FNOINVERT | (keys[i].control ? FCONTROL : 0);
            EXPECT_EQ(table[i].flags, flags) << std::hex << table[i].flags;
        }
    }
}

/* The table that the program loads answers the keys as the language wants: Ctrl+P proceeds in
 * English only, Ctrl+E in French only, and Ctrl+X quits in both. */
TEST(AcceleratorResource, ProceedKeyDependsOnTheLanguage)
{
    struct Case { LANGID language; WORD key; int command; };
    const Case cases[] = {
        {kLanguageEnglish, 'P', 40006}, {kLanguageEnglish, 'E', 0}, {kLanguageEnglish, 'X', 40005},
        {kLanguageFrench, 'E', 40006}, {kLanguageFrench, 'P', 0}, {kLanguageFrench, 'X', 40005},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(languageName(c.language)) + " Ctrl+" + static_cast<char>(c.key));
        auto bytes = findResourceBytes(RT_ACCELERATOR, MAKEINTRESOURCEA(123), c.language);
        ASSERT_TRUE(bytes);
        std::vector<AcceleratorEntry> table;
        ASSERT_TRUE(parseAccelerators(*bytes, table));
        int command = 0;
        for (const AcceleratorEntry &entry : table)
            if (entry.key == c.key && (entry.flags & FCONTROL))
                command = entry.command;
        EXPECT_EQ(command, c.command);
    }
}

TEST(StringResource, EveryTextInBothLanguages)
{
    for (LANGID language : kLanguages) {
        SCOPED_TRACE(languageName(language));
        for (const ExpectedString &want : kStrings) {
            SCOPED_TRACE("string " + std::to_string(want.id));
            auto text = findString(want.id, language);
            ASSERT_TRUE(text);
            std::string ansi = toCp1252(*text);
            EXPECT_EQ(ansi, language == kLanguageFrench ? want.french : want.english);
            EXPECT_LT(ansi.size(), 64u) << "must fit a 64-byte buffer with its terminating zero";
        }
    }
}

TEST(StringResource, NoOtherIdsInUse)
{
    for (LANGID language : kLanguages) {
        SCOPED_TRACE(languageName(language));
        for (UINT id = 0; id < 48; ++id) {
            bool listed = false;
            for (const ExpectedString &want : kStrings)
                listed = listed || want.id == id;
            if (listed)
                continue;
            auto text = findString(id, language);
            EXPECT_TRUE(!text || text->empty()) << "string " << id << " should not exist";
        }
    }
}

/* The archiving options' texts, and the question about a device larger than the count, are printf
   formats: a translation with other conversions would read the wrong arguments. Each exists in both
   languages, translated, with the same ones. */
TEST(StringResource, ArchivingTextsTakeTheSameArgumentsInBothLanguages)
{
    auto conversions = [](const std::string &format) {
        std::string found;
        for (size_t i = 0; i < format.size(); ++i) {
            if (format[i] != '%')
                continue;
            size_t end = format.find_first_of("dsuXxf%", i + 1);
            found += format.substr(i, end - i + 1) + " ";
            i = end;
        }
        return found;
    };
    struct Format { UINT id; const char *conversions; };
    const Format expected[] = {
        {100, "%d %s "}, {101, "%d "}, {102, "%d %d %s "}, {103, "%d %d %d %s "}, {104, "%5.1f %d %d "},
        {105, "%d "}, {106, "%d %d %d "}, {107, "%d "}, {108, "%d %d "}, {109, "%d %02X "}, {110, ""}, {111, ""},
        {112, "%d %s "}, {113, "%s "}, {114, ""},
        /* the rescue and going on from its map */
        {140, "%d %s "}, {141, "%d %d "}, {142, "%d %d "}, {143, "%02X %02X %d "}, {144, "%s "}, {145, "%s "},
        {146, ""}, {147, ""}, {148, ""}, {149, ""}, {150, ""}, {151, ""}, {152, ""},
    };
    for (const Format &f : expected) {
        const UINT id = f.id;
        SCOPED_TRACE("string " + std::to_string(id));
        auto english = findString(id, kLanguageEnglish);
        auto french = findString(id, kLanguageFrench);
        ASSERT_TRUE(english && french);
        EXPECT_NE(toCp1252(*english), toCp1252(*french));
        EXPECT_EQ(conversions(toCp1252(*english)), f.conversions);
        EXPECT_EQ(conversions(toCp1252(*french)), f.conversions);
        const bool path = id <= 114 || std::string(f.conversions).find("%s") != std::string::npos;
        EXPECT_LT(toCp1252(*french).size(), path ? 200u : 300u) << "leaves room for a path in a 512-byte text";
    }
    /* The question before copying all of a device larger than the count: sectors, MB. */
    auto english = findString(120, kLanguageEnglish);
    auto french = findString(120, kLanguageFrench);
    ASSERT_TRUE(english && french);
    EXPECT_NE(toCp1252(*english), toCp1252(*french));
    EXPECT_EQ(conversions(toCp1252(*english)), "%d %.1f ");
    EXPECT_EQ(conversions(toCp1252(*french)), "%d %.1f ");
}

/* The disk contents' texts are printf formats too, filled with the same arguments in both languages. */
TEST(StringResource, DiskContentsTextsTakeTheSameArgumentsInBothLanguages)
{
    auto conversions = [](const std::string &format) {
        std::string found;
        for (size_t i = format.find('%'); i != std::string::npos; i = format.find('%', i + 1)) {
            size_t end = format.find_first_of("dsuXxf%", i + 1);
            found += format.substr(i, end - i + 1) + " ";
            i = end;
        }
        return found;
    };
    for (UINT id = 170; id <= 196; ++id) {
        SCOPED_TRACE("string " + std::to_string(id));
        auto english = findString(id, kLanguageEnglish);
        auto french = findString(id, kLanguageFrench);
        ASSERT_TRUE(english && french && !english->empty() && !french->empty());
        EXPECT_EQ(conversions(toCp1252(*english)), conversions(toCp1252(*french)));
        EXPECT_LT(toCp1252(*french).size(), 200u) << "leaves room for names and a path in a 512-byte text";
    }
}

/* The program's own language reads the texts as single-byte code page 1252. */
TEST(StringResource, LoadedThroughTheAnsiCallInTheProgramsLanguage)
{
    char text[64] = "";
    int length = LoadStringA(GetModuleHandleA(nullptr), 9, text, sizeof text);
    ASSERT_GT(length, 0);
    if (GetThreadLocale() == MAKELCID(kLanguageFrench, SORT_DEFAULT))
        EXPECT_STREQ(text, "Capacit\xE9: %5.1f MBytes\n%d sect. (%d B/sect.)\n");
    else
        EXPECT_STREQ(text, "Capacity: %5.1f MBytes\n%d sect. (%d B/sect.)\n");
}

TEST(IconResource, OneImage32By32In16ColoursInEnglishOnly)
{
    auto group = findResourceBytes(RT_GROUP_ICON, "KESTROVA", kLanguageEnglish);
    ASSERT_TRUE(group);
    EXPECT_EQ(resourceLanguages(RT_GROUP_ICON, "KESTROVA"), std::vector<LANGID>{kLanguageEnglish});
    /* GRPICONDIR: reserved, type 1, count; then 14-byte entries */
    ASSERT_EQ(group->size(), 6u + 14u);
    const uint8_t *g = group->data();
    EXPECT_EQ(g[2] | g[3] << 8, 1);
    EXPECT_EQ(g[4] | g[5] << 8, 1);
    const uint8_t *entry = g + 6;
    EXPECT_EQ(entry[0], 32);                      /* width */
    EXPECT_EQ(entry[1], 32);                      /* height */
    EXPECT_EQ(entry[2], 16);                      /* colours */
    EXPECT_EQ(entry[6] | entry[7] << 8, 4);       /* bits per pixel */
    WORD imageId = static_cast<WORD>(entry[12] | entry[13] << 8);

    auto image = findResourceBytes(RT_ICON, MAKEINTRESOURCEA(imageId), kLanguageEnglish);
    ASSERT_TRUE(image);
    ASSERT_GE(image->size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    memcpy(&header, image->data(), sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64);               /* picture and mask */
    EXPECT_EQ(header.biBitCount, 4);
    /* 40-byte header, 16 palette entries, 4-bit picture, 1-bit mask */
    EXPECT_EQ(image->size(), 40u + 64u + 512u + 128u);

    /* The class and the About box load it by this name, in any case. */
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), "Kestrova"), nullptr);
}

TEST(VersionResource, SameBlockInBothLanguagesButTheComment)
{
    for (LANGID language : kLanguages) {
        SCOPED_TRACE(languageName(language));
        auto bytes = findResourceBytes(RT_VERSION, MAKEINTRESOURCEA(1), language);
        ASSERT_TRUE(bytes);
        VersionNode root;
        ASSERT_TRUE(parseVersionBlock(*bytes, root));
        EXPECT_EQ(root.key, L"VS_VERSION_INFO");
        ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
        VS_FIXEDFILEINFO fixed;
        memcpy(&fixed, root.value.data(), sizeof fixed);
        EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed.dwFileVersionMS, 0x00010003u);
        EXPECT_EQ(fixed.dwFileVersionLS, 0x00010000u);
        EXPECT_EQ(fixed.dwProductVersionMS, 0x00010003u);
        EXPECT_EQ(fixed.dwProductVersionLS, 0x00010000u);
        EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
        EXPECT_EQ(fixed.dwFileFlags, 0u);
        EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
        EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
        EXPECT_EQ(fixed.dwFileSubtype, 0u);
        EXPECT_EQ(fixed.dwFileDateMS, 0u);
        EXPECT_EQ(fixed.dwFileDateLS, 0u);

        const VersionNode *strings = root.child(L"StringFileInfo");
        ASSERT_TRUE(strings);
        ASSERT_EQ(strings->children.size(), 1u);
        const VersionNode &table = strings->children[0];
        EXPECT_EQ(table.key, L"040c04b0");
        struct Value { const wchar_t *key; std::wstring text; };
        const Value values[] = {
            {L"Comments", language == kLanguageFrench ? L"Outil de backup d'\u00E9chantillonneur"
                                                      : L"Sampler backup tool"},
            {L"FileVersion", L"1, 3, 1, 0"},
            {L"ProductVersion", L"1, 3, 1, 0"},
            {L"FileDescription", L"kestrova"},
            {L"InternalName", L"kestrova"},
            {L"ProductName", L"kestrova"},
            {L"OriginalFilename", L"kestrova.exe"},
            {L"LegalTrademarks", L""},
            {L"PrivateBuild", L""},
            {L"SpecialBuild", L""},
        };
        for (const Value &v : values) {
            const VersionNode *node = table.child(v.key);
            ASSERT_TRUE(node) << "missing " << toCp1252(v.key);
            EXPECT_EQ(node->text(), v.text) << toCp1252(v.key);
        }
        const VersionNode *company = table.child(L"CompanyName");
        const VersionNode *copyright = table.child(L"LegalCopyright");
        ASSERT_TRUE(company && copyright);
        EXPECT_FALSE(company->text().empty());
        EXPECT_FALSE(copyright->text().empty());
        EXPECT_EQ(table.children.size(), 12u);

        const VersionNode *variables = root.child(L"VarFileInfo");
        ASSERT_TRUE(variables);
        const VersionNode *translation = variables->child(L"Translation");
        ASSERT_TRUE(translation);
        ASSERT_EQ(translation->value.size(), 4u);
        EXPECT_EQ(translation->value[0] | translation->value[1] << 8, 0x040C);
        EXPECT_EQ(translation->value[2] | translation->value[3] << 8, 1200);
    }
}
