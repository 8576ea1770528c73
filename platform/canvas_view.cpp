#include "platform/canvas_view.h"

#include <QPainter>

namespace {

constexpr u32 kOpaque = 0xFF000000;
constexpr int kStatusPixels = 24;

}  // namespace

CanvasView::CanvasView(QWidget* parent)
    : QWidget(parent), m_canvas(kCanvasSize, kCanvasSize, QImage::Format_RGB32)
{
    m_canvas.fill(Qt::black);
    // Everything is painted by paintEvent; Qt need not clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void CanvasView::setFrame(u32 width, u32 height, const QString& status)
{
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height);
    m_status = status;
    const u32 stride = pitch();
    u32* row = pixels();
    for (int y = 0; y < m_height; ++y, row += stride) {
        for (int x = 0; x < m_width; ++x)
            row[x] |= kOpaque;
    }
}

void CanvasView::clear()
{
    m_canvas.fill(Qt::black);
    m_status.clear();
    update();
}

void CanvasView::setShowCanvas(bool on)
{
    m_showCanvas = on;
    update();
}

QFont CanvasView::statusFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kStatusPixels);
    return font;
}

void CanvasView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!m_showCanvas) {
        if (m_background.isNull())
            painter.fillRect(rect(), Qt::black);
        else
            painter.drawImage(rect(), m_background);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(rect(), m_canvas, QRect(0, 0, m_width, m_height));
    if (m_status.isEmpty())
        return;
    painter.setFont(statusFont());
    painter.setPen(QColor(255, 255, 0));
    // A window narrower than a line breaks it between words, rather than
    // hide its end beyond the edge.
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_status);
}
