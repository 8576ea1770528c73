#include "ui/host/host_video.h"

#include "core/base/object.h"
#include "core/base/shared_state.h"
#include "platform/canvas_view.h"

DisplaySize hostDisplaySize;

CD3d9::~CD3d9()
{
    // The compositor must not write into a canvas that has gone.
    if (m_view && hostCanvas.pixels == m_view->pixels())
        hostCanvas = {};
}

bool CD3d9::init(void* window)
{
    m_view = static_cast<CanvasView*>(window);
    if (!m_view) {
        logSink().write(kLogError, "INIT", "m_hWnd");
        return false;
    }
    publish();
    return true;
}

void CD3d9::publish()
{
    hostCanvas.pixels = m_view->pixels();
    hostCanvas.pitch = m_view->pitch();
}

void CD3d9::start()
{
    CGraphic::start();
    if (m_view) {
        m_view->clear();
        m_view->setShowCanvas(true);
    }
}

void CD3d9::stop()
{
    CGraphic::stop();
    if (m_view)
        m_view->setShowCanvas(false);
}

bool CD3d9::update()
{
    if (!CMedia::update() || !m_view)
        return false;
    // The status text is copied: the caller's buffer may be gone by the
    // time the view paints.
    m_view->setFrame(clampSize(hostDisplaySize.width), clampSize(hostDisplaySize.height), QString::fromUtf8(m_text));
    publish();
    return true;
}

void CD3d9::present()
{
    if (m_view && m_opened && m_running)
        m_view->repaint();
}
