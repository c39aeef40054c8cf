#pragma once

#include "hooklib/KeyHook.h"
#include "hooklib/KeyNames.h"
#include "hooklib/KeyReports.h"
#include "hooklib/RawEventHook.h"

#include <memory>

// Watches the desktop's keyboard while a recording shows keys, by XInput2 raw key
// events, and reports the keys that may be shown (see KeyReports).
class RawKeyHook : public KeyHook, private RawEventHook {
public:
    // Null when keys are not shown, there is no display or the server lacks XInput2.
    static std::unique_ptr<RawKeyHook> Start(Window target, keynames::KeyShowing showing);
    ~RawKeyHook() override;

private:
    RawKeyHook(Window target, keynames::KeyShowing showing)
        : RawEventHook(target), m_keys(showing) {}
    void Select(Display* display) override;
    void Dispatch(Display* display, int eventType, const XIRawEvent& event) override;

    KeyReports m_keys;
};
