#include "hooklib/XErrorTrap.h"

#include "hooklib/DisplayRegistry.h"

#include <mutex>

namespace {

// Never destroyed, like XConnection's registry, for traps set during static destruction.
DisplayRegistry<XErrorTrap*>& ActiveTraps() {
    static auto* registry = new DisplayRegistry<XErrorTrap*>;
    return *registry;
}

XErrorHandler previousHandler = nullptr;

} // namespace

XErrorTrap::XErrorTrap(Display* display)
    : m_display(display), m_firstRequest(NextRequest(display)) {
    static std::once_flag once;
    std::call_once(once, [] { previousHandler = XSetErrorHandler(Catch); });
    ActiveTraps().Add(display, this);
}

XErrorTrap::~XErrorTrap() {
    XSync(m_display, False);
    ActiveTraps().Remove(m_display);
}

bool XErrorTrap::Failed() {
    XSync(m_display, False);
    return m_failed;
}

int XErrorTrap::Catch(Display* display, XErrorEvent* error) {
    XErrorTrap* trap = ActiveTraps().Find(display);
    if (trap && error->serial >= trap->m_firstRequest) {
        trap->m_failed = true;
        return 0;
    }
    return previousHandler ? previousHandler(display, error) : 0;
}
