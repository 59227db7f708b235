#pragma once
// Small PNG files made in the test: chunks with their CRC, rows compressed with zlib, and
// loading through TVelPNG from memory.

#include "png/VelPNG.h"
#include "platform/Streams.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

namespace nolvi2::test {

using Bytes = std::vector<uint8_t>;

inline void PutBE32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

inline Bytes Chunk(const std::string& type, const Bytes& data)
{
    Bytes out;
    PutBE32(out, uint32_t(data.size()));
    Bytes body(type.begin(), type.end());
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBE32(out, uint32_t(crc32(0, body.data(), uInt(body.size()))));
    return out;
}

inline Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t compression = 0,
                  uint8_t filter = 0, uint8_t interlace = 0)
{
    Bytes d;
    PutBE32(d, width);
    PutBE32(d, height);
    d.insert(d.end(), {depth, colorType, compression, filter, interlace});
    return Chunk("IHDR", d);
}

inline Bytes Compress(const Bytes& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    compress(out.data(), &size, raw.data(), uLong(raw.size()));
    out.resize(size);
    return out;
}

inline Bytes Signature() { return {137, 80, 78, 71, 13, 10, 26, 10}; }

// Signature followed by the chunks.
inline Bytes PngFile(const std::vector<Bytes>& chunks)
{
    Bytes out = Signature();
    for (const Bytes& c : chunks)
        out.insert(out.end(), c.begin(), c.end());
    return out;
}

inline void LoadPng(TVelPNG& png, const Bytes& bytes)
{
    TMemoryStream s;
    if (!bytes.empty())
        s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
    png.LoadFromStream(s);
}

inline Bytes ReadFileBytes(const std::string& path)
{
    TMemoryStream s;
    s.LoadFromFile(path);
    return Bytes(s.Memory(), s.Memory() + s.Size());
}

}  // namespace nolvi2::test
