// Reading access logs: large sequential reads, lines handed over in place, gzip through zlib.
#include "tools/ticks/TickInput.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunkBytes = 1 << 20;

// Cuts a stream of bytes into lines. Complete lines inside a chunk are handed over without a
// copy; only a line split between chunks is gathered, up to kMaxLineBytes.
class LineSplitter {
public:
    explicit LineSplitter(TickFunnel& funnel) : mFunnel(funnel) {}

    void Feed(const char* data, size_t size) {
        const char* end = data + size;
        if (!mPending.empty() || mSkipping) {
            const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
            if (newline == nullptr) {
                Gather(data, size);
                return;
            }
            Gather(data, size_t(newline - data));
            EndLine();
            data = newline + 1;
        }
        while (data < end) {
            const char* newline = static_cast<const char*>(std::memchr(data, '\n', size_t(end - data)));
            if (newline == nullptr) {
                Gather(data, size_t(end - data));
                return;
            }
            if (size_t(newline - data) > kMaxLineBytes)
                mFunnel.AddOverlongLine();
            else
                mFunnel.AddLine(std::string_view(data, size_t(newline - data)));
            data = newline + 1;
        }
    }

    // The last line may lack its line break.
    void Finish() {
        if (!mPending.empty() || mSkipping) EndLine();
    }

private:
    void Gather(const char* data, size_t size) {
        if (mSkipping) return;
        if (mPending.size() + size > kMaxLineBytes) {
            mSkipping = true;
            mPending.clear();
            return;
        }
        mPending.append(data, size);
    }

    void EndLine() {
        if (mSkipping)
            mFunnel.AddOverlongLine();
        else
            mFunnel.AddLine(mPending);
        mPending.clear();
        mSkipping = false;
    }

    TickFunnel& mFunnel;
    std::string mPending;
    bool mSkipping = false;
};

// read() until size bytes or the end; -1 on an error.
ssize_t ReadSome(int fd, char* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += size_t(n);
    }
    return ssize_t(got);
}

bool ReadCompressed(int fd, std::vector<char>& input, size_t filled, LineSplitter& lines, std::string& problem) {
    z_stream stream = {};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {
        problem = "cannot start the gzip decoder";
        return false;
    }
    std::vector<char> output(kChunkBytes * 4);
    bool ok = true, ended = false, atEnd = filled == 0;
    stream.next_in = reinterpret_cast<Bytef*>(input.data());
    stream.avail_in = uInt(filled);
    while (ok) {
        if (stream.avail_in == 0 && !atEnd) {
            const ssize_t got = ReadSome(fd, input.data(), input.size());
            if (got < 0) {
                problem = std::string("read error: ") + std::strerror(errno);
                ok = false;
                break;
            }
            atEnd = got == 0;
            stream.next_in = reinterpret_cast<Bytef*>(input.data());
            stream.avail_in = uInt(got);
        }
        if (stream.avail_in == 0 && atEnd) {
            if (!ended) {
                problem = "the compressed data ends early";
                ok = false;
            }
            break;
        }
        if (ended) {
            // Another member follows, or something that is not compressed data.
            if (stream.next_in[0] != 0x1f) {
                problem = "data after the end of the compressed stream";
                ok = false;
                break;
            }
            inflateReset(&stream);
            ended = false;
        }
        stream.next_out = reinterpret_cast<Bytef*>(output.data());
        stream.avail_out = uInt(output.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        lines.Feed(output.data(), output.size() - stream.avail_out);
        if (status == Z_STREAM_END) {
            ended = true;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            problem = std::string("damaged compressed data") + (stream.msg ? std::string(": ") + stream.msg : "");
            ok = false;
        }
    }
    inflateEnd(&stream);
    return ok;
}

} // namespace

bool ReadLog(int fd, TickFunnel& funnel, std::string& problem) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    LineSplitter lines(funnel);
    std::vector<char> buffer(kChunkBytes);
    ssize_t got = ReadSome(fd, buffer.data(), buffer.size());
    if (got < 0) {
        problem = std::string("read error: ") + std::strerror(errno);
        return false;
    }
    bool ok = true;
    if (got >= 2 && static_cast<unsigned char>(buffer[0]) == 0x1f && static_cast<unsigned char>(buffer[1]) == 0x8b) {
        ok = ReadCompressed(fd, buffer, size_t(got), lines, problem);
    } else {
        while (got > 0) {
            lines.Feed(buffer.data(), size_t(got));
            got = ReadSome(fd, buffer.data(), buffer.size());
        }
        if (got < 0) {
            problem = std::string("read error: ") + std::strerror(errno);
            ok = false;
        }
    }
    lines.Finish();
    return ok;
}
