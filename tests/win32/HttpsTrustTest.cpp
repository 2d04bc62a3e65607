// HTTPS on Windows: libcurl over OpenSSL takes the certificates the system vouches for from the
// system's store, and nothing else. A server of the test's own (OpenSSL, on 127.0.0.1) shows a
// certificate of tests/data/tls: one signed by the test authority for 127.0.0.1 is accepted
// when the system vouches for that authority; a self-signed one, and one of the authority for
// another host name, are refused.
//
// Wine builds its root store from the Linux host's certificate bundle alone (what a program adds
// to the registry's root store is not kept). So the acceptance case needs a bundle that carries
// the test authority: tests/win32/with-test-authority runs this program in a mount namespace of
// its own where it does; without that the case is skipped and says so.
#include <gtest/gtest.h>

// The sockets' header must come before the system's main one.
#include <winsock2.h>

#include <wincrypt.h>
#include <windows.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <atomic>
#include <string>
#include <thread>

#include "Source/Platform/WebDownload.h"
#include "support/ScratchFolder.h"
#include "support/TestSockets.h"

namespace {

const std::string kTls = std::string(VEXAL_TEST_DATA_DIR) + "/tls/";

// A TLS server on a port of 127.0.0.1 showing one certificate; every request gets "hello".
class TlsServer {
public:
    TlsServer(const std::string& certificate, const std::string& key) {
        mContext = SSL_CTX_new(TLS_server_method());
        if (mContext == nullptr || SSL_CTX_use_certificate_chain_file(mContext, certificate.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(mContext, key.c_str(), SSL_FILETYPE_PEM) != 1)
            return;
        mListener = OpenTestSocket();
        mPort = BindLoopback(mListener, 4);
        if (mPort == 0)
            return;
        mThread = std::thread([this] { Serve(); });
    }

    ~TlsServer() {
        mStopping = true;
        if (mListener >= 0) mListener = WakeTestListener(mListener);
        if (mThread.joinable()) mThread.join();
        if (mListener >= 0) CloseTestSocket(mListener);
        SSL_CTX_free(mContext);
    }

    int Port() const { return mPort; }
    // Requests received and answered.
    int Answered() const { return mAnswered; }

private:
    void Serve() {
        while (!mStopping) {
            int connection = AcceptTestSocket(mListener);
            if (connection < 0) return;
            SSL* tls = SSL_new(mContext);
            SSL_set_fd(tls, connection);
            if (SSL_accept(tls) == 1) {
                std::string request;
                char chunk[1024];
                int got;
                while (request.find("\r\n\r\n") == std::string::npos && (got = SSL_read(tls, chunk, sizeof chunk)) > 0)
                    request.append(chunk, size_t(got));
                // A client that refuses the host name does so after the handshake, and sends no
                // request: only a whole request is answered and counted.
                const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n"
                                           "Connection: close\r\n\r\nhello";
                if (request.find("\r\n\r\n") != std::string::npos && SSL_write(tls, answer.data(), int(answer.size())) > 0)
                    ++mAnswered;
                SSL_shutdown(tls);
            }
            ERR_clear_error();
            SSL_free(tls);
            CloseTestSocket(connection);
        }
    }

    SSL_CTX* mContext = nullptr;
    int mListener = -1;
    int mPort = 0;
    std::atomic<bool> mStopping{false};
    std::atomic<int> mAnswered{0};
    std::thread mThread;
};

// The length libcurl's probe of the server reports; -2 when it got no answer.
int32_t Probe(const TlsServer& server) {
    String type;
    int32_t length = -2;
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/file.txt";
    ProbeUrl(WideText(url).Data(), type, length);
    return length;
}

// Whether the system's root store holds the test authority.
bool SystemVouchesForTestAuthority() {
    const std::string pem = ReadNativeFile(kTls + "authority.pem");
    BYTE der[4096];
    DWORD size = sizeof der;
    if (!CryptStringToBinaryA(pem.data(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, der, &size, nullptr, nullptr))
        return false;
    HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
    if (root == nullptr) return false;
    bool found = false;
    for (PCCERT_CONTEXT entry = nullptr; !found && (entry = CertEnumCertificatesInStore(root, entry)) != nullptr;)
        found = entry->cbCertEncoded == size && memcmp(entry->pbCertEncoded, der, size) == 0;
    CertCloseStore(root, 0);
    return found;
}

TEST(HttpsTrust, UnvouchedCertificatesAreRefused) {
    TlsServer selfSigned(kTls + "self-signed.pem", kTls + "self-signed.key");
    ASSERT_NE(selfSigned.Port(), 0);
    EXPECT_EQ(Probe(selfSigned), -2) << "a self-signed certificate was accepted";
    // Signed by the authority (vouched for or not), but for another host.
    TlsServer otherHost(kTls + "other-host.pem", kTls + "other-host.key");
    ASSERT_NE(otherHost.Port(), 0);
    EXPECT_EQ(Probe(otherHost), -2) << "a certificate for another host name was accepted";
    EXPECT_EQ(selfSigned.Answered() + otherHost.Answered(), 0) << "a request went out over an unvouched connection";
}

TEST(HttpsTrust, CertificateTheSystemVouchesForIsAccepted) {
    if (!SystemVouchesForTestAuthority())
        GTEST_SKIP() << "the system's root store lacks the test authority: under Wine it is read from the Linux host's "
                        "bundle only, which tests/win32/with-test-authority extends in a mount namespace (root only)";
    TlsServer vouched(kTls + "vouched.pem", kTls + "vouched.key");
    ASSERT_NE(vouched.Port(), 0);
    EXPECT_EQ(Probe(vouched), 5);
    EXPECT_EQ(vouched.Answered(), 1);
}

} // namespace
