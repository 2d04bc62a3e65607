// Every text the loading screens write, read or send, in one place.
#pragma once

#include "Common/Types.h"

namespace ScreenText {

// Assets, in the order they are tried.
inline constexpr const WideChar* kMovieOverride = u"loader.swf";
inline constexpr const WideChar* kMovie = u"loading.swf";
inline constexpr const WideChar* kScript = u"loading-gdi.lua";
inline constexpr const WideChar* kScriptFallback = u"loading.lua";
inline constexpr const WideChar* kAssetPath = u"%ls/%ls";
// Where the movie file goes when the current directory cannot be read.
inline constexpr const WideChar* kTemporaryVariable = u"TMPDIR";
inline constexpr const WideChar* kTemporaryFallback = u"/tmp";

// Launch parameters the loading screen handles itself.
inline constexpr const WideChar* kLoaderVar = u"loadervar";
inline constexpr const WideChar* kServerData = u"serverdata";
inline constexpr const WideChar* kLoaderVarDelimiters = u"|";
inline constexpr const WideChar* kLoaderVarTrim = u" \t";
inline constexpr const WideChar* kFlashVersionParameter = u"flashversion";

// Movie variables.
inline constexpr const WideChar* kMovieVersion = u"$version";
inline constexpr const WideChar* kMovieServerData = u"ServerData";
inline constexpr const WideChar* kMovieProgress = u"VexalLoaderProgress";
inline constexpr const WideChar* kMovieSpeed = u"VexalLoaderSpeed";
inline constexpr const WideChar* kMovieFigure = u"%5.3f";
inline constexpr const WideChar* kMovieNull = u"null";
inline constexpr const WideChar* kTraceIndex = u"traceindex";
inline constexpr const WideChar* kUserDataIndex = u"userdataindex";
inline constexpr const WideChar* kTraceMessage = u"tracemsg%ls";
inline constexpr const WideChar* kUserData = u"userdata%ls";
// Read back from the movie until they carry a value; the last two for the life of the movie.
inline constexpr const WideChar* kWatchedNames[] = {u"voaurl", u"voaparam", u"selectedserver", u"appversion",
                                                    kTraceIndex, kUserDataIndex};

// The user-data file and the log lines.
inline constexpr const WideChar* kUserDataFile = u"%ls/flashdata.user";
inline constexpr const WideChar* kMovieLog = u"[FG] Loader log %ls : %ls";
inline constexpr const WideChar* kUserDataWriteFailed = u"[FLASH] Failed to write flash user data: %ls";
inline constexpr const WideChar* kPresentFailed =
    u"[Loader] The loading screen cannot be shown in window 0x%x: frames of %d x %d are drawn but not presented";

// The script interface.
inline constexpr const char* kGdiClass = "_GDI";
inline constexpr const WideChar* kGdiGlobal = u"_gdi";

} // namespace ScreenText
