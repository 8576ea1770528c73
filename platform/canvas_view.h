#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>

#include "core/base/types.h"

// The window's picture: while a game runs, the part of the canvas the
// emulated display covers, stretched with smooth scaling over the whole
// widget and the status text over it; otherwise the background picture.
class CanvasView : public QWidget {
public:
    static constexpr int kCanvasSize = 1024;

    explicit CanvasView(QWidget* parent = nullptr);

    // 1024 x 1024 pixels of 0x00RRGGBB; the pointer stays valid for the
    // view's lifetime.
    u32* pixels() { return reinterpret_cast<u32*>(m_canvas.bits()); }
    u32 pitch() const { return static_cast<u32>(m_canvas.bytesPerLine() / 4); }

    // Sets the drawn part of the canvas and the status text; makes the
    // covered pixels opaque, since the compositor leaves their top byte 0.
    void setFrame(u32 width, u32 height, const QString& status);
    void setShowCanvas(bool on);
    // A game starts on a black picture, not on the last one shown.
    void clear();
    bool showsCanvas() const { return m_showCanvas; }
    const QString& status() const { return m_status; }
    // The status text's font, for texts that must fit the view's width.
    static QFont statusFont();
    void setBackground(const QImage& picture) { m_background = picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_canvas;
    QImage m_background;
    QString m_status;
    int m_width = 320;
    int m_height = 224;
    bool m_showCanvas = false;
};
