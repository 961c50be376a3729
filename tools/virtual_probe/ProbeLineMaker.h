#pragma once

#include <random>
#include <string>
#include <vector>

// Lines as a Wi-Fi probe device sends them: the MAC address of a phone
// nearby, its signal strength in dBm and the channel, ending in CR LF:
//   "a4:5e:60:3c:01:7f,-67,6\r\n"
// A small crowd of phones comes back again and again, as in a store.
class ProbeLineMaker
{
public:
    explicit ProbeLineMaker(unsigned seed = 1, int phones = 24);

    std::string next();

private:
    std::mt19937 m_random;
    std::vector<std::string> m_phones;
};
