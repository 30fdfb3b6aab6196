#pragma once

// Constants that MinGW-w64's headers do not have yet, with the values of the Windows SDK.
#include <windows.h>
#include <bcrypt.h>

// CNG algorithm pseudo-handles (Windows 10): usable without BCryptOpenAlgorithmProvider.
#ifndef BCRYPT_SHA256_ALG_HANDLE
#define BCRYPT_SHA256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x00000041)
#endif
#ifndef BCRYPT_ECDSA_P256_ALG_HANDLE
#define BCRYPT_ECDSA_P256_ALG_HANDLE ((BCRYPT_ALG_HANDLE)0x000002e1)
#endif
