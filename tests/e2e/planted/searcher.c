/* The control of the planted-DLL test: loads each DLL named on its command
 * line by bare name, with the ordinary search order that starts in the
 * program's own folder, so planted copies beside it are what a careless
 * program gets. Exit code 0 when every one loaded. */
#include <windows.h>

int main(int argc, char **argv)
{
    int i, failed = 0;

    for (i = 1; i < argc; i++)
        if (LoadLibraryA(argv[i]) == NULL)
            failed = 1;
    return failed;
}
