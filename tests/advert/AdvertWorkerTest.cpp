#include "LocalHttpServer.h"
#include "QtTestApp.h"
#include "TempFolder.h"

#include "advert/AdvertResponse.h"
#include "advert/AdvertWorker.h"
#include "advert/BannerHandOver.h"
#include "advert/DaltropBanner.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const std::string kRequest = "/get.php?t=plain&w=425&h=65&lang=en";
const std::string kPicture = "/pics/ad1.jpg";
const std::string kPictureBytes = std::string("\xff\xd8 a picture \r\n\0 body", 20);
const std::string kLink = "http://shop.tesmara.example/offer";

class AdvertWorkerTest : public ::testing::Test {
protected:
    std::string Answer(const std::string& pictureAddress, const std::string& link) const {
        return "id7;;" + pictureAddress + ";;425;;65;;Spring offer;;" + link;
    }
    std::optional<Advert> Fetch() {
        AdvertServer server{u"127.0.0.1", m_server.Port(),
                            HttpTimeouts{std::chrono::seconds(5), std::chrono::seconds(1)}};
        return FetchAdvert(server, m_cache.Path().u16string() + u"/");
    }

    LocalHttpServer m_server;
    TempFolder m_cache;
};

} // namespace

TEST(AdvertResponse, SeparatorRunsAndLeadingSeparatorsCountAsOne) {
    const std::u16string expectedPicture = u"http://a.example/ad1.jpg";
    for (const char16_t* text : {
             u"a;;http://a.example/ad1.jpg;;c;;d;;e;;http://l.example/",
             u"a;http://a.example/ad1.jpg;c;d;e;http://l.example/",
             u"a;;;http://a.example/ad1.jpg;;;c;;;d;;;e;;;http://l.example/",
             u"a;;;;http://a.example/ad1.jpg;;;;c;;;;d;;;;e;;;;http://l.example/",
             u";;a;;http://a.example/ad1.jpg;;c;;d;;e;;http://l.example/;;",
             u"a;;http://a.example/ad1.jpg;;c;;d;;e;;http://l.example/;;seventh;;eighth",
         }) {
        const auto response = AdvertResponse::Parse(text);
        ASSERT_TRUE(response) << QString::fromUtf16(text).toStdString();
        EXPECT_EQ(response->pictureAddress, expectedPicture);
        EXPECT_EQ(response->link, u"http://l.example/");
    }
}

TEST(AdvertResponse, FiveFieldsGiveAnEmptyLinkAndFewerGiveNothing) {
    const auto five = AdvertResponse::Parse(u"a;;pic;;c;;d;;e");
    ASSERT_TRUE(five);
    EXPECT_EQ(five->pictureAddress, u"pic");
    EXPECT_EQ(five->link, u"");
    EXPECT_FALSE(AdvertResponse::Parse(u"a;;pic;;c;;d"));
    EXPECT_FALSE(AdvertResponse::Parse(u"Error: 404"));
    EXPECT_FALSE(AdvertResponse::Parse(u";;;;;;"));
    EXPECT_EQ(SplitAdvertFields(u" a ;; b", 6), (std::vector<std::u16string>{u" a ", u" b"}));
}

TEST(AdvertResponse, PictureNameIsTheLastComponentAndMustBePlain) {
    EXPECT_EQ(PictureFileName(u"http://a.example/pics/ad1.jpg"), u"ad1.jpg");
    EXPECT_EQ(PictureFileName(u"http://a.example/pic.php?id=3"), u"pic.php?id=3");
    EXPECT_EQ(PictureFileName(u"http://a.example/dir/"), u"dir/");
    EXPECT_EQ(PictureFileName(u"c:\\ads\\ad2.png"), u"ad2.png");

    EXPECT_TRUE(IsCacheableName(u"ad1.jpg"));
    EXPECT_TRUE(IsCacheableName(std::u16string(128, u'n')));
    for (const std::u16string& name :
         {std::u16string(u""), std::u16string(u"."), std::u16string(u".."),
          std::u16string(u".hidden.jpg"), std::u16string(u"dir/"), std::u16string(129, u'n'),
          std::u16string(u"a\u0001b.jpg"), std::u16string(64, u'\u00e9') + u"x"})
        EXPECT_FALSE(IsCacheableName(name));
}

TEST_F(AdvertWorkerTest, FetchesThePictureIntoTheCacheAndKeepsItsLink) {
    m_server.Serve(kRequest, {200, Answer(m_server.Url(kPicture), kLink)});
    m_server.Serve(kPicture, {200, kPictureBytes});
    const auto advert = Fetch();
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->imagePath, (m_cache / "ad1.jpg").u16string());
    EXPECT_EQ(advert->link, U16(kLink));
    EXPECT_EQ(ReadWholeFile(m_cache / "ad1.jpg"), kPictureBytes);
    EXPECT_EQ(m_server.LastUserAgent(), "Tesmara AdClient");
}

TEST_F(AdvertWorkerTest, FiveFieldsShowThePictureWithAnEmptyLink) {
    m_server.Serve(kRequest, {200, "id7;;" + m_server.Url(kPicture) + ";;425;;65;;Spring"});
    m_server.Serve(kPicture, {200, kPictureBytes});
    const auto advert = Fetch();
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->link, u"");
    EXPECT_TRUE(std::filesystem::exists(m_cache / "ad1.jpg"));
}

TEST_F(AdvertWorkerTest, CachedPictureIsUsedWithoutASecondRequest) {
    WriteWholeFile(m_cache / "ad1.jpg", "from an earlier run");
    m_server.Serve(kRequest, {200, Answer(m_server.Url(kPicture), kLink)});
    m_server.Serve(kPicture, {200, kPictureBytes});
    const auto advert = Fetch();
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->link, U16(kLink));
    EXPECT_EQ(m_server.RequestCount(kPicture), 0);
    EXPECT_EQ(ReadWholeFile(m_cache / "ad1.jpg"), "from an earlier run");
}

TEST_F(AdvertWorkerTest, NoAdvertWhenTheServerHasNoUsableAnswer) {
    for (const CannedResponse& answer :
         {CannedResponse{200, ""}, CannedResponse{404, ""}, CannedResponse{500, "oops"},
          CannedResponse{200, "only;;three;;fields"}}) {
        m_server.Serve(kRequest, answer);
        EXPECT_FALSE(Fetch()) << answer.status << " " << answer.body;
    }
    m_server.Serve(kRequest, {200, Answer(m_server.Url(kPicture), kLink)});
    m_server.Serve(kPicture, {404, ""});
    EXPECT_FALSE(Fetch());
    EXPECT_FALSE(std::filesystem::exists(m_cache / "ad1.jpg"));
}

TEST_F(AdvertWorkerTest, UnsafeLinksAndPictureNamesAreRefusedBeforeAnyDownload) {
    const std::string goodPicture = m_server.Url(kPicture);
    const std::pair<std::string, std::string> answers[] = {
        {goodPicture, "file:///etc/passwd"},
        {goodPicture, "javascript:alert(1)"},
        {goodPicture, "ftp://files.example/x"},
        {goodPicture, "/usr/bin/xterm"},
        {m_server.Url("/pics/.."), kLink},
        {m_server.Url("/pics/.profile"), kLink},
        {m_server.Url("/pics/dir/"), kLink},
        {m_server.Url("/pics/" + std::string(129, 'n')), kLink},
    };
    for (const auto& [picture, link] : answers) {
        m_server.Serve(kRequest, {200, Answer(picture, link)});
        EXPECT_FALSE(Fetch()) << picture << " " << link;
    }
    EXPECT_EQ(m_server.RequestCount(kPicture), 0);
    EXPECT_TRUE(std::filesystem::is_empty(m_cache.Path()));
}

TEST_F(AdvertWorkerTest, BrokenDownloadDoesNotPoisonTheCache) {
    m_server.Serve(kRequest, {200, Answer(m_server.Url(kPicture), kLink)});
    m_server.Serve(kPicture,
                   std::vector<CannedResponse>{{200, kPictureBytes, CannedResponse::Stall::MidBody},
                                               {200, kPictureBytes}});
    EXPECT_FALSE(Fetch());
    EXPECT_TRUE(std::filesystem::is_empty(m_cache.Path()));
    const auto advert = Fetch();
    ASSERT_TRUE(advert);
    EXPECT_EQ(ReadWholeFile(m_cache / "ad1.jpg"), kPictureBytes);
}

// The preparation on the UI thread and the hand-over from the worker thread.
class PrepareAdvertTest : public AdvertWorkerTest {
protected:
    void SetUp() override {
        QtTestApp();
        setenv("TMPDIR", m_temp.Path().c_str(), 1);
        m_server.Serve(kRequest, {200, Answer(m_server.Url(kPicture), kLink),
                                  CannedResponse::Stall::BeforeHeaders});
        m_server.Serve(kPicture, {200, kPictureBytes});
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    void Prepare(CDaltropBanner& banner) {
        PrepareAdvert(banner,
                      AdvertServer{u"127.0.0.1", m_server.Port(),
                                   HttpTimeouts{std::chrono::seconds(5), std::chrono::seconds(30)}},
                      ProgramFolder().u16string() + u"/");
    }
    // Where the build puts the program and its default picture.
    static std::filesystem::path ProgramFolder() {
        const char* bin = std::getenv("TESMARA_BIN_DIR");
        return bin ? bin : "";
    }
    QString Cached(const std::string& name) const {
        return QString::fromStdString((m_temp.Path() / "DSR" / name).string());
    }

    TempFolder m_temp;
};

TEST_F(PrepareAdvertTest, DefaultShowsAtOnceAndTheAdvertReplacesItOnTheUiThread) {
    ASSERT_TRUE(std::filesystem::exists(ProgramFolder() / "default-advert.jpg"));
    std::filesystem::create_directory(m_temp / "DSR");
    WriteWholeFile(m_temp / "DSR" / "default-advert.jpg", "left by an earlier start");
    CDaltropBanner banner;
    Prepare(banner);
    EXPECT_EQ(banner.ImagePath(), Cached("default-advert.jpg"));
    EXPECT_EQ(banner.Link(), CDaltropBanner::kMakerHomePage);
    EXPECT_EQ(ReadWholeFile(m_temp.Path() / "DSR" / "default-advert.jpg"),
              ReadWholeFile(ProgramFolder() / "default-advert.jpg"));

    m_server.ReleaseStalls();
    ASSERT_TRUE(ProcessEventsUntil([&] { return banner.ImagePath() == Cached("ad1.jpg"); }));
    EXPECT_EQ(banner.Link(), QString::fromStdString(kLink));
}

// The worker holds the hand-over until it ends, so its use count tells when it is done.
TEST_F(PrepareAdvertTest, WorkerOutlivingItsBannerDeliversNothing) {
    auto banner = std::make_unique<CDaltropBanner>();
    Prepare(*banner);
    const std::shared_ptr<BannerHandOver> handOver = banner->HandOver();
    ASSERT_EQ(handOver.use_count(), 3);
    banner.reset();
    m_server.ReleaseStalls();
    ASSERT_TRUE(ProcessEventsUntil([&] { return handOver.use_count() == 1; }));
    EXPECT_EQ(m_server.RequestCount(kPicture), 1);
    EXPECT_FALSE(handOver->Take());
}

TEST_F(PrepareAdvertTest, CacheFolderOthersCanWriteIsNotUsed) {
    std::filesystem::create_directory(m_temp / "DSR");
    chmod((m_temp / "DSR").c_str(), 0777);
    CDaltropBanner banner;
    Prepare(banner);
    EXPECT_EQ(banner.HandOver().use_count(), 2) << "no worker may start";
    EXPECT_EQ(banner.ImagePath(),
              QString::fromStdString((ProgramFolder() / "default-advert.jpg").string()));
    EXPECT_FALSE(std::filesystem::exists(m_temp / "DSR" / "default-advert.jpg"));
}
