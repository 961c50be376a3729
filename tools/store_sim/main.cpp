// nerova_store_sim: a store server and cloud face service on 127.0.0.1 for
// developing and trying out hosts of the nerova SDK (see --help).
#include "SimServer.h"

#include <QJsonDocument>

#include <csignal>
#include <fstream>
#include <iostream>
#include <pthread.h>

namespace {

void writeFile(const std::string &path, const std::string &text)
{
    if (path.empty())
        return;
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

} // namespace

int main(int argc, char **argv)
{
    SimOptions options;
    std::string error;
    if (!options.parse(std::vector<std::string>(argv + 1, argv + argc), error)) {
        std::cerr << "nerova_store_sim: " << error << "\n(--help lists the options)\n";
        return 2;
    }
    if (options.help) {
        std::cout << SimOptions::usage();
        return 0;
    }

    // These signals are taken by sigwait() below, never by the server's threads.
    sigset_t handledSignals;
    sigemptyset(&handledSignals);
    for (int number : {SIGINT, SIGTERM, SIGUSR1, SIGHUP})
        sigaddset(&handledSignals, number);
    pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    SimServer server(options, [](const std::string &line) { std::cout << line << std::endl; });
    if (!server.start(error)) {
        std::cerr << "nerova_store_sim: " << error << "\n";
        return 1;
    }
    std::cout << "nerova_store_sim listening on " << server.baseUrl() << " (demo account \"" << options.userName
              << "\", password \"" << options.password << "\")\n"
              << "Settings for conf/default.ini:\n\n"
              << server.configText() << std::endl;
    writeFile(options.portFile, std::to_string(server.port()) + "\n");

    for (;;) {
        int received = 0;
        sigwait(&handledSignals, &received);
        if (received == SIGUSR1) {
            std::cout << server.summaryText() << std::flush;
            continue;
        }
        break;
    }
    server.stop();
    std::cout << server.summaryText() << std::flush;
    writeFile(options.summaryFile, QJsonDocument(server.summary()).toJson().toStdString());
    return 0;
}
