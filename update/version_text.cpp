#include "version_text.h"

#include "decimal_to_double.h"
#include "../core/text_format.h"

#include <string.h>

namespace {

// With at most DECIMAL_DIGITS_KEPT + 1 digits, any scale beyond this is
// infinite or zero already; clamping keeps a silly exponent from
// overflowing anything.
const long long kScaleLimit = 99999;

int IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

int SplitVersionFile(char *text, const char **versionField, const char **urlField)
{
    *versionField = nullptr;
    *urlField = nullptr;
    char *colon = text ? strchr(text, ':') : nullptr;
    if (!colon || colon[1] == '\0')
        return 0;
    // The version is signed with a line feed after it: one inside it could
    // make two different offers sign the same.
    for (const char *c = text; c != colon; ++c)
        if ((unsigned char)*c < ' ' || *c == 0x7F)
            return 0;
    char *url = colon + 1;
    size_t length = strlen(url);
    while (length > 0 && (url[length - 1] == '\r' || url[length - 1] == '\n'))
        --length;
    *colon = '\0';
    url[length] = '\0';
    *versionField = text;
    *urlField = url;
    return 1;
}

int DecideOffer(double offered, double current, const char *url)
{
    if (!CompareVersionIsNewer(offered, current))
        return OFFER_NOTHING_NEWER;
    // Only the web: a file share or another scheme could reach the user's
    // network with the user's logon.
    const bool web = strncmp(url, "http://", 7) == 0 || strncmp(url, "https://", 8) == 0;
    return web ? OFFER_NEWER : OFFER_UNREADABLE;
}

double ReadVersionNumber(const char *text)
{
    const char *p = text;
    while (IsSpace(*p))
        ++p;
    const int negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;

    // Significant digits, without leading zeros: the value is
    // digits * 10^scale, plus something when restNonZero. A halfway point
    // between neighbouring doubles has at most 767 significant digits, so
    // past the kept ones only whether the rest is zero can change the result.
    char digits[DECIMAL_DIGITS_KEPT + 1];
    int kept = 0;
    int anyDigit = 0;
    int inFraction = 0;
    int restNonZero = 0;
    long long scale = 0;
    for (;; ++p) {
        if (*p == '.' && !inFraction) {
            inFraction = 1;
            continue;
        }
        if (!IsDigit(*p))
            break;
        anyDigit = 1;
        if (kept == 0 && *p == '0') {
            scale -= inFraction;
        } else if (kept < DECIMAL_DIGITS_KEPT) {
            digits[kept++] = *p;
            scale -= inFraction;
        } else {
            scale += !inFraction;
            restNonZero |= *p != '0';
        }
    }
    if (!anyDigit)
        return 0.0;

    // A marker without digits after it adds nothing, as if reading had
    // stopped in front of it.
    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        const char *q = p + 1;
        const int negativeExponent = *q == '-';
        if (*q == '+' || *q == '-')
            ++q;
        long long exponent = 0;
        for (; IsDigit(*q); ++q) {
            if (exponent <= kScaleLimit)
                exponent = exponent * 10 + (*q - '0');
        }
        scale += negativeExponent ? -exponent : exponent;
    }
    if (kept == 0)
        return negative ? -0.0 : 0.0;

    // One more non-zero digit stands for the dropped rest: it lands strictly
    // between the same two halfway points as the full number does.
    if (restNonZero) {
        digits[kept++] = '1';
        --scale;
    }
    if (scale > kScaleLimit)
        scale = kScaleLimit;
    if (scale < -kScaleLimit)
        scale = -kScaleLimit;
    const double value = DecimalToDouble(digits, kept, static_cast<long>(scale));
    return negative ? -value : value;
}

int CompareVersionIsNewer(double offered, double current)
{
    return offered > current;
}

int InstallerSizeAcceptable(size_t received, int hasContentLength,
                            unsigned long contentLength, size_t limit)
{
    if (received == 0 || received > limit)
        return 0;
    return !hasContentLength || received == contentLength;
}

int FormatNoUpdatesText(char *buffer, size_t size, double version)
{
    return FormatText(buffer, size,
                         "There are no updates availabe for Halvotren %g at\n"
                         "the current time.",
                         version);
}

int FormatUpdateAvailableText(char *buffer, size_t size, double version,
                              const char *newVersionText, const char *url)
{
    return FormatText(buffer, size,
                         "There is an update to Halvotren available. The current\n"
                         "version %g can be upgraded to %s by going to:\n\n%s",
                         version, newVersionText, url);
}

size_t NextReadSize(size_t received, size_t limit, int probe)
{
    if (received < limit)
        return limit - received;
    return received == limit && probe ? 1 : 0;
}
