/* Decoders of the binary resource formats, for the resource conformance tests. */
#include "resource_reader.h"

#include <cstring>

namespace {

/* A bounds-checked cursor over the bytes of one resource. */
class Cursor {
public:
    Cursor(const std::vector<uint8_t> &bytes, size_t start = 0, size_t end = SIZE_MAX)
        : bytes_(&bytes), pos_(start), end_(end < bytes.size() ? end : bytes.size()) {}

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t end() const { return end_; }
    bool atEnd() const { return pos_ >= end_; }

    template <typename T> T read()
    {
        T value{};
        if (pos_ + sizeof(T) > end_) {
            ok_ = false;
            pos_ = end_;
            return value;
        }
        std::memcpy(&value, bytes_->data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return value;
    }

    std::wstring readText()
    {
        std::wstring text;
        for (;;) {
            WCHAR c = read<WCHAR>();
            if (!ok_ || c == 0)
                return text;
            text.push_back(c);
        }
    }

    /* A name or ordinal field: 0 (none), 0xFFFF then an ordinal, or a text. */
    std::wstring readNameOrOrdinal(int *ordinal)
    {
        *ordinal = -1;
        if (pos_ + 2 > end_) {
            ok_ = false;
            return L"";
        }
        WORD first;
        std::memcpy(&first, bytes_->data() + pos_, 2);
        if (first == 0) {
            pos_ += 2;
            return L"";
        }
        if (first == 0xFFFF) {
            pos_ += 2;
            *ordinal = read<WORD>();
            return L"";
        }
        return readText();
    }

    void alignTo(size_t boundary, size_t base = 0)
    {
        size_t rel = pos_ - base;
        pos_ = base + (rel + boundary - 1) / boundary * boundary;
        if (pos_ > end_)
            pos_ = end_;
    }

    void skip(size_t n)
    {
        if (pos_ + n > end_) {
            ok_ = false;
            pos_ = end_;
            return;
        }
        pos_ += n;
    }

    void fail() { ok_ = false; }

private:
    const std::vector<uint8_t> *bytes_;
    size_t pos_;
    size_t end_;
    bool ok_ = true;
};

std::string nameOrOrdinal(const std::wstring &name, int ordinal)
{
    if (ordinal >= 0)
        return "#" + std::to_string(ordinal);
    return toCp1252(name);
}

std::string controlClassName(const std::wstring &name, int ordinal)
{
    switch (ordinal) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    default: return nameOrOrdinal(name, ordinal);
    }
}

std::string textOrOrdinal(const std::wstring &text, int ordinal)
{
    return ordinal >= 0 ? "#" + std::to_string(ordinal) : toCp1252(text);
}

} // namespace

std::optional<std::vector<uint8_t>> findResourceBytes(LPCSTR type, LPCSTR name, LANGID language)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, type, name, language);
    if (!found)
        return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = SizeofResource(module, found);
    if (!data)
        return std::nullopt;
    const uint8_t *first = static_cast<const uint8_t *>(data);
    return std::vector<uint8_t>(first, first + size);
}

namespace {

BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    reinterpret_cast<std::vector<LANGID> *>(param)->push_back(language);
    return TRUE;
}

} // namespace

std::vector<LANGID> resourceLanguages(LPCSTR type, LPCSTR name)
{
    std::vector<LANGID> languages;
    EnumResourceLanguagesA(GetModuleHandleA(nullptr), type, name, collectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::string toCp1252(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(1252, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

bool parseDialogTemplate(const std::vector<uint8_t> &bytes, DialogTemplate &out)
{
    Cursor in(bytes);
    out = DialogTemplate();
    WORD version = in.read<WORD>();
    WORD signature = in.read<WORD>();
    out.extended = version == 1 && signature == 0xFFFF;
    int count;
    if (out.extended) {
        in.read<DWORD>(); /* help id */
        out.exStyle = in.read<DWORD>();
        out.style = in.read<DWORD>();
        count = in.read<WORD>();
    } else {
        in = Cursor(bytes);
        out.style = in.read<DWORD>();
        out.exStyle = in.read<DWORD>();
        count = in.read<WORD>();
    }
    out.x = in.read<short>();
    out.y = in.read<short>();
    out.cx = in.read<short>();
    out.cy = in.read<short>();
    int ordinal;
    std::wstring name = in.readNameOrOrdinal(&ordinal);
    out.menu = nameOrOrdinal(name, ordinal);
    name = in.readNameOrOrdinal(&ordinal);
    out.className = nameOrOrdinal(name, ordinal);
    out.caption = toCp1252(in.readText());
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = in.read<WORD>();
        if (out.extended) {
            out.weight = in.read<WORD>();
            out.italic = in.read<BYTE>();
            out.charset = in.read<BYTE>();
        }
        out.face = toCp1252(in.readText());
    }
    for (int i = 0; i < count && in.ok(); ++i) {
        in.alignTo(4);
        TemplateItem item;
        if (out.extended) {
            in.read<DWORD>(); /* help id */
            item.exStyle = in.read<DWORD>();
            item.style = in.read<DWORD>();
        } else {
            item.style = in.read<DWORD>();
            item.exStyle = in.read<DWORD>();
        }
        item.x = in.read<short>();
        item.y = in.read<short>();
        item.cx = in.read<short>();
        item.cy = in.read<short>();
        item.id = out.extended ? static_cast<int>(in.read<DWORD>()) : in.read<short>();
        name = in.readNameOrOrdinal(&ordinal);
        item.className = controlClassName(name, ordinal);
        name = in.readNameOrOrdinal(&ordinal);
        item.text = textOrOrdinal(name, ordinal);
        item.extraBytes = in.read<WORD>();
        in.skip(static_cast<size_t>(item.extraBytes));
        out.items.push_back(item);
    }
    return in.ok() && static_cast<int>(out.items.size()) == count;
}

namespace {

bool parseMenuLevel(Cursor &in, std::vector<MenuNode> &out)
{
    for (;;) {
        MenuNode node;
        node.flags = in.read<WORD>();
        if (!(node.flags & MF_POPUP))
            node.id = in.read<WORD>();
        node.text = toCp1252(in.readText());
        if (!in.ok())
            return false;
        if ((node.flags & MF_POPUP) && !parseMenuLevel(in, node.children))
            return false;
        bool last = (node.flags & MF_END) != 0;
        out.push_back(node);
        if (last)
            return true;
    }
}

} // namespace

bool parseMenu(const std::vector<uint8_t> &bytes, std::vector<MenuNode> &out)
{
    Cursor in(bytes);
    out.clear();
    WORD version = in.read<WORD>();
    WORD headerSize = in.read<WORD>();
    if (!in.ok() || version != 0)
        return false;
    in.skip(headerSize);
    return parseMenuLevel(in, out) && in.ok();
}

bool parseAccelerators(const std::vector<uint8_t> &bytes, std::vector<AcceleratorEntry> &out)
{
    Cursor in(bytes);
    out.clear();
    while (!in.atEnd()) {
        AcceleratorEntry entry;
        WORD flags = in.read<WORD>();
        entry.key = in.read<WORD>();
        entry.command = in.read<WORD>();
        in.read<WORD>(); /* padding */
        if (!in.ok())
            return false;
        entry.last = (flags & 0x80) != 0;
        entry.flags = static_cast<WORD>(flags & ~0x80);
        out.push_back(entry);
        if (entry.last)
            return true;
    }
    return false; /* no entry carried the end mark */
}

bool parseStringBlock(const std::vector<uint8_t> &bytes, std::vector<std::wstring> &out)
{
    Cursor in(bytes);
    out.clear();
    for (int i = 0; i < 16; ++i) {
        WORD length = in.read<WORD>();
        std::wstring text;
        for (WORD j = 0; j < length; ++j)
            text.push_back(in.read<WCHAR>());
        out.push_back(text);
    }
    return in.ok();
}

std::optional<std::wstring> findString(UINT id, LANGID language)
{
    auto bytes = findResourceBytes(RT_STRING, MAKEINTRESOURCEA(id / 16 + 1),
                                   language);
    std::vector<std::wstring> block;
    if (!bytes || !parseStringBlock(*bytes, block))
        return std::nullopt;
    return block[id % 16];
}

namespace {

bool parseVersionNode(Cursor &in, const std::vector<uint8_t> &bytes, VersionNode &out)
{
    in.alignTo(4);
    size_t start = in.pos();
    WORD length = in.read<WORD>();
    WORD valueLength = in.read<WORD>();
    out.type = in.read<WORD>();
    out.key = in.readText();
    if (!in.ok() || length < 6 || start + length > in.end())
        return false;
    in.alignTo(4);
    size_t valueBytes = out.type == 1 ? valueLength * 2u : valueLength;
    if (in.pos() + valueBytes > start + length)
        return false;
    out.value.assign(bytes.begin() + static_cast<long>(in.pos()),
                     bytes.begin() + static_cast<long>(in.pos() + valueBytes));
    in.skip(valueBytes);
    Cursor children(bytes, in.pos(), start + length);
    for (;;) {
        children.alignTo(4);
        if (children.atEnd())
            break;
        VersionNode child;
        if (!parseVersionNode(children, bytes, child))
            return false;
        out.children.push_back(child);
    }
    in = Cursor(bytes, start + length, in.end());
    return true;
}

} // namespace

bool parseVersionBlock(const std::vector<uint8_t> &bytes, VersionNode &out)
{
    Cursor in(bytes);
    out = VersionNode();
    return parseVersionNode(in, bytes, out);
}

const VersionNode *VersionNode::child(const std::wstring &name) const
{
    for (const VersionNode &c : children)
        if (c.key == name)
            return &c;
    return nullptr;
}

std::wstring VersionNode::text() const
{
    std::wstring out;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        WCHAR c = static_cast<WCHAR>(value[i] | (value[i + 1] << 8));
        if (c == 0)
            break;
        out.push_back(c);
    }
    return out;
}
