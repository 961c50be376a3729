#include "ProbeLineMaker.h"

#include <cstdio>

ProbeLineMaker::ProbeLineMaker(unsigned seed, int phones) : m_random(seed)
{
    for (int i = 0; i < phones; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", static_cast<unsigned>(m_random() & 0xfc),
                      static_cast<unsigned>(m_random() & 0xff), static_cast<unsigned>(m_random() & 0xff),
                      static_cast<unsigned>(m_random() & 0xff), static_cast<unsigned>(m_random() & 0xff),
                      static_cast<unsigned>(m_random() & 0xff));
        m_phones.push_back(mac);
    }
}

std::string ProbeLineMaker::next()
{
    static const int channels[] = {1, 6, 11};
    const std::string &phone = m_phones[m_random() % m_phones.size()];
    const int signal = -35 - static_cast<int>(m_random() % 55);
    char line[64];
    std::snprintf(line, sizeof line, "%s,%d,%d\r\n", phone.c_str(), signal, channels[m_random() % 3]);
    return line;
}
