// The package file's header: its stored form (written and read), the package key, the sizes it
// implies, its module entries, and the two rules that keep names from the network inside their
// folders. The loader's header step, the package builder, the package tool and the signature
// files all read the format through this one module. Every function is pure: any thread.
#pragma once

#include "Common/Types.h"
#include "Source/Common/Digest.h"
#include "Source/Common/String.h"
#include "Vexal3DLoader.h"

// The stored header's size: 1132 bytes for version 2 (which stores the key), 1116 for any other
// version.
uint32_t StoredHeaderSize(uint32_t version);

// Writes the header in its stored form (little-endian, the key only for version 2) into output,
// which must hold StoredHeaderSize(header.version) bytes. Returns the number of bytes written.
uint32_t WritePackageHeader(const PackageHeader& header, uint8_t* output);

// Reads a header the way the loader does: sequentially from data, version 2 with the key, any
// other version without; each field only if its bytes are all there (missing fields stay zero).
// Forces the last unit of every text but the module names to 0. Returns false (header all zero)
// when data is none or size is below 8.
bool ReadPackageHeader(const uint8_t* data, uint32_t size, PackageHeader& header);

// The 16 bytes a version-2 header carries in its key field, as digest words.
Digest PackageKeyDigest();

// The package size a header implies: the stored header's size plus every entry's size plus the
// low 32 bits of both data block sizes, in 32-bit arithmetic (a package may reach 4 GiB; the sum
// wraps as the loader computes it).
uint32_t ExpectedPackageSize(const PackageHeader& header);

// The sum of the eight module sizes (32-bit, wrapping).
uint32_t ModuleSizeTotal(const PackageHeader& header);

// The entry's file name: the units up to the first 0, at most 32 (a name that fills its field is
// not read past it).
String ModuleFileName(const ModuleEntry& entry);

// True when the entry has a file: its name is not empty and does not begin with "@".
bool ModuleHasFile(const ModuleEntry& entry);

// Digest words as stored in the header (words A, B, C, D), read from any address.
Digest DigestFromWords(const void* words);

// The names that come from a package are held to what can be a file on every system the
// loader runs on, so that a package behaves the same everywhere. A name component ("/" and "\"
// both separate components) is refused when it is "..", holds a ":" (a drive such as "C:\..." or
// "c:x", or a stream such as "game.dll:hidden"), is a reserved device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, any case, with or without an extension), or ends in a dot or a blank.

// True when a module file name can be written safely below the current directory: not absolute
// ("/" or "\" first), not naming a folder ("." or a separator at the end), and every component
// safe as above; at most 32 units are looked at. Entries without a file (none, empty, or "@"
// first) are always safe.
bool IsSafeModuleFileName(const WideChar* fileName);

// True when a cache name is usable as one plain folder and file name: not none, not empty,
// without "/" or "\", and safe as a component above ("." and ".." included). The name must be
// NUL-terminated within 32 units (a header read by ReadPackageHeader always is).
bool IsSafeCacheName(const WideChar* name);

// A file published beside the package: the package address with extension (".sig", ".delta")
// added to its path, before any "?" or "#".
String AddressBesidePackage(const WideChar* packageAddress, const WideChar* extension);
