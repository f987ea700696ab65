/*
 * The image file chooser. One open-file dialog serves both directions: it accepts existing files
 * and names of files that do not exist yet, and it remembers the filter pair chosen last.
 */
#include "file_chooser.h"

#include <cstddef>
#include <cstring>

#include "app_state.h"

OPENFILENAMEA chooserRequest;

namespace {

/* Two pairs of description and pattern, then the empty text that ends the list. */
constexpr char kImageFilters[] = "ISO Files (*.ISO)\0*.iso\0Other files (*.*)\0*.*\0";

/*
 * The record without the later extension fields: 76 bytes in the 32-bit program, the same
 * fields with 8-byte pointers in the 64-bit one.
 */
constexpr DWORD kChooserRequestSize =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
#ifndef _WIN64
static_assert(kChooserRequestSize == 76, "the record without extension fields");
#endif

}  // namespace

void initFileChooser(HWND owner)
{
    chooserRequest = OPENFILENAMEA{};
    chooserRequest.lStructSize = kChooserRequestSize;
    chooserRequest.hwndOwner = owner;
    chooserRequest.hInstance = nullptr;
    chooserRequest.lpstrFilter = kImageFilters;
    chooserRequest.lpstrCustomFilter = nullptr;
    chooserRequest.nMaxCustFilter = 0;
    chooserRequest.nFilterIndex = 0;
    chooserRequest.lpstrFile = nullptr;
    chooserRequest.nMaxFile = kPathBufferSize;
    chooserRequest.lpstrFileTitle = nullptr;
    chooserRequest.nMaxFileTitle = 512;
    chooserRequest.lpstrInitialDir = nullptr;
    chooserRequest.lpstrTitle = nullptr;
    chooserRequest.Flags = 0;
    chooserRequest.nFileOffset = 0;
    chooserRequest.nFileExtension = 0;
    chooserRequest.lpstrDefExt = "iso";
    chooserRequest.lCustData = 0;
    chooserRequest.lpfnHook = nullptr;
    chooserRequest.lpTemplateName = nullptr;
}

BOOL chooseImageFile(HWND owner, char *path, const char *title)
{
    /*
     * When the chosen path does not fit, the dialog fails and writes the size it needed into the
     * first bytes of the buffer: the previous path is put back then.
     */
    char previous[kPathBufferSize];
    std::memcpy(previous, path, sizeof previous);

    chooserRequest.hwndOwner = owner;
    chooserRequest.lpstrFile = path;
    chooserRequest.lpstrTitle = title;
    chooserRequest.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    BOOL chosen = GetOpenFileNameA(&chooserRequest);
    if (!chosen)
        std::memcpy(path, previous, sizeof previous);
    return chosen;
}
