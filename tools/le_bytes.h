// Little-endian writers for the resource generators' file headers.
#pragma once

#include <cstdint>
#include <vector>

inline void put16(std::vector<uint8_t> &out, unsigned v)
{
    out.push_back(v & 0xff);
    out.push_back((v >> 8) & 0xff);
}

inline void put32(std::vector<uint8_t> &out, uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}
