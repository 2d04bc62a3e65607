// Server data as a server may answer: the bytes go the loader's way (a zero appended, UTF-8 to
// UTF-16) into the reader that picks the default server, whose choices are caught instead of
// starting downloads.
#include <string>

#include "FuzzSupport.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "loader/Loader.h"

namespace {

class ServerDataReader : public Vexal3DLoader {
public:
    ServerDataReader() : Vexal3DLoader(0, 0) {}
    void ReleaseLoadingScreen() override {}
    // The choices the reader makes come back here; nothing is fetched.
    void Setup(const WideChar* name, const WideChar* value) override {
        FUZZ_CHECK(name != _null && value != _null);
        const String chosen(name);
        if (chosen == u"voaurl") {
            FUZZ_CHECK(mUrlCount++ == 0);
            mUrl = value;
        } else if (chosen == u"voaparam") {
            FUZZ_CHECK(mParamCount++ == 0);
            mParam = value;
        } else {
            FUZZ_CHECK(false);
        }
    }
    void Read(const WideChar* text) {
        mUrlCount = mParamCount = 0;
        ParseServerData(text);
    }

    int32_t mUrlCount = 0;
    int32_t mParamCount = 0;
    String mUrl;
    String mParam;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ServerDataReader* reader = [] {
        ServerDataReader* made = new ServerDataReader();
        QuietLogs();
        return made;
    }();
    if (size > 16384) return -1;

    Buffer answer;
    static const uint8_t kTerminator = 0;
    if (size > 0) FUZZ_CHECK(answer.Set(data, uint32_t(size), true));
    FUZZ_CHECK(answer.Append(&kTerminator, 1));
    WideChar* text = Utf8ToUtf16(_null, 0, reinterpret_cast<const char*>(answer.GetData()));
    FUZZ_CHECK(text != _null);
    reader->Read(text);

    const std::u16string whole(text);
    if (whole.find(u"\"default\":") == std::u16string::npos) FUZZ_CHECK(reader->mUrlCount == 0 && reader->mParamCount == 0);
    if (reader->mUrlCount > 0) {
        const WideChar* url = reader->mUrl.Data();
        const int32_t length = reader->mUrl.GetLength();
        FUZZ_CHECK(length == 0 || (url[0] != u'"' && url[length - 1] != u'"'));
        FUZZ_CHECK(whole.find(std::u16string(url, size_t(length))) != std::u16string::npos);
    }
    if (reader->mParamCount > 0) FUZZ_CHECK(reader->mParam.Data()[0] == u'h' && reader->mParam.Find(u"host|", true) == 0);
    std::free(text);
    return 0;
}
