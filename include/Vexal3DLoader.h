/* Vexal3D loader: the public C interface for host programs and game modules.
 *
 * A host program loads Vexal3DLoader-Flash.so and drives it through the eight _Vexal* exports.
 * A game module is a shared library that the loader fetches, loads and drives through the
 * _Vob* entry points declared below. The package header records are the binary layout of the
 * package file and of the record a game module receives in _VobCreate.
 *
 * Threading: every _Vexal* export must be called on the thread that called _VexalCreate. The
 * loader object lives in a thread-local slot, so a call from another thread finds no loader and
 * behaves as "no loader" below. The loader calls every _Vob* entry point on that same thread.
 *
 * Texts are NUL-terminated UTF-16 (char16_t). Window handles are X11 window ids carried in a
 * pointer-sized integer; 0 is the null (headless) window. */
#ifndef VEXAL3DLOADER_H
#define VEXAL3DLOADER_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#define VEXAL_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define VEXAL_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif

#define VEXAL_API __attribute__((visibility("default")))

/* The host's window: an X11 window id, or 0 for none. */
typedef uintptr_t VexalWindow;

/* ---------------------------------------------------------------------------------------------
 * Window messages the library and game modules understand (the Windows numbers). The host turns
 * its own window events into these and passes them to _VexalMessage.
 * ------------------------------------------------------------------------------------------- */
#define VEXAL_WM_SIZE        0x0005u /* lParam = width | height << 16 (client size)            */
#define VEXAL_WM_CLOSE       0x0010u
#define VEXAL_WM_KEYDOWN     0x0100u /* wParam = key code                                       */
#define VEXAL_WM_KEYUP       0x0101u
#define VEXAL_WM_CHAR        0x0102u /* wParam = character (UTF-16 unit)                        */
#define VEXAL_WM_TIMER       0x0113u /* wParam = timer id (the library's timer is 0)            */
#define VEXAL_WM_MOUSEMOVE   0x0200u /* lParam = x | y << 16 (client coordinates)               */
#define VEXAL_WM_LBUTTONDOWN 0x0201u
#define VEXAL_WM_LBUTTONUP   0x0202u
#define VEXAL_WM_RBUTTONDOWN 0x0204u
#define VEXAL_WM_RBUTTONUP   0x0205u

/* The window timer that _VexalCreate starts (id 0, every 10 ms at the shortest) arrives at the
 * host window as an X ClientMessage whose message_type is the atom of this name, format 32,
 * data.l[0] = the timer id. The host relays it as VEXAL_WM_TIMER with wParam = the id. */
#define VEXAL_TIMER_ATOM_NAME "VEXAL_WM_TIMER"

/* ---------------------------------------------------------------------------------------------
 * Loader states. The number is sent to the tick address as sg. States only move forward, except
 * that "voaurl" and "serverdataurl" restart a run from any state.
 * ------------------------------------------------------------------------------------------- */
typedef int32_t LoaderState;
enum {
    LoaderStateCreated = 0,         /* created, nothing requested                                 */
    LoaderStateServerData = 1,      /* downloading server data                                    */
    LoaderStateServerDataReady = 2, /* server data received                                       */
    LoaderStateHeader = 3,          /* fetching the package header                                */
    LoaderStateModules = 4,         /* fetching and verifying module files                        */
    LoaderStateModuleCreated = 5,   /* game module created, loading screen still shown            */
    LoaderStateHandedOver = 6       /* the game module owns the window                            */
};

/* ---------------------------------------------------------------------------------------------
 * The package header. Packed, little-endian, texts UTF-16LE in fixed arrays of 32 units.
 * A version-2 header is 1132 bytes in the file. In a header of any other version the 16-byte key
 * is absent: the fields from modules on follow extra directly and the stored header is 1116
 * bytes; the record in memory keeps the version-2 layout either way.
 * ------------------------------------------------------------------------------------------- */
#define VEXAL_PACKAGE_MAGIC      0x0F0A0F0Au
#define VEXAL_HEADER_SIZE        1132u
#define VEXAL_HEADER_SIZE_NO_KEY 1116u
#define VEXAL_MODULE_COUNT       8
#define VEXAL_HEADER_TEXT_UNITS  32

#pragma pack(push, 1)

/* One module file of the package. A fileName that is empty or begins with '@' means the entry
 * has no file (its size still counts in the package). The file name is relative to the host's
 * current directory and must not be absolute or contain a ".." component. digest holds the
 * engine digest words A, B, C, D of the unpacked content; all zero means "always present". */
typedef struct ModuleEntry {
    char16_t fileName[VEXAL_HEADER_TEXT_UNITS];
    uint32_t digest[4];
    uint32_t offset; /* position of the packed block in the package file */
    uint32_t size;   /* length of the packed block in the package file   */
} ModuleEntry;

/* A further data block. The loader reads only the low 32 bits of size (it counts toward the
 * package size); every other field is for the game module. */
typedef struct DataBlockEntry {
    char16_t name[VEXAL_HEADER_TEXT_UNITS];
    uint64_t number;
    uint64_t size;
    uint32_t value1;
    uint32_t value2;
    uint32_t digest[4];
} DataBlockEntry;

/* The header. The game module receives a pointer to the loader's own record in _VobCreate; it
 * stays valid as long as the loader lives. The last unit of every text is 0 after reading. */
typedef struct PackageHeader {
    uint32_t magic;   /* VEXAL_PACKAGE_MAGIC                      */
    uint32_t version; /* 2: key present in the file               */
    char16_t name[VEXAL_HEADER_TEXT_UNITS];
    char16_t cacheName[VEXAL_HEADER_TEXT_UNITS]; /* names the game's data folder and file   */
    uint32_t extra;
    uint32_t key[4];                         /* version 2: the package key digest words  */
    ModuleEntry modules[VEXAL_MODULE_COUNT]; /* modules[first with a file] = the game    */
    DataBlockEntry blockA;
    DataBlockEntry blockB;
    char16_t tailName[VEXAL_HEADER_TEXT_UNITS];
} PackageHeader;

#pragma pack(pop)

VEXAL_STATIC_ASSERT(sizeof(ModuleEntry) == 88, "ModuleEntry is 88 bytes");
VEXAL_STATIC_ASSERT(sizeof(DataBlockEntry) == 104, "DataBlockEntry is 104 bytes");
VEXAL_STATIC_ASSERT(sizeof(PackageHeader) == 1132, "PackageHeader is 1132 bytes");

/* ---------------------------------------------------------------------------------------------
 * The library's exports (Vexal3DLoader-Flash.so). cdecl, C linkage.
 * ------------------------------------------------------------------------------------------- */

/* Creates the loader for the host window and stores it in the calling thread's slot (a loader
 * already there is replaced, not deleted), then starts a window timer with id 0 on the window.
 * runMode 0 or 1 downloads the game's modules; any other value loads "vexal3d.vob" from the
 * current directory instead. The three reserved arguments are never read. Always returns 1 (an
 * allocation failure leaves the slot empty). */
VEXAL_API int _VexalCreate(VexalWindow window, void* reserved1, void* reserved2, void* reserved3,
                           uint32_t runMode);

/* Stops the timer id 0 of the given window, destroys the calling thread's loader (stopping a
 * running download first, deleting and unloading the game module) and clears the slot. Returns
 * non-zero when the slot was cleared. Works without a loader too. */
VEXAL_API int _VexalDelete(VexalWindow window);

/* Passes one launch parameter; names are matched without regard to case, an unknown name is
 * ignored with a line in the trace log. A null name or value counts as the empty text. The texts
 * are copied. Nothing happens without a loader. */
VEXAL_API void _VexalSetup(const char16_t* name, const char16_t* value);

/* Does nothing (kept for hosts that call it). */
VEXAL_API void _VexalStart(void);

/* Advances the loading run by one step; elapsedMs is the time since the previous call. The first
 * argument is never read. Returns 1 (also without a loader). Returns quickly except in the steps
 * that must wait: the digests of cached module files, unpacking and writing a received block,
 * loading and creating the game module. Downloads and the package size probe run beside the
 * caller's thread and never hold it. */
VEXAL_API int _VexalUpdate(void* reserved, uint32_t elapsedMs);

/* Draws the loading screen, or after the hand-off relays to the game module's _VobRender.
 * Nothing without a loader. */
VEXAL_API void _VexalRender(void);

/* Passes one window message. Returns 1 without a loader; otherwise 1 when the message was
 * handled (after the hand-off: the game module's _VobMessage returned non-zero), else 0. */
VEXAL_API int _VexalMessage(void* reserved, uint32_t message, uint32_t wParam, int32_t lParam);

/* The overall progress 0..1 of the run; 0 without a loader. */
VEXAL_API float _VexalProgress(void);

/* Pointer types for hosts that look the exports up with dlsym. */
typedef int (*VexalCreateFunction)(VexalWindow, void*, void*, void*, uint32_t);
typedef int (*VexalDeleteFunction)(VexalWindow);
typedef void (*VexalSetupFunction)(const char16_t*, const char16_t*);
typedef void (*VexalStartFunction)(void);
typedef int (*VexalUpdateFunction)(void*, uint32_t);
typedef void (*VexalRenderFunction)(void);
typedef int (*VexalMessageFunction)(void*, uint32_t, uint32_t, int32_t);
typedef float (*VexalProgressFunction)(void);

/* ---------------------------------------------------------------------------------------------
 * The game module contract. A game module exports these with C linkage under exactly these
 * names. Six are required (_VobCreate, _VobDelete, _VobUpdate, _VobRender, _VobMessage,
 * _VobProgress); a library lacking one is not loaded. The window argument is always the host's
 * window given to _VexalCreate. All calls come on the host's thread.
 * ------------------------------------------------------------------------------------------- */

/* Creates the game. header points at the loader's record (valid while the loader lives);
 * packageUrl is the package address in use; configText is "name|value|name|value..." made of
 * the launch parameters "voaparam"/"commonvoaparam", then "tickurl" and "tickinterval" when the
 * host gave a tick address, then "cdnhost" when CDN addresses are in use. reserved is 0.
 * Returns non-zero when created; 0 keeps the loading screen up for good. Texts are only valid
 * during the call. */
VEXAL_API int _VobCreate(VexalWindow window, const PackageHeader* header, const char16_t* packageUrl,
                         const char16_t* configText, int32_t reserved);
/* Called once before the library is unloaded, also when _VobCreate failed. */
VEXAL_API void _VobDelete(VexalWindow window);
/* Called every update from creation on. Before the hand-off a non-zero result means "ready to
 * take the window"; afterwards the result is ignored. */
VEXAL_API int _VobUpdate(VexalWindow window, uint32_t elapsedMs);
/* Called for every host render after the hand-off. */
VEXAL_API void _VobRender(VexalWindow window);
/* Optional. Called once after a successful _VobCreate with ("errurl", address) when the host
 * gave an error address. */
VEXAL_API void _VobConfig(const char16_t* name, const char16_t* value);
/* Every window message after the hand-off; non-zero = handled. */
VEXAL_API int _VobMessage(VexalWindow window, uint32_t message, uint32_t wParam, int32_t lParam);
/* Called every update before the hand-off. The module writes its own progress 0..1 into
 * *progress (the loader shows 0.4 + 0.6 x progress) and may write the four counts the loading
 * screen shows; a value it does not write keeps the loader's. */
VEXAL_API void _VobProgress(float* progress, int32_t* resCount, int32_t* finishCount,
                            int32_t* resSize, int32_t* finishSize);
/* Optional. Called every update once the loader has no download of its own, until the hand-off;
 * the module writes the speed figure the loading screen shows (kilobytes per second). */
VEXAL_API void _VobSpeed(float* speed);
/* Optional; looked up but never called by the loader: the module's own version number. */
VEXAL_API uint32_t _VobVersion(void);
/* Optional; looked up but never called by the loader: a named value the module publishes. */
VEXAL_API int _VobExternalValue(const char16_t* name, char16_t* value, int32_t capacity);

typedef int (*VobCreateFunction)(VexalWindow, const PackageHeader*, const char16_t*, const char16_t*,
                                 int32_t);
typedef void (*VobDeleteFunction)(VexalWindow);
typedef int (*VobUpdateFunction)(VexalWindow, uint32_t);
typedef void (*VobRenderFunction)(VexalWindow);
typedef void (*VobConfigFunction)(const char16_t*, const char16_t*);
typedef int (*VobMessageFunction)(VexalWindow, uint32_t, uint32_t, int32_t);
typedef void (*VobProgressFunction)(float*, int32_t*, int32_t*, int32_t*, int32_t*);
typedef void (*VobSpeedFunction)(float*);
typedef uint32_t (*VobVersionFunction)(void);
typedef int (*VobExternalValueFunction)(const char16_t*, char16_t*, int32_t);

#ifdef __cplusplus
}
#endif

#undef VEXAL_STATIC_ASSERT

#endif /* VEXAL3DLOADER_H */
