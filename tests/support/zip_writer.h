#pragma once

// A small ZIP writer for building test packages, faults included: stored or
// deflated entries (zlib), a chosen CRC, flags or method. Header only, so
// that only the tests that link zlib pull it in.

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace merovane::test {

struct ZipSpec {
    std::string name{};  // bytes as stored in the archive
    std::string data{};
    bool deflate = false;
    std::uint16_t flags = 0;               // 0x0800: the name is UTF-8
    std::optional<std::uint16_t> method{};   // stored in the headers instead of the real one
    std::optional<std::uint32_t> crc{};      // stored instead of the real CRC-32
};

namespace zip_detail {

inline void Put16(std::string& out, std::uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

inline void Put32(std::string& out, std::uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline std::string Deflate(const std::string& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    out.resize(stream.total_out);
    return out;
}

} // namespace zip_detail

inline std::string MakeZip(const std::vector<ZipSpec>& entries)
{
    using zip_detail::Put16;
    using zip_detail::Put32;
    std::string archive;
    std::string central;
    for (const ZipSpec& entry : entries) {
        const std::string stored = entry.deflate ? zip_detail::Deflate(entry.data) : entry.data;
        const std::uint16_t method = entry.method.value_or(entry.deflate ? 8 : 0);
        const std::uint32_t crc = entry.crc.value_or(static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size()))));
        const auto offset = static_cast<std::uint32_t>(archive.size());

        Put32(archive, 0x04034B50);
        Put16(archive, 20);
        Put16(archive, entry.flags);
        Put16(archive, method);
        Put32(archive, 0);  // time and date
        Put32(archive, crc);
        Put32(archive, static_cast<std::uint32_t>(stored.size()));
        Put32(archive, static_cast<std::uint32_t>(entry.data.size()));
        Put16(archive, static_cast<std::uint32_t>(entry.name.size()));
        Put16(archive, 0);
        archive += entry.name;
        archive += stored;

        Put32(central, 0x02014B50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, entry.flags);
        Put16(central, method);
        Put32(central, 0);
        Put32(central, crc);
        Put32(central, static_cast<std::uint32_t>(stored.size()));
        Put32(central, static_cast<std::uint32_t>(entry.data.size()));
        Put16(central, static_cast<std::uint32_t>(entry.name.size()));
        Put16(central, 0);  // extra
        Put16(central, 0);  // comment
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, 0);  // external attributes
        Put32(central, offset);
        central += entry.name;
    }
    const auto centralOffset = static_cast<std::uint32_t>(archive.size());
    archive += central;
    Put32(archive, 0x06054B50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<std::uint32_t>(entries.size()));
    Put16(archive, static_cast<std::uint32_t>(entries.size()));
    Put32(archive, static_cast<std::uint32_t>(central.size()));
    Put32(archive, centralOffset);
    Put16(archive, 0);
    return archive;
}

} // namespace merovane::test
