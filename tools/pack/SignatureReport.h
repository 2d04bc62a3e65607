// What the package tool finds in a package's signature file (PKG.sig): its fields and the
// loader's judgement of it under a set of public keys.
#pragma once

#include <string>

#include "Source/Common/PackageSignature.h"

struct SignatureReport {
    std::string mPath; // the signature file: the package's path and ".sig"
    SignatureVerdict mVerdict = kSignatureMissing;
    std::string mReason;           // the loader's reason text when refused
    PackageSignature mFields = {}; // the fields read (valid when accepted)
    int32_t mKeyIndex = -1;        // the key of the list that verified it
};

// The signature file's path for a package path.
std::string SignaturePath(const char* package);

// Reads the package's signature file and judges it as the loader would, with the keys of the
// public key file (one or more base64 keys, one per line or "|"-separated), now, and no release
// accepted before. False with error only when the key file cannot be read or holds no usable key.
bool JudgeSignatureFile(const char* package, const char* publicKeyFile, SignatureReport& report, std::string& error);

// "signature:   accepted, release 3, key 1 of NAME.pub" or "signature:   refused (reason)".
void PrintSignatureVerdict(const SignatureReport& report);

// inspect: the signature file's fields when the package has one (nothing otherwise).
void PrintSignatureFile(const char* package);
