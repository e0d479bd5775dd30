#include "hand_off.h"

#include "version_text.h"
#include "../core/text_format.h"

#include <string.h>

#include <stdio.h>

// msvcrt's own on Windows, as for the formatting: any C++ library header
// makes the plain name mingw's, which drags its runtime in.
#ifdef _WIN32
#define ScanText __ms_sscanf
#else
#define ScanText sscanf
#endif

static int FormatWaiterArguments(char *buffer, size_t size, unsigned process, unsigned package,
                                 const char *program)
{
    return FormatText(buffer, size, WAITER_SWITCH " %u %u \"%s\"", process, package, program);
}

int FormatWaiterCommandLine(char *buffer, size_t size, const char *waiter, unsigned process, unsigned package,
                            const char *program)
{
    if (!FormatText(buffer, size, "\"%s\" ", waiter))
        return 0;
    const size_t used = strlen(buffer);
    return FormatWaiterArguments(buffer + used, size - used, process, package, program);
}

int ReadWaiterCommandLine(const char *commandLine, unsigned *process, unsigned *package,
                          char program[WAITER_PATH_SIZE])
{
    // The program's own name comes first, quoted or up to the first blank.
    const char *arguments = commandLine;
    if (*arguments == '"') {
        arguments = strchr(arguments + 1, '"');
        if (arguments == nullptr)
            return NOT_A_WAITER;
        ++arguments;
    }
    while (*arguments != '\0' && *arguments != ' ' && *arguments != '\t')
        ++arguments;
    while (*arguments == ' ' || *arguments == '\t')
        ++arguments;
    const size_t switchLength = sizeof WAITER_SWITCH - 1;
    if (strncmp(arguments, WAITER_SWITCH, switchLength) != 0 ||
        (arguments[switchLength] != ' ' && arguments[switchLength] != '\0'))
        return NOT_A_WAITER;
    // Read leniently, then written again: only arguments that come out the
    // same are taken, which refuses signs, blanks, leading zeros, numbers
    // that do not fit and anything after the closing quote. The width is
    // WAITER_PATH_SIZE - 1.
    char again[WAITER_PATH_SIZE + 64];
    if (ScanText(arguments, WAITER_SWITCH " %u %u \"%259[^\"]", process, package, program) != 3 ||
        !FormatWaiterArguments(again, sizeof again, *process, *package, program) ||
        strcmp(again, arguments) != 0 || *process == 0 || *package == 0)
        return WAITER_MALFORMED;
    return WAITER_ORDERS;
}

int InstallationFinished(unsigned long exitCode)
{
    return exitCode == 0 || exitCode == 3010 || exitCode == 1641;
}

int FormatUpdateFolderName(char *folder, size_t size, const char *temp, int attempt)
{
    return FormatText(folder, size, "%s~halvotren_update%d", temp, attempt);
}

int ReplaceFileName(char *path, size_t size, const char *name)
{
    char *slash = strrchr(path, '\\');
    if (slash == nullptr)
        return 0;
    const char kept = slash[1];
    slash[1] = '\0';
    if (AppendText(path, size, name))
        return 1;
    slash[1] = kept;
    return 0;
}
