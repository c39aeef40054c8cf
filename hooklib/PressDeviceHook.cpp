#include "hooklib/PressDeviceHook.h"

#include "hooklib/ClickChannel.h"
#include "hooklib/HookThread.h"
#include "hooklib/ScopedWindow.h"
#include "hooklib/ThisThread.h"
#include "hooklib/XConnection.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>

namespace {

uint32_t MessageFor(unsigned button) {
    return button == BTN_LEFT ? clickchannel::kLeftButtonDown : clickchannel::kRightButtonDown;
}

void Drain(int counter) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(counter, &count, sizeof count);
}

} // namespace

std::unique_ptr<PressDeviceHook> PressDeviceHook::Start(Window target, const std::string& folder) {
    std::unique_ptr<PressDeviceHook> hook(new PressDeviceHook(target, folder));
    return hook->m_started.get() ? std::move(hook) : nullptr;
}

PressDeviceHook::PressDeviceHook(Window target, std::string folder)
    : m_target(target), m_folder(std::move(folder)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_handedOver(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    std::promise<bool> started;
    m_started = started.get_future();
    m_thread = hookthread::StartWithSignalsBlocked(&PressDeviceHook::Run, this, std::move(started));
}

PressDeviceHook::~PressDeviceHook() {
    m_stopping = true;
    const uint64_t one = 1;
    // Only a full counter refuses the write, and then the thread is awake anyway.
    [[maybe_unused]] const ssize_t written = write(m_wake.get(), &one, sizeof one);
    m_thread.join();
}

void PressDeviceHook::Watch(UniqueFd source) {
    fcntl(source.get(), F_SETFL, fcntl(source.get(), F_GETFL) | O_NONBLOCK);
    {
        std::lock_guard lock(m_mutex);
        m_watched.push_back(std::move(source));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_handedOver.get(), &one, sizeof one);
}

// The connection is opened, used and closed on this thread only (see XConnection).
void PressDeviceHook::Run(std::promise<bool> started) {
    thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
    auto connection = XConnection::Open();
    if (!connection) {
        started.set_value(false);
        return;
    }
    Display* display = connection->display();
    const ScopedWindow replyWindow(display, hookthread::CreateReplyWindow(display));
    InputDeviceFolder folder(m_folder);
    Session session{*connection, replyWindow.get(), folder, folder.OpenAll()};
    XSync(display, False);
    started.set_value(true);
    if (session.sources.empty())
        Report(session, clickchannel::kNoPressDevices);
    Serve(session);
}

void PressDeviceHook::Serve(Session& session) {
    while (!m_stopping && !session.connection.lost()) {
        Wait(session);
        TakeWatched(session);
        TakeFolderChanges(session);
        ReadSources(session);
    }
}

// Until a source, the folder or the owner has something. X events for this
// connection are of no interest: answers are picked up while a report waits.
void PressDeviceHook::Wait(Session& session) {
    std::vector<pollfd> waits{{m_wake.get(), POLLIN, 0},
                              {m_handedOver.get(), POLLIN, 0},
                              {session.folder.changesFd(), POLLIN, 0},
                              {ConnectionNumber(session.connection.display()), POLLIN, 0}};
    for (const InputEventStream& source : session.sources)
        waits.push_back({source.fd(), POLLIN, 0});
    if (poll(waits.data(), waits.size(), -1) < 0 && errno != EINTR)
        m_stopping = true;
    if (waits[1].revents)
        Drain(m_handedOver.get());
    if (waits[3].revents)
        XSync(session.connection.display(), True);
}

void PressDeviceHook::TakeWatched(Session& session) {
    std::lock_guard lock(m_mutex);
    for (UniqueFd& source : m_watched)
        session.sources.emplace_back(std::string{}, std::move(source));
    m_watched.clear();
}

void PressDeviceHook::TakeFolderChanges(Session& session) {
    std::vector<std::string> gone;
    std::vector<InputEventStream> appeared = session.folder.TakeChanges(gone);
    std::erase_if(session.sources, [&gone](const InputEventStream& source) {
        return !source.name().empty() &&
               std::find(gone.begin(), gone.end(), source.name()) != gone.end();
    });
    // A device whose attributes changed may be one we read already.
    for (InputEventStream& device : appeared) {
        const bool known = std::any_of(
            session.sources.begin(), session.sources.end(),
            [&device](const InputEventStream& source) { return source.name() == device.name(); });
        if (!known)
            session.sources.push_back(std::move(device));
    }
}

void PressDeviceHook::ReadSources(Session& session) {
    std::vector<unsigned> presses;
    std::erase_if(session.sources,
                  [&presses](InputEventStream& source) { return !source.ReadPresses(presses); });
    for (unsigned button : presses) {
        if (m_stopping)
            return;
        Report(session, MessageFor(button));
    }
}

void PressDeviceHook::Report(Session& session, uint32_t message) {
    hookthread::Report(session.connection.display(), m_target, session.replyWindow,
                       clickchannel::WindowMessage{message}, m_wake.get());
}
