#include "hooklib/InputDeviceFolder.h"

#include <array>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

constexpr unsigned kLongBits = sizeof(unsigned long) * CHAR_BIT;

bool IsEventEntry(const char* name) {
    return std::strncmp(name, "event", 5) == 0;
}

bool HasBit(const std::array<unsigned long, KEY_MAX / kLongBits + 1>& bits, unsigned bit) {
    return (bits[bit / kLongBits] >> (bit % kLongBits)) & 1;
}

bool HasPointerButtons(int fd) {
    std::array<unsigned long, KEY_MAX / kLongBits + 1> keys{};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys.data()) < 0)
        return false;
    return HasBit(keys, BTN_LEFT) || HasBit(keys, BTN_RIGHT);
}

// Asks the kernel to hand this reader nothing but button records: a keyboard that
// also has a touchpad then never sends us its keys. Other readers of the device are
// not affected. An older kernel refuses; the reader drops those records itself.
void ReceiveOnlyButtons(int fd) {
    std::array<unsigned long, KEY_MAX / kLongBits + 1> buttons{};
    buttons[BTN_LEFT / kLongBits] |= 1ul << (BTN_LEFT % kLongBits);
    buttons[BTN_RIGHT / kLongBits] |= 1ul << (BTN_RIGHT % kLongBits);
    input_mask keys{EV_KEY, sizeof buttons, reinterpret_cast<uintptr_t>(buttons.data())};
    ioctl(fd, EVIOCSMASK, &keys);
    for (unsigned type : {EV_REL, EV_ABS, EV_MSC, EV_SW, EV_LED, EV_SND, EV_REP}) {
        input_mask none{type, 0, 0};
        ioctl(fd, EVIOCSMASK, &none);
    }
}

} // namespace

UniqueFd OpenPointerSource(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0)
        return {};
    if (S_ISFIFO(status.st_mode))
        return fd;
    if (!S_ISCHR(status.st_mode) || !HasPointerButtons(fd.get()))
        return {};
    ReceiveOnlyButtons(fd.get());
    return fd;
}

InputDeviceFolder::InputDeviceFolder(std::string path)
    : m_path(std::move(path)), m_watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    // Udev creates a device node first and gives it its group and mode after, so a
    // change of attributes may be the moment a device becomes readable.
    const uint32_t changes = IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;
    if (m_watch.valid() && inotify_add_watch(m_watch.get(), m_path.c_str(), changes) < 0)
        m_watch.reset();
}

std::vector<InputEventStream> InputDeviceFolder::OpenAll() const {
    std::vector<InputEventStream> devices;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(m_path.c_str()), closedir);
    while (folder) {
        const dirent* entry = readdir(folder.get());
        if (!entry)
            break;
        if (!IsEventEntry(entry->d_name))
            continue;
        if (UniqueFd fd = OpenPointerSource(m_path + "/" + entry->d_name); fd.valid())
            devices.emplace_back(entry->d_name, std::move(fd));
    }
    return devices;
}

std::vector<InputEventStream> InputDeviceFolder::TakeChanges(std::vector<std::string>& gone) {
    std::vector<InputEventStream> appeared;
    alignas(inotify_event) std::array<char, 4096> buffer;
    ssize_t got;
    while ((got = read(m_watch.get(), buffer.data(), buffer.size())) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* change = reinterpret_cast<const inotify_event*>(&buffer[at]);
            at += static_cast<ssize_t>(sizeof(inotify_event) + change->len);
            if (change->len == 0 || !IsEventEntry(change->name))
                continue;
            if (change->mask & (IN_DELETE | IN_MOVED_FROM)) {
                gone.emplace_back(change->name);
            } else if (UniqueFd fd = OpenPointerSource(m_path + "/" + change->name); fd.valid()) {
                appeared.emplace_back(change->name, std::move(fd));
            }
        }
    }
    return appeared;
}
