#pragma once

#include <QString>
#include <QWidget>

// The advertisement banner: a picture stretched over the whole control that opens
// its link in the desktop's browser when clicked.
class CDaltropBanner : public QWidget {
    Q_OBJECT
public:
    explicit CDaltropBanner(QWidget* parent = nullptr);

    // Shows the picture at imagePath and takes link as the click-through address.
    // UI thread only.
    void SetAdvert(const QString& imagePath, const QString& link);

    QString ImagePath() const { return m_imagePath; }
    QString Link() const { return m_link; }

private:
    QString m_imagePath;
    QString m_link;
};
