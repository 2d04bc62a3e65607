// The two log channels, their sinks, the log files and the assertion report.
#include "Source/Platform/Log.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/BuildStamp.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/Console.h"
#include "Source/Platform/DebugOutput.h"
#include "Source/Platform/File.h"
#include "Source/Platform/ProcessLock.h"

namespace {

const int32_t kMessageUnits = 8192;
const int32_t kStampUnits = 1024;
const int32_t kPathUnits = 1024;

// The process-wide switches; all on for the life of the process.
const bool kEnabled = true;
const bool kTimeStamp = true;
const bool kEndLine = true;

struct Channel {
    LogSink mSink;
    void* mContext;
};

// A message repeated exactly is written once to a log file or the console; the repeats are counted and summed
// up in one line when a different message comes, or once a minute while they go on, so that a run
// failing the same way for hours keeps its log files small.
const uint32_t kRepeatSummaryMs = 60000;

struct RepeatFold {
    WideChar mLast[kMessageUnits];
    bool mHasLast;
    uint32_t mRepeats;
    uint32_t mSince; // when mLast or its last summary was written
};

// Routed on the thread that creates the loader object before any worker starts. Every thread
// that logs takes the channel's lock: the repeat memory is shared, and a time stamp and its
// message stay together.
Channel gTrace = {_null, _null};
Channel gError = {_null, _null};
RepeatFold gTraceFold = {{0}, false, 0, 0};
RepeatFold gErrorFold = {{0}, false, 0, 0};
ProcessLock gTraceLock;
ProcessLock gErrorLock;
uint32_t (*gLogClock)() = _null;
// The files opened for the channels by OpenLogFiles; open until the next OpenLogFiles or
// CloseLogFiles.
File* gTraceFile = _null;
File* gErrorFile = _null;

bool SameText(const WideChar* a, const WideChar* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

uint32_t LogClock() { return gLogClock != _null ? gLogClock() : TimeMilliseconds(); }

// One line: the time stamp, the message, the line end.
void Write(const Channel& channel, const WideChar* message) {
    WideChar stamp[kStampUnits];
    stamp[0] = 0;
    if (kTimeStamp) {
        LocalTimeValue now = LocalTime();
        FormatInto(stamp, kStampUnits, u"%.4d/%.2d/%.2d-%.2d:%.2d:%.2d ", now.mYear, now.mMonth, now.mDay,
                   now.mHour, now.mMinute, now.mSecond);
    }
    if (channel.mSink != _null) {
        if (kTimeStamp) channel.mSink(stamp, channel.mContext, 0);
        channel.mSink(message, channel.mContext, kEndLine ? 1 : 0);
        return;
    }
    if (kTimeStamp) WriteDebugOutput(stamp);
    WriteDebugOutput(message);
    if (kEndLine) WriteDebugOutput(u"\r\n");
}

// Writes the count of the repeats not written yet, if any. Under the channel's lock.
void WriteRepeats(const Channel& channel, RepeatFold& fold, uint32_t now) {
    if (fold.mRepeats == 0) return;
    WideChar summary[kMessageUnits];
    FormatInto(summary, kMessageUnits, u"%ls (repeated %u times)", fold.mLast, fold.mRepeats);
    Write(channel, summary);
    fold.mRepeats = 0;
    fold.mSince = now;
}

// Sums up what the channel still holds back and forgets it (before the channel changes sink).
void EndRepeats(const Channel& channel, RepeatFold& fold) {
    WriteRepeats(channel, fold, LogClock());
    fold.mHasLast = false;
}

void Emit(Channel& channel, RepeatFold& fold, ProcessLock& lock, const WideChar* format, va_list arguments) {
    if (!kEnabled) return;
    WideChar message[kMessageUnits];
    // Names from a package or a server reach many lines: none may act on the terminal or the
    // log reader that shows it.
    FormatPrintableIntoV(message, kMessageUnits, format, arguments);
    const uint32_t now = LogClock();
    std::lock_guard<ProcessLock> guard(lock);
    // The files, the console and the debugger output fold; a sink of a tool or a test of its own
    // hears every line it is sent.
    if (channel.mSink != _null && channel.mSink != FileLogSink && channel.mSink != ConsoleLogSink) {
        Write(channel, message);
        return;
    }
    if (fold.mHasLast && SameText(message, fold.mLast)) {
        ++fold.mRepeats;
        if (now - fold.mSince >= kRepeatSummaryMs) WriteRepeats(channel, fold, now);
        return;
    }
    WriteRepeats(channel, fold, now);
    Write(channel, message);
    std::memcpy(fold.mLast, message, sizeof(WideChar) * size_t(String::Length(message) + 1));
    fold.mHasLast = true;
    fold.mSince = now;
}

// Closes the file a channel had from an earlier OpenLogFiles; a channel writing to it goes to
// the debugger output.
void CloseChannelFile(Channel& channel, RepeatFold& fold, ProcessLock& lock, File*& file) {
    if (file == _null) return;
    std::lock_guard<ProcessLock> guard(lock);
    if (channel.mContext == file) {
        EndRepeats(channel, fold);
        channel = {_null, _null};
    }
    delete file;
    file = _null;
}

// Closes the channel's earlier file and creates the new one; the channel goes to the new file,
// or to the debugger output when the old file was its sink.
void ReopenChannel(Channel& channel, RepeatFold& fold, ProcessLock& lock, File*& file, const WideChar* path) {
    CloseChannelFile(channel, fold, lock, file);
    File* created = new (std::nothrow) File();
    if (created == _null) return;
    if (!created->CreateForWriting(path)) {
        delete created;
        return;
    }
    static const uint8_t kByteOrderMark[2] = {0xFF, 0xFE};
    created->Write(kByteOrderMark, sizeof(kByteOrderMark));
    file = created;
    std::lock_guard<ProcessLock> guard(lock);
    EndRepeats(channel, fold);
    channel = {FileLogSink, created};
}

} // namespace

void LogTraceV(const WideChar* format, va_list arguments) { Emit(gTrace, gTraceFold, gTraceLock, format, arguments); }
void LogErrorV(const WideChar* format, va_list arguments) { Emit(gError, gErrorFold, gErrorLock, format, arguments); }

void LogTrace(const WideChar* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Emit(gTrace, gTraceFold, gTraceLock, format, arguments);
    va_end(arguments);
}

void LogError(const WideChar* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Emit(gError, gErrorFold, gErrorLock, format, arguments);
    va_end(arguments);
}

bool LogChannelsShared() {
    std::lock_guard<ProcessLock> traceGuard(gTraceLock);
    std::lock_guard<ProcessLock> errorGuard(gErrorLock);
    return gTrace.mSink == gError.mSink && gTrace.mContext == gError.mContext;
}

void LogFailure(const WideChar* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Emit(gTrace, gTraceFold, gTraceLock, format, arguments);
    va_end(arguments);
    if (LogChannelsShared()) return;
    va_start(arguments, format);
    Emit(gError, gErrorFold, gErrorLock, format, arguments);
    va_end(arguments);
}

void FileLogSink(const WideChar* text, void* context, uint8_t endLine) {
    File* file = static_cast<File*>(context);
    if (file == _null || !file->IsOpen()) return;
    static_assert(sizeof(WideChar) == 2, "log files hold UTF-16 units");
    // The units go out as they are in memory: little-endian on every machine we build for.
    // File writes go straight to the system, so what was logged before a crash is on disk.
    int32_t length = String::Length(text);
    if (length > 0) file->Write(text, uint32_t(length) * 2);
    if (endLine) file->Write(u"\r\n", 4);
}

void ConsoleLogSink(const WideChar* text, void*, uint8_t endLine) {
    WriteConsoleText(text, endLine != 0);
}

void OpenLogFiles(const WideChar* suffix, const WideChar* folder, const WideChar* name) {
    String folderText = (folder != _null && folder[0] != 0) ? String(folder) : CurrentDirectory();
    String nameText = (name != _null && name[0] != 0) ? String(name)
                                                      : PathFileName(HostExecutablePath(), false, false);
    if (suffix == _null) suffix = u"";
    const WideChar* separator = suffix[0] != 0 ? u"-" : u"";
    WideChar tracePath[kPathUnits];
    WideChar errorPath[kPathUnits];
    FormatInto(tracePath, kPathUnits, u"%ls/%ls-%ls%ls[Trace].log", folderText.Data(), nameText.Data(), suffix,
               separator);
    FormatInto(errorPath, kPathUnits, u"%ls/%ls-%ls%ls[Error].log", folderText.Data(), nameText.Data(), suffix,
               separator);
    SystemPathInPlace(tracePath);
    SystemPathInPlace(errorPath);
    ReopenChannel(gTrace, gTraceFold, gTraceLock, gTraceFile, tracePath);
    ReopenChannel(gError, gErrorFold, gErrorLock, gErrorFile, errorPath);
}

void CloseLogFiles() {
    CloseChannelFile(gTrace, gTraceFold, gTraceLock, gTraceFile);
    CloseChannelFile(gError, gErrorFold, gErrorLock, gErrorFile);
}

void SetupLogChannels() {
    if (IsDebuggerAttached()) return;
    WideChar value[1024];
    ReadEnvironmentVariable(u"[VEXAL-DEBUG]", value, 1024);
    if (String(value) == u"YES") {
        SetLogSinks(ConsoleLogSink, _null, ConsoleLogSink, _null);
        return;
    }
    OpenLogFiles(u"loader", u"", u"");
}

void SetLogSinks(LogSink traceSink, void* traceContext, LogSink errorSink, void* errorContext) {
    {
        std::lock_guard<ProcessLock> guard(gTraceLock);
        EndRepeats(gTrace, gTraceFold);
        gTrace = {traceSink, traceContext};
    }
    std::lock_guard<ProcessLock> guard(gErrorLock);
    EndRepeats(gError, gErrorFold);
    gError = {errorSink, errorContext};
}

void SetLogClock(uint32_t (*clock)()) { gLogClock = clock; }

void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line) {
    LogError(u"Build Date : %ls\r\nAssertion Failed : %ls\r\n%ls:%d", BuildDateText(), expression, sourceFile, line);
}
