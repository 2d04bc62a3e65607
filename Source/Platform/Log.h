// The two process-wide log channels (trace and error), their sinks and the assertion report.
#pragma once

#include <cstdarg>
#include "Common/Types.h"

// A sink receives one NUL-terminated text (never containing the line end itself) and adds
// "\r\n" (files) or "\n" (console) when endLine is non-zero. Sinks may be called from any thread.
typedef void (*LogSink)(const WideChar* text, void* context, uint8_t endLine);

// Formats (the engine's wide printf, at most 8191 units; control characters in the texts it
// substitutes written as escapes such as "\x1b": FormatPrintableIntoV) and writes one message on the trace /
// error channel, preceded by the time stamp "%.4d/%.2d/%.2d-%.2d:%.2d:%.2d " and followed by a
// line end. Without a sink the message goes to the debugger output (standard error here).
// On a channel writing to a log file, the console or the debugger output, a message equal to the
// channel's previous one is not written again: the repeats are counted, and "<message> (repeated
// N times)" is written before the next different message, or when a repeat comes 60 s or more
// after the message (or its last such line) was written. Other sinks receive every message. Any thread may log; each
// channel has a lock of its own, held while its sink writes.
void LogTrace(const WideChar* format, ...);
void LogError(const WideChar* format, ...);
void LogTraceV(const WideChar* format, va_list arguments);
void LogErrorV(const WideChar* format, va_list arguments);

// True when the trace and error channels have the same sink and the same context.
bool LogChannelsShared();

// The failure convention: the message on the trace channel, then on the error channel unless
// both channels are shared.
void LogFailure(const WideChar* format, ...);

// Sinks. FileLogSink's context is the File* it writes to (unbuffered UTF-16LE);
// ConsoleLogSink prints on standard output and ignores its context.
void FileLogSink(const WideChar* text, void* context, uint8_t endLine);
void ConsoleLogSink(const WideChar* text, void* context, uint8_t endLine);

// Opens "<folder>/<name>-<suffix>-[Trace].log" and "...[Error].log" (UTF-16LE, BOM FF FE) and
// routes the channels to them. An empty folder means the current directory, an empty name the
// host executable's base name. A channel whose file cannot be created keeps its previous sink.
void OpenLogFiles(const WideChar* suffix, const WideChar* folder, const WideChar* name);

// Closes the files opened by OpenLogFiles; a channel that wrote to one goes back to the
// debugger output. Called when the library leaves the process, so that neither the File
// objects nor their descriptors outlive the code that owns them. No other thread may log then.
void CloseLogFiles();

// The routing done once per loader object: debugger attached -> debugger output; environment
// "[VEXAL-DEBUG]" exactly "YES" -> console; otherwise the log files with the suffix "loader".
void SetupLogChannels();

// Routes both channels explicitly (tests and tools). Null sinks mean the debugger output. Repeats
// still held back are counted on the previous sinks first, as when OpenLogFiles reroutes.
void SetLogSinks(LogSink traceSink, void* traceContext, LogSink errorSink, void* errorContext);

// The millisecond clock the repeat count reads (tests); none means TimeMilliseconds.
void SetLogClock(uint32_t (*clock)());

// Writes "Build Date : %ls\r\nAssertion Failed : %ls\r\n%ls:%d" on the error channel and
// returns; the caller carries on as if the check had passed unless it guards itself.
void AssertFailed(const WideChar* expression, const WideChar* sourceFile, int32_t line);

// Checks a condition; on failure reports the given expression text for the given module and
// yields false so the caller can guard: if (!VEXAL_CHECK(p != _null, u"buffer != _null", kModule)) ...
#define VEXAL_CHECK(condition, expressionText, moduleName) \
    ((condition) ? true : (AssertFailed((expressionText), (moduleName), __LINE__), false))
