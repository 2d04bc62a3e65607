// The digest over memory and over a cached file, and UnpackBuffer, each beside its peer: OpenSSL's
// MD5 (EVP) on the same bytes, and zlib / liblzma called directly on the same block.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <lzma.h>
#include <openssl/evp.h>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Common/Digest.h"
#include "Source/Common/Sha256.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/String.h"
#include "support/BenchTable.h"

namespace {

constexpr size_t kPiece = 65536;
constexpr size_t kMemorySize = size_t(256) << 20;
constexpr size_t kFileSize = size_t(512) << 20;
constexpr uint32_t kUnpackedSize = uint32_t(64) << 20;

// Bytes with some structure (so that they pack about 3:1) and no long runs.
void Fill(uint8_t* bytes, size_t length) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    static const char* const kWords[] = {"module ", "block ", "digest ", "header ", "loader ", "package "};
    size_t at = 0;
    while (at < length) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        if ((state >> 60) < 10) {
            const char* word = kWords[(state >> 33) % 6];
            for (size_t i = 0; word[i] != 0 && at < length; ++i)
                bytes[at++] = uint8_t(word[i]);
        } else {
            bytes[at++] = uint8_t(state >> 40);
        }
    }
}

[[noreturn]] void Fail(const char* problem) {
    std::fprintf(stderr, "bench_digest: %s\n", problem);
    std::exit(1);
}

const std::vector<uint8_t>& MemoryInput() {
    static std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> made(kMemorySize);
        Fill(made.data(), made.size());
        return made;
    }();
    return bytes;
}

void ComputeDigestPass() {
    const std::vector<uint8_t>& input = MemoryInput();
    Digest digest = DigestStart();
    for (size_t at = 0; at < input.size(); at += kPiece)
        digest = ContinueDigest(digest, input.data() + at, kPiece, int64_t(input.size()));
    benchmark::DoNotOptimize(digest);
}

void OpenSslMd5Pass() {
    const std::vector<uint8_t>& input = MemoryInput();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestInit_ex(context, EVP_md5(), nullptr);
    for (size_t at = 0; at < input.size(); at += kPiece)
        EVP_DigestUpdate(context, input.data() + at, kPiece);
    EVP_DigestFinal_ex(context, digest, &length);
    benchmark::DoNotOptimize(digest);
    EVP_MD_CTX_free(context);
}

// A 512 MiB file under $TMPDIR, written once and read once so that it sits in the page cache.
const std::string& CachedFile() {
    static std::string path = [] {
        const char* root = getenv("TMPDIR");
        std::string made = std::string(root != nullptr && root[0] != 0 ? root : "/tmp") + "/vexal-bench-digest.bin";
        std::vector<uint8_t> chunk(size_t(16) << 20);
        FILE* file = fopen(made.c_str(), "wb");
        if (file == nullptr)
            return std::string();
        for (size_t written = 0; written < kFileSize; written += chunk.size()) {
            Fill(chunk.data(), chunk.size());
            chunk[0] = uint8_t(written >> 24);
            fwrite(chunk.data(), 1, chunk.size(), file);
        }
        fclose(file);
        int handle = open(made.c_str(), O_RDONLY);
        while (read(handle, chunk.data(), chunk.size()) > 0) {
        }
        close(handle);
        return made;
    }();
    return path;
}

void RemoveCachedFile() {
    const char* root = getenv("TMPDIR");
    std::string path = std::string(root != nullptr && root[0] != 0 ? root : "/tmp") + "/vexal-bench-digest.bin";
    unlink(path.c_str());
}

void DigestOfFilePass() {
    const std::string& path = CachedFile();
    WideChar* wide = Utf8ToUtf16(nullptr, 0, path.c_str());
    String widePath(wide);
    free(wide);
    Digest digest = DigestOfFile(widePath);
    if (digest.IsZero())
        Fail("file unreadable");
    benchmark::DoNotOptimize(digest);
}

// The two digests a signed package needs of each cached file, in one read and one thread.
void FileDigestsPass() {
    const std::string& path = CachedFile();
    WideChar* wide = Utf8ToUtf16(nullptr, 0, path.c_str());
    String widePath(wide);
    free(wide);
    Digest digest;
    Sha256Digest sha256;
    if (!FileDigests(widePath, digest, sha256))
        Fail("file unreadable");
    benchmark::DoNotOptimize(digest);
    benchmark::DoNotOptimize(sha256);
}

void ComputeSha256Pass() {
    const std::vector<uint8_t>& input = MemoryInput();
    Sha256 hash;
    Sha256Digest digest;
    for (size_t at = 0; at < input.size(); at += kPiece)
        hash.Add(input.data() + at, kPiece);
    hash.Finish(digest);
    benchmark::DoNotOptimize(digest);
}

void OpenSslMd5FilePass() {
    const std::string& path = CachedFile();
    std::vector<uint8_t> block(kPiece);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    int handle = open(path.c_str(), O_RDONLY);
    EVP_DigestInit_ex(context, EVP_md5(), nullptr);
    ssize_t got;
    while ((got = read(handle, block.data(), block.size())) > 0)
        EVP_DigestUpdate(context, block.data(), size_t(got));
    EVP_DigestFinal_ex(context, digest, &length);
    close(handle);
    benchmark::DoNotOptimize(digest);
    EVP_MD_CTX_free(context);
}

// 64 MiB of input packed once per method.
const Buffer& PackedBlock(PackMethod method) {
    static Buffer blocks[2];
    Buffer& block = blocks[method == kPackLzma ? 0 : 1];
    if (block.GetSize() == 0) {
        std::vector<uint8_t> input(kUnpackedSize);
        Fill(input.data(), input.size());
        PackBuffer(method, method == kPackLzma ? 1 : 6, input.data(), kUnpackedSize, block);
    }
    return block;
}

void UnpackBufferPass(PackMethod method) {
    const Buffer& packed = PackedBlock(method);
    Buffer buffer;
    buffer.Set(packed.GetData(), packed.GetSize(), false);
    if (!UnpackBuffer(buffer) || buffer.GetSize() != kUnpackedSize)
        Fail("unpack failed");
    benchmark::DoNotOptimize(buffer.GetData());
}

// The decoders called directly: one output block of the final size, one call.
void DecoderDirectPass(PackMethod method) {
    const Buffer& packed = PackedBlock(method);
    const uint8_t* stream = packed.GetData() + kPackedHeaderSize;
    const size_t streamSize = packed.GetSize() - kPackedHeaderSize;
    uint8_t* output = static_cast<uint8_t*>(malloc(kUnpackedSize));
    bool ok;
    if (method == kPackZlib) {
        uLongf length = kUnpackedSize;
        ok = uncompress(output, &length, stream, streamSize) == Z_OK;
    } else {
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        lzma_properties_decode(&filters[0], nullptr, packed.GetData() + kPackedPropertiesOffset, 5);
        lzma_stream decoder = LZMA_STREAM_INIT;
        ok = lzma_raw_decoder(&decoder, filters) == LZMA_OK;
        free(filters[0].options);
        decoder.next_in = stream;
        decoder.avail_in = streamSize;
        decoder.next_out = output;
        decoder.avail_out = kUnpackedSize;
        while (ok && decoder.avail_out != 0)
            ok = lzma_code(&decoder, LZMA_RUN) == LZMA_OK;
        lzma_end(&decoder);
    }
    if (!ok)
        Fail("decoder failed");
    benchmark::DoNotOptimize(output);
    free(output);
}

// SHA-256 alone, for its share of a signed package's digests (no row: the figure is the output's).
void BM_ComputeSha256(benchmark::State& state) {
    for (auto _ : state) ComputeSha256Pass();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemorySize));
}
BENCHMARK(BM_ComputeSha256)->Unit(benchmark::kMillisecond);

// One pass's speed in MB/s, from processor time (user and system): every pass is single-threaded
// and computes or reads cached pages, and the machine may be shared while it runs.
VexalBench::Pass Speed(size_t bytes, std::function<void()> pass) {
    return [bytes, pass] { return double(bytes) / VexalBench::CpuSecondsOf(pass) * 1e-6; };
}

// Pairs per row: each side's pass takes 0.2 to 1.2 s, a row under 20 s. The unpack passes
// allocate and fault in their 64 MiB output each time and swing most: more pairs for them.
constexpr int kPairs = 7, kUnpackPairs = 11;

} // namespace

// Every row is interleaved (ours, peer, ours, peer ...): one pass of ours and then one of the
// peer swung by up to a fifth between runs, with goals a few percent wide.
VEXAL_PAIRED_ROW("ComputeDigest, 256 MiB in 64 KiB pieces vs OpenSSL MD5", Speed(kMemorySize, ComputeDigestPass),
                 Speed(kMemorySize, OpenSslMd5Pass), kPairs, VexalBench::HigherIsBetter, 0.95, "MB/s");
VEXAL_PAIRED_ROW("DigestOfFile, 512 MiB cached vs OpenSSL MD5 64 KiB reads", Speed(kFileSize, DigestOfFilePass),
                 Speed(kFileSize, OpenSslMd5FilePass), kPairs, VexalBench::HigherIsBetter, 0.9, "MB/s");
// A signed package's cached files need both digests: SHA-256 runs on the CPU's SHA instructions at
// about twice the engine digest's speed, so one read for both costs well under two reads.
VEXAL_PAIRED_ROW("FileDigests (digest and SHA-256, one read), 512 MiB vs DigestOfFile",
                 Speed(kFileSize, FileDigestsPass), Speed(kFileSize, DigestOfFilePass), kPairs,
                 VexalBench::HigherIsBetter, 0.65, "MB/s");
VEXAL_PAIRED_ROW("UnpackBuffer zlib, 64 MiB vs uncompress", Speed(kUnpackedSize, [] { UnpackBufferPass(kPackZlib); }),
                 Speed(kUnpackedSize, [] { DecoderDirectPass(kPackZlib); }), kUnpackPairs, VexalBench::HigherIsBetter,
                 0.97, "MB/s");
VEXAL_PAIRED_ROW("UnpackBuffer LZMA, 64 MiB vs liblzma raw decoder",
                 Speed(kUnpackedSize, [] { UnpackBufferPass(kPackLzma); }),
                 Speed(kUnpackedSize, [] { DecoderDirectPass(kPackLzma); }), kUnpackPairs, VexalBench::HigherIsBetter,
                 0.97, "MB/s");

int main(int argc, char** argv) {
    int status = VexalBench::Main(argc, argv);
    RemoveCachedFile();
    return status;
}
