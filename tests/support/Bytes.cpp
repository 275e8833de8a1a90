#include "support/Bytes.h"

#include <zlib.h>

#include <random>

std::string Pattern(std::uint64_t start, std::size_t count)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((start + i) % 251);
    return bytes;
}

std::string Noise(std::size_t count)
{
    std::mt19937 generator(count);
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::string Deflate(const std::string& bytes, DeflateFormat format)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, format, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, bytes.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

StreamContent ReadAll(wxInputStream& stream, std::size_t chunk)
{
    StreamContent content;
    std::string buffer(chunk, '\0');
    while (stream.Read(buffer.data(), chunk).LastRead() > 0)
        content.bytes.append(buffer.data(), stream.LastRead());
    content.end = stream.GetLastError();
    return content;
}
