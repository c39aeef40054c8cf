#include "app/QvHyperLink.h"

#include "app/KestraboleApp.h"
#include "app/KestraboleDlg.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

CQvHyperLink::CQvHyperLink(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    // Hover is noticed from plain moves, without a button held.
    setMouseTracking(true);
}

QColor CQvHyperLink::CurrentColor() const {
    if (m_bHover)
        return m_crHover;
    return m_bUrlMode ? m_crUrl : m_crLink;
}

void CQvHyperLink::paintEvent(QPaintEvent*) {
    if (!m_bVisible)
        return;
    QPainter painter(this);
    painter.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    painter.setPen(CurrentColor());
    // The hover colour is shown for one painting only.
    m_bHover = false;
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, text());
}

void CQvHyperLink::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bTrackHover)
        return;
    m_bHover = rect().contains(event->position().toPoint());
    repaint();
}

void CQvHyperLink::leaveEvent(QEvent*) {
    if (!m_bTrackHover)
        return;
    m_bHover = false;
    repaint();
}

void CQvHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        OnClicked();
}

void CQvHyperLink::showEvent(QShowEvent* event) {
    m_bVisible = true;
    QLabel::showEvent(event);
}

void CQvHyperLink::hideEvent(QHideEvent* event) {
    m_bVisible = false;
    QLabel::hideEvent(event);
}

void CQvHyperLink::OnClicked() {
    if (m_bUrlMode) {
        QDesktopServices::openUrl(QUrl(m_strUrl));
    } else if (auto* dialog = qobject_cast<CKestraboleDlg*>(CKestraboleApp::MainWindow())) {
        dialog->OnTrayNotify(static_cast<uint32_t>(m_nCommand), 0);
    }
    m_bHover = false;
    repaint();
}
