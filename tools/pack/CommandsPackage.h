// The package commands of vexal-pack: build, inspect and verify whole package files.
#pragma once

#include "Source/Common/Sha256.h"
#include "Vexal3DLoader.h"

struct SignatureReport;

// vexal-pack build --out PKG [--version N] [--name N] [--cache-name N] [--zlib | --lzma]
//   [--level N] [--block-a FILE] [--block-b FILE] MODULE...
int RunBuild(int argc, char** argv);
// vexal-pack inspect PKG: every header field (and PKG.sig's fields when it exists); exit 1 when
// the loader would refuse the header.
int RunInspect(int argc, char** argv);
// vexal-pack verify PKG [DIR] [--pubkey NAME.pub]: unpacks and checks every block; with DIR,
// what the loader would fetch into that folder; with --pubkey, the signature file PKG.sig too.
int RunVerify(int argc, char** argv);

// The checks of verify on the package at path: header findings, every block unpacked against
// its digest and, when signature is an accepted one, against its signed SHA-256; with folder,
// each file there. Prints a line per entry when print is set. sha256 (optional) receives the
// SHA-256 of each entry's unpacked content, sizes (optional) its size. True when nothing failed.
bool CheckPackage(const char* path, const char* folder, const SignatureReport* signature, bool print,
                  Sha256Digest sha256[VEXAL_MODULE_COUNT], uint32_t sizes[VEXAL_MODULE_COUNT]);

// vexal-pack keygen --out NAME: NAME.key (the secret key, PEM, mode 0600) and NAME.pub.
int RunKeygen(int argc, char** argv);
// vexal-pack sign PKG --key NAME.key --release N [--expires DAYS]: writes PKG.sig.
int RunSign(int argc, char** argv);
