#pragma once

#include <cstddef>
#include <string>

// Unpacks a gzip file (RFC 1952), every member of it in turn. Fails with a
// reason in error on anything else, on a damaged or truncated file, and
// when the unpacked bytes would exceed maxBytes (a small archive may unpack
// to gigabytes).
bool gunzip(const std::string &archive, std::string &unpacked, size_t maxBytes, std::string &error);
