#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>

class BannerHandOver;
class QSocketNotifier;

// The advertisement banner: a picture stretched over the whole control that opens
// its link in the desktop's browser when clicked. Lives on the UI thread; other
// threads reach it only through its HandOver().
class CDaltropBanner : public QWidget {
    Q_OBJECT
public:
    // The link until an advertisement replaces it: the maker's home page, as in the
    // dialog's web link.
    static inline const QString kMakerHomePage = QStringLiteral("http://www.tesmara.example/");

    explicit CDaltropBanner(QWidget* parent = nullptr);
    ~CDaltropBanner() override;

    // Loads the picture at path, converted to sRGB from its own colour profile, and
    // repaints. A missing or unreadable file leaves the background only.
    void SetImage(const QString& path);
    // Shows the picture at imagePath and takes link as the click-through address.
    void SetAdvert(const QString& imagePath, const QString& link);

    QString ImagePath() const { return m_strImagePath; }
    QString Link() const { return m_strLink; }

    // The way for another thread to hand an advertisement to this banner; it stays
    // safe to use after the banner is gone.
    std::shared_ptr<BannerHandOver> HandOver() const { return m_handOver; }

    // Only web addresses are handed to the desktop's opener: a link from the
    // advertisement server must not start programs or open local files.
    static bool IsWebLink(const QString& link);

    QSize sizeHint() const override { return {425, 65}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void OpenLink() const;
    void TakeHandedOverAdvert();

    QString m_strLink;
    QString m_strImagePath;
    QImage m_picture; // already in sRGB
    std::shared_ptr<BannerHandOver> m_handOver;
    std::unique_ptr<QSocketNotifier> m_handOverWatch; // goes before the hand-over
};
