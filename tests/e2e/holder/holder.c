/* Starts a program while another program holds its file, as a virus scanner
 * or a backup tool might hold the loader's file just as it starts:
 *   holder PATH
 * starts PATH (the command line is PATH in double quotes) suspended, so its
 * image is mapped but none of its code has run; tries to open the file for
 * writing; opens it for reading with no sharing at all and keeps it open;
 * lets the program run and waits for it. Prints, one per line:
 *   write-open=refused|held       Windows refuses to write a running image
 *   exclusive-open=held|refused
 *   exit=N                        the program's exit code
 * Exit code 0 when the program ran, 3 when it could not be started. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    char commandLine[MAX_PATH + 3];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    HANDLE file;
    DWORD exitCode = 0;

    if (argc != 2 || lstrlenA(argv[1]) >= MAX_PATH)
        return 2;
    snprintf(commandLine, sizeof commandLine, "\"%s\"", argv[1]);
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, &process))
        return 3;

    file = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    printf("write-open=%s\n", file == INVALID_HANDLE_VALUE ? "refused" : "held");
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    printf("exclusive-open=%s\n", file == INVALID_HANDLE_VALUE ? "refused" : "held");
    fflush(stdout);

    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("exit=%lu\n", (unsigned long)exitCode);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return 0;
}
