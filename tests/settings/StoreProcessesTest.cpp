#include "ChildProcess.h"
#include "IsolatedHome.h"

#include "settings/RegEdit.h"

#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::u16string kKey = u"Software\\DaltropSC";

class Pipe {
public:
    Pipe() { m_ok = pipe(m_fds) == 0; }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool Ok() const { return m_ok; }
    bool Send(uint32_t value) { return write(m_fds[1], &value, sizeof value) == sizeof value; }
    bool Receive(uint32_t& value) { return read(m_fds[0], &value, sizeof value) == sizeof value; }
    void CloseRead() { Close(m_fds[0]); }
    void CloseWrite() { Close(m_fds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    int m_fds[2] = {-1, -1};
    bool m_ok = false;
};

std::u16string ValueName(int writer, int index) {
    return u"w" + std::u16string(1, u'0' + writer) + u"_" + std::u16string(1, u'A' + index);
}

using StoreProcesses = IsolatedHome;

TEST_F(StoreProcesses, AReaderSeesWhatAnotherProcessJustWrote) {
    Pipe request;
    Pipe answer;
    ASSERT_TRUE(request.Ok() && answer.Ok());
    const pid_t reader = SpawnChild([&] {
        request.CloseWrite();
        answer.CloseRead();
        CRegEdit reg;
        uint32_t expected = 0;
        while (request.Receive(expected))
            answer.Send(reg.ReadDword(true, kKey, u"HW"));
        return 0;
    });
    ASSERT_GT(reader, 0);
    request.CloseRead();
    answer.CloseWrite();

    CRegEdit reg;
    for (uint32_t window = 0x1200001; window < 0x1200001 + 40; ++window) {
        reg.WriteStringIfEmpty(true, kKey, u"HW", u"");
        reg.WriteDword(true, kKey, u"HW", window);
        uint32_t seen = 0;
        ASSERT_TRUE(request.Send(window) && answer.Receive(seen));
        EXPECT_EQ(seen, window);
    }
    request.CloseWrite();
    EXPECT_EQ(WaitForExit(reader), 0);
}

TEST_F(StoreProcesses, ParallelWritersAllSucceed) {
    constexpr int kWriters = 4;
    constexpr int kValuesEach = 25;
    Pipe start;
    ASSERT_TRUE(start.Ok());
    std::vector<pid_t> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        writers.push_back(SpawnChild([&start, writer] {
            start.CloseWrite();
            uint32_t ignored = 0;
            start.Receive(ignored); // returns when the parent closes the pipe: all start together
            CRegEdit reg;
            for (int i = 0; i < kValuesEach; ++i) {
                reg.WriteDword(true, kKey, ValueName(writer, i),
                               static_cast<uint32_t>(writer * 100 + i));
                reg.WriteString(true, kKey, u"last", u"writer");
            }
            return 0;
        }));
        ASSERT_GT(writers.back(), 0);
    }
    start.CloseWrite();
    for (const pid_t pid : writers)
        EXPECT_EQ(WaitForExit(pid), 0);

    CRegEdit reg;
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kValuesEach; ++i) {
            EXPECT_EQ(reg.ReadDword(true, kKey, ValueName(writer, i)),
                      static_cast<uint32_t>(writer * 100 + i));
        }
    }
    EXPECT_EQ(reg.ReadString(true, kKey, u"last"), u"writer");
}

} // namespace
