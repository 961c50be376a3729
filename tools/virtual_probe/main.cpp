// nerova_virtual_probe: a probe device without hardware. It opens a
// pseudo-terminal, links its terminal to the given path and writes
// probe-like lines into it at a steady rate, as a probe device on a USB
// serial port would. Point NEROVA_VIRTUAL_SERIAL at the link:
//   nerova_virtual_probe --link /tmp/probe &
//   NEROVA_VIRTUAL_SERIAL='/tmp/probe@4660-22136@Virtual probe' host ...
#include "ProbeLineMaker.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t pauseRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

void requestPause(int)
{
    pauseRequested = 1;
}

// Writes what is still waiting, so that every line counted is on the line.
void drain(int master, std::string &waiting)
{
    while (!waiting.empty() && !stopRequested) {
        const ssize_t count = write(master, waiting.data(), waiting.size());
        if (count > 0)
            waiting.erase(0, static_cast<size_t>(count));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int usage(int status)
{
    (status ? std::cerr : std::cout)
        << "Usage: nerova_virtual_probe --link PATH [--rate LINES_PER_SECOND] [--seconds N]\n"
           "  Opens a pseudo-terminal, makes PATH a symbolic link to it, and writes\n"
           "  probe-like lines (\"MAC,dBm,channel\" and CR LF) at the rate (default 5)\n"
           "  for N seconds (default: until SIGINT or SIGTERM). Lines that nobody\n"
           "  reads are dropped once the terminal's buffer is full, as on a real line.\n"
           "  SIGUSR1 ends the writing and prints the count, but keeps the device\n"
           "  until SIGINT or SIGTERM.\n";
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    std::string link;
    double rate = 5;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help")
            return usage(0);
        if (i + 1 >= argc)
            return usage(2);
        const char *value = argv[++i];
        if (option == "--link")
            link = value;
        else if (option == "--rate")
            rate = std::atof(value);
        else if (option == "--seconds")
            seconds = std::atof(value);
        else
            return usage(2);
    }
    if (link.empty() || rate <= 0 || rate > 10000)
        return usage(2);

    int master = -1;
    int terminal = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) {
        std::cerr << "nerova_virtual_probe: openpty failed: " << std::strerror(errno) << "\n";
        return 1;
    }
    // Raw from the start: no echo back into the unread master, no CR
    // translation before the reader has set its own line settings.
    termios settings{};
    tcgetattr(terminal, &settings);
    cfmakeraw(&settings);
    tcsetattr(terminal, TCSANOW, &settings);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const std::string terminalPath = ttyname(terminal);
    unlink(link.c_str());
    if (symlink(terminalPath.c_str(), link.c_str()) != 0) {
        std::cerr << "nerova_virtual_probe: cannot link " << link << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGUSR1, requestPause);
    std::cout << "virtual probe device at " << link << " (" << terminalPath << "), " << rate << " lines a second"
              << std::endl;

    ProbeLineMaker maker(static_cast<unsigned>(getpid()));
    const auto period = std::chrono::duration<double>(1.0 / rate);
    const auto start = std::chrono::steady_clock::now();
    auto due = start;
    // A line is written whole or, when the terminal is full, waits here;
    // beyond a few lines waiting, new lines are dropped.
    std::string waiting;
    long written = 0;
    long dropped = 0;
    while (!stopRequested && !pauseRequested) {
        if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds))
            break;
        if (waiting.size() < 512) {
            waiting += maker.next();
            ++written;
        } else {
            ++dropped;
        }
        const ssize_t count = write(master, waiting.data(), waiting.size());
        if (count > 0)
            waiting.erase(0, static_cast<size_t>(count));
        due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
        std::this_thread::sleep_until(due);
    }
    if (pauseRequested)
        drain(master, waiting);
    for (size_t end = waiting.find("\r\n"); end != std::string::npos; end = waiting.find("\r\n", end + 2))
        --written;
    std::cout << "virtual probe device: " << written << " lines written, " << dropped << " dropped" << std::endl;
    while (pauseRequested && !stopRequested)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    unlink(link.c_str());
    // The reader takes the last lines before the terminal goes away.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    close(terminal);
    close(master);
    return 0;
}
