// Adds a certificate authority to the trusted roots of the prefix it runs in, or removes it:
//
//   trust_root ekle FILE.der
//   trust_root sil FILE.der
//
// The test servers' authority is trusted only for a run of the tests, and only in the Wine
// prefix. It goes into the current user's Root store: Wine's WinHTTP trusts that store as it
// does the machine's, and it is the one that needs no administrator rights.
//
// Copied over a prefix's certutil.exe (tests/kit/kit_test.sh), it also carries out the two
// certutil commands the Windows test kit's runner gives, on the machine's Root store as certutil
// does; Wine's own certutil.exe is a stub that reports success and changes nothing:
//
//   certutil -addstore -f Root FILE
//   certutil -delstore Root SHA1-HASH
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <string.h>
#include <wctype.h>

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

// The 20 bytes of a SHA-1 hash written as 40 hex digits; false for anything else.
bool ParseHash(const wchar_t *hex, BYTE hash[20])
{
    if (wcslen(hex) != 40)
        return false;
    for (int i = 0; i < 20; i++) {
        unsigned byte;
        if (!iswxdigit(hex[2 * i]) || !iswxdigit(hex[2 * i + 1]) || swscanf(hex + 2 * i, L"%2x", &byte) != 1)
            return false;
        hash[i] = (BYTE)byte;
    }
    return true;
}

}  // namespace

int wmain(int count, wchar_t **arguments)
{
    bool machine_adding = count == 5 && wcscmp(arguments[1], L"-addstore") == 0 && wcscmp(arguments[2], L"-f") == 0 &&
                          wcscmp(arguments[3], L"Root") == 0;
    bool machine_removing = count == 4 && wcscmp(arguments[1], L"-delstore") == 0 && wcscmp(arguments[2], L"Root") == 0;
    bool adding = machine_adding || (count == 3 && wcscmp(arguments[1], L"ekle") == 0);
    bool removing = machine_removing || (count == 3 && wcscmp(arguments[1], L"sil") == 0);
    BYTE hash[20];
    CRYPT_HASH_BLOB hash_blob = {sizeof hash, hash};
    if ((!adding && !removing) || (machine_removing && !ParseHash(arguments[3], hash))) {
        fprintf(stderr, "usage: trust_root ekle|sil FILE.der, or as certutil: -addstore -f Root FILE | -delstore Root SHA1\n");
        return 2;
    }
    PCCERT_CONTEXT certificate = nullptr;
    if (!machine_removing) {
        std::vector<BYTE> der;
        if (!ReadWholeFile(arguments[count - 1], &der))
            return Fail("cannot read the certificate file");
        certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        if (certificate == nullptr)
            return Fail("not a DER certificate");
    }
    DWORD location = machine_adding || machine_removing ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location, L"Root");
    if (store == nullptr) {
        if (certificate != nullptr)
            CertFreeCertificateContext(certificate);
        return Fail("cannot open the Root store");
    }
    int result = 0;
    if (adding) {
        if (!CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
            result = Fail("cannot add the certificate to the Root store");
    } else {
        PCCERT_CONTEXT found =
            machine_removing
                ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &hash_blob, nullptr)
                : CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
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
    if (certificate != nullptr)
        CertFreeCertificateContext(certificate);
    return result;
}
