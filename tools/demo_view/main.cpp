// nerova_demo_view: reads the example C host's JSON lines on standard input
// and prints them readably, with the time; at the end of the input it writes
// the counts of what the host received to the file given (for the demo).
//   nerova_c_host < scenario | nerova_demo_view [--counts FILE]
#include "HostEventFormatter.h"

#include <QFile>
#include <QTime>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QString countsFile;
    if (argc == 3 && std::string(argv[1]) == "--counts") {
        countsFile = QString::fromLocal8Bit(argv[2]);
    } else if (argc != 1) {
        std::cerr << "Usage: nerova_c_host < scenario | nerova_demo_view [--counts FILE]\n";
        return 2;
    }
    HostEventFormatter formatter;
    std::string line;
    while (std::getline(std::cin, line)) {
        const QString text = formatter.format(QByteArray::fromStdString(line));
        if (!text.isEmpty())
            std::cout << QTime::currentTime().toString("HH:mm:ss").toStdString() << " " << text.toStdString()
                      << std::endl;
    }
    if (!countsFile.isEmpty()) {
        QFile out(countsFile);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(formatter.countsText().toUtf8()) < 0) {
            std::cerr << "nerova_demo_view: cannot write " << countsFile.toStdString() << "\n";
            return 1;
        }
    }
    return 0;
}
