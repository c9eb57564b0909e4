/* A stand-in setup program for the end-to-end tests. It records what it was
 * started with into the file that LOADER_PROBE_OUT names, one key=value per
 * line, so the harness can see what the loader handed it:
 *   bits=32|64   the build that ran
 *   cmdline=     GetCommandLineA, as the process received it
 *   cwd=         the current directory
 *   self=        its own path, GetModuleFileNameA
 *   done=1       written last, so a reader knows the record is whole
 * LOADER_PROBE_SLEEP, when set, delays the record by that many milliseconds
 * (the loader must not wait for a detached setup program). The record is
 * written under a temporary name and renamed, so it appears whole. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show)
{
    char out[MAX_PATH + 8], partial[MAX_PATH + 16], buffer[32];
    char cwd[MAX_PATH + 1], self[MAX_PATH + 1];
    DWORD length;
    FILE *file;

    length = GetEnvironmentVariableA("LOADER_PROBE_SLEEP", buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer)
        Sleep((DWORD)strtoul(buffer, NULL, 10));

    length = GetEnvironmentVariableA("LOADER_PROBE_OUT", out, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 2;
    snprintf(partial, sizeof partial, "%s.part", out);

    cwd[0] = self[0] = 0;
    GetCurrentDirectoryA(sizeof cwd, cwd);
    GetModuleFileNameA(NULL, self, sizeof self);

    file = fopen(partial, "wb");
    if (!file)
        return 3;
    fprintf(file, "bits=%d\n", (int)(sizeof(void *) * 8));
    fprintf(file, "cmdline=%s\n", GetCommandLineA());
    fprintf(file, "cwd=%s\n", cwd);
    fprintf(file, "self=%s\n", self);
    fprintf(file, "done=1\n");
    fclose(file);
    DeleteFileA(out);
    return MoveFileA(partial, out) ? 0 : 4;
}
