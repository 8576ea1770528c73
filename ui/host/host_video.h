#pragma once

#include "core/machine/machine.h"
#include "core/emulator/media.h"
#include "core/base/types.h"

class CanvasView;

// The picture output. The compositor writes each finished line of the
// field straight into the view's 1024 x 1024 canvas through the pointer
// and pitch published in hostCanvas; once per tick the part the emulated
// display covers is drawn stretched over the view, with the status line.
class CD3d9 : public CGraphic {
public:
    static constexpr u32 kTextureSize = 1024;

    CD3d9() = default;
    ~CD3d9();

    // window: the CanvasView to draw into.
    bool init(void* window) override;
    void start() override;
    void stop() override;
    bool update() override;
    void present() override;

    // A size of 0, or above 1024, is drawn as 1024.
    static u32 clampSize(u32 size) { return size >= 1 && size <= kTextureSize ? size : kTextureSize; }
    CanvasView* view() const { return m_view; }

private:
    void publish();

    CanvasView* m_view = nullptr;
};

// The emulated display size, written by the main window each tick.
extern DisplaySize hostDisplaySize;
