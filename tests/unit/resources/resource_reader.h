/*
 * Reads the compiled resources of the running program back out of its own image, in one chosen
 * language, and decodes the binary formats: dialog templates (plain and extended), menus,
 * accelerator tables, string tables, icon groups and the version block. Texts come back
 * converted to code page 1252, as the program's ANSI calls see them.
 */
#ifndef KESTROVA_TESTS_RESOURCE_READER_H
#define KESTROVA_TESTS_RESOURCE_READER_H

#include <windows.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/* The bytes of one resource in exactly that language (no fallback), or nothing. */
std::optional<std::vector<uint8_t>> findResourceBytes(LPCSTR type, LPCSTR name, LANGID language);

/* The languages in which the program holds this resource, in the order stored. */
std::vector<LANGID> resourceLanguages(LPCSTR type, LPCSTR name);

/* A UTF-16 text as code page 1252; a character that 1252 cannot hold becomes '?'. */
std::string toCp1252(const std::wstring &text);

struct TemplateItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;              /* sign-extended: -1 for controls without an id */
    std::string className;   /* predefined classes by name ("Button", "Edit", "Static", "ComboBox") */
    std::string text;
    int extraBytes = 0;
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;        /* "#120" for an ordinal, the name otherwise, empty for none */
    std::string className;   /* same convention */
    std::string caption;
    int pointSize = 0;
    int weight = -1;         /* extended templates only */
    int italic = -1;
    int charset = -1;
    std::string face;
    std::vector<TemplateItem> items;
};

/* Decodes a DLGTEMPLATE or DLGTEMPLATEEX; false when the bytes are not a well-formed template. */
bool parseDialogTemplate(const std::vector<uint8_t> &bytes, DialogTemplate &out);

struct MenuNode {
    WORD flags = 0;          /* MF_POPUP, MF_END, ... as stored */
    WORD id = 0;             /* commands only */
    std::string text;
    std::vector<MenuNode> children;
};

/* Decodes a plain menu template into its top-level entries. */
bool parseMenu(const std::vector<uint8_t> &bytes, std::vector<MenuNode> &out);

struct AcceleratorEntry {
    WORD flags = 0;          /* FVIRTKEY, FCONTROL, FNOINVERT, ... without the end mark 0x80 */
    WORD key = 0;
    WORD command = 0;
    bool last = false;
};

bool parseAccelerators(const std::vector<uint8_t> &bytes, std::vector<AcceleratorEntry> &out);

/* The sixteen strings of one string table block (block n holds ids 16(n-1) to 16n-1). */
bool parseStringBlock(const std::vector<uint8_t> &bytes, std::vector<std::wstring> &out);

/* The string with this id in this language, read from its block; nothing when the block is
 * missing, an empty text when the id is unused. */
std::optional<std::wstring> findString(UINT id, LANGID language);

struct VersionNode {
    std::wstring key;
    WORD type = 0;                 /* 1 text, 0 binary */
    std::vector<uint8_t> value;    /* raw value bytes */
    std::vector<VersionNode> children;

    const VersionNode *child(const std::wstring &name) const;
    std::wstring text() const;     /* a text value without its terminating zero */
};

bool parseVersionBlock(const std::vector<uint8_t> &bytes, VersionNode &out);

#endif
