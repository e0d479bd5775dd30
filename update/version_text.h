// The update check's decisions about the version file and the texts built
// from it. The file holds one record, "version:installer URL", read into a
// zero-filled 1024-byte buffer, so the text ends at its first zero byte. No
// Windows header: these are tested on any compiler.
#ifndef HALVOTREN_UPDATE_VERSION_TEXT_H
#define HALVOTREN_UPDATE_VERSION_TEXT_H

#include <stddef.h>

// Splits the text in place: 1 with *versionField at the text, ended where
// the first colon was, and *urlField at the rest, with the line break a text
// file ends with removed (which may leave it empty). Only the first colon
// splits, as the URL has its own. 0, with the text untouched and both fields
// null, when there is no colon, nothing at all after it, or a control
// character in the version field.
int SplitVersionFile(char *text, const char **versionField, const char **urlField);

// The number a version field starts with: optional white space and sign,
// digits with an optional '.' fraction, an optional exponent after e, E, d
// or D. Reading stops at the first character that does not fit; text without
// a digit reads as 0. Hexadecimal, inf and nan are not numbers here, and the
// point is '.' whatever the locale. The result is the nearest double, so
// "1.05" equals the literal 1.05; out of range gives HUGE_VAL or 0.
double ReadVersionNumber(const char *text);

// 1 when the offered version is newer than the running one.
int CompareVersionIsNewer(double offered, double current);

enum OfferDecision { OFFER_NOTHING_NEWER, OFFER_NEWER, OFFER_UNREADABLE };

// What a split version file offers: nothing newer, a newer version at url,
// or a newer version with no http:// or https:// URL to fetch it from,
// which is a failure. A version that is not newer needs no URL.
int DecideOffer(double offered, double current, const char *url);

// Whether a downloaded installer is whole. The caller asks for limit + 1
// bytes, so a file too big for its buffer shows up as received > limit.
// A Content-Length, when the server sent one, must match exactly.
int InstallerSizeAcceptable(size_t received, int hasContentLength,
                            unsigned long contentLength, size_t limit);

// The message texts. Each zero-fills the
// buffer, then writes at most size - 1 characters: a longer text is cut and
// stays terminated. 1 when the whole text fitted, 0 when it was cut.
int FormatNoUpdatesText(char *buffer, size_t size, double version);
int FormatUpdateAvailableText(char *buffer, size_t size, double version,
                              const char *newVersionText, const char *url);

// How many bytes the next read of a download asks for: what is left up to
// limit. At the limit, 0, or 1 when probing, to find out whether the server
// has more than limit bytes; the buffer then holds limit + 1. Past it, 0.
size_t NextReadSize(size_t received, size_t limit, int probe);

#endif
