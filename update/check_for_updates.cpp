// Check for Updates. Runs on the window's thread and waits on the network:
// the user asked and waits for the answer anyway. While one of its boxes is
// open the window still takes commands, so a second check may run inside
// the first; each keeps its buffers to itself.
//
// A step that fails shows the one failure box itself, while it still holds
// what it opened, then releases that; its callers only pass the failure on.
#include <windows.h>
#include <wininet.h>
#include <msi.h>

#include <stdio.h>
#include <stdlib.h>

#include "update.h"
#include "update_key.h"
#include "update_signature.h"
#include "version_text.h"
#include "../app/tray.h"

static const char VersionFileUrl[] = "http://www.halvotren.example/downloads/halvotren.ver";
static const char UserAgent[] = "Halvotren Update Checker";
static const char InstallerFileName[] = "~halvotren_installer.msi";

// Always from the server: a cached version file could hide a release, and
// a cached installer could be an old or broken one.
static const DWORD OpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

#define VERSION_FILE_SIZE 1024
#define TEXT_SIZE 1024
// The largest installer taken; its buffer has one byte more, so that a
// bigger one is noticed and refused rather than cut.
#define INSTALLER_LIMIT 999999
#define PATH_SIZE 1024
#define TEMP_PATH_ROOM 999
#define COMMAND_LINE_SIZE 1042

enum CheckOutcome { CHECK_FAILED, CHECK_DONE, CHECK_INSTALL };

static int ShowFailure(void)
{
    MessageBoxA(NULL, "Unable to check for updates/or download updates at this time.",
                "Halvotren Error", MB_OK);
    return 0;
}

static int IsAnsweredOk(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL))
        return 0;
    return status == HTTP_STATUS_OK;
}

// Reads until the server has sent everything or the buffer is full (see
// NextReadSize). 0 when a read call failed; *received has what arrived.
static int ReadResponse(HINTERNET request, char *buffer, DWORD limit, int probe, DWORD *received)
{
    *received = 0;
    for (;;) {
        const DWORD wanted = (DWORD)NextReadSize(*received, limit, probe);
        if (wanted == 0)
            return 1;
        DWORD got = 0;
        if (!InternetReadFile(request, buffer + *received, wanted, &got))
            return 0;
        if (got == 0)
            return 1;
        *received += got;
    }
}

// Reads the version file into text (zero-filled, VERSION_FILE_SIZE bytes)
// and tells the user what it offers. CHECK_INSTALL, with *installerUrl
// inside text, when the user wants the newer version.
static int OfferUpdate(HINTERNET versionFile, char *text, const char **installerUrl)
{
    if (!IsAnsweredOk(versionFile))
        return CHECK_FAILED;
    // A read that fails only ends the file early: what came before it may
    // still be a whole record. The last byte stays zero and ends the text.
    DWORD received = 0;
    ReadResponse(versionFile, text, VERSION_FILE_SIZE - 1, 0, &received);
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
        MessageBoxA(NULL, message, "No Updates", MB_OK);
        return CHECK_DONE;
    }
    FormatUpdateAvailableText(message, sizeof message, kProgramVersion, versionField, *installerUrl);
    if (MessageBoxA(NULL, message, "Update Available", MB_YESNO) != IDYES)
        return CHECK_DONE;
    return CHECK_INSTALL;
}

static int CheckVersionFile(char *text, const char **installerUrl)
{
    HINTERNET internet = InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (internet == NULL) {
        ShowFailure();
        return CHECK_FAILED;
    }
    int outcome = CHECK_FAILED;
    HINTERNET versionFile = InternetOpenUrlA(internet, VersionFileUrl, NULL, 0, OpenUrlFlags, 0);
    if (versionFile != NULL)
        outcome = OfferUpdate(versionFile, text, installerUrl);
    if (outcome == CHECK_FAILED)
        ShowFailure();
    if (versionFile != NULL)
        InternetCloseHandle(versionFile);
    InternetCloseHandle(internet);
    return outcome;
}

// Unlike the version file, a download must arrive whole: any failed read, a
// short body or one too big for the buffer refuses it.
static int ReadWhole(HINTERNET request, char *buffer, DWORD limit, DWORD *size)
{
    if (!IsAnsweredOk(request))
        return 0;
    DWORD contentLength = 0;
    DWORD length = sizeof contentLength;
    const int hasContentLength =
        HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &contentLength,
                       &length, NULL) != FALSE;
    if (!ReadResponse(request, buffer, limit, 1, size))
        return 0;
    return InstallerSizeAcceptable(*size, hasContentLength, contentLength, limit);
}

// Downloads url whole into buffer, which has room for limit + 1 bytes. A
// refused download first deletes the file at discard, when one is named, so
// that nothing refused outlives the failure box.
static int DownloadWhole(const char *url, char *buffer, DWORD limit, DWORD *size, const char *discard)
{
    HINTERNET internet = InternetOpenA(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    HINTERNET request = NULL;
    if (internet != NULL)
        request = InternetOpenUrlA(internet, url, NULL, 0, OpenUrlFlags, 0);
    const int downloaded = request != NULL && ReadWhole(request, buffer, limit, size);
    if (!downloaded) {
        if (discard != NULL)
            DeleteFileA(discard);
        ShowFailure();
    }
    if (request != NULL)
        InternetCloseHandle(request);
    if (internet != NULL)
        InternetCloseHandle(internet);
    return downloaded;
}

// Writes the installer to the temporary folder; path (PATH_SIZE bytes,
// zero-filled) receives its name.
static int SaveInstaller(const char *installer, DWORD size, char *path)
{
    const DWORD length = GetTempPathA(TEMP_PATH_ROOM, path);
    if (!DirectoryLengthFits(length, TEMP_PATH_ROOM) || !AppendText(path, PATH_SIZE, InstallerFileName))
        return ShowFailure();
    FILE *file = fopen(path, "wb+");
    if (file == NULL)
        return ShowFailure();
    const int written = fwrite(installer, 1, size, file) == size;
    const int closed = fclose(file) == 0;
    if (!written || !closed) {
        // Half an installer must not stay where it could be taken for a
        // whole one; if it cannot be deleted there is nothing more to do.
        DeleteFileA(path);
        return ShowFailure();
    }
    return 1;
}

static int Refuse(const char *path)
{
    DeleteFileA(path);
    return ShowFailure();
}

// With the publisher's key built in, the package must come with the
// publisher's signature for this version; it is fetched with the same care
// as the package. Without a key any package is taken, as always.
static int SignedByPublisher(const char *url, const char *versionText, const char *installer, DWORD size,
                             const char *path)
{
    const unsigned char *key = BuiltInUpdateKey();
    if (key == NULL)
        return 1;
    char signatureUrl[VERSION_FILE_SIZE + sizeof UPDATE_SIGNATURE_SUFFIX];
    ZeroMemory(signatureUrl, sizeof signatureUrl);
    if (!AppendText(signatureUrl, sizeof signatureUrl, url) ||
        !AppendText(signatureUrl, sizeof signatureUrl, UPDATE_SIGNATURE_SUFFIX))
        return Refuse(path);
    unsigned char signature[ED25519_SIGNATURE_SIZE + 1];
    DWORD signatureSize = 0;
    if (!DownloadWhole(signatureUrl, (char *)signature, ED25519_SIGNATURE_SIZE, &signatureSize, path))
        return 0;
    if (!UpdateSignatureValid(key, signature, signatureSize, versionText, installer, size))
        return Refuse(path);
    return 1;
}

// A server that answers with an error page, or anything else, must not get
// it handed to Windows Installer.
static int VerifyInstaller(const char *path)
{
    if (MsiVerifyPackageA(path) != ERROR_SUCCESS)
        return Refuse(path);
    return 1;
}

// The installer is started by the full path of the system's own msiexec.exe,
// so that one planted in the program's or the current folder never runs.
static int StartInstaller(const char *path)
{
    char application[PATH_SIZE];
    char commandLine[COMMAND_LINE_SIZE];
    ZeroMemory(application, sizeof application);
    const UINT length = GetSystemDirectoryA(application, sizeof application);
    if (!DirectoryLengthFits(length, sizeof application) ||
        !AppendText(application, sizeof application, "\\msiexec.exe"))
        return ShowFailure();
    if (!FormatInstallerCommandLine(commandLine, sizeof commandLine, path))
        return ShowFailure();

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(application, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return ShowFailure();
    // Nothing waits for the installer.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

void CheckForUpdates(void)
{
    char versionFile[VERSION_FILE_SIZE];
    ZeroMemory(versionFile, sizeof versionFile);
    const char *installerUrl = NULL;
    if (CheckVersionFile(versionFile, &installerUrl) != CHECK_INSTALL)
        return;

    // Too big for the window thread's stack, and each check needs its own.
    char *installer = (char *)malloc(INSTALLER_LIMIT + 1);
    if (installer == NULL) {
        ShowFailure();
        return;
    }
    char path[PATH_SIZE];
    ZeroMemory(path, sizeof path);
    DWORD size = 0;
    int started = 0;
    if (DownloadWhole(installerUrl, installer, INSTALLER_LIMIT, &size, NULL) &&
        SaveInstaller(installer, size, path) && VerifyInstaller(path) &&
        SignedByPublisher(installerUrl, versionFile, installer, size, path)) {
        // The installer is removed at the next start of Windows. Without the
        // rights to arrange that it merely stays behind in the temporary
        // folder, which is no reason to withhold the update.
        MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        started = StartInstaller(path);
    }
    free(installer);
    // The installer replaces this program's files, so the program ends now;
    // its window and tray icon go with the process.
    if (started)
        exit(0);
}
