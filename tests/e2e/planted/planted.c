/* A DLL planted beside the loader under the name of a system DLL (mpr.dll,
 * version.dll), as a malicious download folder would hold one. When any
 * process maps it, it creates "<its own path>.loaded", so a test sees that
 * it was picked up. It exports the function the loader looks up in mpr.dll,
 * answering "not connected". */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char path[MAX_PATH + 8];
    DWORD length;
    HANDLE marker;

    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    lstrcatA(path, ".loaded");
    marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    return TRUE;
}

__declspec(dllexport) DWORD WINAPI WNetGetUniversalNameA(LPCSTR path, DWORD level, LPVOID buffer, LPDWORD size)
{
    return ERROR_NOT_CONNECTED;
}
