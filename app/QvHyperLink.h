#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

// A static text that acts as a web link: drawn in a link colour with the
// desktop's general font, a hand cursor over it, and a click opens the address
// in the desktop's browser (or, out of address mode, notifies the main window).
class CQvHyperLink : public QLabel {
    Q_OBJECT
public:
    explicit CQvHyperLink(QWidget* parent = nullptr);

    // The colour the next painting uses.
    QColor CurrentColor() const;

    QColor m_crLink{0, 110, 255};
    QColor m_crHover{17, 136, 255};
    QColor m_crUrl = m_crLink;
    int32_t m_nCommand = 0;
    bool m_bUrlMode = false;
    QString m_strUrl;
    bool m_bTrackHover = true;
    bool m_bHover = false;
    bool m_bVisible = true;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnClicked();
};
