#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/RegistryFileBackend.h"
#include "shell/InstallStatistics.h"
#include "shell/Settings.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;

constexpr auto kUser = RegistryRoot::CurrentUser;

// An HTTP server on 127.0.0.1 that answers one connection at a time and keeps the head of every
// request it received.
class LoopbackServer
{
public:
    enum class Answer {
        RedirectThenOk, // /stat... -> 302 to /landing -> 200
        ServerError, // 500 for everything
        Silence, // accepts, reads the request, never answers
    };

    explicit LoopbackServer(Answer answer) : m_answer(answer)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~LoopbackServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (const int held : m_held)
            ::close(held);
        if (m_listener >= 0)
            ::close(m_listener);
    }

    bool running() const { return m_port != 0; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    std::vector<std::string> requests()
    {
        const std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, 20) <= 0)
                continue;
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const std::string head = readHead(client);
            {
                const std::lock_guard lock(m_mutex);
                m_requests.push_back(head);
            }
            if (m_answer == Answer::Silence) {
                m_held.push_back(client);
                continue;
            }
            const std::string reply = replyTo(head);
            [[maybe_unused]] const auto sent = ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }

    std::string readHead(int client)
    {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, 2000) <= 0)
                break;
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        return head;
    }

    std::string replyTo(const std::string& head) const
    {
        if (m_answer == Answer::ServerError)
            return "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        if (head.starts_with("GET /stat"))
            return "HTTP/1.1 302 Found\r\nLocation: /landing\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\nConnection: close\r\n\r\nthanks";
    }

    Answer m_answer;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<int> m_held;
};

class NetworkFacts : public SystemFacts
{
public:
    bool online = true;
    int connectionTests = 0;

    std::optional<std::int32_t> osMajorVersion() override { return 10; }
    std::string executablePath() override { return {}; }
    std::string programFilesFolder() override { return {}; }
    std::string desktopFolder() override { return {}; }
    std::string temporaryFolder() override { return "/tmp"; }
    bool isInternetConnected() override
    {
        ++connectionTests;
        return online;
    }
};

// Records what would have been sent; no network at all.
class RecordingHttp : public HttpClient
{
public:
    std::vector<std::string> urls;
    HttpGetOptions lastOptions;
    std::optional<int> get(const std::string& url, const HttpGetOptions& options) override
    {
        urls.push_back(url);
        lastOptions = options;
        return std::nullopt;
    }
};

class InstallStatistics : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A proxy from the environment would take the loopback requests elsewhere.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::unsetenv(name);
    }

    std::optional<RegistryValue> installStat() { return store.readValue(kUser, kSettingsKey, setting::kInstallStat); }

    TempFolder temp;
    RegistryFileBackend store{temp / "registry.reg"};
    NetworkFacts facts;
};

std::vector<std::string> headerLines(const std::string& head)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        lines.push_back(head.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST_F(InstallStatistics, EndpointLiesOnADomainThatNeverResolves)
{
    const std::string endpoint = InstallStatisticsEndpoint();
    EXPECT_EQ(endpoint.size(), 51u);
    ASSERT_TRUE(endpoint.starts_with("https://"));
    const std::string host = endpoint.substr(8, endpoint.find('/', 8) - 8);
    EXPECT_TRUE(host.ends_with(".invalid")) << host;
}

TEST_F(InstallStatistics, SendsTheRequestAndFollowsTheRedirect)
{
    LoopbackServer server(LoopbackServer::Answer::RedirectThenOk);
    ASSERT_TRUE(server.running());
    store.writeValue(kUser, kSettingsKey, "CompilerVersion", RegistryValue::string("  RAD 10.4 & x=y#1/ü \t"));
    CurlHttpClient http;

    SendInstallStatisticsTo(server.base() + "/stat/install", store, facts, http);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto first = headerLines(requests[0]);
    const auto second = headerLines(requests[1]);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(first[0],
              "GET /stat/install?partner=Orvandel&build=4.5&compiler=RAD%2010.4%20%26%20x%3Dy%231%2F%C3%BC HTTP/1.1");
    EXPECT_EQ(second[0], "GET /landing HTTP/1.1");
    for (const auto& lines : {first, second}) {
        const std::vector<std::string> headers(lines.begin() + 1, lines.end());
        EXPECT_EQ(headers,
                  (std::vector<std::string>{"Host: 127.0.0.1:" + server.base().substr(17),
                                            "User-Agent: Mozilla/5.0 Indy", "Accept: */*"}));
    }
    EXPECT_EQ(installStat(), RegistryValue::dword(1));
}

TEST_F(InstallStatistics, WithoutCompilerVersionTheUrlEndsInAnEmptyValue)
{
    RecordingHttp http;
    SendInstallStatistics(store, facts, http);
    ASSERT_EQ(http.urls.size(), 1u);
    EXPECT_EQ(http.urls[0], InstallStatisticsEndpoint() + "?partner=Orvandel&build=4.5&compiler=");
    EXPECT_EQ(http.lastOptions.userAgent, "Mozilla/5.0 Indy");
    EXPECT_TRUE(http.lastOptions.followRedirects);
    EXPECT_GT(http.lastOptions.connectTimeout.count(), 0);
    EXPECT_GT(http.lastOptions.totalTimeout.count(), 0);
}

TEST_F(InstallStatistics, AnyOutcomeWhileOnlineMarksTheRequestMade)
{
    CurlHttpClient http;
    {
        SCOPED_TRACE("server error");
        LoopbackServer server(LoopbackServer::Answer::ServerError);
        SendInstallStatisticsTo(server.base() + "/stat", store, facts, http);
        EXPECT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(installStat(), RegistryValue::dword(1));
    }
    {
        SCOPED_TRACE("connection refused");
        TempFolder fresh;
        RegistryFileBackend freshStore(fresh / "registry.reg");
        std::string closedPort;
        {
            LoopbackServer gone(LoopbackServer::Answer::ServerError);
            closedPort = gone.base();
        }
        SendInstallStatisticsTo(closedPort + "/stat", freshStore, facts, http);
        EXPECT_EQ(freshStore.readValue(kUser, kSettingsKey, setting::kInstallStat), RegistryValue::dword(1));
    }
}

TEST_F(InstallStatistics, GivesUpWithinItsTimeLimitWhenNothingAnswers)
{
    LoopbackServer server(LoopbackServer::Answer::Silence);
    ASSERT_TRUE(server.running());
    CurlHttpClient http;
    const auto start = std::chrono::steady_clock::now();
    SendInstallStatisticsTo(server.base() + "/stat", store, facts, http);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_GE(took, kStatisticsTotalTimeout - 100ms);
    EXPECT_LT(took, kStatisticsTotalTimeout + 1500ms);
    EXPECT_EQ(installStat(), RegistryValue::dword(1));
}

TEST_F(InstallStatistics, OfflineNothingIsSentAndTheNextShowingTriesAgain)
{
    RecordingHttp http;
    facts.online = false;
    SendInstallStatisticsIfDue(store, facts, http);
    EXPECT_TRUE(http.urls.empty());
    EXPECT_FALSE(installStat());
    EXPECT_FALSE(std::filesystem::exists(store.file())) << "nothing written, not even the key";

    facts.online = true;
    SendInstallStatisticsIfDue(store, facts, http);
    EXPECT_EQ(http.urls.size(), 1u);
    EXPECT_EQ(installStat(), RegistryValue::dword(1));

    SendInstallStatisticsIfDue(store, facts, http);
    EXPECT_EQ(http.urls.size(), 1u) << "made once per user";
    EXPECT_EQ(facts.connectionTests, 2) << "no connection test once it was made";
}

TEST_F(InstallStatistics, AFlagStoredAsTextIsDueAndRewrittenAsANumber)
{
    store.writeValue(kUser, kSettingsKey, "InstallStat", RegistryValue::string("1"));
    RecordingHttp http;
    SendInstallStatisticsIfDue(store, facts, http);
    EXPECT_EQ(http.urls.size(), 1u);
    EXPECT_EQ(installStat(), RegistryValue::dword(1));
}

} // namespace
} // namespace orv
