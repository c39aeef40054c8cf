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
using KeyBits = std::array<unsigned long, KEY_MAX / kLongBits + 1>;

bool IsEventEntry(const char* name) {
    return std::strncmp(name, "event", 5) == 0;
}

bool HasBit(const KeyBits& bits, unsigned bit) {
    return (bits[bit / kLongBits] >> (bit % kLongBits)) & 1;
}

void SetBit(KeyBits& bits, unsigned bit) {
    bits[bit / kLongBits] |= 1ul << (bit % kLongBits);
}

bool IsOfKind(int fd, InputDeviceKind kind) {
    KeyBits keys{};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys.data()) < 0)
        return false;
    if (kind == InputDeviceKind::Pointer)
        return HasBit(keys, BTN_LEFT) || HasBit(keys, BTN_RIGHT);
    // Power buttons, lid switches and remote controls have keys too, but no letters.
    return HasBit(keys, KEY_A) && HasBit(keys, KEY_Z);
}

// The key and button records a reader of the kind takes.
KeyBits KeysOfKind(InputDeviceKind kind) {
    KeyBits keys{};
    if (kind == InputDeviceKind::Pointer) {
        SetBit(keys, BTN_LEFT);
        SetBit(keys, BTN_RIGHT);
    } else {
        for (unsigned key = KEY_ESC; key <= kLastNamedKey; ++key)
            SetBit(keys, key);
    }
    return keys;
}

// Asks the kernel to hand this reader nothing but the key or button records of its
// kind: a keyboard that also has a touchpad then never sends the pointer's reader
// its keys, nor the keyboard's reader its moves. Other readers of the device are not
// affected. An older kernel refuses; the reader drops those records itself.
void ReceiveOnly(int fd, InputDeviceKind kind) {
    const KeyBits keys = KeysOfKind(kind);
    input_mask keyMask{EV_KEY, sizeof keys, reinterpret_cast<uintptr_t>(keys.data())};
    ioctl(fd, EVIOCSMASK, &keyMask);
    for (unsigned type : {EV_REL, EV_ABS, EV_MSC, EV_SW, EV_LED, EV_SND, EV_REP}) {
        input_mask none{type, 0, 0};
        ioctl(fd, EVIOCSMASK, &none);
    }
}

} // namespace

UniqueFd OpenInputSource(const std::string& path, InputDeviceKind kind) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0)
        return {};
    if (S_ISFIFO(status.st_mode))
        return fd;
    if (!S_ISCHR(status.st_mode) || !IsOfKind(fd.get(), kind))
        return {};
    ReceiveOnly(fd.get(), kind);
    return fd;
}

InputDeviceFolder::InputDeviceFolder(std::string path, InputDeviceKind kind)
    : m_path(std::move(path)), m_kind(kind), m_watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
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
        if (UniqueFd fd = OpenInputSource(m_path + "/" + entry->d_name, m_kind); fd.valid())
            devices.emplace_back(entry->d_name, std::move(fd), m_kind);
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
            } else if (UniqueFd fd = OpenInputSource(m_path + "/" + change->name, m_kind);
                       fd.valid()) {
                appeared.emplace_back(change->name, std::move(fd), m_kind);
            }
        }
    }
    return appeared;
}
