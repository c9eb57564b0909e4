/* A setup program that ends at once with exit code 0: what remains of a
 * start under Wine is the cost of starting a process from a file of a given
 * size (the bench pads it with data). When BENCH_QUIT_MARK names a file, it
 * creates that file first, so the bench can see that it ran. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show)
{
    char mark[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("BENCH_QUIT_MARK", mark, sizeof mark);
    if (length > 0 && length < sizeof mark) {
        HANDLE file = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return 0;
}
