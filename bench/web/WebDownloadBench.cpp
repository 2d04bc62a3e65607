// A 256 MiB body from nginx on loopback: StartDownload into a Buffer, against the curl command
// writing to /dev/null and a plain libcurl program appending to one buffer grown by doubling.
#include <curl/curl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Source/Common/Buffer.h"
#include "Source/Platform/WebDownload.h"
#include "support/BenchTable.h"
#include "support/NginxServer.h"
#include "support/ScratchFolder.h"

extern char** environ;

namespace {

constexpr size_t kBodyBytes = size_t(256) << 20;
// Downloads per benchmark: their figures are printed by Google Benchmark; the rows are measured
// interleaved (below).
constexpr int kIterations = 2;

// nginx serving one body of kBodyBytes (a fixed pattern) from a folder of the benchmark's own.
class BodyServer {
public:
    BodyServer() {
        std::string www = mFolder.Native("www");
        mkdir(www.c_str(), 0755);
        std::ofstream body(www + "/package.voa", std::ios::binary);
        std::vector<char> block(1 << 20);
        uint32_t state = 12345;
        for (char& byte : block) {
            state = state * 1103515245u + 12345u;
            byte = char(state >> 16);
        }
        for (size_t written = 0; written < kBodyBytes; written += block.size())
            body.write(block.data(), std::streamsize(std::min(block.size(), kBodyBytes - written)));
        body.close();
        std::string error;
        if (!mFolder.IsValid() || !body || !mNginx.Start(www, mFolder.Native("nginx"), error)) {
            std::fprintf(stderr, "bench: nginx did not start: %s\n", error.c_str());
            return;
        }
        mUrl = mNginx.Url("/package.voa");
    }
    void Stop() { mNginx.Stop(); }
    // The body's address; empty when nginx did not start.
    const std::string& Url() const { return mUrl; }

private:
    ScratchFolder mFolder;
    NginxServer mNginx;
    std::string mUrl;
};

BodyServer& Server() {
    static BodyServer server;
    return server;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Resident-memory high-water mark since the last reset, in bytes (0 when unknown).
void ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}
size_t PeakMemory() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) return size_t(std::strtoull(line.c_str() + 6, nullptr, 10)) * 1024;
    }
    return 0;
}

// Our service: a worker downloads into a Buffer; the host waits for the progress value.
bool OurDownload(WebHandle* handle, const std::u16string& url) {
    std::atomic<float> progress{0.0f};
    Buffer target;
    WorkerThread* worker = StartDownload(&progress, url.c_str(), &target, 0, -1, handle, u"");
    if (worker == nullptr) return false;
    // The service retries for ever; a benchmark gives up after a minute.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (progress.load() != 1.0f && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    DestroyWorker(worker);
    return target.GetSize() == kBodyBytes;
}

// The ordinary way: one buffer, doubled with realloc whenever a piece does not fit.
struct DoublingBuffer {
    char* mData = nullptr;
    size_t mSize = 0;
    size_t mCapacity = 0;
};

size_t AppendPiece(char* data, size_t size, size_t count, void* user) {
    DoublingBuffer* buffer = static_cast<DoublingBuffer*>(user);
    size_t bytes = size * count;
    if (buffer->mSize + bytes > buffer->mCapacity) {
        size_t capacity = buffer->mCapacity == 0 ? 16384 : buffer->mCapacity;
        while (capacity < buffer->mSize + bytes) capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(buffer->mData, capacity));
        if (grown == nullptr) return 0;
        buffer->mData = grown;
        buffer->mCapacity = capacity;
    }
    std::memcpy(buffer->mData + buffer->mSize, data, bytes);
    buffer->mSize += bytes;
    return bytes;
}

bool DoublingDownload(CURL* easy, const std::string& url) {
    DoublingBuffer buffer;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, AppendPiece);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &buffer);
    bool ok = curl_easy_perform(easy) == CURLE_OK && buffer.mSize == kBodyBytes;
    std::free(buffer.mData);
    return ok;
}

bool CurlCommand(const std::string& url) {
    std::string output = "/dev/null";
    std::vector<std::string> arguments = {"curl", "-s", "-o", output, url};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t process = -1;
    if (posix_spawnp(&process, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(process, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double gOurPeak = 0.0;
double gDoublingPeak = 0.0;

void BM_WebStartDownload(benchmark::State& state) {
    BodyServer& server = Server();
    if (server.Url().empty()) {
        state.SkipWithError("nginx did not start");
        return;
    }
    std::u16string url = Wide(server.Url());
    WebHandle* handle = CreateWebHandle(false);
    for (auto _ : state) {
        if (!OurDownload(handle, url)) {
            state.SkipWithError("the download did not deliver the body");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodyBytes));
    // The memory high-water mark of one more download, measured once per program run.
    if (gOurPeak == 0.0) {
        ResetPeakMemory();
        size_t before = PeakMemory();
        OurDownload(handle, url);
        gOurPeak = double(PeakMemory());
        std::printf("StartDownload: resident before %.1f MiB, peak %.1f MiB\n", before / 1048576.0,
                    gOurPeak / 1048576.0);
        VexalBench::AddFigure("StartDownload 256 MiB peak resident memory vs body", gOurPeak / 1048576.0,
                              double(kBodyBytes) / 1048576.0, "MiB", VexalBench::LowerIsBetter, 2.1);
    }
    DestroyWebHandle(handle);
}

void BM_CurlDoublingBuffer(benchmark::State& state) {
    BodyServer& server = Server();
    if (server.Url().empty()) {
        state.SkipWithError("nginx did not start");
        return;
    }
    CURL* easy = curl_easy_init();
    for (auto _ : state) {
        if (!DoublingDownload(easy, server.Url())) {
            state.SkipWithError("the doubling-buffer download failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodyBytes));
    if (gDoublingPeak == 0.0) {
        ResetPeakMemory();
        DoublingDownload(easy, server.Url());
        gDoublingPeak = double(PeakMemory());
        std::printf("libcurl doubling buffer: peak %.1f MiB\n", gDoublingPeak / 1048576.0);
    }
    curl_easy_cleanup(easy);
}

void BM_CurlCommand(benchmark::State& state) {
    BodyServer& server = Server();
    if (server.Url().empty()) {
        state.SkipWithError("nginx did not start");
        return;
    }
    for (auto _ : state) {
        if (!CurlCommand(server.Url())) {
            state.SkipWithError("the curl command failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodyBytes));
}

BENCHMARK(BM_CurlDoublingBuffer)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WebStartDownload)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlCommand)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);

// The rows alternate downloads of ours and of the peer: runs of five downloads of each side in
// turn swung by more than the margin to the goal on a busy machine (nginx, curl and the loader
// share its two processors). A pass is one download, in MB/s; below 0 when it failed.
double Rate(bool ok, double seconds) { return ok && seconds > 0 ? double(kBodyBytes) / seconds * 1e-6 : -1.0; }

double OurPass() {
    static WebHandle* handle = CreateWebHandle(false);
    const std::u16string url = Wide(Server().Url());
    bool ok = false;
    const double seconds = VexalBench::SecondsOf([&] { ok = !Server().Url().empty() && OurDownload(handle, url); });
    return Rate(ok, seconds);
}

double DoublingPass() {
    static CURL* easy = curl_easy_init();
    bool ok = false;
    const double seconds =
        VexalBench::SecondsOf([&] { ok = !Server().Url().empty() && DoublingDownload(easy, Server().Url()); });
    return Rate(ok, seconds);
}

double CurlCommandPass() {
    bool ok = false;
    const double seconds = VexalBench::SecondsOf([&] { ok = !Server().Url().empty() && CurlCommand(Server().Url()); });
    return Rate(ok, seconds);
}

VEXAL_PAIRED_ROW("StartDownload 256 MiB vs libcurl doubling buffer", OurPass, DoublingPass, 15,
                 VexalBench::HigherIsBetter, 1.0, "MB/s");
VEXAL_PAIRED_ROW("StartDownload 256 MiB vs curl command to /dev/null", OurPass, CurlCommandPass, 15,
                 VexalBench::HigherIsBetter, 0.35, "MB/s");

} // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_ALL);
    int result = VexalBench::Main(argc, argv);
    Server().Stop();
    curl_global_cleanup();
    return result;
}
