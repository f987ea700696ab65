/*
 * empty_peek N: opens a window, lets its first messages pass, then asks the empty queue N times
 * with PeekMessageA(PM_REMOVE), as the transfer loop does before every chunk. Run under strace
 * with N = 0 and with a large N, the difference is the system calls of N empty passes.
 */
#include <windows.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    int passes = argc > 1 ? atoi(argv[1]) : 0;
    HWND window = CreateWindowA("STATIC", "empty queue", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                NULL, NULL, NULL, NULL);
    MSG message;
    for (int settle = 0; settle < 50; ++settle) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    int arrived = 0;
    for (int i = 0; i < passes; ++i)
        arrived += PeekMessageA(&message, NULL, 0, 0, PM_REMOVE);
    DestroyWindow(window);
    return arrived;   /* messages that arrived while counting: the count is then less exact */
}
