/* Message boxes and string-table texts. */
#include "messages.h"
#include "app_state.h"

int showMessage(HWND owner, const char *text, const char *caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}

const char *loadText(UINT id, char *text, int size)
{
    text[0] = '\0';
    LoadStringA(appState.instance, id, text, size);
    return text;
}

const char *loadResourceText(UINT id)
{
    return loadText(id, appState.resourceText, kResourceTextSize);
}
