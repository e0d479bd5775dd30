#include "text_format.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int FormatText(char *buffer, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    memset(buffer, 0, size);
    va_list arguments;
    va_start(arguments, format);
#ifdef _WIN32
    // msvcrt's own, called directly: mingw's C99 printf would double the
    // program's size, and its switch (__USE_MINGW_ANSI_STDIO) is turned on
    // by any C++ library header. Given size - 1 it writes at most that many
    // characters, leaving the zero behind them, and answers -1 for a text
    // that did not fit, terminating neither that nor one that fits exactly.
    const int written = _vsnprintf(buffer, size - 1, format, arguments);
    va_end(arguments);
    return written >= 0;
#else
    const int needed = vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    return needed >= 0 && static_cast<size_t>(needed) < size;
#endif
}

int AppendText(char *buffer, size_t size, const char *tail)
{
    size_t length = 0;
    while (length < size && buffer[length] != '\0')
        ++length;
    const size_t tailLength = strlen(tail);
    if (length == size || tailLength >= size - length)
        return 0;
    memcpy(buffer + length, tail, tailLength + 1);
    return 1;
}

int DirectoryLengthFits(unsigned long length, unsigned long asked)
{
    return length != 0 && length < asked;
}

const char *ArgumentsOf(const char *commandLine)
{
    const char *arguments = commandLine;
    if (*arguments == '"') {
        arguments = strchr(arguments + 1, '"');
        if (arguments == nullptr)
            return nullptr;
        ++arguments;
    }
    while (*arguments != '\0' && *arguments != ' ' && *arguments != '\t')
        ++arguments;
    while (*arguments == ' ' || *arguments == '\t')
        ++arguments;
    return arguments;
}

const char *AfterSwitch(const char *commandLine, const char *name)
{
    const char *arguments = ArgumentsOf(commandLine);
    if (arguments == nullptr)
        return nullptr;
    const size_t length = strlen(name);
    if (strncmp(arguments, name, length) != 0 || (arguments[length] != ' ' && arguments[length] != '\0'))
        return nullptr;
    return arguments + length;
}
