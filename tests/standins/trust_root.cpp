// Adds a certificate authority to the trusted roots of the prefix it runs in, or removes it:
//
//   trust_root ekle FILE.der
//   trust_root sil FILE.der
//
// The test servers' authority is trusted only for a run of the tests, and only in the Wine
// prefix. It goes into the current user's Root store: Wine's WinHTTP trusts that store as it
// does the machine's, and it is the one that needs no administrator rights.
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

int Fail(const char *what)
{
    fprintf(stderr, "trust_root: %s (error 0x%08lx)\n", what, GetLastError());
    return 1;
}

bool ReadWholeFile(const wchar_t *path, std::vector<BYTE> *contents)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    // A certificate is a few kilobytes; anything far larger is not one.
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= 1 << 20;
    DWORD got = 0;
    if (ok) {
        contents->resize(static_cast<size_t>(size.QuadPart));
        ok = ReadFile(file, contents->data(), static_cast<DWORD>(contents->size()), &got, nullptr) &&
             got == contents->size();
    }
    CloseHandle(file);
    if (!ok && GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_INVALID_DATA);
    return ok;
}

}  // namespace

int wmain(int count, wchar_t **arguments)
{
    bool adding = count == 3 && wcscmp(arguments[1], L"ekle") == 0;
    bool removing = count == 3 && wcscmp(arguments[1], L"sil") == 0;
    if (!adding && !removing) {
        fprintf(stderr, "usage: trust_root ekle|sil FILE.der\n");
        return 2;
    }
    std::vector<BYTE> der;
    if (!ReadWholeFile(arguments[2], &der))
        return Fail("cannot read the certificate file");
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr)
        return Fail("not a DER certificate");
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (store == nullptr) {
        CertFreeCertificateContext(certificate);
        return Fail("cannot open the Root store");
    }
    int result = 0;
    if (adding) {
        if (!CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            result = Fail("cannot add the certificate to the Root store");
    } else {
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
        if (found == nullptr)
            result = Fail("the certificate is not in the Root store");
        // Deleting frees the context that was found, whether or not it succeeds.
        else if (!CertDeleteCertificateFromStore(found))
            result = Fail("cannot remove the certificate from the Root store");
    }
    // Wine writes a registry store back only when the store is freed, which a deletion made
    // through the system store's collection can keep from happening: write it back now.
    if (result == 0 && !CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr))
        result = Fail("cannot write the Root store back");
    CertCloseStore(store, 0);
    CertFreeCertificateContext(certificate);
    return result;
}
