// The web link: its colours, its cursor, and a click that opens the maker's
// page; the about box ends with Enter, Esc and its Close button.
#include "tests/app/DialogTestSupport.h"

#include "app/AboutDlg.h"
#include "app/QvHyperLink.h"
#include "app/Resources.h"

#include <QDesktopServices>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

// Takes the addresses that would go to the desktop's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

int PixelsOfColour(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == colour.rgb();
    return count;
}

struct ShownLink {
    ShownLink() {
        link.setText(QStringLiteral("www.tesmara.example"));
        link.resize(160, 20);
        window.resize(200, 40);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QImage Picture() { return link.grab().toImage(); }
    QWidget window;
    CQvHyperLink link{&window};
};

} // namespace

TEST(HyperLink, MakersLinkKeepsItsColourUnderThePointer) {
    ShownLink shown;
    resources::SetUpMakerLink(shown.link);
    const QColor linkColour(0, 110, 255), hoverColour(17, 136, 255);
    EXPECT_GT(PixelsOfColour(shown.Picture(), linkColour), 10);
    QTest::mouseMove(&shown.link, QPoint(10, 10));
    EXPECT_GT(PixelsOfColour(shown.Picture(), linkColour), 10);
    EXPECT_EQ(PixelsOfColour(shown.Picture(), hoverColour), 0);
    EXPECT_EQ(shown.link.cursor().shape(), Qt::PointingHandCursor);
}

TEST(HyperLink, ClickOpensTheHomePage) {
    UrlCatcher catcher;
    ShownLink shown;
    resources::SetUpMakerLink(shown.link);
    QTest::mouseClick(&shown.link, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.first(), QUrl(QStringLiteral("http://www.tesmara.example/")));
    EXPECT_TRUE(shown.link.isVisible());
    // A press that ends outside the link is no click.
    QTest::mousePress(&shown.link, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&shown.link, Qt::LeftButton, {}, QPoint(170, 10));
    EXPECT_EQ(catcher.urls.size(), 1);
}

TEST(AboutBox, EndsWithEnterEscAndClose) {
    for (int way = 0; way < 3; ++way) {
        CAboutDlg about;
        QTimer::singleShot(0, &about, [&about, way] {
            if (way == 0)
                QTest::keyClick(&about, Qt::Key_Return);
            else if (way == 1)
                QTest::keyClick(&about, Qt::Key_Escape);
            else
                static_cast<QPushButton*>(about.Controls()[3])->click();
        });
        // Ends a box that the way under test left open, with a result of its own.
        QTimer::singleShot(3000, &about, [&about] { about.done(42); });
        const int result = about.DoModal();
        EXPECT_EQ(result, way == 1 ? QDialog::Rejected : QDialog::Accepted) << "way " << way;
    }
}

#include "HyperLinkTest.moc"
