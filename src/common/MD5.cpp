#include "common/MD5.h"

#include <wx/stream.h>
#include <wx/wfstream.h>

#include <bit>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Pieces handed to the digest per read; a file is never held whole in memory.
constexpr std::size_t ReadSize = 64000;
// The stream's default 1 KiB buffer costs a system call per KiB, which more
// than halves the throughput; this lets each call fetch a whole piece.
constexpr std::size_t StreamBufferSize = 64 * 1024;

std::uint32_t LoadLittleEndian(const unsigned char* bytes)
{
    // The compiler turns this into one load on little-endian machines.
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

void StoreLittleEndian(std::uint32_t value, unsigned char* bytes)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The four steps of RFC 1321: a = b + ((a + f(b, c, d) + x + t) <<< s). The
// message word and constant are added first, off the path that waits for b.
template <int S>
void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
           std::uint32_t t)
{
    a = b + std::rotl(a + x + t + (d ^ (b & (c ^ d))), S);
}

// (b & d) and (c & ~d) share no bits, so adding them equals or-ing them, and
// c & ~d can be computed before b is known.
template <int S>
void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
           std::uint32_t t)
{
    a = b + std::rotl(a + x + t + (c & ~d) + (b & d), S);
}

template <int S>
void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
           std::uint32_t t)
{
    a = b + std::rotl(a + x + t + (b ^ c ^ d), S);
}

template <int S>
void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
           std::uint32_t t)
{
    a = b + std::rotl(a + x + t + (c ^ (b | ~d)), S);
}

void CompressBlock(std::uint32_t state[4], const unsigned char* block)
{
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = LoadLittleEndian(block + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    StepF<7>(a, b, c, d, x[0], 0xd76aa478);
    StepF<12>(d, a, b, c, x[1], 0xe8c7b756);
    StepF<17>(c, d, a, b, x[2], 0x242070db);
    StepF<22>(b, c, d, a, x[3], 0xc1bdceee);
    StepF<7>(a, b, c, d, x[4], 0xf57c0faf);
    StepF<12>(d, a, b, c, x[5], 0x4787c62a);
    StepF<17>(c, d, a, b, x[6], 0xa8304613);
    StepF<22>(b, c, d, a, x[7], 0xfd469501);
    StepF<7>(a, b, c, d, x[8], 0x698098d8);
    StepF<12>(d, a, b, c, x[9], 0x8b44f7af);
    StepF<17>(c, d, a, b, x[10], 0xffff5bb1);
    StepF<22>(b, c, d, a, x[11], 0x895cd7be);
    StepF<7>(a, b, c, d, x[12], 0x6b901122);
    StepF<12>(d, a, b, c, x[13], 0xfd987193);
    StepF<17>(c, d, a, b, x[14], 0xa679438e);
    StepF<22>(b, c, d, a, x[15], 0x49b40821);

    StepG<5>(a, b, c, d, x[1], 0xf61e2562);
    StepG<9>(d, a, b, c, x[6], 0xc040b340);
    StepG<14>(c, d, a, b, x[11], 0x265e5a51);
    StepG<20>(b, c, d, a, x[0], 0xe9b6c7aa);
    StepG<5>(a, b, c, d, x[5], 0xd62f105d);
    StepG<9>(d, a, b, c, x[10], 0x02441453);
    StepG<14>(c, d, a, b, x[15], 0xd8a1e681);
    StepG<20>(b, c, d, a, x[4], 0xe7d3fbc8);
    StepG<5>(a, b, c, d, x[9], 0x21e1cde6);
    StepG<9>(d, a, b, c, x[14], 0xc33707d6);
    StepG<14>(c, d, a, b, x[3], 0xf4d50d87);
    StepG<20>(b, c, d, a, x[8], 0x455a14ed);
    StepG<5>(a, b, c, d, x[13], 0xa9e3e905);
    StepG<9>(d, a, b, c, x[2], 0xfcefa3f8);
    StepG<14>(c, d, a, b, x[7], 0x676f02d9);
    StepG<20>(b, c, d, a, x[12], 0x8d2a4c8a);

    StepH<4>(a, b, c, d, x[5], 0xfffa3942);
    StepH<11>(d, a, b, c, x[8], 0x8771f681);
    StepH<16>(c, d, a, b, x[11], 0x6d9d6122);
    StepH<23>(b, c, d, a, x[14], 0xfde5380c);
    StepH<4>(a, b, c, d, x[1], 0xa4beea44);
    StepH<11>(d, a, b, c, x[4], 0x4bdecfa9);
    StepH<16>(c, d, a, b, x[7], 0xf6bb4b60);
    StepH<23>(b, c, d, a, x[10], 0xbebfbc70);
    StepH<4>(a, b, c, d, x[13], 0x289b7ec6);
    StepH<11>(d, a, b, c, x[0], 0xeaa127fa);
    StepH<16>(c, d, a, b, x[3], 0xd4ef3085);
    StepH<23>(b, c, d, a, x[6], 0x04881d05);
    StepH<4>(a, b, c, d, x[9], 0xd9d4d039);
    StepH<11>(d, a, b, c, x[12], 0xe6db99e5);
    StepH<16>(c, d, a, b, x[15], 0x1fa27cf8);
    StepH<23>(b, c, d, a, x[2], 0xc4ac5665);

    StepI<6>(a, b, c, d, x[0], 0xf4292244);
    StepI<10>(d, a, b, c, x[7], 0x432aff97);
    StepI<15>(c, d, a, b, x[14], 0xab9423a7);
    StepI<21>(b, c, d, a, x[5], 0xfc93a039);
    StepI<6>(a, b, c, d, x[12], 0x655b59c3);
    StepI<10>(d, a, b, c, x[3], 0x8f0ccc92);
    StepI<15>(c, d, a, b, x[10], 0xffeff47d);
    StepI<21>(b, c, d, a, x[1], 0x85845dd1);
    StepI<6>(a, b, c, d, x[8], 0x6fa87e4f);
    StepI<10>(d, a, b, c, x[15], 0xfe2ce6e0);
    StepI<15>(c, d, a, b, x[6], 0xa3014314);
    StepI<21>(b, c, d, a, x[13], 0x4e0811a1);
    StepI<6>(a, b, c, d, x[4], 0xf7537e82);
    StepI<10>(d, a, b, c, x[11], 0xbd3af235);
    StepI<15>(c, d, a, b, x[2], 0x2ad7d2bb);
    StepI<21>(b, c, d, a, x[9], 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

wxString HexDigest(MD5& md5)
{
    unsigned char digest[16];
    md5.Finalize(digest);
    return ToHexString(digest, sizeof digest);
}

} // namespace

MD5::MD5() : state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, count{0, 0}, buffer{} {}

void MD5::Update(const void* data, std::size_t length)
{
    const auto* input = static_cast<const unsigned char*>(data);
    const std::size_t used = (count[0] >> 3) & 63;
    const std::uint64_t bits = (std::uint64_t(count[1]) << 32 | count[0]) + (std::uint64_t(length) << 3);
    count[0] = static_cast<std::uint32_t>(bits);
    count[1] = static_cast<std::uint32_t>(bits >> 32);

    if (used > 0) {
        const std::size_t room = 64 - used;
        if (length < room) {
            std::memcpy(buffer + used, input, length);
            return;
        }
        std::memcpy(buffer + used, input, room);
        Transform(buffer, 1);
        input += room;
        length -= room;
    }
    // Whole blocks are digested where they lie; only a tail is kept for later.
    Transform(input, length / 64);
    std::memcpy(buffer, input + length / 64 * 64, length % 64);
}

void MD5::Finalize(unsigned char digest[16])
{
    unsigned char bitCount[8];
    StoreLittleEndian(count[0], bitCount);
    StoreLittleEndian(count[1], bitCount + 4);

    // Pad with 0x80 and zeros up to 56 bytes modulo 64, then append the bit count.
    static const unsigned char padding[64] = {0x80};
    const std::size_t used = (count[0] >> 3) & 63;
    Update(padding, used < 56 ? 56 - used : 120 - used);
    Update(bitCount, sizeof bitCount);

    for (int i = 0; i < 4; ++i)
        StoreLittleEndian(state[i], digest + 4 * i);
    Wipe();
}

void MD5::Transform(const unsigned char* blocks, std::size_t blockCount)
{
    for (std::size_t i = 0; i < blockCount; ++i)
        CompressBlock(state, blocks + 64 * i);
}

void MD5::Wipe()
{
    // Through volatile, so the compiler cannot drop the stores as dead when the
    // context is about to go out of scope.
    auto clear = [](void* memory, std::size_t size) {
        auto* bytes = static_cast<volatile unsigned char*>(memory);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = 0;
    };
    clear(state, sizeof state);
    clear(count, sizeof count);
    clear(buffer, sizeof buffer);
}

wxString FileMD5(const wxString& path)
{
    // Opening and reading failures are logged by the toolkit itself.
    wxFileInputStream file(path);
    if (!file.IsOk())
        return wxString();
    wxBufferedInputStream input(file, StreamBufferSize);
    const auto piece = std::make_unique<unsigned char[]>(ReadSize);
    MD5 md5;
    // The buffered stream reports a failed read of the file as its end, so the
    // loop always stops; only the file stream tells an error from the end.
    while (input.IsOk()) {
        input.Read(piece.get(), ReadSize);
        md5.Update(piece.get(), input.LastRead());
    }
    if (file.GetLastError() != wxSTREAM_EOF)
        return wxString();
    return HexDigest(md5);
}

wxString StringMD5(const wxString& text)
{
    std::string ascii;
    ascii.reserve(text.length());
    for (const wxUniChar character : text)
        ascii += character.GetValue() > 127 ? '_' : static_cast<char>(character.GetValue());
    MD5 md5;
    md5.Update(ascii.data(), ascii.size());
    return HexDigest(md5);
}

wxString ToHexString(const unsigned char* bytes, std::size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex(2 * count, '0');
    for (std::size_t i = 0; i < count; ++i) {
        hex[2 * i] = digits[bytes[i] >> 4];
        hex[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return wxString::FromAscii(hex.data(), hex.size());
}
