#include "QtTestApp.h"
#include "TempFolder.h"

#include "advert/DaltropBanner.h"

#include <QColorSpace>
#include <QDesktopServices>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Receives what the banner hands to the desktop's opener.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() {
        for (const char* scheme : {"http", "https", "file", "ftp"})
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~OpenedUrls() override {
        for (const char* scheme : {"http", "https", "file", "ftp"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList urls;

public slots:
    void Open(const QUrl& url) { urls << url.toString(); }
};

int ChannelDistance(QColor a, QColor b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

class DaltropBannerTest : public ::testing::Test {
protected:
    void SetUp() override { m_banner.resize(425, 65); }
    QImage Shown() { return m_banner.grab().toImage(); }
    QColor ShownAt(int x, int y) { return Shown().pixelColor(x, y); }
    void Click(Qt::MouseButton button, QPointF where = {200, 30}) {
        QMouseEvent press(QEvent::MouseButtonPress, where, m_banner.mapToGlobal(where), button,
                          button, Qt::NoModifier);
        QCoreApplication::sendEvent(&m_banner, &press);
    }
    // A picture of four coloured quarters, red and green on top, blue and white below.
    QString QuartersPicture(int width, int height) {
        QImage picture(width, height, QImage::Format_RGB32);
        QPainter painter(&picture);
        const int w = width / 2, h = height / 2;
        painter.fillRect(0, 0, w, h, Qt::red);
        painter.fillRect(w, 0, width - w, h, Qt::green);
        painter.fillRect(0, h, w, height - h, Qt::blue);
        painter.fillRect(w, h, width - w, height - h, Qt::white);
        painter.end();
        const QString path = QString::fromStdString((m_folder / "quarters.png").string());
        EXPECT_TRUE(picture.save(path));
        return path;
    }
    void ExpectQuartersOver(int width, int height) {
        m_banner.resize(width, height);
        const QImage shown = Shown();
        ASSERT_EQ(shown.size(), QSize(width, height));
        const int x1 = width / 4, x2 = width * 3 / 4, y1 = height / 4, y2 = height * 3 / 4;
        EXPECT_EQ(shown.pixelColor(x1, y1), QColor(Qt::red));
        EXPECT_EQ(shown.pixelColor(x2, y1), QColor(Qt::green));
        EXPECT_EQ(shown.pixelColor(x1, y2), QColor(Qt::blue));
        EXPECT_EQ(shown.pixelColor(x2, y2), QColor(Qt::white));
        EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::red));
        EXPECT_EQ(shown.pixelColor(width - 1, height - 1), QColor(Qt::white));
    }

    QApplication& m_app = QtTestApp(); // before any widget
    TempFolder m_folder;
    CDaltropBanner m_banner;
};

} // namespace

TEST_F(DaltropBannerTest, PictureIsStretchedOverTheWholeBannerInBothDirections) {
    m_banner.SetImage(QuartersPicture(20, 10));
    ExpectQuartersOver(425, 65);
    ExpectQuartersOver(60, 200);
}

TEST_F(DaltropBannerTest, PictureOfTheBannersSizeShowsOneToOne) {
    const char* bin = std::getenv("TESMARA_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    const QString path = QString(bin) + "/default-advert.jpg";
    const QImage picture = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(425, 65));
    m_banner.SetImage(path);
    const QImage shown = Shown().convertToFormat(QImage::Format_RGB32);
    int worst = 0;
    for (int y = 0; y < 65; ++y)
        for (int x = 0; x < 425; ++x)
            worst =
                std::max(worst, ChannelDistance(shown.pixelColor(x, y), picture.pixelColor(x, y)));
    EXPECT_LE(worst, 1);
}

TEST_F(DaltropBannerTest, MissingOrUnreadablePictureLeavesTheButtonFace) {
    const QColor face = m_banner.palette().color(QPalette::Button);
    WriteWholeFile(m_folder / "damaged.jpg", "\xff\xd8 not really a picture");
    for (const QString& path : {QString::fromStdString((m_folder / "absent.jpg").string()),
                                QString::fromStdString((m_folder / "damaged.jpg").string())}) {
        m_banner.SetImage(QuartersPicture(20, 10));
        m_banner.SetImage(path);
        const QImage shown = Shown();
        EXPECT_EQ(shown.pixelColor(0, 0), face);
        EXPECT_EQ(shown.pixelColor(212, 32), face);
        EXPECT_EQ(shown.pixelColor(424, 64), face);
    }
}

TEST_F(DaltropBannerTest, EmbeddedColourProfileIsApplied) {
    const QColor stored(40, 160, 90);
    QImage picture(64, 16, QImage::Format_RGB32);
    picture.fill(stored);
    picture.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    const QString path = QString::fromStdString((m_folder / "adobe.jpg").string());
    ASSERT_TRUE(picture.save(path, "JPEG", 100));
    ASSERT_EQ(QImageReader(path).read().colorSpace(), QColorSpace(QColorSpace::AdobeRgb))
        << "the test picture must carry its profile";

    const QColor expected = QColorSpace(QColorSpace::AdobeRgb)
                                .transformationToColorSpace(QColorSpace::SRgb)
                                .map(stored);
    ASSERT_GT(ChannelDistance(expected, stored), 10) << "the profile must make a difference";
    m_banner.SetImage(path);
    EXPECT_LE(ChannelDistance(ShownAt(212, 32), expected), 3);
}

TEST_F(DaltropBannerTest, LeftClickOpensTheCurrentWebLinkOnce) {
    OpenedUrls opened;
    Click(Qt::LeftButton);
    Click(Qt::RightButton);
    EXPECT_EQ(opened.urls, QStringList{CDaltropBanner::kMakerHomePage});

    opened.urls.clear();
    m_banner.SetAdvert(QuartersPicture(20, 10), "http://shop.tesmara.example/offer?id=7");
    Click(Qt::LeftButton, {1, 1});
    EXPECT_EQ(opened.urls, QStringList{"http://shop.tesmara.example/offer?id=7"});
    EXPECT_EQ(m_banner.cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(DaltropBannerTest, OnlyWebLinksAreOpened) {
    OpenedUrls opened;
    for (const QString& link :
         {QString(), QString("file:///etc/passwd"), QString("ftp://files.tesmara.example/x"),
          QString("/usr/bin/xterm"), QString("http://")}) {
        m_banner.SetAdvert(QuartersPicture(20, 10), link);
        Click(Qt::LeftButton);
    }
    EXPECT_TRUE(opened.urls.isEmpty()) << opened.urls.join(' ').toStdString();
}

#include "DaltropBannerTest.moc"
