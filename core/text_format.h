// Bounded formatting of the program's texts and command lines. No Windows
// header: tested on any compiler.
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

#endif
