// Feeds arbitrary bytes to the version file handling the way the update
// check does, and aborts on anything its declarations rule out. The version
// file comes from a server, so every byte of it is hostile input.
#include "handover/hand_off.h"
#include "update/version_text.h"

#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// The update check's own sizes: a version file buffer whose last byte stays
// zero, the message texts, and the installer's command line.
const size_t kReceivedSize = 1024;
const size_t kMessageSize = 1024;
const size_t kCommandLineSize = 1042;
// Room for any text these inputs can produce, to compare a cut text with.
const size_t kRoomyNoCut = 16384;
const size_t kMaxTextInput = 4096;

// What the program passes as its own version; the checks hold for any.
const double kProgramVersion = 1.05;

[[noreturn]] void Fail(int line, const char *what, const std::string &detail = std::string())
{
    fprintf(stderr, "version_file_fuzzer.cpp:%d: check failed: %s\n%s\n", line, what, detail.c_str());
    abort();
}

#define CHECK(condition) ((condition) ? (void)0 : Fail(__LINE__, #condition))
#define CHECK_WITH(condition, detail) ((condition) ? (void)0 : Fail(__LINE__, #condition, detail))

// Heap blocks of exactly the size the program has, so that ASan reports the
// first byte read or written past them.
struct Block {
    explicit Block(size_t size) : bytes(static_cast<char *>(malloc(size))), size(size)
    {
        CHECK(bytes != nullptr || size == 0);
    }
    ~Block() { free(bytes); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    char *bytes;
    size_t size;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The "C" locale whatever the process has set: the point is always '.'.
locale_t CLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    CHECK(locale != static_cast<locale_t>(0));
    return locale;
}

std::string Shown(const char *text, size_t most = 160)
{
    std::string shown;
    for (size_t i = 0; text[i] != '\0' && i < most; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    if (strlen(text) > most)
        shown += "...";
    return "\"" + shown + "\"";
}

// An independent reading: find the accepted prefix by the documented rules,
// then let glibc's correctly rounded strtod convert exactly that text. glibc
// reads any count of digits and clamps an exponent of any length to the
// right infinity or zero, so no input needs care here.
double ReferenceRead(const char *text)
{
    const char *p = text;
    while (isspace_l(static_cast<unsigned char>(*p), CLocale()))
        ++p;
    const char *start = p;
    if (*p == '+' || *p == '-')
        ++p;
    size_t digitCount = 0;
    for (; IsDigit(*p); ++p)
        ++digitCount;
    if (*p == '.')
        for (++p; IsDigit(*p); ++p)
            ++digitCount;
    if (digitCount == 0)
        return 0.0;
    const char *end = p;
    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        const char *q = p + 1;
        if (*q == '+' || *q == '-')
            ++q;
        if (IsDigit(*q)) {
            while (IsDigit(*q))
                ++q;
            end = q;
        }
    }
    std::string prefix(start, end);
    for (char &c : prefix) {
        if (c == 'd' || c == 'D')
            c = 'e';
    }
    char *stop = nullptr;
    const double value = strtod_l(prefix.c_str(), &stop, CLocale());
    CHECK_WITH(stop == prefix.c_str() + prefix.size(), "strtod stopped early in " + Shown(prefix.c_str()));
    return value;
}

void CheckReading(const char *text)
{
    const double read = ReadVersionNumber(text);
    const double expected = ReferenceRead(text);
    // Bit for bit: -0 and 0 differ, and so would two NaNs of any kind.
    if (memcmp(&read, &expected, sizeof read) != 0) {
        char values[128];
        snprintf(values, sizeof values, "read %a (%.17g), reference %a (%.17g)", read, read, expected,
                 expected);
        Fail(__LINE__, "ReadVersionNumber agrees with the reference", Shown(text, 400) + ": " + values);
    }
    const int newer = CompareVersionIsNewer(read, kProgramVersion);
    CHECK(newer == (read > kProgramVersion ? 1 : 0));
}

bool Within(const char *pointer, const Block &block)
{
    return pointer >= block.bytes && pointer < block.bytes + block.size;
}

bool TerminatedWithin(const char *pointer, const Block &block)
{
    return Within(pointer, block) &&
           memchr(pointer, '\0', static_cast<size_t>(block.bytes + block.size - pointer)) != nullptr;
}

// A formatted text in a buffer of `size`: terminated in it, zero after the
// text, and the same as the text formatted with room to spare, cut to
// size - 1 characters exactly when it did not fit, which the result tells.
template <typename Format>
void CheckFormatted(size_t size, Format format)
{
    Block roomy(kRoomyNoCut);
    CHECK(format(roomy.bytes, roomy.size) == 1);
    CHECK(TerminatedWithin(roomy.bytes, roomy));
    const size_t fullLength = strlen(roomy.bytes);
    CHECK(fullLength < kRoomyNoCut - 1);

    Block buffer(size);
    memset(buffer.bytes, 'x', buffer.size);
    const int whole = format(buffer.bytes, buffer.size);
    CHECK(whole == 0 || whole == 1);
    if (size == 0) {
        CHECK(whole == 0);
        return;
    }
    CHECK(TerminatedWithin(buffer.bytes, buffer));
    const size_t length = strlen(buffer.bytes);
    CHECK(whole == (fullLength < size ? 1 : 0));
    CHECK(length == (whole ? fullLength : size - 1));
    CHECK(memcmp(buffer.bytes, roomy.bytes, length) == 0);
    for (size_t i = length; i < size; ++i)
        CHECK(buffer.bytes[i] == '\0');
}

bool HasControlCharacter(const char *begin, const char *end)
{
    for (const char *c = begin; c != end; ++c)
        if (static_cast<unsigned char>(*c) < ' ' || *c == 0x7F)
            return true;
    return false;
}

bool IsWebUrl(const char *url)
{
    return strncmp(url, "http://", 7) == 0 || strncmp(url, "https://", 8) == 0;
}

// The program's received-bytes buffer, and what splitting does to it.
void CheckSplit(const char *before, const Block &received, int split, const char *versionField,
                const char *urlField)
{
    const char *colon = strchr(before, ':');
    if (!split) {
        CHECK(versionField == nullptr && urlField == nullptr);
        CHECK(memcmp(before, received.bytes, received.size) == 0);
        // Refused only without a colon, with nothing at all after it, or
        // with a control character before it.
        if (colon)
            CHECK(colon[1] == '\0' || HasControlCharacter(before, colon));
        return;
    }
    CHECK(!HasControlCharacter(before, colon));
    CHECK(split == 1);
    CHECK(colon != nullptr);
    CHECK(TerminatedWithin(versionField, received));
    CHECK(TerminatedWithin(urlField, received));
    CHECK(versionField == received.bytes);
    const size_t versionLength = strlen(versionField);
    CHECK(versionLength == static_cast<size_t>(colon - before));
    CHECK(urlField == versionField + versionLength + 1);
    CHECK(colon[1] != '\0');
    const size_t urlLength = strlen(urlField);
    CHECK(urlLength == 0 || (urlField[urlLength - 1] != '\r' && urlField[urlLength - 1] != '\n'));
    // The URL is the rest of the text, less only the trailing line breaks.
    CHECK(memcmp(urlField, colon + 1, urlLength) == 0);
    const char *dropped = colon + 1 + urlLength;
    CHECK(dropped[strspn(dropped, "\r\n")] == '\0');
}

// The exact decimal digits of odd * 2^power, in base 10^9 limbs, least
// significant first; *decimalExponent receives the power of ten they are to
// be scaled by. These are the halfway points between neighbouring doubles,
// where a reading that keeps too few digits or rounds twice goes wrong, and
// which random bytes practically never spell out.
std::string ExactDigits(uint64_t odd, int power, int *decimalExponent)
{
    const uint64_t kBase = 1000000000;
    std::vector<uint64_t> limbs;
    for (uint64_t rest = odd; rest; rest /= kBase)
        limbs.push_back(rest % kBase);
    // 2^29 and 5^13 keep a limb times the factor below 2^64.
    const bool halving = power < 0;
    int steps = halving ? -power : power;
    while (steps > 0) {
        const int chunk = steps < (halving ? 13 : 29) ? steps : (halving ? 13 : 29);
        uint64_t factor = 1;
        for (int i = 0; i < chunk; ++i)
            factor *= halving ? 5 : 2;
        uint64_t carry = 0;
        for (uint64_t &limb : limbs) {
            const uint64_t product = limb * factor + carry;
            limb = product % kBase;
            carry = product / kBase;
        }
        for (; carry; carry /= kBase)
            limbs.push_back(carry % kBase);
        steps -= chunk;
    }
    *decimalExponent = halving ? power : 0;
    std::string digits = std::to_string(limbs.back());
    for (size_t i = limbs.size() - 1; i-- > 0;) {
        char limb[16];
        snprintf(limb, sizeof limb, "%09llu", static_cast<unsigned long long>(limbs[i]));
        digits += limb;
    }
    return digits;
}

// A number text close to a halfway point chosen by the input: exactly on it
// (ties go to even), a hair below or above it, however many digits out, and
// written in the different ways a version field may write it.
void CheckHalfwayReading(const uint8_t *data, size_t size)
{
    if (size < 12)
        return;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= static_cast<uint64_t>(data[i]) << (8 * i);
    const uint8_t choice = data[8];
    const size_t zeros = data[9] * 4u;
    const size_t shift = data[10] * 4u;
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    const int biased = static_cast<int>(bits >> 52 & 0x7ff);
    if (biased == 0x7ff)
        return;
    // Halfway between m * 2^e and (m + 1) * 2^e is (2m + 1) * 2^(e - 1).
    const uint64_t mantissa = biased ? fraction | uint64_t(1) << 52 : fraction;
    const int power = (biased ? biased : 1) - 1075 - 1;
    int exponent = 0;
    std::string digits = ExactDigits(2 * mantissa + 1, power, &exponent);

    switch (choice & 3) {
    case 1:  // just below: the last digit of such a product is never 0
        --digits.back();
        break;
    case 2:  // just above, past any count of zeros
        digits += std::string(zeros, '0') + "1";
        exponent -= static_cast<int>(zeros + 1);
        break;
    case 3:  // exactly on it, with zeros that change nothing
        digits += std::string(zeros, '0');
        exponent -= static_cast<int>(zeros);
        break;
    default:
        break;
    }
    const char markers[] = {'e', 'E', 'd', 'D'};
    const char marker = markers[choice >> 2 & 3];
    std::string text = choice & 16 ? "-" : (choice & 32 ? "+" : "");
    if (choice & 64) {
        // 0.000ddd: leading zeros that the scale has to make up for.
        text += "0." + std::string(shift, '0') + digits;
        exponent += static_cast<int>(shift + digits.size());
    } else {
        // d.ddd with the point after the first digit.
        text += digits.substr(0, 1) + "." + digits.substr(1);
        exponent += static_cast<int>(digits.size() - 1);
    }
    text += marker + std::to_string(exponent);
    CheckReading(text.c_str());

    // The same number as the version field of a whole file, when it fits.
    const std::string file = text + ":http://www.halvotren.example/a.msi\r\n";
    if (file.size() < kReceivedSize) {
        Block received(kReceivedSize);
        memset(received.bytes, 0, received.size);
        memcpy(received.bytes, file.data(), file.size());
        const char *versionField = nullptr;
        const char *urlField = nullptr;
        CHECK(SplitVersionFile(received.bytes, &versionField, &urlField) == 1);
        CHECK(strcmp(versionField, text.c_str()) == 0);
        CheckReading(versionField);
    }
}

uint32_t Word(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Sizes near the limit matter most, so the tail bytes choose either a raw
// 32-bit count, like the DWORDs the program has, or one close to the limit.
void CheckInstallerSize(const uint8_t *data, size_t size)
{
    if (size < 14)
        return;
    const uint8_t *tail = data + size - 14;
    const uint8_t mode = tail[0];
    const size_t limit = mode & 1 ? Word(tail + 2) : 999999;
    size_t received = Word(tail + 6);
    unsigned long contentLength = Word(tail + 10);
    if (mode & 2)
        received = limit + static_cast<int8_t>(tail[1]);
    if (mode & 4)
        contentLength = received + static_cast<int8_t>(tail[1] >> 4);
    const int hasContentLength = mode & 8 ? 1 : 0;
    const int expected =
        received != 0 && received <= limit && (!hasContentLength || received == contentLength);
    CHECK(InstallerSizeAcceptable(received, hasContentLength, contentLength, limit) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // As the update check receives the file: at most 1023 bytes into a
    // zero-filled 1024-byte buffer.
    Block received(kReceivedSize);
    memset(received.bytes, 0, received.size);
    memcpy(received.bytes, data, size < kReceivedSize - 1 ? size : kReceivedSize - 1);
    std::string before(received.bytes, received.size);

    const char *versionField = "untouched";
    const char *urlField = "untouched";
    const int split = SplitVersionFile(received.bytes, &versionField, &urlField);
    CheckSplit(before.data(), received, split, versionField, urlField);

    // The whole input as one text too, so that readings past what the
    // program's buffer holds are covered.
    const std::string whole(reinterpret_cast<const char *>(data), size < kMaxTextInput ? size : kMaxTextInput);
    CheckReading(whole.c_str());

    // A cut at any small size as well as at the program's own.
    const size_t smallSize = size % 160;
    const double anyVersion = ReadVersionNumber(whole.c_str());
    const auto noUpdates = [&](char *buffer, size_t room) {
        return FormatNoUpdatesText(buffer, room, anyVersion);
    };
    CheckFormatted(kMessageSize, noUpdates);
    CheckFormatted(smallSize, noUpdates);
    const auto wholeCommandLine = [&](char *buffer, size_t room) {
        return FormatInstallerCommandLine(buffer, room, whole.c_str());
    };
    CheckFormatted(kCommandLineSize, wholeCommandLine);
    CheckFormatted(smallSize, wholeCommandLine);

    if (split) {
        CheckReading(versionField);
        const double offered = ReadVersionNumber(versionField);
        const int offer = DecideOffer(offered, kProgramVersion, urlField);
        CHECK(offer == (offered > kProgramVersion ? (IsWebUrl(urlField) ? OFFER_NEWER : OFFER_UNREADABLE)
                                                  : OFFER_NOTHING_NEWER));
        const auto available = [&](char *buffer, size_t room) {
            return FormatUpdateAvailableText(buffer, room, kProgramVersion, versionField, urlField);
        };
        CheckFormatted(kMessageSize, available);
        CheckFormatted(smallSize, available);
        const auto availableAnyVersion = [&](char *buffer, size_t room) {
            return FormatUpdateAvailableText(buffer, room, offered, versionField, urlField);
        };
        CheckFormatted(kMessageSize, availableAnyVersion);
        const auto urlCommandLine = [&](char *buffer, size_t room) {
            return FormatInstallerCommandLine(buffer, room, urlField);
        };
        CheckFormatted(kCommandLineSize, urlCommandLine);
    }

    CheckHalfwayReading(data, size);
    CheckInstallerSize(data, size);
    return 0;
}
