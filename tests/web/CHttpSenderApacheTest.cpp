// Digest learning against a real Apache httpd with mod_auth_digest.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "web/CHttpSender.h"
#include "web/HttpText.h"
#include "web/TestServers.h"

extern char** environ;

namespace {

using namespace webtest;
using Web::CHttpSender;
using Web::HttpRequest;

constexpr const char* kApache = "/usr/sbin/apache2";

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), 0644);
}

// httpd in the foreground: one directory behind Digest, with one file only
// another user may read. The access log names each request's scheme.
class Apache {
public:
    Apache(const std::string& user, const std::string& password) : m_port(FreePort()) {
        const std::string d = m_dir.File("");
        ::chmod(d.c_str(), 0755);  // the workers may run as nobody
        ::mkdir((d + "htdocs").c_str(), 0755);
        WriteFile(d + "htdocs/index.txt", "protected\n");
        WriteFile(d + "htdocs/other.txt", "other\n");
        unsigned char md5[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        const std::string ha1 = user + ":camera:" + password;
        EVP_Digest(ha1.data(), ha1.size(), md5, &size, EVP_md5(), nullptr);
        std::string hex;
        for (unsigned int i = 0; i < size; ++i)
            hex += {"0123456789abcdef"[md5[i] >> 4], "0123456789abcdef"[md5[i] & 15]};
        WriteFile(d + "digest.pw", user + ":camera:" + hex + "\n");
        std::ostringstream conf;
        conf << "ServerRoot \"" << d << "\"\nServerName 127.0.0.1\nListen 127.0.0.1:" << m_port << "\n"
             << "PidFile \"" << d << "httpd.pid\"\nDefaultRuntimeDir \"" << d << "\"\nErrorLog \"" << d
             << "error.log\"\n";
        for (const char* module :
             {"mpm_event", "authn_core", "authn_file", "authz_core", "authz_user", "auth_digest", "setenvif"}) {
            conf << "LoadModule " << module << "_module /usr/lib/apache2/modules/mod_" << module << ".so\n";
        }
        if (::geteuid() == 0) conf << "User nobody\nGroup nogroup\n";
        conf << "SetEnvIf Authorization \"^Basic \" AUTHSCHEME=Basic\n"
             << "SetEnvIf Authorization \"^Digest \" AUTHSCHEME=Digest\n"
             << "LogFormat \"%m %U%q %>s %{AUTHSCHEME}e\" req\nCustomLog \"" << d << "access.log\" req\n"
             << "DocumentRoot \"" << d << "htdocs\"\n<Directory \"" << d << "htdocs\">\n"
             << "  AuthType Digest\n  AuthName \"camera\"\n  AuthDigestProvider file\n"
             << "  AuthUserFile \"" << d << "digest.pw\"\n  Require valid-user\n"
             << "  <Files \"other.txt\">\n    Require user someone-else\n  </Files>\n</Directory>\n";
        WriteFile(d + "httpd.conf", conf.str());
        const std::string confPath = d + "httpd.conf";
        const char* argv[] = {kApache, "-f", confPath.c_str(), "-DFOREGROUND", nullptr};
        if (::posix_spawn(&m_pid, kApache, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) m_pid = -1;
        m_ok = m_pid > 0 && WaitFor([&] { return ::waitpid(m_pid, nullptr, WNOHANG) == 0 && Accepts(); }, 10s);
    }
    ~Apache() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ok() const { return m_ok; }
    uint16_t Port() const { return m_port; }
    std::string ErrorLog() const { return ReadFile(m_dir.File("error.log")); }
    // The access log once it holds `count` lines, and a moment more for stragglers.
    std::vector<std::string> Log(size_t count) const {
        std::vector<std::string> lines;
        const auto read = [&] {
            lines.clear();
            std::istringstream in(ReadFile(m_dir.File("access.log")));
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            return lines.size() >= count;
        };
        WaitFor(read);
        std::this_thread::sleep_for(200ms);
        read();
        return lines;
    }

private:
    bool Accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(m_port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        ::close(fd);
        return ok;
    }
    TempDir m_dir;
    uint16_t m_port;
    pid_t m_pid = -1;
    bool m_ok = false;
};

TEST(CHttpSenderApache, DigestIsLearnedFromA401AndUsedFromThenOn) {
    if (::access(kApache, X_OK) != 0) GTEST_SKIP() << "apache2 is not installed";
    const std::string password = "Digest-Pa55";
    Apache apache("admin", password);
    ASSERT_TRUE(apache.Ok()) << apache.ErrorLog();

    CHttpSender sender(Device(apache.Port(), "admin", password));
    // Basic goes out first; the 401 names Digest, so the request is sent once
    // more with Digest, which libcurl meets on a handle of its own: without
    // credentials, then signed with the nonce of that 401.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/index.txt?cam=1&x=[2]")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.LearnedScheme(), Web::SchemeDigest);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "protected\n");
    // From now on Digest, each request with libcurl's own round (a handle is
    // never reused, so no nonce is kept); a 401 after it is the answer, with
    // no query and no resend of our own.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/index.txt")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/other.txt")));
    EXPECT_EQ(sender.StatusCode(), 401u);
    const std::vector<std::string> expected = {"GET /index.txt?cam=1&x=[2] 401 Basic",
                                               "GET /index.txt?cam=1&x=[2] 401 -",
                                               "GET /index.txt?cam=1&x=[2] 200 Digest",
                                               "GET /index.txt 401 -",
                                               "GET /index.txt 200 Digest",
                                               "GET /other.txt 401 -",
                                               "GET /other.txt 401 Digest"};
    auto log = apache.Log(expected.size());
    ASSERT_EQ(log.size(), expected.size()) << apache.ErrorLog();
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[i], expected[i]);
    EXPECT_EQ(apache.ErrorLog().find(password), std::string::npos);

    // A wrong password: one resend (with libcurl's round) after the first
    // 401, then 401 is the answer.
    const size_t before = log.size();
    CHttpSender wrong(Device(apache.Port(), "admin", "wrong"));
    ASSERT_TRUE(wrong.Send(HttpRequest("GET", "/index.txt")));
    EXPECT_EQ(wrong.StatusCode(), 401u);
    log = apache.Log(before + 3);  // logged after the answer went out: wait before the next client
    // Digest asked for: libcurl meets the challenge itself, nothing is learned.
    CHttpSender digest(Device(apache.Port(), "admin", password));
    HttpRequest request("GET", "/index.txt");
    request.authScheme = HttpRequest::AuthDigest;
    ASSERT_TRUE(digest.Send(request));
    EXPECT_EQ(digest.StatusCode(), 200u);
    EXPECT_EQ(digest.LearnedScheme(), 0u);
    log = apache.Log(before + 5);
    const char* const next[] = {"GET /index.txt 401 Basic", "GET /index.txt 401 -", "GET /index.txt 401 Digest",
                                "GET /index.txt 401 -", "GET /index.txt 200 Digest"};
    ASSERT_EQ(log.size(), before + 5);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(log[before + i], next[i]);
}

}  // namespace
