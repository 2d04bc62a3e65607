// Routes both log channels into memory for the length of a test.
#pragma once

#include <string>
#include <vector>
#include "Source/Platform/Log.h"

class CaptureLog {
public:
    CaptureLog() { SetLogSinks(Sink, &mTrace, Sink, &mError); }
    ~CaptureLog() { SetLogSinks(_null, _null, _null, _null); }

    // The messages without their time stamps.
    std::vector<std::u16string> mTrace;
    std::vector<std::u16string> mError;

    bool ErrorContains(const std::u16string& text) const {
        for (const auto& line : mError)
            if (line.find(text) != std::u16string::npos) return true;
        return false;
    }

private:
    static void Sink(const WideChar* text, void* context, uint8_t endLine) {
        if (endLine) static_cast<std::vector<std::u16string>*>(context)->push_back(text);
    }
};
