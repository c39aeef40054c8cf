#include "LocalHttpServer.h"
#include "TempFolder.h"

#include "advert/HttpClient.h"

#include <gtest/gtest.h>

namespace {

const std::u16string kAgent = u"Tesmara AdClient";

std::string AllByteValues(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 256);
    return bytes;
}

std::size_t FilesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

class HttpClientTest : public ::testing::Test {
protected:
    std::u16string Get(const std::string& target) {
        return Client().GetText(U16(m_server.Url(target)), m_error);
    }
    bool Download(const std::string& target, const std::filesystem::path& local) {
        return Client().DownloadFile(U16(m_server.Url(target)), local.u16string(), m_error);
    }
    CHttpClient Client() const {
        return CHttpClient(kAgent, m_server.Port(),
                           HttpTimeouts{std::chrono::seconds(5), std::chrono::seconds(1)});
    }

    LocalHttpServer m_server;
    TempFolder m_folder;
    std::u16string m_error;
};

} // namespace

TEST(SplitUrl, TakesHostAndObjectPathWithoutParsingAPort) {
    struct Case {
        std::u16string address, host, object;
    };
    const Case cases[] = {
        {u"http://ads.tesmara.example/get.php?t=plain&w=425&h=65&lang=en", u"ads.tesmara.example",
         u"/get.php?t=plain&w=425&h=65&lang=en"},
        {u"http://ads.tesmara.example", u"ads.tesmara.example", u"/"},
        {u"ads.tesmara.example/a/b.jpg", u"ads.tesmara.example", u"/a/b.jpg"},
        {u"https://ads.tesmara.example/x", u"https:", u"//ads.tesmara.example/x"},
        {u"http://ads.tesmara.example:8080/x", u"ads.tesmara.example:8080", u"/x"},
    };
    for (const Case& c : cases) {
        const CHttpClient::UrlParts parts = CHttpClient::SplitUrl(c.address);
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.object, c.object);
    }
}

TEST_F(HttpClientTest, TextComesBackAsOneLineAndCarriesTheUserAgent) {
    m_server.Serve("/get.php?t=plain&w=425&h=65&lang=en", {200, "first;;\r\nsecond\nthird\r"});
    EXPECT_EQ(Get("/get.php?t=plain&w=425&h=65&lang=en"), u"first;;secondthird");
    EXPECT_EQ(m_server.LastUserAgent(), "Tesmara AdClient");
}

TEST_F(HttpClientTest, StatusDecidesTextAndFile) {
    m_server.Serve("/missing", {404, "nothing"});
    m_server.Serve("/broken", {500, "server error page"});
    m_server.Serve("/empty", {200, ""});
    EXPECT_EQ(Get("/missing"), u"Error: 404");
    EXPECT_EQ(Get("/broken"), u"");
    EXPECT_EQ(Get("/empty"), u"");

    EXPECT_FALSE(Download("/missing", m_folder / "missing.jpg"));
    EXPECT_FALSE(Download("/broken", m_folder / "broken.jpg"));
    EXPECT_TRUE(Download("/empty", m_folder / "empty.jpg"));
    EXPECT_EQ(FilesIn(m_folder.Path()), 1u);
    EXPECT_EQ(std::filesystem::file_size(m_folder / "empty.jpg"), 0u);
}

TEST_F(HttpClientTest, Status407IsRetriedExactlyOnce) {
    m_server.Serve("/once", std::vector<CannedResponse>{{407, ""}, {200, "granted"}});
    m_server.Serve("/always", {407, "denied"});
    EXPECT_EQ(Get("/once"), u"granted");
    EXPECT_EQ(m_server.RequestCount("/once"), 2);
    EXPECT_EQ(Get("/always"), u"");
    EXPECT_EQ(m_server.RequestCount("/always"), 2);
}

TEST_F(HttpClientTest, FileArrivesByteForByteAndReplacesAnOldOne) {
    const std::string body = AllByteValues(2500);
    m_server.Serve("/ad.bin", {200, body});
    WriteWholeFile(m_folder / "ad.bin", std::string(5000, 'x'));
    ASSERT_TRUE(Download("/ad.bin", m_folder / "ad.bin"));
    EXPECT_EQ(ReadWholeFile(m_folder / "ad.bin"), body);
    EXPECT_EQ(FilesIn(m_folder.Path()), 1u);
}

TEST_F(HttpClientTest, AddressesThatCannotBeReachedFailWithAnErrorText) {
    m_server.Serve("/x", {200, "reached"});
    const std::string portInHost = "http://127.0.0.1:" + std::to_string(m_server.Port()) + "/x";
    for (const std::string& address :
         {std::string("https://127.0.0.1/x"), portInHost, std::string("http://bad host/x")}) {
        m_error.clear();
        EXPECT_EQ(Client().GetText(U16(address), m_error), u"") << address;
        EXPECT_FALSE(m_error.empty()) << address;
        EXPECT_FALSE(Client().DownloadFile(U16(address), (m_folder / "x").u16string(), m_error));
    }
    EXPECT_EQ(m_server.RequestCount("/x"), 0);
    EXPECT_EQ(FilesIn(m_folder.Path()), 0u);
}

TEST(HttpClientUnreachable, RefusedConnectionGivesEmptyTextAndNoFile) {
    long closedPort = 0;
    {
        LocalHttpServer gone;
        closedPort = gone.Port();
    }
    TempFolder folder;
    std::u16string error;
    CHttpClient client(kAgent, closedPort);
    EXPECT_EQ(client.GetText(u"http://127.0.0.1/get", error), u"");
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(client.DownloadFile(u"http://127.0.0.1/get", (folder / "a").u16string(), error));
    EXPECT_FALSE(std::filesystem::exists(folder / "a"));
}

TEST_F(HttpClientTest, BodiesPastTheirLimitFailTheFetch) {
    m_server.Serve("/text-at-limit", {200, std::string(CHttpClient::kMaxTextBytes, 'a')});
    m_server.Serve("/text-too-long", {200, std::string(CHttpClient::kMaxTextBytes + 1, 'a')});
    m_server.Serve("/huge.jpg", {200, std::string(CHttpClient::kMaxFileBytes + 1, 'p')});
    EXPECT_EQ(Get("/text-at-limit").size(), CHttpClient::kMaxTextBytes);
    EXPECT_EQ(Get("/text-too-long"), u"");
    EXPECT_FALSE(Download("/huge.jpg", m_folder / "huge.jpg"));
    EXPECT_EQ(FilesIn(m_folder.Path()), 0u);
}

TEST_F(HttpClientTest, StalledServerIsGivenUpWithoutLeavingAPartialFile) {
    m_server.Serve("/silent", {200, "never sent", CannedResponse::Stall::BeforeHeaders});
    m_server.Serve("/half.jpg", {200, AllByteValues(4000), CannedResponse::Stall::MidBody});
    EXPECT_EQ(Get("/silent"), u"");
    EXPECT_FALSE(m_error.empty());
    EXPECT_FALSE(Download("/half.jpg", m_folder / "half.jpg"));
    EXPECT_EQ(FilesIn(m_folder.Path()), 0u);
}

TEST_F(HttpClientTest, FileThatCannotBeCreatedFailsTheDownload) {
    m_server.Serve("/ad.jpg", {200, "picture"});
    EXPECT_FALSE(Download("/ad.jpg", m_folder / "no-such-folder" / "ad.jpg"));
}
