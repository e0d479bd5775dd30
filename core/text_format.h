// Bounded formatting of the program's texts, paths and command lines. No
// Windows header: tested on any compiler.
#ifndef HALVOTREN_CORE_TEXT_FORMAT_H
#define HALVOTREN_CORE_TEXT_FORMAT_H

#include <stddef.h>

// Zero-fills the buffer, then formats into it at most size - 1 characters,
// so that the text always stays terminated and a longer one is cut. 1 when
// the whole text fitted, 0 when it was cut or size is 0.
int FormatText(char *buffer, size_t size, const char *format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Appends tail to the text in buffer when all of it fits with the
// terminator: 1. Otherwise 0, with the buffer untouched.
int AppendText(char *buffer, size_t size, const char *tail);

// Whether a directory asked for with room for `asked` characters arrived
// whole: the Windows calls answer 0 on failure and, when it does not fit,
// the room it needs, which is never below `asked`.
int DirectoryLengthFits(unsigned long length, unsigned long asked);

// The arguments of a command line, after the program's own name, which
// comes first, quoted or up to the first blank; NULL when its quote is not
// closed.
const char *ArgumentsOf(const char *commandLine);

// The text after the first argument of a command line when that argument is
// exactly name; NULL otherwise. The program's own name comes first, quoted
// or up to the first blank.
const char *AfterSwitch(const char *commandLine, const char *name);

#endif
