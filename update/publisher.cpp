// Authenticode checks of this program and of a downloaded installer. The
// update server speaks plain HTTP, so whoever answers for it on the user's
// network could serve any package; a signed program therefore starts only a
// package its own publisher signed.
#include <windows.h>
#include <wintrust.h>
#include <softpub.h>

#include "publisher.h"
#include "publisher_rule.h"

#define WIDE_PATH_SIZE 1024

// One WinVerifyTrust verification, kept open while its signer's
// certificates are read: they belong to its state.
struct Verification {
    WCHAR path[WIDE_PATH_SIZE];
    WINTRUST_FILE_INFO file;
    WINTRUST_DATA data;
};

static GUID VerifyAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;

// 1 when the file carries a signature that chains to a trusted root. Never
// asks the user and never waits on the network: revocation is not checked
// (the window's thread runs this), and URLs are read only from the cache.
static int VerifySignature(const char *path, Verification *verification)
{
    ZeroMemory(verification, sizeof *verification);
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, verification->path, WIDE_PATH_SIZE) == 0)
        return 0;
    verification->file.cbStruct = sizeof verification->file;
    verification->file.pcwszFilePath = verification->path;
    // The record as XP knows it, which is all of it in these headers.
    verification->data.cbStruct = sizeof verification->data;
    verification->data.dwUIChoice = WTD_UI_NONE;
    verification->data.fdwRevocationChecks = WTD_REVOKE_NONE;
    verification->data.dwUnionChoice = WTD_CHOICE_FILE;
    verification->data.pFile = &verification->file;
    verification->data.dwStateAction = WTD_STATEACTION_VERIFY;
    verification->data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    return WinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &VerifyAction, &verification->data) == ERROR_SUCCESS;
}

// Frees what a verification holds, whatever its outcome.
static void CloseVerification(Verification *verification)
{
    if (verification->data.hWVTStateData == NULL)
        return;
    verification->data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &VerifyAction, &verification->data);
    verification->data.hWVTStateData = NULL;
}

// The first signer's own certificate and the root at the top of its chain,
// as the verification found them; they stay valid until it is closed.
static int ReadSigner(const Verification *verification, SignerIdentity *signer)
{
    CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(verification->data.hWVTStateData);
    if (provider == NULL)
        return 0;
    CRYPT_PROVIDER_SGNR *first = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (first == NULL || first->csCertChain == 0)
        return 0;
    CRYPT_PROVIDER_CERT *leaf = WTHelperGetProvCertFromChain(first, 0);
    CRYPT_PROVIDER_CERT *root = WTHelperGetProvCertFromChain(first, first->csCertChain - 1);
    if (leaf == NULL || root == NULL || leaf->pCert == NULL || root->pCert == NULL)
        return 0;
    signer->subject = leaf->pCert->pCertInfo->Subject.pbData;
    signer->subjectLength = leaf->pCert->pCertInfo->Subject.cbData;
    signer->root = root->pCert->pbCertEncoded;
    signer->rootLength = root->pCert->cbCertEncoded;
    return 1;
}

int InstallerFromOurPublisher(const char *installerPath)
{
    char programPath[WIDE_PATH_SIZE];
    ZeroMemory(programPath, sizeof programPath);
    const DWORD length = GetModuleFileNameA(NULL, programPath, sizeof programPath);
    // Not knowing whether this program is signed must not let anything in.
    if (length == 0 || length >= sizeof programPath)
        return 0;

    Verification program;
    Verification installer;
    const int programSigned = VerifySignature(programPath, &program);
    int installerVerified = 0;
    int samePublisher = 0;
    if (programSigned) {
        installerVerified = VerifySignature(installerPath, &installer);
        SignerIdentity ours;
        SignerIdentity theirs;
        samePublisher = installerVerified && ReadSigner(&program, &ours) && ReadSigner(&installer, &theirs) &&
                        SamePublisher(&ours, &theirs);
        CloseVerification(&installer);
    }
    CloseVerification(&program);
    return InstallerAcceptable(programSigned, installerVerified, samePublisher);
}
