#include "../../update/version_text.h"
#include "../../core/text_format.h"
#include "../../handover/hand_off.h"

#include <gtest/gtest.h>

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <limits>
#include <string>
#include <vector>

namespace {

// A literal gives the expected double, rounded correctly by the compiler.
#define NUMBER(literal) {#literal, literal}

struct ReadCase {
    std::string text;
    double expected;
};

// Compares bit for bit, so -0 differs from 0.
void ExpectReads(const ReadCase *cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const double read = ReadVersionNumber(cases[i].text.c_str());
        EXPECT_EQ(0, memcmp(&read, &cases[i].expected, sizeof read))
            << "text \"" << cases[i].text.substr(0, 80) << "\" read " << read
            << ", expected " << cases[i].expected;
    }
}

// Decimal digits of k * 5^n, by schoolbook multiplication: k * 2^-n is
// exactly these digits times 10^-n, which reaches the halfway points
// between doubles.
std::string DigitsOfTimesPowerOfFive(unsigned k, int n)
{
    std::string reversed;
    for (unsigned rest = k; rest; rest /= 10)
        reversed += static_cast<char>('0' + rest % 10);
    for (int step = 0; step < n; ++step) {
        unsigned carry = 0;
        for (char &digit : reversed) {
            const unsigned product = static_cast<unsigned>(digit - '0') * 5 + carry;
            digit = static_cast<char>('0' + product % 10);
            carry = product / 10;
        }
        for (; carry; carry /= 10)
            reversed += static_cast<char>('0' + carry % 10);
    }
    return std::string(reversed.rbegin(), reversed.rend());
}

const double kDenormMin = std::numeric_limits<double>::denorm_min();

std::vector<ReadCase> HardCases()
{
    const std::string zeros(1000, '0');
    // 1 + 2^-53, halfway between 1 and the next double: 10^53 + 5^53 over 10^53.
    const std::string halfAboveOne =
        "1." + std::string(53 - DigitsOfTimesPowerOfFive(1, 53).size(), '0') +
        DigitsOfTimesPowerOfFive(1, 53);
    // 5 * 2^-1075, halfway between 2 and 3 times the smallest denormal.
    const std::string halfDenormal = DigitsOfTimesPowerOfFive(5, 1075);
    return {
        NUMBER(1.05),
        NUMBER(0.1),
        NUMBER(0.3),
        NUMBER(1e23),
        NUMBER(8.98846567431158e307),
        NUMBER(7.038531e-26),
        // A product formed at the x87's start-up precision rounds these twice.
        NUMBER(285945895318659e22),
        NUMBER(800557371004493e16),
        NUMBER(502778030796031e12),
        {"9007199254740993", 9007199254740992.0},
        {"9007199254740995", 9007199254740996.0},
        NUMBER(2.2250738585072011e-308),
        NUMBER(2.2250738585072012e-308),
        NUMBER(2.2250738585072014e-308),
        NUMBER(1.7976931348623157e308),
        NUMBER(1.7976931348623158e308),
        {"4.9e-324", kDenormMin},
        {"2.4703282292062327e-324", 0.0},
        {"2.4703282292062328e-324", kDenormMin},
        NUMBER(123456789012345678901234567890e-50),
        NUMBER(0.000000000000000000000000000000000000000000001e300),
        // Halfway: ties to even, and any non-zero digit, however far out,
        // rounds up. The far digits lie beyond the ones kept verbatim.
        {halfAboveOne, 1.0},
        {halfAboveOne + zeros, 1.0},
        {halfAboveOne + zeros + "1", 1.0000000000000002},
        {halfAboveOne.substr(0, halfAboveOne.size() - 1) + "4" + zeros + "9", 1.0},
        {halfDenormal + "e-1075", 2 * kDenormMin},
        {halfDenormal + zeros + "1e-2076", 3 * kDenormMin},
        {"9007199254740993" + zeros + "e-1000", 9007199254740992.0},
        {"9007199254740993" + zeros + "1e-1001", 9007199254740994.0},
        {"9007199254740993." + zeros + "1", 9007199254740994.0},
        {"0." + zeros + "1e1001", 1.0},
        {"1" + zeros + "e-1000", 1.0},
    };
}

}  // namespace

TEST(SplitVersionFile, SplitsAtTheFirstColonAndDropsTheLineBreak)
{
    const struct {
        const char *text;
        const char *version;
        const char *url;
    } cases[] = {
        {"1.1:http://example.test/Setup.msi", "1.1", "http://example.test/Setup.msi"},
        {"1.1:http://example.test:8080/a:b.msi", "1.1", "http://example.test:8080/a:b.msi"},
        {"1.1:http://x/a.msi\r\n", "1.1", "http://x/a.msi"},
        {"1.1:http://x/a.msi\n", "1.1", "http://x/a.msi"},
        {"1.1:http://x/a.msi\r\n\r\n\n\r", "1.1", "http://x/a.msi"},
        {"1.1:u\r\nv\r\n", "1.1", "u\r\nv"},
        {"1.1: http://x/a.msi ", "1.1", " http://x/a.msi "},
        {":http://x/a.msi", "", "http://x/a.msi"},
        {"1.1::", "1.1", ":"},
        // Only a line break: split, with no URL (not needed unless newer).
        {"1.05:\r\n", "1.05", ""},
        {"1.1:\r\r\n\n", "1.1", ""},
    };
    for (const auto &c : cases) {
        char text[1024] = {};
        strcpy(text, c.text);
        const char *version = nullptr;
        const char *url = nullptr;
        ASSERT_EQ(1, SplitVersionFile(text, &version, &url)) << c.text;
        EXPECT_STREQ(c.version, version) << c.text;
        EXPECT_STREQ(c.url, url) << c.text;
        EXPECT_EQ(text, version);
    }
}

TEST(SplitVersionFile, FailsWithNothingAfterAColonAndLeavesTheTextAlone)
{
    // A control character in the version would make the signed text, which
    // puts a line feed after the version, readable two ways.
    const char *const cases[] = {
        "", "1.1", "http//x", "1.1:", ":", "\r\n", "1.1\r\n",
        "1.1\n:http://x/a.msi", "1.1\nHalvotren:http://x/a.msi", "\t1.1:http://x/a.msi", "1.1\x7f:http://x/a.msi",
    };
    for (const char *c : cases) {
        char text[1024] = {};
        strcpy(text, c);
        const char *version = "untouched";
        const char *url = "untouched";
        EXPECT_EQ(0, SplitVersionFile(text, &version, &url)) << c;
        EXPECT_EQ(nullptr, version);
        EXPECT_EQ(nullptr, url);
        EXPECT_STREQ(c, text);
    }
    const char *version = "untouched";
    const char *url = "untouched";
    EXPECT_EQ(0, SplitVersionFile(nullptr, &version, &url));
    EXPECT_EQ(nullptr, version);
    EXPECT_EQ(nullptr, url);
}

TEST(SplitVersionFile, TextEndsAtTheFirstZeroByte)
{
    const char *version = nullptr;
    const char *url = nullptr;

    char cutUrl[1024] = "1.1:http://x/a.msi\0junk:more\r\n";
    ASSERT_EQ(1, SplitVersionFile(cutUrl, &version, &url));
    EXPECT_STREQ("1.1", version);
    EXPECT_STREQ("http://x/a.msi", url);
    EXPECT_EQ(0, memcmp(cutUrl + 19, "junk:more\r\n", 11));

    char cutBeforeColon[1024] = "1.1\0:http://x/a.msi";
    EXPECT_EQ(0, SplitVersionFile(cutBeforeColon, &version, &url));

    char cutAfterColon[1024] = "1.1:\0http://x/a.msi";
    EXPECT_EQ(0, SplitVersionFile(cutAfterColon, &version, &url));

    char cutAfterLineBreak[1024] = "1.1:u\r\n\0v";
    ASSERT_EQ(1, SplitVersionFile(cutAfterLineBreak, &version, &url));
    EXPECT_STREQ("u", url);

    // A full buffer: 1023 bytes of text, then the caller's zero.
    char full[1024] = {};
    memset(full, 'u', 1023);
    memcpy(full, "2.0:", 4);
    ASSERT_EQ(1, SplitVersionFile(full, &version, &url));
    EXPECT_STREQ("2.0", version);
    EXPECT_EQ(1019u, strlen(url));
}

TEST(ReadVersionNumber, ReadsTheLeadingNumber)
{
    const ReadCase cases[] = {
        {"1.05", 1.05},
        {"1.050", 1.05},
        {"01.0500", 1.05},
        {"105e-2", 1.05},
        {"1.1", 1.1},
        {"2", 2.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"+3", 3.0},
        {"-3", -3.0},
        {"1d2", 100.0},
        {"1D2", 100.0},
        {"1e2", 100.0},
        {"1E+2", 100.0},
        {"2d-1", 0.2},
        {"  -2.5E+1x", -25.0},
        {" \t\n\v\f\r7", 7.0},
        {"1.2.3", 1.2},
        {"12abc", 12.0},
        {"1,5", 1.0},
        {"1.05 beta", 1.05},
        {"1.05\r\n", 1.05},
        {"1e0000000000000000000000002", 100.0},
        {"1e-0000000000000000000000001", 0.1},
    };
    ExpectReads(cases, sizeof cases / sizeof cases[0]);
}

TEST(ReadVersionNumber, StopsBeforeAnExponentMarkerWithoutDigits)
{
    const ReadCase cases[] = {
        {"1e", 1.0}, {"1e+", 1.0}, {"1e-", 1.0}, {"1e-x", 1.0}, {"1dx", 1.0},
        {"1.5E", 1.5}, {"1.5d+", 1.5}, {"2e 3", 2.0}, {"2e+-3", 2.0}, {"3ee3", 3.0},
    };
    ExpectReads(cases, sizeof cases / sizeof cases[0]);
}

TEST(ReadVersionNumber, TextWithoutANumberReadsAsZero)
{
    const ReadCase cases[] = {
        {"", 0.0}, {"abc", 0.0}, {".", 0.0}, {"+", 0.0}, {"-", 0.0},
        {"+.", 0.0}, {"-.e5", 0.0}, {"e5", 0.0}, {".e5", 0.0}, {" ", 0.0},
        {"- 1", 0.0}, {"+-1", 0.0}, {"--1", 0.0}, {"inf", 0.0}, {"INF", 0.0},
        {"infinity", 0.0}, {"nan", 0.0}, {"NAN(1)", 0.0}, {"-inf", 0.0},
        {"0x1A", 0.0}, {"0X1p3", 0.0}, {"x1", 0.0}, {",5", 0.0}, {"\x80" "1", 0.0},
        {"0", 0.0}, {"-0", -0.0}, {"-0.000e7", -0.0}, {"0e999999999999", 0.0},
        {"-" + std::string(2000, '0'), -0.0},
    };
    ExpectReads(cases, sizeof cases / sizeof cases[0]);
}

TEST(ReadVersionNumber, RoundsToTheNearestDouble)
{
    const std::vector<ReadCase> cases = HardCases();
    ExpectReads(cases.data(), cases.size());
}

TEST(ReadVersionNumber, OutOfRangeGivesInfinityOrZero)
{
    const ReadCase cases[] = {
        {"1.7976931348623159e308", HUGE_VAL},
        {"1e309", HUGE_VAL},
        {"-1e309", -HUGE_VAL},
        {"1e999999999999", HUGE_VAL},
        {"-1e999999999999", -HUGE_VAL},
        {"1d99999999999999999999999999999999", HUGE_VAL},
        {"1" + std::string(400, '0'), HUGE_VAL},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"1e-999999999999", 0.0},
        {"1e-99999999999999999999999999999999", 0.0},
        {"0." + std::string(400, '0') + "1", 0.0},
        {std::string(1500, '9') + "e-1100", HUGE_VAL},
        {std::string(1500, '9') + "e-1500", 1.0},
        {std::string(1500, '9') + "e-99999999999", 0.0},
    };
    ExpectReads(cases, sizeof cases / sizeof cases[0]);
}

// Decimal digits, most significant first, times a small factor.
void MultiplyDigits(std::string *digits, uint64_t factor)
{
    uint64_t carry = 0;
    for (size_t i = digits->size(); i-- > 0;) {
        const uint64_t product = static_cast<uint64_t>((*digits)[i] - '0') * factor + carry;
        (*digits)[i] = static_cast<char>('0' + product % 10);
        carry = product / 10;
    }
    for (; carry; carry /= 10)
        digits->insert(digits->begin(), static_cast<char>('0' + carry % 10));
}

// The digits less one in the last place, borrowing through trailing zeros.
std::string LessOne(std::string digits)
{
    size_t i = digits.size();
    while (digits[--i] == '0')
        digits[i] = '9';
    --digits[i];
    return digits;
}

// Exact texts around every power of two: 2^p itself, then for the normal
// ones the halfway point to the next double up (ties to even: 2^p), a hair
// above it (the next double) and a hair below it (2^p). With 5^1074 digits
// before e-1074 the larger powers run far past the kept digits.
std::vector<ReadCase> PowerOfTwoCases()
{
    std::vector<ReadCase> cases;
    std::string power = DigitsOfTimesPowerOfFive(1, 1074);  // 2^-1074 * 10^1074
    std::vector<std::string> powers;
    for (int p = -1074; p <= 1023; ++p) {
        powers.push_back(power);
        cases.push_back({power + "e-1074", ldexp(1.0, p)});
        MultiplyDigits(&power, 2);
    }
    const std::string far(300, '0');
    for (int p = -1021; p <= 1023; ++p) {
        // 2^p + 2^(p-53) = 2^(p-53) * (2^53 + 1), and 2^53 + 1 = 3 * 107 * 28059810762433.
        std::string half = powers[p - 53 + 1074];
        MultiplyDigits(&half, 3);
        MultiplyDigits(&half, 107);
        MultiplyDigits(&half, 28059810762433ull);
        const double exact = ldexp(1.0, p);
        cases.push_back({half + "e-1074", exact});
        cases.push_back({half + far + "1e-1375", nextafter(exact, HUGE_VAL)});
        cases.push_back({LessOne(half + "0") + "e-1075", exact});
    }
    return cases;
}

TEST(ReadVersionNumber, RoundsAroundEveryPowerOfTwo)
{
    const std::vector<ReadCase> cases = PowerOfTwoCases();
    ExpectReads(cases.data(), cases.size());
}

TEST(ReadVersionNumber, RoundsExactlyAtTheEdgesOfTheRange)
{
    // Halfway between the largest double and 2^1024: 2^970 * (2^54 - 1).
    std::string overflow = DigitsOfTimesPowerOfFive(1, 0);
    for (int i = 0; i < 970; ++i)
        MultiplyDigits(&overflow, 2);
    MultiplyDigits(&overflow, 18014398509481983ull);
    // Half the smallest subnormal: 5^1075 * 10^-1075.
    const std::string underflow = DigitsOfTimesPowerOfFive(1, 1075);
    const std::string far(500, '0');
    const ReadCase cases[] = {
        {overflow, HUGE_VAL},  // a tie, and DBL_MAX is odd
        {LessOne(overflow + "0") + "e-1", DBL_MAX},
        {underflow + "e-1075", 0.0},  // a tie, and 0 is even
        {underflow + far + "1e-1576", kDenormMin},
        {LessOne(underflow + "0") + "e-1076", 0.0},
    };
    ExpectReads(cases, sizeof cases / sizeof cases[0]);
}

#if defined(_WIN32) && defined(__i386__)
// mingw's start-up code leaves the x87 at 64-bit precision, under which
// double arithmetic rounds twice; the reading does none, so it rounds the
// same under either.
TEST(ReadVersionNumber, RoundsTheSameUnderEitherX87Precision)
{
    std::vector<ReadCase> cases = HardCases();
    const std::vector<ReadCase> powers = PowerOfTwoCases();
    cases.insert(cases.end(), powers.begin(), powers.end());
    const unsigned saved = _controlfp(0, 0);
    _controlfp(_PC_53, _MCW_PC);
    ExpectReads(cases.data(), cases.size());
    _controlfp(_PC_64, _MCW_PC);
    ExpectReads(cases.data(), cases.size());
    _controlfp(saved, _MCW_PC);
}
#endif

TEST(ReadVersionNumber, OrdersVersionsAsNumbers)
{
    EXPECT_EQ(1, CompareVersionIsNewer(ReadVersionNumber("1.1"), ReadVersionNumber("1.05")));
    EXPECT_EQ(0, CompareVersionIsNewer(ReadVersionNumber("1.050"), 1.05));
    EXPECT_EQ(0, CompareVersionIsNewer(ReadVersionNumber("1.05"), ReadVersionNumber("1.1")));
    // The next double up from 1.05 is 1.05000000000000027: halfway is 1.05000000000000016.
    EXPECT_EQ(1, CompareVersionIsNewer(ReadVersionNumber("1.0500000000000002"), 1.05));
    EXPECT_EQ(0, CompareVersionIsNewer(ReadVersionNumber("1.0500000000000001"), 1.05));
}

TEST(DecideOffer, ANewerVersionNeedsAUrlAndAnOlderOneNone)
{
    EXPECT_EQ(OFFER_NOTHING_NEWER, DecideOffer(1.05, 1.05, ""));
    EXPECT_EQ(OFFER_NOTHING_NEWER, DecideOffer(1.0, 1.05, ""));
    EXPECT_EQ(OFFER_NOTHING_NEWER, DecideOffer(1.05, 1.05, "http://x/a.msi"));
    EXPECT_EQ(OFFER_NEWER, DecideOffer(1.1, 1.05, "http://x/a.msi"));
    EXPECT_EQ(OFFER_NEWER, DecideOffer(1.1, 1.05, "https://x/a.msi"));
    EXPECT_EQ(OFFER_UNREADABLE, DecideOffer(1.1, 1.05, ""));
    // Only the web: no file share, no other scheme, nothing relative.
    for (const char *url : {"ftp://x/a.msi", "file://x/a.msi", "file:///C:/a.msi", "\\\\x\\a.msi", "x/a.msi",
                            "HTTP//x", "gopher://x/"})
        EXPECT_EQ(OFFER_UNREADABLE, DecideOffer(1.1, 1.05, url)) << url;
    EXPECT_EQ(OFFER_NOTHING_NEWER, DecideOffer(1.0, 1.05, "file://x/a.msi"));
}

TEST(CompareVersionIsNewer, OnlyAStrictlyGreaterOfferIsNewer)
{
    const struct {
        double offered;
        double current;
        int newer;
    } cases[] = {
        {1.1, 1.05, 1}, {1.05, 1.05, 0}, {1.0, 1.05, 0}, {0.0, -0.0, 0},
        {HUGE_VAL, 1.05, 1}, {0.0, 1.05, 0}, {2e-308, 0.0, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.newer, CompareVersionIsNewer(c.offered, c.current))
            << c.offered << " against " << c.current;
}

TEST(InstallerSizeAcceptable, NeedsSomeBytesWithinTheLimitMatchingAnyLength)
{
    const struct {
        size_t received;
        int hasContentLength;
        unsigned long contentLength;
        size_t limit;
        int acceptable;
    } cases[] = {
        {0, 0, 0, 1000, 0},
        {0, 1, 0, 1000, 0},
        {1, 0, 0, 1000, 1},
        {1000, 0, 0, 1000, 1},
        {1001, 0, 0, 1000, 0},
        {1001, 1, 1001, 1000, 0},
        {500, 1, 500, 1000, 1},
        {500, 1, 501, 1000, 0},
        {500, 1, 499, 1000, 0},
        {1000, 1, 5000, 1000, 0},
        {500, 0, 12345, 1000, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.acceptable, InstallerSizeAcceptable(c.received, c.hasContentLength,
                                                        c.contentLength, c.limit))
            << c.received << " bytes, length " << c.hasContentLength << "/" << c.contentLength
            << ", limit " << c.limit;
}

TEST(FormatTexts, WriteTheMessagesAndCommandLine)
{
    char buffer[1024];
    EXPECT_EQ(1, FormatNoUpdatesText(buffer, sizeof buffer, 1.05));
    EXPECT_STREQ("There are no updates availabe for Halvotren 1.05 at\nthe current time.", buffer);

    EXPECT_EQ(1, FormatUpdateAvailableText(buffer, sizeof buffer, 1.05, "1.1",
                                           "http://example.test/Setup.msi"));
    EXPECT_STREQ("There is an update to Halvotren available. The current\n"
                 "version 1.05 can be upgraded to 1.1 by going to:\n\n"
                 "http://example.test/Setup.msi",
                 buffer);

    EXPECT_EQ(1, FormatUpdateAvailableText(buffer, sizeof buffer, 2, "2.50", "u"));
    EXPECT_STREQ("There is an update to Halvotren available. The current\n"
                 "version 2 can be upgraded to 2.50 by going to:\n\nu",
                 buffer);

    EXPECT_EQ(1, FormatInstallerCommandLine(buffer, sizeof buffer,
                                            "C:\\Documents and Settings\\a\\Temp\\Setup.msi"));
    EXPECT_STREQ("msiexec.exe /i \"C:\\Documents and Settings\\a\\Temp\\Setup.msi\" HALVOTREN_WAITER=1", buffer);
}

TEST(FormatTexts, ZeroFillAndCutAtTheBufferSize)
{
    char buffer[1024];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(1, FormatInstallerCommandLine(buffer, sizeof buffer, "a.msi"));
    for (size_t i = strlen(buffer); i < sizeof buffer; ++i)
        ASSERT_EQ('\0', buffer[i]) << i;

    const std::string longUrl = "http://x/" + std::string(2000, 'u');
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, FormatUpdateAvailableText(buffer, sizeof buffer, 1.05, "1.1", longUrl.c_str()));
    EXPECT_EQ(1023u, strlen(buffer));
    EXPECT_EQ(0, strncmp(buffer, "There is an update", 18));
    EXPECT_EQ('u', buffer[1022]);

    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, FormatInstallerCommandLine(buffer, sizeof buffer, longUrl.c_str()));
    EXPECT_EQ(1023u, strlen(buffer));

    // Exactly fitting, one short, and the smallest buffers.
    const char *const fullText = "msiexec.exe /i \"a.msi\" HALVOTREN_WAITER=1";
    const size_t fullLength = strlen(fullText);
    EXPECT_EQ(1, FormatInstallerCommandLine(buffer, fullLength + 1, "a.msi"));
    EXPECT_STREQ(fullText, buffer);
    EXPECT_EQ(0, FormatInstallerCommandLine(buffer, fullLength, "a.msi"));
    EXPECT_EQ(std::string(fullText, fullLength - 1), buffer);
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, FormatNoUpdatesText(buffer, 1, 1.05));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ('x', buffer[1]);
    EXPECT_EQ(0, FormatNoUpdatesText(buffer, 0, 1.05));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ('x', buffer[1]);
    EXPECT_EQ(0, FormatNoUpdatesText(nullptr, 0, 1.05));
}

TEST(NextReadSize, AsksForWhatIsLeftThenProbesOnce)
{
    EXPECT_EQ(1023u, NextReadSize(0, 1023, 0));
    EXPECT_EQ(1u, NextReadSize(1022, 1023, 0));
    EXPECT_EQ(0u, NextReadSize(1023, 1023, 0));
    EXPECT_EQ(999999u, NextReadSize(0, 999999, 1));
    EXPECT_EQ(991807u, NextReadSize(8192, 999999, 1));
    EXPECT_EQ(1u, NextReadSize(999998, 999999, 1));
    // Full: one more byte shows whether the server has more.
    EXPECT_EQ(1u, NextReadSize(999999, 999999, 1));
    EXPECT_EQ(0u, NextReadSize(1000000, 999999, 1));
    EXPECT_EQ(0u, NextReadSize(2000000, 999999, 0));
}

TEST(DirectoryLengthFits, NeedsALengthBelowTheRoomAskedFor)
{
    EXPECT_EQ(0, DirectoryLengthFits(0, 999));
    EXPECT_EQ(1, DirectoryLengthFits(1, 999));
    EXPECT_EQ(1, DirectoryLengthFits(998, 999));
    EXPECT_EQ(0, DirectoryLengthFits(999, 999));
    EXPECT_EQ(0, DirectoryLengthFits(4000, 999));
}

TEST(AppendText, AppendsOnlyWhatFitsWhole)
{
    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    strcpy(buffer, "C:\\Temp\\");
    EXPECT_EQ(1, AppendText(buffer, sizeof buffer, "a.msi"));
    EXPECT_STREQ("C:\\Temp\\a.msi", buffer);
    EXPECT_EQ(1, AppendText(buffer, sizeof buffer, "xy"));
    EXPECT_STREQ("C:\\Temp\\a.msixy", buffer);
    EXPECT_EQ(0, AppendText(buffer, sizeof buffer, "z"));
    EXPECT_STREQ("C:\\Temp\\a.msixy", buffer);

    char empty[4] = "";
    EXPECT_EQ(1, AppendText(empty, sizeof empty, "abc"));
    EXPECT_STREQ("abc", empty);
    char small[4] = "";
    EXPECT_EQ(0, AppendText(small, sizeof small, "abcd"));
    EXPECT_STREQ("", small);
    EXPECT_EQ(1, AppendText(small, sizeof small, ""));

    // An unterminated buffer has no room left.
    char full[3] = {'a', 'b', 'c'};
    EXPECT_EQ(0, AppendText(full, sizeof full, ""));
    EXPECT_EQ('c', full[2]);
    EXPECT_EQ(0, AppendText(nullptr, 0, "a"));
}
