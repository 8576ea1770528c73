#pragma once

#include <string>

#include "core/base/device.h"

class CMachine;

// The host life cycle shared by the video, input and sound outputs and the
// emulator object.
class CMedia {
public:
    virtual bool init(void* window);
    virtual void start();
    virtual void stop();
    virtual bool resume();
    virtual bool pause();
    virtual bool update();

    u8 opened() const { return m_opened; }
    u8 running() const { return m_running; }

protected:
    ~CMedia() = default;
    u8 m_opened = 0;
    u8 m_running = 0;
};

class CGraphic : public CMedia {
public:
    virtual void present() {}
    virtual void setText(const std::string& text) { m_text = text; }
    const std::string& text() const { return m_text; }

protected:
    ~CGraphic() = default;
    std::string m_text;
};

class CInput : public CMedia {
protected:
    ~CInput() = default;
};

class CSound : public CMedia {
protected:
    ~CSound() = default;
    void* m_output = nullptr;
};

// The emulator object's base: each update runs one field of its machine.
class CEmuX : public CMedia, public Hook {
public:
    CEmuX() : Hook("Hook") {}
    ~CEmuX() override = default;

    bool update() override;
    virtual std::string getInfo(int index);
    virtual void reset() {}
    virtual void* getPart(int) { return nullptr; }

    CMachine* machine() const { return m_machine; }

protected:
    CMachine* m_machine = nullptr;
};
