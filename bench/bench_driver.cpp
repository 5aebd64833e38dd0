// kelvaro-bench-driver: plays the board on pseudo-terminals against the real program
// (kelvaro-bench-host) and against a minimal responder (min_responder, the floor), and
// prints one table: poll-answer latency, throughput, a paced 9600-baud line, resources
// at the demo's pace, start-up times and the state machine's per-byte cost.
//
// Every figure is the median of several runs with its min-max range. Within a run the
// program and the floor take turns (500 polls, or one second) and their ratios are taken
// per run, so both sides meet the same machine load. Progress goes to stderr, the table
// to stdout. QtCore is used only for the program's own settings writer and for reading
// bench_core's JSON.

#include "core/field_names.h"
#include "core/settings_record.h"
#include "store/settings_file.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Ns = long long;
constexpr Ns Microsecond = 1000;
constexpr Ns Millisecond = 1000 * Microsecond;
constexpr Ns Second = 1000 * Millisecond;
// One character on a 9600-baud 8N1 line: start bit, 8 data bits, stop bit.
constexpr Ns CharTime9600 = 10 * Second / 9600;
// A poll not answered within this time counts as a lost exchange.
constexpr Ns LostAfter = Second;
constexpr int BlockBytes = 41; // "B" and 40 data bytes
// The sides take turns of this many polls, or this long, within a run.
constexpr int LatencyTurn = 500;
constexpr Ns RateTurn = Second;

Ns now()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return Ns(t.tv_sec) * Second + t.tv_nsec;
}

void sleepUntil(Ns when)
{
    timespec t{};
    t.tv_sec = time_t(when / Second);
    t.tv_nsec = long(when % Second);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

timespec toTimespec(Ns span)
{
    span = std::max<Ns>(span, 0);
    timespec t{};
    t.tv_sec = time_t(span / Second);
    t.tv_nsec = long(span % Second);
    return t;
}

// Failures end the run by unwinding, so every child is stopped and every folder removed.
[[noreturn]] void die(const std::string& what)
{
    throw std::runtime_error(what);
}

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Children still running, ended when the driver is interrupted (lock-free atomics, so
// the signal handler may read them).
std::array<std::atomic<pid_t>, 4> liveChildren{};

void endChildren(int signalNumber)
{
    for (const std::atomic<pid_t>& slot : liveChildren) {
        if (const pid_t pid = slot.load(); pid > 0)
            ::kill(pid, SIGKILL);
    }
    std::_Exit(128 + signalNumber);
}

void trackChild(pid_t pid, bool running)
{
    for (std::atomic<pid_t>& slot : liveChildren) {
        if (running && slot.load() == 0) {
            slot.store(pid);
            return;
        }
        if (!running && slot.load() == pid) {
            slot.store(0);
            return;
        }
    }
}

// A fresh folder under the temporary directory, removed with everything in it.
class TempFolder
{
public:
    TempFolder()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelvaro-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            die(errnoText("mkdtemp"));
        m_path = pattern;
    }
    ~TempFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The board's end of a pseudo-terminal. A slave descriptor stays open here, never read,
// so the master never sees a hang-up while no program has the line open.
class Line
{
public:
    explicit Line(const std::string& folder)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        std::array<char, 128> name{};
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
            ::ptsname_r(m_master, name.data(), name.size()) != 0)
            die(errnoText("pseudo-terminal"));
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode{};
        if (m_slave < 0 || ::tcgetattr(m_slave, &mode) != 0)
            die(errnoText("pseudo-terminal slave"));
        ::cfmakeraw(&mode);
        ::tcsetattr(m_slave, TCSANOW, &mode);
        const std::string link = folder + "/com1";
        if (::symlink(name.data(), link.c_str()) != 0)
            die(errnoText("symlink " + link));
    }
    ~Line()
    {
        ::close(m_slave);
        ::close(m_master);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    int master() const { return m_master; }

    void send(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(m_master, bytes, size);
            if (n > 0) {
                bytes += n;
                size -= std::size_t(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{m_master, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                die(errnoText("write to the line"));
            }
        }
    }
    void send(char c) { send(&c, 1); }

    // Reads what has arrived, waiting until `deadline` for the first byte. Returns the
    // number of bytes read, 0 at the deadline.
    int receive(char* buffer, int capacity, Ns deadline)
    {
        for (;;) {
            const ssize_t n = ::read(m_master, buffer, std::size_t(capacity));
            if (n > 0)
                return int(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                die(errnoText("read from the line"));
            const Ns left = deadline - now();
            if (left <= 0)
                return 0;
            pollfd p{m_master, POLLIN, 0};
            const timespec timeout = toTimespec(left);
            ::ppoll(&p, 1, &timeout, nullptr);
        }
    }

    // Throws away what the program has not read yet.
    void discardUnread() { ::tcflush(m_slave, TCIFLUSH); }

    // Everything that arrives within `quiet`.
    void drain(Ns quiet)
    {
        std::array<char, 256> buffer{};
        while (receive(buffer.data(), int(buffer.size()), now() + quiet) > 0) {
        }
    }

private:
    int m_master = -1;
    int m_slave = -1;
};

// A register block as a running board sends it, with a counter byte (word 0, low byte)
// that changes every exchange so the data logger has a line to write at each tick.
std::array<char, BlockBytes> blockWithCounter(unsigned counter)
{
    static constexpr std::array<unsigned, 20> words{0x0100, 2345, 0x0102, 0,      0,    4850,  30,
                                                    45,     2340, 0,      0x32C8, 2300, 60,    90,
                                                    2200,   120,  150,    2400,   15,   0x0004};
    std::array<char, BlockBytes> block{};
    block[0] = 'B';
    for (std::size_t k = 0; k < words.size(); ++k) {
        block[1 + 2 * k] = char(words[k] & 0xFF);
        block[2 + 2 * k] = char(words[k] >> 8);
    }
    block[1] = char(counter & 0xFF);
    return block;
}

// Brings the program's link back to idle whatever it was doing: fills any open block,
// then drops the rest ('x' is neither a poll, a prompt nor a block start).
void resynchronise(Line& line)
{
    const std::string filler(BlockBytes, 'x');
    line.send(filler.data(), filler.size());
    line.drain(50 * Millisecond);
}

// Waits for the answer to a poll; returns the answer byte, or 0 after LostAfter.
char awaitAnswer(Line& line, Ns polledAt)
{
    std::array<char, 64> buffer{};
    const int n = line.receive(buffer.data(), int(buffer.size()), polledAt + LostAfter);
    return n > 0 ? buffer[0] : 0;
}

// What one side did over all its turns in one run.
struct LatencyRun
{
    std::vector<Ns> samples;
    int lost = 0;
    int unexpected = 0;
    unsigned counter = 0; // the block counter, running on across turns
};

// `polls` read exchanges, added to `run`; each poll goes out `gap` after the previous
// block was written (at least one character time, as on the board's line).
void measureLatency(Line& line, int polls, Ns gap, LatencyRun& run)
{
    Ns nextPoll = now();
    for (int i = 0; i < polls; ++i) {
        sleepUntil(nextPoll);
        const Ns polledAt = now();
        line.send('Q');
        const char answer = awaitAnswer(line, polledAt);
        const Ns answeredAt = now();
        if (answer != 'R') {
            ++(answer == 0 ? run.lost : run.unexpected);
            resynchronise(line);
            nextPoll = now() + gap;
            continue;
        }
        run.samples.push_back(answeredAt - polledAt);
        const auto block = blockWithCounter(run.counter++);
        line.send(block.data(), block.size());
        nextPoll = now() + gap;
    }
}

struct RateRun
{
    long long exchanges = 0;
    Ns elapsed = 0;
    int lost = 0;
    unsigned counter = 0;
    long long cpuTicks = 0; // the responder's CPU time over its turns
    double perSecond() const
    {
        return elapsed > 0 ? double(exchanges) * double(Second) / double(elapsed) : 0;
    }
};

// Read exchanges back to back for `duration`, added to `run`: each block goes out together
// with the next poll as soon as the answer has arrived. Leaves no poll open.
void measureThroughput(Line& line, Ns duration, RateRun& run)
{
    const Ns start = now();
    Ns polledAt = start;
    line.send('Q');
    for (;;) {
        const char answer = awaitAnswer(line, polledAt);
        const bool more = now() - start < duration;
        if (answer != 'R') {
            ++run.lost;
            resynchronise(line);
            if (!more)
                break;
            polledAt = now();
            line.send('Q');
            continue;
        }
        ++run.exchanges;
        std::array<char, BlockBytes + 1> next{};
        const auto block = blockWithCounter(run.counter++);
        std::copy(block.begin(), block.end(), next.begin());
        next[BlockBytes] = 'Q';
        line.send(next.data(), more ? next.size() : block.size());
        if (!more)
            break;
        polledAt = now();
    }
    run.elapsed += now() - start;
}

// One read exchange on a line that carries one character per `charTime`: the poll, the
// answer (which cannot start before the poll has been received), "B" and the 40 bytes
// one by one. Returns when the next poll may start, or 0 for a lost exchange.
Ns pacedExchange(Line& line, Ns start, unsigned counter, Ns charTime)
{
    sleepUntil(start);
    const Ns polledAt = now();
    line.send('Q');
    if (awaitAnswer(line, polledAt) != 'R') {
        resynchronise(line);
        return 0;
    }
    const Ns answerEnd = std::max(now(), polledAt + charTime) + charTime;
    const auto block = blockWithCounter(counter);
    Ns due = answerEnd;
    for (const char c : block) {
        sleepUntil(due);
        line.send(c);
        due += charTime;
    }
    return due;
}

// Paced 9600-baud exchanges for `duration`, added to `run`.
void measurePaced(Line& line, Ns duration, RateRun& run)
{
    const Ns start = now();
    Ns next = start;
    while (next - start < duration) {
        const Ns done = pacedExchange(line, next, run.counter++, CharTime9600);
        if (done == 0) {
            ++run.lost;
            next = now();
            continue;
        }
        ++run.exchanges;
        next = done;
    }
    sleepUntil(next);
    run.elapsed += next - start;
}

// utime + stime of a process, in clock ticks.
long long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        die("cannot read /proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long ticks = 0;
    // After the command name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index >= 14)
            ticks += std::stoll(field);
    }
    return ticks;
}

// VmHWM (peak resident set) in KiB.
long long peakResidentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

// A spawned program with its stdout on a pipe (the host's moments) and its stderr in a
// file of its folder (shown if it dies).
class Child
{
public:
    Child(const std::vector<std::string>& argv, const std::string& folder, bool offscreen)
        : m_errorFile(folder + "/stderr.txt")
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            die(errnoText("pipe"));
        // Everything the child needs is prepared before fork().
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        m_spawnedAt = now();
        m_pid = ::fork();
        if (m_pid < 0)
            die(errnoText("fork"));
        if (m_pid == 0) {
            const int err = ::open(m_errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (::chdir(folder.c_str()) != 0 || ::dup2(out[1], 1) < 0 || err < 0 ||
                ::dup2(err, 2) < 0)
                std::_Exit(127);
            if (offscreen)
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execv(args[0], args.data());
            std::_Exit(127);
        }
        trackChild(m_pid, true);
        ::close(out[1]);
        m_out = out[0];
        ::fcntl(m_out, F_SETFL, ::fcntl(m_out, F_GETFL) | O_NONBLOCK);
    }
    ~Child()
    {
        if (m_pid > 0 && running()) {
            ::kill(m_pid, SIGTERM);
            const Ns deadline = now() + 2 * Second;
            while (running() && now() < deadline)
                ::usleep(10000);
            if (running()) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
            }
        }
        trackChild(m_pid, false);
        ::close(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    Ns spawnedAt() const { return m_spawnedAt; }
    int output() const { return m_out; }

    bool running()
    {
        if (m_exited)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_exited = true;
        return !m_exited;
    }

    // The moment named `name` ("main", "splash", "paint") if the host has reported it.
    std::optional<Ns> moment(const std::string& name)
    {
        std::array<char, 512> buffer{};
        ssize_t n = 0;
        while ((n = ::read(m_out, buffer.data(), buffer.size())) > 0)
            m_text.append(buffer.data(), std::size_t(n));
        std::istringstream lines(m_text);
        std::string key;
        Ns value = 0;
        while (lines >> key >> value) {
            if (key == name)
                return value;
        }
        return std::nullopt;
    }

    std::string errorText() const
    {
        std::ifstream in(m_errorFile);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    std::string m_errorFile;
    pid_t m_pid = -1;
    int m_out = -1;
    Ns m_spawnedAt = 0;
    bool m_exited = false;
    std::string m_text;
};

// Settings.txt for the measured program, written by the program's own writer: port 1,
// raw register column shown, logging on with ten fields on every counter change.
void writeSettings(const std::string& folder)
{
    kelvaro::FieldNameTable names;
    kelvaro::Init_Field_Names(names);
    kelvaro::Settings_Record settings;
    settings.Comm_Port = 1;
    settings.Comm_Baud = 9600;
    settings.Timer_CalValue = kelvaro::LooseValue::number(10000);
    settings.Log_Active = kelvaro::LooseValue::number(1);
    settings.Log_NameFormat = kelvaro::LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    for (int i = 0; i < kelvaro::LogFieldCount; ++i)
        settings.Log_Fields[std::size_t(i)] = kelvaro::LooseValue::text(names[std::size_t(i + 1)]);
    settings.Log_Event = kelvaro::LooseValue::text(QStringLiteral("On Counter Change"));
    settings.Show_Direct = 1;
    const kelvaro::FileResult result =
        kelvaro::SaveSettings(settings, QString::fromStdString(folder));
    if (!result)
        die("Settings.txt: " + result.reason().toStdString());
}

struct Paths
{
    std::string host;
    std::string floor;
    std::string benchCore;
    // False for a host without a window (kelvaro-recorder): no paint is waited for.
    bool hostPaints = true;
};

struct StartUp
{
    Ns toMain = 0;   // spawn to main() of the host
    Ns toAnswer = 0; // spawn to the first "R" on the line
    Ns toPaint = 0;  // spawn to the main window's first paint
    int polls = 0;   // polls sent until the first answer
};

// One program on its own line and folder: the host (the real program) or the floor.
class Peer
{
public:
    Peer(const Paths& paths, bool isHost)
        : m_line(m_folder.path()), m_isHost(isHost), m_waitForPaint(isHost && paths.hostPaints)
    {
        if (isHost) {
            writeSettings(m_folder.path());
            m_child.emplace(std::vector<std::string>{paths.host}, m_folder.path(), true);
        } else {
            m_child.emplace(std::vector<std::string>{paths.floor, m_folder.path()}, m_folder.path(),
                            false);
        }
        awaitStartUp();
    }

    Line& line() { return m_line; }
    Child& child() { return *m_child; }
    const StartUp& startUp() const { return m_startUp; }

private:
    // Polls at once and waits for the first answer (and, for the host, the first paint).
    // A poll the program has not read within 200 ms is discarded and sent again, in case
    // opening the port threw it away.
    void awaitStartUp()
    {
        Child& child = *m_child;
        const Ns spawnedAt = child.spawnedAt();
        Ns polledAt = now();
        m_line.send('Q');
        int polls = 1;
        std::optional<Ns> answeredAt;
        std::optional<Ns> paintedAt;
        const Ns deadline = spawnedAt + 30 * Second;
        while (!answeredAt || (m_waitForPaint && !paintedAt)) {
            if (now() > deadline || !child.running())
                die(std::string(m_isHost ? "kelvaro-bench-host" : "min_responder") +
                    " did not start:\n" + child.errorText());
            std::array<pollfd, 2> fds{pollfd{m_line.master(), POLLIN, 0},
                                      pollfd{child.output(), POLLIN, 0}};
            const timespec timeout = toTimespec(10 * Millisecond);
            ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
            if (!answeredAt) {
                std::array<char, 64> buffer{};
                const int n = m_line.receive(buffer.data(), int(buffer.size()), 0);
                if (std::find(buffer.begin(), buffer.begin() + n, 'R') != buffer.begin() + n) {
                    answeredAt = now();
                    const auto block = blockWithCounter(0);
                    m_line.send(block.data(), block.size());
                    if (polls > 1)
                        resynchronise(m_line);
                } else if (now() - polledAt > 200 * Millisecond) {
                    m_line.discardUnread();
                    polledAt = now();
                    m_line.send('Q');
                    ++polls;
                }
            }
            if (m_waitForPaint && !paintedAt)
                paintedAt = child.moment("paint");
        }
        m_startUp.toAnswer = *answeredAt - spawnedAt;
        m_startUp.polls = polls;
        if (m_isHost) {
            m_startUp.toPaint = paintedAt ? *paintedAt - spawnedAt : 0;
            m_startUp.toMain = child.moment("main").value_or(spawnedAt) - spawnedAt;
        }
        m_line.drain(20 * Millisecond);
    }

    TempFolder m_folder;
    Line m_line;
    bool m_isHost;
    bool m_waitForPaint;
    std::optional<Child> m_child;
    StartUp m_startUp;
};

// ---- statistics -----------------------------------------------------------------------

// Nearest-rank percentile of a sample (sorted in place).
double percentile(std::vector<Ns>& samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t rank = std::size_t(p / 100.0 * double(samples.size()) + 0.999999);
    rank = std::clamp<std::size_t>(rank, 1, samples.size());
    return double(samples[rank - 1]);
}

// Figures of one measure over the repetitions.
struct Series
{
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    bool empty() const { return values.empty(); }
    double median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double min() const { return *std::min_element(values.begin(), values.end()); }
    double max() const { return *std::max_element(values.begin(), values.end()); }
    // "median [min-max]" with `decimals` places.
    std::string text(int decimals) const
    {
        if (values.empty())
            return "-";
        std::array<char, 96> out{};
        if (values.size() == 1)
            std::snprintf(out.data(), out.size(), "%.*f", decimals, median());
        else
            std::snprintf(out.data(), out.size(), "%.*f [%.*f-%.*f]", decimals, median(), decimals,
                          min(), decimals, max());
        return out.data();
    }
};

// The per-byte cost from bench_core's readExchanges (its ns_per_byte counter holds seconds
// per byte, a rate inverted), one value per repetition, in nanoseconds.
Series stateMachineCost(const std::string& benchCore, int repetitions)
{
    Series series;
    if (benchCore.empty() || ::access(benchCore.c_str(), X_OK) != 0)
        return series;
    const std::string command = "'" + benchCore +
                                "' --benchmark_filter='^readExchanges$' --benchmark_format=json "
                                "--benchmark_repetitions=" +
                                std::to_string(repetitions) + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return series;
    QByteArray json;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        json.append(buffer.data(), qsizetype(n));
    ::pclose(pipe);
    const QJsonArray runs =
        QJsonDocument::fromJson(json).object().value(QStringLiteral("benchmarks")).toArray();
    for (const auto& value : runs) {
        const QJsonObject run = value.toObject();
        if (run.value(QStringLiteral("run_type")).toString() == QStringLiteral("iteration"))
            series.add(run.value(QStringLiteral("ns_per_byte")).toDouble() * 1e9);
    }
    return series;
}

struct Options
{
    bool quick = false;
    int polls = 10000;
    double throughputSeconds = 30;
    double pacedSeconds = 10;
    double resourceSeconds = 60;
    int latencyRuns = 5;
    int throughputRuns = 3;
    int resourceRuns = 3;
    Ns gap = CharTime9600;
    Paths paths;
};

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string ownDirectory()
{
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? directoryOf(std::string(buffer.data(), std::size_t(n))) : ".";
}

[[noreturn]] void usage(int status)
{
    std::fprintf(
        status == 0 ? stdout : stderr,
        "usage: kelvaro-bench-driver [options]\n"
        "  --quick                smoke run: 1000 polls, 3 s rates, 10 s resources, 2 runs\n"
        "  --seconds S            back-to-back throughput per side and run (30)\n"
        "  --paced-seconds S      paced 9600-baud exchanges per side and run (10)\n"
        "  --resource-seconds S   demo pace for CPU and memory (60)\n"
        "  --polls N              latency polls per side and run (10000)\n"
        "  --runs N               latency and start-up runs (5)\n"
        "  --throughput-runs N    throughput and paced runs (3)\n"
        "  --resource-runs N      resource runs (3)\n"
        "  --line-host            the host is kelvaro-recorder (the line path without a\n"
        "                         window) instead of the window program\n"
        "  --host PATH, --floor PATH, --bench-core PATH   the programs used\n"
        "                         (default: beside this driver)\n");
    std::exit(status);
}

Options parseOptions(int argc, char* argv[])
{
    Options o;
    const std::string here = ownDirectory();
    o.paths = {here + "/kelvaro-bench-host", here + "/min_responder", here + "/bench_core"};
    std::vector<std::string> args(argv + 1, argv + argc);
    // --quick first, so explicit figures given with it still win.
    if (std::find(args.begin(), args.end(), "--quick") != args.end()) {
        o.quick = true;
        o.polls = 1000;
        o.throughputSeconds = 3;
        o.pacedSeconds = 3;
        o.resourceSeconds = 10;
        o.latencyRuns = o.throughputRuns = o.resourceRuns = 2;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--quick")
            continue;
        if (a == "--line-host") {
            o.paths.host = here + "/../src/app/kelvaro-recorder";
            o.paths.hostPaints = false;
            continue;
        }
        if (a == "--help")
            usage(0);
        if (i + 1 >= args.size())
            usage(2);
        const std::string& v = args[++i];
        try {
            if (a == "--seconds")
                o.throughputSeconds = std::stod(v);
            else if (a == "--paced-seconds")
                o.pacedSeconds = std::stod(v);
            else if (a == "--resource-seconds")
                o.resourceSeconds = std::stod(v);
            else if (a == "--polls")
                o.polls = std::stoi(v);
            else if (a == "--runs")
                o.latencyRuns = std::stoi(v);
            else if (a == "--throughput-runs")
                o.throughputRuns = std::stoi(v);
            else if (a == "--resource-runs")
                o.resourceRuns = std::stoi(v);
            else if (a == "--host")
                o.paths.host = v;
            else if (a == "--floor")
                o.paths.floor = v;
            else if (a == "--bench-core")
                o.paths.benchCore = v;
            else
                usage(2);
        } catch (const std::exception&) {
            usage(2);
        }
    }
    if (o.polls < 1 || o.latencyRuns < 1 || o.throughputRuns < 0 || o.resourceRuns < 0 ||
        o.throughputSeconds <= 0 || o.pacedSeconds <= 0 || o.resourceSeconds <= 0)
        usage(2);
    for (const std::string* path : {&o.paths.host, &o.paths.floor}) {
        if (::access(path->c_str(), X_OK) != 0)
            die(*path + " is not there; build the bench targets first");
    }
    return o;
}

std::string cpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    }
    return "unknown CPU";
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct Row
{
    std::string measure;
    std::string program;
    std::string floor;
    std::string ratio;
    std::string goal;
    std::string verdict;
};

// A goal the floor misses as well says more about the machine's load than the program.
std::string verdict(bool met, bool floorMissesToo = false)
{
    return met ? "met" : floorMissesToo ? "MISSED (floor too)" : "MISSED";
}

int runBenchmark(const Options& o)
{
    const std::string loadAtStart = loadAverage();

    Series latP50[2], latP99[2], latMax[2], ratioP50, ratioP99, ratioMax;
    Series rate[2], rateRatio, paced[2], pacedRatio, cpuPerExchange[2], cpuRatio;
    Series startAnswer, startPaint, startMain;
    Series cpuShare, peakMiB;
    long long lost[2] = {0, 0};
    long long lostPaced = 0;
    long long unexpected = 0;
    enum Side
    {
        Program = 0,
        Floor = 1
    };

    const int runs = std::max(o.latencyRuns, o.throughputRuns);
    for (int run = 0; run < runs; ++run) {
        std::fprintf(stderr, "== run %d/%d: starting the program and the floor\n", run + 1, runs);
        Peer host(o.paths, true);
        Peer floor(o.paths, false);
        startAnswer.add(double(host.startUp().toAnswer) / double(Millisecond));
        startPaint.add(double(host.startUp().toPaint) / double(Millisecond));
        startMain.add(double(host.startUp().toMain) / double(Millisecond));
        std::fprintf(stderr,
                     "   start-up: main() %.1f ms, first answer %.1f ms (%d poll(s)), "
                     "first paint %.1f ms\n",
                     double(host.startUp().toMain) / double(Millisecond),
                     double(host.startUp().toAnswer) / double(Millisecond), host.startUp().polls,
                     double(host.startUp().toPaint) / double(Millisecond));
        Peer* peers[2] = {&host, &floor};
        const char* names[2] = {"program", "floor"};
        // The two sides take turns in short slices, the first side alternating, so a
        // change in the machine's load meets both alike.
        const auto alternate = [](int slices, const auto& turn) {
            for (int slice = 0; slice < slices; ++slice) {
                const Side first = slice % 2 ? Floor : Program;
                turn(first, slice);
                turn(first == Program ? Floor : Program, slice);
            }
        };

        if (run < o.latencyRuns) {
            LatencyRun r[2];
            alternate((o.polls + LatencyTurn - 1) / LatencyTurn, [&](Side side, int slice) {
                const int polls = std::min(LatencyTurn, o.polls - slice * LatencyTurn);
                measureLatency(peers[side]->line(), polls, o.gap, r[side]);
            });
            double p50[2]{}, p99[2]{}, mx[2]{};
            for (const Side side : {Program, Floor}) {
                lost[side] += r[side].lost;
                unexpected += r[side].unexpected;
                p50[side] = percentile(r[side].samples, 50) / double(Microsecond);
                p99[side] = percentile(r[side].samples, 99) / double(Microsecond);
                mx[side] = percentile(r[side].samples, 100) / double(Microsecond);
                latP50[side].add(p50[side]);
                latP99[side].add(p99[side]);
                latMax[side].add(mx[side]);
                std::fprintf(stderr,
                             "   latency %-7s p50 %.0f us, p99 %.0f us, max %.0f us, lost %d\n",
                             names[side], p50[side], p99[side], mx[side], r[side].lost);
            }
            ratioP50.add(p50[Program] / p50[Floor]);
            ratioP99.add(p99[Program] / p99[Floor]);
            ratioMax.add(mx[Program] / mx[Floor]);
        }

        if (run < o.throughputRuns) {
            const auto timed = [&](Ns total, RateRun* r, auto measure) {
                alternate(int((total + RateTurn - 1) / RateTurn), [&](Side side, int slice) {
                    const pid_t pid = peers[side]->child().pid();
                    const long long before = cpuTicks(pid);
                    measure(peers[side]->line(), std::min(RateTurn, total - slice * RateTurn),
                            r[side]);
                    r[side].cpuTicks += cpuTicks(pid) - before;
                });
            };
            RateRun r[2];
            timed(Ns(o.throughputSeconds * double(Second)), r, measureThroughput);
            double cpu[2]{};
            for (const Side side : {Program, Floor}) {
                lost[side] += r[side].lost;
                rate[side].add(r[side].perSecond());
                cpu[side] = double(r[side].cpuTicks) * double(Second / Microsecond) /
                            double(::sysconf(_SC_CLK_TCK)) /
                            double(std::max(1LL, r[side].exchanges));
                cpuPerExchange[side].add(cpu[side]);
                std::fprintf(stderr,
                             "   throughput %-7s %.0f exchanges/s, %.1f us CPU each, lost %d\n",
                             names[side], r[side].perSecond(), cpu[side], r[side].lost);
            }
            rateRatio.add(r[Program].perSecond() / r[Floor].perSecond());
            cpuRatio.add(cpu[Program] / cpu[Floor]);

            RateRun p[2];
            timed(Ns(o.pacedSeconds * double(Second)), p, measurePaced);
            for (const Side side : {Program, Floor}) {
                lostPaced += p[side].lost;
                paced[side].add(p[side].perSecond());
                std::fprintf(stderr, "   paced 9600 %-7s %.2f exchanges/s, lost %d\n", names[side],
                             p[side].perSecond(), p[side].lost);
            }
            pacedRatio.add(p[Program].perSecond() / p[Floor].perSecond());
        }
    }

    // Resources: a fresh program, a poll every 250 ms on a paced 9600-baud line.
    for (int run = 0; run < o.resourceRuns; ++run) {
        std::fprintf(stderr, "== resources %d/%d: %.0f s at a poll every 250 ms\n", run + 1,
                     o.resourceRuns, o.resourceSeconds);
        Peer host(o.paths, true);
        const pid_t pid = host.child().pid();
        const long long ticksBefore = cpuTicks(pid);
        const Ns start = now();
        const Ns duration = Ns(o.resourceSeconds * double(Second));
        unsigned counter = 0;
        for (Ns next = start; next - start < duration; next += 250 * Millisecond) {
            if (pacedExchange(host.line(), next, counter++, CharTime9600) == 0)
                ++lostPaced;
        }
        sleepUntil(start + duration);
        const double seconds = double(now() - start) / double(Second);
        const long long ticks = cpuTicks(pid) - ticksBefore;
        const double share = 100.0 * double(ticks) / double(::sysconf(_SC_CLK_TCK)) / seconds;
        const double peak = double(peakResidentKiB(pid)) / 1024.0;
        cpuShare.add(share);
        peakMiB.add(peak);
        std::fprintf(stderr, "   CPU %.2f %% of a core, VmHWM %.1f MiB\n", share, peak);
    }

    std::fprintf(stderr, "== state machine alone (bench_core readExchanges)\n");
    const Series perByte = stateMachineCost(o.paths.benchCore, std::max(o.latencyRuns, 2));

    // ---- the table ------------------------------------------------------------------------
    std::vector<Row> rows;
    const auto latencyRow = [&](const char* name, Series* s, const Series& ratio, std::string goal,
                                std::string met) {
        rows.push_back({name, s[Program].text(0), s[Floor].text(0), ratio.text(2), std::move(goal),
                        std::move(met)});
    };
    latencyRow("Poll answer p50 (us)", latP50, ratioP50, "", "");
    latencyRow("Poll answer p99 (us)", latP99, ratioP99, "<= 2x floor, < 2000",
               verdict(ratioP99.median() <= 2.0 && latP99[Program].median() < 2000,
                       latP99[Floor].median() >= 2000));
    latencyRow("Poll answer max (us)", latMax, ratioMax, "", "");
    if (o.throughputRuns > 0) {
        rows.push_back({"Throughput, back to back (exch/s)", rate[Program].text(0),
                        rate[Floor].text(0), rateRatio.text(2), ">= 0.90x floor",
                        verdict(rateRatio.median() >= 0.9)});
        rows.push_back({"CPU per exchange, back to back (us)", cpuPerExchange[Program].text(1),
                        cpuPerExchange[Floor].text(1), cpuRatio.text(2), "", ""});
        rows.push_back({"Lost exchanges (no answer in 1 s)", std::to_string(lost[Program]),
                        std::to_string(lost[Floor]), "", "none", verdict(lost[Program] == 0)});
        const double lineLimit = double(Second) / double(43 * CharTime9600);
        std::array<char, 64> limit{};
        std::snprintf(limit.data(), limit.size(), ">= 0.97x line (%.2f)", lineLimit);
        rows.push_back({"Paced 9600 baud (exch/s)", paced[Program].text(2), paced[Floor].text(2),
                        pacedRatio.text(2), limit.data(),
                        verdict(paced[Program].median() >= 0.97 * lineLimit,
                                paced[Floor].median() < 0.97 * lineLimit)});
    }
    if (o.resourceRuns > 0) {
        rows.push_back({"CPU at demo pace (% of a core)", cpuShare.text(2), "", "", "< 1",
                        verdict(cpuShare.median() < 1.0)});
        rows.push_back({"Peak resident, VmHWM (MiB)", peakMiB.text(1), "", "", "< 80",
                        verdict(peakMiB.median() < 80)});
    }
    rows.push_back({"Start-up: spawn to first answer (ms)", startAnswer.text(0), "", "", "< 1000",
                    verdict(startAnswer.median() < 1000)});
    rows.push_back({"  of which spawn to main() (ms)", startMain.text(1), "", "", "", ""});
    rows.push_back({"Start-up: spawn to first paint (ms)", startPaint.text(0), "", "", "", ""});
    rows.push_back({"State machine alone (ns/byte)", perByte.text(2), "", "", "", ""});

    std::array<std::size_t, 6> width{7, 7, 5, 14, 4, 4};
    const std::array<std::string, 6> heads{"Measure",       "Program", "Floor",
                                           "Program/floor", "Goal",    "Goal met"};
    for (std::size_t c = 0; c < heads.size(); ++c)
        width[c] = std::max(width[c], heads[c].size());
    for (const Row& r : rows) {
        const std::array<const std::string*, 6> cells{&r.measure, &r.program, &r.floor,
                                                      &r.ratio,   &r.goal,    &r.verdict};
        for (std::size_t c = 0; c < cells.size(); ++c)
            width[c] = std::max(width[c], cells[c]->size());
    }
    const auto printRow = [&](const std::array<const std::string*, 6>& cells) {
        std::string line = "|";
        for (std::size_t c = 0; c < cells.size(); ++c) {
            std::string cell = *cells[c];
            cell.resize(width[c], ' ');
            line += " " + cell + " |";
        }
        std::printf("%s\n", line.c_str());
    };

    std::printf("Kelvaro performance (%s run): %ld cores, %s; load average at start %s\n",
                o.quick ? "quick" : "full", ::sysconf(_SC_NPROCESSORS_ONLN), cpuModel().c_str(),
                loadAtStart.c_str());
    std::printf(
        "Figures: median [min-max] over runs (latency %d x %d polls, throughput %d x %.0f s, "
        "paced %d x %.0f s, resources %d x %.0f s); program and floor take turns (500 polls or 1 "
        "s) within each run, ratios are per run.\n",
        o.latencyRuns, o.polls, o.throughputRuns, o.throughputSeconds, o.throughputRuns,
        o.pacedSeconds, o.resourceRuns, o.resourceSeconds);
    printRow({&heads[0], &heads[1], &heads[2], &heads[3], &heads[4], &heads[5]});
    std::string rule = "|";
    for (const std::size_t w : width)
        rule += std::string(w + 2, '-') + "|";
    std::printf("%s\n", rule.c_str());
    for (const Row& r : rows)
        printRow({&r.measure, &r.program, &r.floor, &r.ratio, &r.goal, &r.verdict});
    if (unexpected > 0 || lostPaced > 0)
        std::printf("Also: %lld unexpected answers, %lld paced exchanges lost.\n", unexpected,
                    lostPaced);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, endChildren);
    std::signal(SIGTERM, endChildren);
    try {
        return runBenchmark(parseOptions(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvaro-bench-driver: %s\n", error.what());
        return 1;
    }
}
