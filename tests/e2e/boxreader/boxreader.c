/* boxreader: a tiny debugger for the end-to-end tests.
 *
 *   boxreader.exe [-deny-admins] COMMAND-LINE-FILE
 *
 * Starts the program named by the command line held in COMMAND-LINE-FILE (its
 * bytes taken exactly as they stand, so the test decides every space and
 * quote) as a debuggee, and puts breakpoints on the entries of
 * user32!MessageBoxA, kernel32!CreateProcessA and shell32!ShellExecuteExA.
 *
 * - MessageBoxA: its owner, text, caption and style are read whole from the
 *   debuggee's memory, and the call is answered without running it: EAX = IDOK
 *   and the return address and the four stdcall arguments are popped. So no
 *   display is needed, and texts of any length are read.
 * - CreateProcessA, ShellExecuteExA: their arguments are read, then the
 *   original byte goes back and the call runs as usual (once each; the loader
 *   makes at most one start).
 *
 * With -deny-admins the debuggee runs with a restricted token in which the
 * built-in Administrators group is for deny only: CheckTokenMembership then
 * answers that it is no member, as for a user without administrator rights.
 *
 * Output, on standard output, one line per item, "Function.field=value" and
 * last "exit=N", the debuggee's exit code. Strings are escaped so that each
 * stays on one line and printf %b gives back the exact bytes: a backslash is
 * written as \\, bytes below 0x20 or above 0x7E as \xHH. A null pointer is
 * written as the text <null>.
 *
 * Exit code: 0 after the debuggee ended, 2 for a usage error, 3 when the
 * debuggee could not be started. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_MODULES 256
#define MAX_THREADS 64
#define MAX_STRING 65536

struct Module {
    DWORD base;
    char name[64]; /* the export directory's name, lower case, e.g. "user32.dll" */
};

struct Breakpoint {
    const char *module;   /* lower case */
    const char *function;
    DWORD address;        /* 0 until found */
    BYTE original;
    BOOL armed;
    BOOL done;            /* CreateProcessA and ShellExecuteExA are one-shot */
};

static HANDLE process;
static struct Module modules[MAX_MODULES];
static int moduleCount;
static struct { DWORD id; HANDLE handle; } threads[MAX_THREADS];
static int threadCount;

static struct Breakpoint breakpoints[] = {
    {"user32.dll", "MessageBoxA", 0, 0, FALSE, FALSE},
    {"kernel32.dll", "CreateProcessA", 0, 0, FALSE, FALSE},
    {"shell32.dll", "ShellExecuteExA", 0, 0, FALSE, FALSE},
};
#define BREAKPOINT_COUNT (sizeof breakpoints / sizeof breakpoints[0])

static BOOL ReadMemory(DWORD address, void *buffer, DWORD size)
{
    SIZE_T got = 0;
    return ReadProcessMemory(process, (LPCVOID)(ULONG_PTR)address, buffer, size, &got) && got == size;
}

static BOOL ReadDword(DWORD address, DWORD *value)
{
    return ReadMemory(address, value, sizeof *value);
}

/* Reads a NUL-terminated string from the debuggee, up to `limit` bytes, in
 * pieces that never cross a page boundary (a string may end just before an
 * unmapped page). Returns the length, or -1 when nothing could be read. */
static int ReadString(DWORD address, char *buffer, int limit)
{
    int length = 0;
    while (length < limit - 1) {
        DWORD here = address + (DWORD)length;
        DWORD piece = 0x1000 - (here & 0xFFF);
        int i;
        if (piece > (DWORD)(limit - 1 - length))
            piece = (DWORD)(limit - 1 - length);
        if (!ReadMemory(here, buffer + length, piece)) {
            if (length == 0)
                return -1;
            break;
        }
        for (i = 0; i < (int)piece; i++) {
            if (buffer[length + i] == 0) {
                length += i;
                buffer[length] = 0;
                return length;
            }
        }
        length += (int)piece;
    }
    buffer[length] = 0;
    return length;
}

static void PrintEscaped(const char *key, const char *bytes, int length)
{
    int i;
    printf("%s=", key);
    for (i = 0; i < length; i++) {
        unsigned char c = (unsigned char)bytes[i];
        if (c == '\\')
            fputs("\\\\", stdout);
        else if (c < 0x20 || c > 0x7E)
            printf("\\x%02X", c);
        else
            putchar(c);
    }
    putchar('\n');
}

static void PrintString(const char *key, DWORD address)
{
    static char buffer[MAX_STRING];
    int length;
    if (address == 0) {
        printf("%s=<null>\n", key);
        return;
    }
    length = ReadString(address, buffer, sizeof buffer);
    if (length < 0)
        printf("%s=<unreadable 0x%08lX>\n", key, (unsigned long)address);
    else
        PrintEscaped(key, buffer, length);
}

static void Lower(char *text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

/* Finds `function` among the exports of the module at `base`. Returns its
 * address, 0 when absent; a forwarder ("dll.function") is followed when the
 * target module is known already, else gives 0 and is tried again later. */
static DWORD FindExport(DWORD base, const char *function, int depth)
{
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    IMAGE_EXPORT_DIRECTORY exports;
    DWORD directory, directorySize, i;
    char name[128];

    if (depth > 4 || !ReadMemory(base, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return 0;
    if (!ReadMemory(base + (DWORD)dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return 0;
    directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    directorySize = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].Size;
    if (directory == 0 || !ReadMemory(base + directory, &exports, sizeof exports))
        return 0;
    for (i = 0; i < exports.NumberOfNames; i++) {
        DWORD nameRva, functionRva;
        WORD ordinal;
        if (!ReadDword(base + exports.AddressOfNames + 4 * i, &nameRva))
            return 0;
        if (ReadString(base + nameRva, name, sizeof name) < 0 || strcmp(name, function) != 0)
            continue;
        if (!ReadMemory(base + exports.AddressOfNameOrdinals + 2 * i, &ordinal, sizeof ordinal) ||
            !ReadDword(base + exports.AddressOfFunctions + 4 * ordinal, &functionRva))
            return 0;
        if (functionRva >= directory && functionRva < directory + directorySize) {
            char forward[160], target[96];
            char *dot;
            int m;
            if (ReadString(base + functionRva, forward, sizeof forward) < 0 || !(dot = strrchr(forward, '.')))
                return 0;
            *dot = 0;
            snprintf(target, sizeof target, "%s.dll", forward);
            Lower(target);
            for (m = 0; m < moduleCount; m++)
                if (strcmp(modules[m].name, target) == 0)
                    return FindExport(modules[m].base, dot + 1, depth + 1);
            return 0;
        }
        return base + functionRva;
    }
    return 0;
}

static BOOL WriteByte(DWORD address, BYTE value)
{
    DWORD oldProtect;
    SIZE_T written = 0;
    BOOL ok;
    VirtualProtectEx(process, (LPVOID)(ULONG_PTR)address, 1, PAGE_EXECUTE_READWRITE, &oldProtect);
    ok = WriteProcessMemory(process, (LPVOID)(ULONG_PTR)address, &value, 1, &written) && written == 1;
    VirtualProtectEx(process, (LPVOID)(ULONG_PTR)address, 1, oldProtect, &oldProtect);
    FlushInstructionCache(process, (LPCVOID)(ULONG_PTR)address, 1);
    return ok;
}

/* Arms every breakpoint whose module is loaded and whose function is found. */
static void ArmBreakpoints(void)
{
    size_t b;
    int m;
    for (b = 0; b < BREAKPOINT_COUNT; b++) {
        struct Breakpoint *bp = &breakpoints[b];
        if (bp->armed || bp->done)
            continue;
        for (m = 0; m < moduleCount; m++) {
            DWORD address;
            if (strcmp(modules[m].name, bp->module) != 0)
                continue;
            address = FindExport(modules[m].base, bp->function, 0);
            if (address == 0 || !ReadMemory(address, &bp->original, 1))
                continue;
            if (WriteByte(address, 0xCC)) {
                bp->address = address;
                bp->armed = TRUE;
            }
        }
    }
}

static void AddModule(DWORD base)
{
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    IMAGE_EXPORT_DIRECTORY exports;
    DWORD directory;
    if (moduleCount >= MAX_MODULES || !ReadMemory(base, &dos, sizeof dos) ||
        !ReadMemory(base + (DWORD)dos.e_lfanew, &nt, sizeof nt))
        return;
    directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    if (directory == 0 || !ReadMemory(base + directory, &exports, sizeof exports))
        return;
    if (ReadString(base + exports.Name, modules[moduleCount].name, sizeof modules[0].name) <= 0)
        return;
    Lower(modules[moduleCount].name);
    modules[moduleCount].base = base;
    moduleCount++;
}

static HANDLE ThreadHandle(DWORD id)
{
    int t;
    for (t = 0; t < threadCount; t++)
        if (threads[t].id == id)
            return threads[t].handle;
    return NULL;
}

static void AddThread(DWORD id, HANDLE handle)
{
    if (threadCount < MAX_THREADS) {
        threads[threadCount].id = id;
        threads[threadCount].handle = handle;
        threadCount++;
    }
}

static void Argument(DWORD esp, int index, DWORD *value)
{
    *value = 0;
    ReadDword(esp + 4 * (DWORD)index, value);
}

static void ReportMessageBox(DWORD esp)
{
    DWORD owner, text, caption, style;
    Argument(esp, 1, &owner);
    Argument(esp, 2, &text);
    Argument(esp, 3, &caption);
    Argument(esp, 4, &style);
    printf("MessageBoxA.owner=0x%08lX\n", (unsigned long)owner);
    PrintString("MessageBoxA.text", text);
    PrintString("MessageBoxA.caption", caption);
    printf("MessageBoxA.style=0x%08lX\n", (unsigned long)style);
}

static void ReportCreateProcess(DWORD esp)
{
    DWORD application, commandLine, inherit, flags, environment, directory, startup, startupSize = 0;
    Argument(esp, 1, &application);
    Argument(esp, 2, &commandLine);
    Argument(esp, 5, &inherit);
    Argument(esp, 6, &flags);
    Argument(esp, 7, &environment);
    Argument(esp, 8, &directory);
    Argument(esp, 9, &startup);
    if (startup)
        ReadDword(startup, &startupSize);
    PrintString("CreateProcessA.application", application);
    PrintString("CreateProcessA.cmdline", commandLine);
    printf("CreateProcessA.inherit=%lu\n", (unsigned long)inherit);
    printf("CreateProcessA.flags=0x%08lX\n", (unsigned long)flags);
    printf("CreateProcessA.environment=0x%08lX\n", (unsigned long)environment);
    PrintString("CreateProcessA.directory", directory);
    printf("CreateProcessA.startupinfo.cb=%lu\n", (unsigned long)startupSize);
}

static void ReportShellExecute(DWORD esp)
{
    DWORD info;
    SHELLEXECUTEINFOA record;
    Argument(esp, 1, &info);
    memset(&record, 0, sizeof record);
    if (!info || !ReadMemory(info, &record, sizeof record)) {
        printf("ShellExecuteExA.record=<unreadable>\n");
        return;
    }
    printf("ShellExecuteExA.size=%lu\n", (unsigned long)record.cbSize);
    printf("ShellExecuteExA.mask=0x%08lX\n", (unsigned long)record.fMask);
    printf("ShellExecuteExA.owner=0x%08lX\n", (unsigned long)(ULONG_PTR)record.hwnd);
    PrintString("ShellExecuteExA.verb", (DWORD)(ULONG_PTR)record.lpVerb);
    PrintString("ShellExecuteExA.file", (DWORD)(ULONG_PTR)record.lpFile);
    PrintString("ShellExecuteExA.parameters", (DWORD)(ULONG_PTR)record.lpParameters);
    PrintString("ShellExecuteExA.directory", (DWORD)(ULONG_PTR)record.lpDirectory);
    printf("ShellExecuteExA.show=%d\n", record.nShow);
}

/* Handles a breakpoint exception; returns FALSE when it is not one of ours. */
static BOOL HitBreakpoint(DWORD threadId, DWORD address)
{
    size_t b;
    CONTEXT context;
    HANDLE thread = ThreadHandle(threadId);
    struct Breakpoint *bp = NULL;

    /* Windows reports the address of the int3 itself; allow for a report of
     * the address after it as well. */
    for (b = 0; b < BREAKPOINT_COUNT; b++)
        if (breakpoints[b].armed && (breakpoints[b].address == address || breakpoints[b].address + 1 == address))
            bp = &breakpoints[b];
    if (!bp || !thread)
        return FALSE;

    memset(&context, 0, sizeof context);
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(thread, &context))
        return FALSE;

    if (bp == &breakpoints[0]) {
        DWORD returnAddress = 0;
        ReportMessageBox(context.Esp);
        ReadDword(context.Esp, &returnAddress);
        context.Eax = IDOK;
        context.Eip = returnAddress;
        context.Esp += 4 + 4 * 4;
    } else {
        if (bp == &breakpoints[1])
            ReportCreateProcess(context.Esp);
        else
            ReportShellExecute(context.Esp);
        WriteByte(bp->address, bp->original);
        bp->armed = FALSE;
        bp->done = TRUE;
        context.Eip = bp->address;
    }
    fflush(stdout);
    SetThreadContext(thread, &context);
    return TRUE;
}

static char *ReadCommandLine(const char *path)
{
    FILE *file = fopen(path, "rb");
    char *text;
    long size;
    if (!file)
        return NULL;
    fseek(file, 0, SEEK_END);
    size = ftell(file);
    fseek(file, 0, SEEK_SET);
    text = malloc((size_t)size + 1);
    if (!text || fread(text, 1, (size_t)size, file) != (size_t)size) {
        fclose(file);
        return NULL;
    }
    text[size] = 0;
    fclose(file);
    return text;
}

/* Starts `commandLine` as the debuggee, with a restricted token when
 * `denyAdmins` is set. */
static BOOL StartDebuggee(char *commandLine, BOOL denyAdmins, STARTUPINFOA *startup, PROCESS_INFORMATION *info)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    SID_AND_ATTRIBUTES disable;
    HANDLE token = NULL, restricted = NULL;
    PSID admins = NULL;
    BOOL started;

    if (!denyAdmins)
        return CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL, startup, info);

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
        !AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                  0, 0, 0, 0, 0, 0, &admins)) {
        fprintf(stderr, "boxreader: no token or identifier (error %lu)\n", (unsigned long)GetLastError());
        return FALSE;
    }
    disable.Sid = admins;
    disable.Attributes = 0;
    if (!CreateRestrictedToken(token, 0, 1, &disable, 0, NULL, 0, NULL, &restricted)) {
        fprintf(stderr, "boxreader: CreateRestrictedToken failed (error %lu)\n", (unsigned long)GetLastError());
        return FALSE;
    }
    started = CreateProcessAsUserA(restricted, NULL, commandLine, NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS,
                                   NULL, NULL, startup, info);
    FreeSid(admins);
    CloseHandle(restricted);
    CloseHandle(token);
    return started;
}

int main(int argc, char **argv)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION info;
    DEBUG_EVENT event;
    char *commandLine;
    DWORD exitCode = 0;
    BOOL running = TRUE, denyAdmins = FALSE;
    int next = 1;

    if (argc == 3 && strcmp(argv[1], "-deny-admins") == 0) {
        denyAdmins = TRUE;
        next = 2;
    }
    if (argc != next + 1) {
        fprintf(stderr, "usage: boxreader [-deny-admins] COMMAND-LINE-FILE\n");
        return 2;
    }
    commandLine = ReadCommandLine(argv[next]);
    if (!commandLine) {
        fprintf(stderr, "boxreader: cannot read %s\n", argv[next]);
        return 2;
    }

    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    memset(&info, 0, sizeof info);
    if (!StartDebuggee(commandLine, denyAdmins, &startup, &info)) {
        fprintf(stderr, "boxreader: cannot start the program (error %lu)\n", (unsigned long)GetLastError());
        return 3;
    }
    process = info.hProcess;

    while (running && WaitForDebugEvent(&event, INFINITE)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            AddThread(event.dwThreadId, event.u.CreateProcessInfo.hThread);
            if (event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            AddThread(event.dwThreadId, event.u.CreateThread.hThread);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            AddModule((DWORD)(ULONG_PTR)event.u.LoadDll.lpBaseOfDll);
            ArmBreakpoints();
            break;
        case EXCEPTION_DEBUG_EVENT: {
            EXCEPTION_RECORD *record = &event.u.Exception.ExceptionRecord;
            DWORD code = record->ExceptionCode;
            if (code == EXCEPTION_BREAKPOINT || code == 0x4000001F /* STATUS_WX86_BREAKPOINT */) {
                /* Late-bound modules are known by now; the loader's own
                 * start-up breakpoint is simply continued. */
                ArmBreakpoints();
                HitBreakpoint(event.dwThreadId, (DWORD)(ULONG_PTR)record->ExceptionAddress);
            } else {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            exitCode = event.u.ExitProcess.dwExitCode;
            running = FALSE;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }

    printf("exit=%lu\n", (unsigned long)exitCode);
    fflush(stdout);
    return 0;
}
