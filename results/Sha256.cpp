#include "results/Sha256.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <vector>

namespace orv {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotr(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

class Sha256
{
public:
    void add(std::span<const std::uint8_t> bytes)
    {
        for (const std::uint8_t b : bytes) {
            m_block[m_filled++] = b;
            if (m_filled == 64) {
                compress();
                m_filled = 0;
            }
        }
        m_length += bytes.size();
    }

    std::string hex()
    {
        const std::uint64_t bitLength = m_length * 8;
        const std::uint8_t one = 0x80, zero = 0;
        add({&one, 1});
        while (m_filled != 56)
            add({&zero, 1});
        for (int i = 7; i >= 0; --i) {
            const auto b = static_cast<std::uint8_t>(bitLength >> (8 * i));
            add({&b, 1});
        }
        std::string out;
        char part[9];
        for (const std::uint32_t word : m_h) {
            std::snprintf(part, sizeof part, "%08x", word);
            out += part;
        }
        return out;
    }

private:
    void compress()
    {
        std::array<std::uint32_t, 64> w{};
        for (std::size_t i = 0; i < 16; ++i)
            w[i] = std::uint32_t{m_block[4 * i]} << 24 | std::uint32_t{m_block[4 * i + 1]} << 16 |
                std::uint32_t{m_block[4 * i + 2]} << 8 | m_block[4 * i + 3];
        for (std::size_t i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, hh] = m_h;
        for (std::size_t i = 0; i < 64; ++i) {
            const std::uint32_t t1 =
                hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        m_h[0] += a;
        m_h[1] += b;
        m_h[2] += c;
        m_h[3] += d;
        m_h[4] += e;
        m_h[5] += f;
        m_h[6] += g;
        m_h[7] += hh;
    }

    std::array<std::uint32_t, 8> m_h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_filled = 0;
    std::uint64_t m_length = 0;
};

} // namespace

std::string sha256Hex(std::span<const std::uint8_t> bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.hex();
}

std::string sha256OfFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        hash.add({reinterpret_cast<const std::uint8_t*>(buffer.data()), got});
    }
    return in.eof() ? hash.hex() : std::string();
}

} // namespace orv
