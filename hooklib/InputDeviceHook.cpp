#include "hooklib/InputDeviceHook.h"

#include "hooklib/HookThread.h"
#include "hooklib/ThisThread.h"
#include "hooklib/XConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>

namespace {

void Drain(int counter) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(counter, &count, sizeof count);
}

} // namespace

InputDeviceHook::InputDeviceHook(Window target, std::string folder, InputDeviceKind kind)
    : m_target(target), m_folder(std::move(folder)), m_kind(kind),
      m_handedOver(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

bool InputDeviceHook::Begin() {
    return m_worker.Start([this](std::promise<bool> started) { Run(std::move(started)); });
}

void InputDeviceHook::Watch(UniqueFd source) {
    fcntl(source.get(), F_SETFL, fcntl(source.get(), F_GETFL) | O_NONBLOCK);
    {
        std::lock_guard lock(m_mutex);
        m_watched.push_back(std::move(source));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_handedOver.get(), &one, sizeof one);
}

// The connection is opened, used and closed on this thread only (see XConnection).
void InputDeviceHook::Run(std::promise<bool> started) {
    thisthread::AnswerPromptly(thisthread::LaterThreads::Inherit);
    auto connection = XConnection::Open();
    if (!connection) {
        started.set_value(false);
        return;
    }
    const hookthread::Reporter reporter(connection->display(), m_target, m_worker.wakeFd());
    m_reporter = &reporter;
    InputDeviceFolder folder(m_folder, m_kind);
    Session session{*connection, folder, folder.OpenAll()};
    XSync(connection->display(), False);
    started.set_value(true);
    if (session.sources.empty())
        NoDevices();
    Serve(session);
}

void InputDeviceHook::Serve(Session& session) {
    while (!m_worker.stopping() && !session.connection.lost() && Wait(session)) {
        TakeWatched(session);
        std::vector<KeyRecord> records;
        TakeFolderChanges(session, records);
        ReadSources(session, records);
    }
}

// Until a source, the folder or the owner has something; false when waiting fails.
// X events for this connection are of no interest: answers are picked up while a
// report waits.
bool InputDeviceHook::Wait(Session& session) {
    std::vector<pollfd> waits{{m_worker.wakeFd(), POLLIN, 0},
                              {m_handedOver.get(), POLLIN, 0},
                              {session.folder.changesFd(), POLLIN, 0},
                              {ConnectionNumber(session.connection.display()), POLLIN, 0}};
    for (const InputEventStream& source : session.sources)
        waits.push_back({source.fd(), POLLIN, 0});
    if (poll(waits.data(), waits.size(), -1) < 0 && errno != EINTR)
        return false;
    if (waits[1].revents)
        Drain(m_handedOver.get());
    if (waits[3].revents)
        XSync(session.connection.display(), True);
    return true;
}

void InputDeviceHook::TakeWatched(Session& session) {
    std::lock_guard lock(m_mutex);
    for (UniqueFd& source : m_watched)
        session.sources.emplace_back(std::string{}, std::move(source), m_kind);
    m_watched.clear();
}

// A source that ends lets go of the keys it held.
void InputDeviceHook::TakeFolderChanges(Session& session, std::vector<KeyRecord>& records) {
    std::vector<std::string> gone;
    std::vector<InputEventStream> appeared = session.folder.TakeChanges(gone);
    std::erase_if(session.sources, [&gone, &records](const InputEventStream& source) {
        const bool ended = !source.name().empty() &&
                           std::find(gone.begin(), gone.end(), source.name()) != gone.end();
        if (ended)
            source.AppendReleases(records);
        return ended;
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

// What was read is wiped once handed over: for a keyboard, it is what was typed.
void InputDeviceHook::ReadSources(Session& session, std::vector<KeyRecord>& records) {
    std::erase_if(session.sources, [&records](InputEventStream& source) {
        if (source.Read(records))
            return false;
        source.AppendReleases(records);
        return true;
    });
    for (const KeyRecord& record : records) {
        if (m_worker.stopping())
            break;
        Take(session.connection.display(), record);
    }
    explicit_bzero(records.data(), records.size() * sizeof(KeyRecord));
}

void InputDeviceHook::Report(clickchannel::WindowMessage message) {
    m_reporter->Report(message);
}
