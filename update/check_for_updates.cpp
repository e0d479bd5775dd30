// Check for Updates. Runs on a thread of its own that the command starts,
// one check at a time, and waits there on the network: the user asked and
// waits for the answer anyway, while the window goes on with the icon, the
// menu and Exit. Its buffers are its own, as are its boxes (no owner).
//
// A step that fails shows the one failure box itself, while it still holds
// what it opened, then releases that; its callers only pass the failure on.
// A package that is checked is handed over, and the hand-over only answers
// whether it succeeded.
#include <windows.h>

#include <stdlib.h>

#include <atomic>

#include "update.h"
#include "update_key.h"
#include "update_libraries.h"
#include "update_limits.h"
#include "update_signature.h"
#include "version.h"
#include "version_text.h"
#include "../core/system_library.h"
#include "../core/text_format.h"
#include "../handover/handover.h"
#include "../handover/test_points.h"

static const char VersionFileUrl[] = "http://www.halvotren.example/downloads/halvotren.ver";
static const char UserAgent[] = "Halvotren Update Checker";

// Always from the server: a cached version file could hide a release, and
// a cached installer could be an old or broken one. Whoever answers for the
// server gets nothing of the user's: WinINet would answer a challenge from
// an intranet host with the user's logon, and send cookies, and might ask.
static const DWORD OpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH |
                                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

#define VERSION_FILE_SIZE 1024
#define TEXT_SIZE 1024
// The largest installer taken; its buffer has one byte more, so that a
// bigger one is noticed and refused rather than cut.
#define INSTALLER_LIMIT 999999

enum CheckOutcome { CHECK_FAILED, CHECK_DONE, CHECK_INSTALL };

static std::atomic<LONG> CheckUnderWay(0);

int TakeUpdateCheck(void)
{
    return CheckUnderWay.exchange(1) == 0;
}

void GiveBackUpdateCheck(void)
{
    CheckUnderWay.store(0);
}

// The check's boxes open from its own thread after a wait on the network:
// without the foreground they would open behind the window in use. The box
// that ends the check gives the command back, so that the user may choose
// it again at once, whatever the check still has to release.
static int ShowCheckBox(const char *text, const char *caption, UINT buttons)
{
    const int answer = MessageBoxA(NULL, text, caption, buttons | MB_SETFOREGROUND);
    if (buttons != MB_YESNO || answer != IDYES)
        GiveBackUpdateCheck();
    return answer;
}

static int ShowFailure(void)
{
    ShowCheckBox("Unable to check for updates/or download updates at this time.", "Halvotren Error", MB_OK);
    return 0;
}

static int IsAnsweredOk(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!UpdateCalls.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL))
        return 0;
    return status == HTTP_STATUS_OK;
}

// An internet handle whose requests fail after IdleLimitMs without a byte,
// a limit its requests inherit. (Wine's WinINet keeps none: there a stalled
// read ends only with the connection, and the check's own limit, below, is
// what fails it.)
static HINTERNET OpenInternet(void)
{
    HINTERNET internet = UpdateCalls.InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    DWORD idle = IdleLimitMs;
    if (internet != NULL &&
        !(UpdateCalls.InternetSetOptionA(internet, INTERNET_OPTION_CONNECT_TIMEOUT, &idle, sizeof idle) &&
          UpdateCalls.InternetSetOptionA(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &idle, sizeof idle))) {
        UpdateCalls.InternetCloseHandle(internet);
        internet = NULL;
    }
    return internet;
}

// Reads until the server has sent everything or the buffer is full (see
// NextReadSize). 0 when a read call failed, or when the check has waited on
// the network for CheckLimitMs since *started, which then counts as a read
// that timed out; *received has what arrived.
static int ReadResponse(HINTERNET request, char *buffer, DWORD limit, int probe, DWORD *received,
                        const DWORD *started)
{
    *received = 0;
    for (;;) {
        const DWORD wanted = (DWORD)NextReadSize(*received, limit, probe);
        if (wanted == 0)
            return 1;
        // Only what has arrived: a read asks for its whole size and waits for
        // it, so a server sending a byte now and then would hold it for good.
        DWORD available = 0;
        DWORD got = 0;
        const BOOL read = UpdateCalls.InternetQueryDataAvailable(request, &available, 0, 0) &&
                          UpdateCalls.InternetReadFile(request, buffer + *received,
                                                       available < wanted ? available : wanted, &got);
        if (GetTickCount() - *started >= CheckLimitMs) {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            return 0;
        }
        if (!read)
            return 0;
        if (got == 0)
            return 1;
        *received += got;
    }
}

// Reads the version file into text (zero-filled, VERSION_FILE_SIZE bytes)
// and tells the user what it offers. CHECK_INSTALL, with *installerUrl
// inside text, when the user wants the newer version; the time the box was
// open is added to *started.
static int OfferUpdate(HINTERNET versionFile, char *text, const char **installerUrl, DWORD *started)
{
    if (!IsAnsweredOk(versionFile))
        return CHECK_FAILED;
    // A read that fails only ends the file early: what came before it may
    // still be a whole record. The last byte stays zero and ends the text.
    // A server that stopped sending is another matter.
    DWORD received = 0;
    if (!ReadResponse(versionFile, text, VERSION_FILE_SIZE - 1, 0, &received, started) &&
        GetLastError() == ERROR_INTERNET_TIMEOUT)
        return CHECK_FAILED;
    const char *versionField = NULL;
    if (!SplitVersionFile(text, &versionField, installerUrl))
        return CHECK_FAILED;

    const int offer = DecideOffer(ReadVersionNumber(versionField), kProgramVersion, *installerUrl);
    if (offer == OFFER_UNREADABLE)
        return CHECK_FAILED;
    // The texts are cut to their buffer when too long, which still reads.
    char message[TEXT_SIZE];
    if (offer == OFFER_NOTHING_NEWER) {
        FormatNoUpdatesText(message, sizeof message, kProgramVersion);
        ShowCheckBox(message, "No Updates", MB_OK);
        return CHECK_DONE;
    }
    FormatUpdateAvailableText(message, sizeof message, kProgramVersion, versionField, *installerUrl);
    const DWORD opened = GetTickCount();
    const int answer = ShowCheckBox(message, "Update Available", MB_YESNO);
    *started += GetTickCount() - opened;
    return answer == IDYES ? CHECK_INSTALL : CHECK_DONE;
}

static int CheckVersionFile(char *text, const char **installerUrl, DWORD *started)
{
    HINTERNET internet = OpenInternet();
    if (internet == NULL) {
        ShowFailure();
        return CHECK_FAILED;
    }
    int outcome = CHECK_FAILED;
    HINTERNET versionFile = UpdateCalls.InternetOpenUrlA(internet, VersionFileUrl, NULL, 0, OpenUrlFlags, 0);
    if (versionFile != NULL)
        outcome = OfferUpdate(versionFile, text, installerUrl, started);
    if (outcome == CHECK_FAILED)
        ShowFailure();
    if (versionFile != NULL)
        UpdateCalls.InternetCloseHandle(versionFile);
    UpdateCalls.InternetCloseHandle(internet);
    return outcome;
}

// Unlike the version file, a download must arrive whole: any failed read, a
// short body or one too big for the buffer refuses it.
static int ReadWhole(HINTERNET request, char *buffer, DWORD limit, DWORD *size, const DWORD *started)
{
    if (!IsAnsweredOk(request))
        return 0;
    DWORD contentLength = 0;
    DWORD length = sizeof contentLength;
    const int hasContentLength =
        UpdateCalls.HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &contentLength,
                                   &length, NULL) != FALSE;
    if (!ReadResponse(request, buffer, limit, 1, size, started))
        return 0;
    return InstallerSizeAcceptable(*size, hasContentLength, contentLength, limit);
}

// Downloads url whole into buffer, which has room for limit + 1 bytes.
static int DownloadWhole(const char *url, char *buffer, DWORD limit, DWORD *size, const DWORD *started)
{
    HINTERNET internet = OpenInternet();
    HINTERNET request = NULL;
    if (internet != NULL)
        request = UpdateCalls.InternetOpenUrlA(internet, url, NULL, 0, OpenUrlFlags, 0);
    const int downloaded = request != NULL && ReadWhole(request, buffer, limit, size, started);
    if (!downloaded)
        ShowFailure();
    if (request != NULL)
        UpdateCalls.InternetCloseHandle(request);
    if (internet != NULL)
        UpdateCalls.InternetCloseHandle(internet);
    return downloaded;
}

// With the publisher's key built in, the package must come with the
// publisher's signature for this version; it is fetched with the same care
// as the package and checked over the bytes in memory, before anything is
// written. Without a key any package is taken, as always.
static int SignedByPublisher(const char *url, const char *versionText, const char *installer, DWORD size,
                             const DWORD *started)
{
    const unsigned char *key = BuiltInUpdateKey();
    if (key == NULL)
        return 1;
    char signatureUrl[VERSION_FILE_SIZE + sizeof UPDATE_SIGNATURE_SUFFIX];
    ZeroMemory(signatureUrl, sizeof signatureUrl);
    if (!AppendText(signatureUrl, sizeof signatureUrl, url) ||
        !AppendText(signatureUrl, sizeof signatureUrl, UPDATE_SIGNATURE_SUFFIX))
        return ShowFailure();
    unsigned char signature[ED25519_SIGNATURE_SIZE + 1];
    DWORD signatureSize = 0;
    if (!DownloadWhole(signatureUrl, (char *)signature, ED25519_SIGNATURE_SIZE, &signatureSize, started))
        return 0;
    if (!UpdateSignatureValid(key, signature, signatureSize, versionText, installer, size))
        return ShowFailure();
    return 1;
}

static int CheckAndHandOver(void)
{
    char versionFile[VERSION_FILE_SIZE];
    ZeroMemory(versionFile, sizeof versionFile);
    const char *installerUrl = NULL;
    DWORD started = GetTickCount();
    if (CheckVersionFile(versionFile, &installerUrl, &started) != CHECK_INSTALL)
        return 0;

    // Too big for a thread's stack.
    char *installer = (char *)malloc(INSTALLER_LIMIT + 1);
    if (installer == NULL)
        return ShowFailure();
    DWORD size = 0;
    int handedOver = 0;
    if (DownloadWhole(installerUrl, installer, INSTALLER_LIMIT, &size, &started) &&
        SignedByPublisher(installerUrl, versionFile, installer, size, &started)) {
        handedOver = HandOverPackage(installer, size);
        if (!handedOver)
            ShowFailure();
    }
    free(installer);
    return handedOver;
}

int CheckForUpdates(void)
{
    if (!LoadUpdateCalls())
        return ShowFailure();
    const int handedOver = CheckAndHandOver();
    AfterCheckAnswered();
    UnloadUpdateCalls();
    return handedOver;
}
