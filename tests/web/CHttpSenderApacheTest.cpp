#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "web/CHttpSender.h"
#include "web/HttpText.h"
#include "web/TestServers.h"

extern char** environ;

namespace {

using namespace webtest;
using Web::CHttpSender;
using Web::HttpRequest;

constexpr const char* kApache = "/usr/sbin/apache2";
constexpr const char* kModules = "/usr/lib/apache2/modules";

std::string Md5Hex(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    std::string hex;
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), 0644);
}

bool Accepts(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

// Apache httpd in the foreground with a configuration of its own: one
// directory behind Digest authentication, with one file only another user
// may read.
class Apache {
public:
    Apache(const std::string& user, const std::string& password)
    {
        const std::string& d = m_dir.Path();
        ::chmod(d.c_str(), 0755);  // the workers may run as nobody
        ::mkdir((d + "/htdocs").c_str(), 0755);
        WriteFile(d + "/htdocs/index.txt", "protected\n");
        WriteFile(d + "/htdocs/other.txt", "other\n");
        WriteFile(d + "/digest.pw", user + ":camera:" + Md5Hex(user + ":camera:" + password) + "\n");
        m_port = FreePort();
        std::ostringstream conf;
        conf << "ServerRoot \"" << d << "\"\n"
             << "ServerName 127.0.0.1\n"
             << "Listen 127.0.0.1:" << m_port << "\n"
             << "PidFile \"" << d << "/httpd.pid\"\n"
             << "DefaultRuntimeDir \"" << d << "\"\n"
             << "ErrorLog \"" << d << "/error.log\"\n";
        for (const char* module : {"mpm_event", "authn_core", "authn_file", "authz_core", "authz_user",
                                   "auth_digest", "setenvif"}) {
            conf << "LoadModule " << module << "_module " << kModules << "/mod_" << module << ".so\n";
        }
        if (::geteuid() == 0) {
            conf << "User nobody\nGroup nogroup\n";
        }
        conf << "SetEnvIf Authorization \"^Basic \" AUTHSCHEME=Basic\n"
             << "SetEnvIf Authorization \"^Digest \" AUTHSCHEME=Digest\n"
             << "LogFormat \"%m %U%q %>s %{AUTHSCHEME}e\" req\n"
             << "CustomLog \"" << d << "/access.log\" req\n"
             << "DocumentRoot \"" << d << "/htdocs\"\n"
             << "<Directory \"" << d << "/htdocs\">\n"
             << "  AuthType Digest\n  AuthName \"camera\"\n  AuthDigestProvider file\n"
             << "  AuthUserFile \"" << d << "/digest.pw\"\n  Require valid-user\n"
             << "  <Files \"other.txt\">\n    Require user someone-else\n  </Files>\n"
             << "</Directory>\n";
        WriteFile(d + "/httpd.conf", conf.str());

        const std::string confPath = d + "/httpd.conf";
        char* argv[] = {const_cast<char*>(kApache), const_cast<char*>("-f"), const_cast<char*>(confPath.c_str()),
                        const_cast<char*>("-DFOREGROUND"), nullptr};
        if (::posix_spawn(&m_pid, kApache, nullptr, nullptr, argv, environ) != 0) {
            m_pid = -1;
            return;
        }
        WaitFor([&] { return Accepts(m_port) || ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, 10s);
        m_ok = Accepts(m_port);
    }
    ~Apache()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Ok() const { return m_ok; }
    uint16_t Port() const { return m_port; }
    std::string ErrorLog() const { return ReadFile(m_dir.File("error.log")); }
    std::vector<std::string> Log() const
    {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(m_dir.File("access.log")));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The access log once it holds `count` lines.
    std::vector<std::string> LogOf(size_t count) const
    {
        WaitFor([&] { return Log().size() >= count; }, 5s);
        return Log();
    }

private:
    TempDir m_dir;
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    bool m_ok = false;
};

TEST(CHttpSenderApache, DigestIsLearnedFromA401AndUsedFromThenOn)
{
    if (::access(kApache, X_OK) != 0) GTEST_SKIP() << "apache2 is not installed";
    const std::string password = "Digest-Pa55";
    Apache apache("admin", password);
    ASSERT_TRUE(apache.Ok()) << apache.ErrorLog();

    CHttpSender sender(Device(apache.Port(), "admin", password));
    // Basic goes out first; the 401 names Digest, so the request is sent once
    // more, signed with the nonce libcurl kept from that same 401.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/index.txt?cam=1&x=[2]")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.LearnedScheme(), Web::SchemeDigest);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "protected\n");
    auto log = apache.LogOf(2);
    ASSERT_EQ(log.size(), 2u) << apache.ErrorLog();
    EXPECT_EQ(log[0], "GET /index.txt?cam=1&x=[2] 401 Basic");
    EXPECT_EQ(log[1], "GET /index.txt?cam=1&x=[2] 200 Digest");

    // From now on Digest straight away.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/index.txt")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    log = apache.LogOf(3);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log.back(), "GET /index.txt 200 Digest");

    // A 401 now is the answer: no query, no resend of our own.
    const size_t before = log.size();
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/other.txt")));
    EXPECT_EQ(sender.StatusCode(), 401u);
    EXPECT_EQ(sender.LearnedScheme(), Web::SchemeDigest);
    std::this_thread::sleep_for(200ms);
    log = apache.Log();
    size_t basic = 0;
    for (size_t i = before; i < log.size(); ++i) {
        EXPECT_EQ(log[i].rfind("GET /other.txt ", 0), 0u) << log[i];
        if (log[i].find("Basic") != std::string::npos) ++basic;
    }
    EXPECT_EQ(basic, 0u);
    EXPECT_LE(log.size() - before, 2u);  // at most libcurl's own Digest round
    EXPECT_EQ(log.back(), "GET /other.txt 401 Digest");
    EXPECT_EQ(apache.ErrorLog().find(password), std::string::npos);
}

TEST(CHttpSenderApache, WrongPasswordEndsWith401AfterOneResend)
{
    if (::access(kApache, X_OK) != 0) GTEST_SKIP() << "apache2 is not installed";
    Apache apache("admin", "right");
    ASSERT_TRUE(apache.Ok()) << apache.ErrorLog();
    CHttpSender sender(Device(apache.Port(), "admin", "wrong"));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/index.txt")));
    EXPECT_EQ(sender.StatusCode(), 401u);
    EXPECT_EQ(sender.LearnedScheme(), Web::SchemeDigest);
    const auto log = apache.LogOf(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "GET /index.txt 401 Basic");
    EXPECT_EQ(log[1], "GET /index.txt 401 Digest");
}

TEST(CHttpSenderApache, DigestAskedForIsAnsweredWithinOneSend)
{
    if (::access(kApache, X_OK) != 0) GTEST_SKIP() << "apache2 is not installed";
    Apache apache("admin", "right");
    ASSERT_TRUE(apache.Ok()) << apache.ErrorLog();
    CHttpSender sender(Device(apache.Port(), "admin", "right"));
    HttpRequest request("GET", "/index.txt");
    request.authScheme = HttpRequest::AuthDigest;
    // libcurl meets the challenge itself; its 401 never reaches the caller.
    ASSERT_TRUE(sender.Send(request));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.LearnedScheme(), 0u);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "protected\n");
    const auto log = apache.LogOf(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "GET /index.txt 401 -");
    EXPECT_EQ(log[1], "GET /index.txt 200 Digest");
}

}  // namespace
