#include "PstTestSupport.h"

#include <random>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/Shell.h"

namespace pst::test {

namespace {

class RecordingLayer : public FileLayer {
public:
    explicit RecordingLayer(MemoryFile& file)
        : m_file(file)
    {
    }
    void Write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        if (m_file.content.size() < offset + size)
            m_file.content.resize(offset + size, 0);
        std::copy(data, data + size, m_file.content.begin() + static_cast<std::ptrdiff_t>(offset));
        m_file.writes.emplace_back(offset, Bytes(data, data + size));
    }
    void Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) override
    {
        std::copy_n(m_file.content.begin() + static_cast<std::ptrdiff_t>(offset), size, data);
    }
    void Resize(std::uint64_t size) override { m_file.content.resize(size, 0); }
    void Sync() override { ++m_file.syncs; }
    void Close() override {}

private:
    MemoryFile& m_file;
};

bool PageOk(const Bytes& file, std::uint64_t ib, std::uint8_t type, std::uint64_t bid)
{
    if (ib + 512 > file.size() || ib % 512)
        return false;
    const std::uint8_t* p = file.data() + ib;
    return p[496] == type && p[497] == type && Get32(p + 500) == ComputeCrc(p, 496) && Get64(p + 504) == bid
           && Get16(p + 498) == ComputeSig(ib, bid);
}

bool Walk(const Bytes& file, std::uint64_t bid, std::uint64_t ib, int expectLevel, std::map<std::uint32_t, NodeInfo>& out,
          int* depth)
{
    if (!PageOk(file, ib, 0x81, bid))
        return false;
    const std::uint8_t* p = file.data() + ib;
    const int cEnt = p[488];
    const int level = p[491];
    if (expectLevel >= 0 && level != expectLevel)
        return false;
    if (depth && *depth < 0)
        *depth = level;
    for (int i = 0; i < cEnt; ++i) {
        if (level == 0) {
            const std::uint8_t* e = p + 32 * i;
            out[Get32(e)] = {Get64(e + 8), Get64(e + 16), Get32(e + 24)};
        } else {
            const std::uint8_t* e = p + 24 * i;
            if (!Walk(file, Get64(e + 8), Get64(e + 16), level - 1, out, depth))
                return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<FileLayer> MemoryFile::Layer() { return std::make_unique<RecordingLayer>(*this); }

Bytes MemoryFile::Replay(const Bytes& base, const std::vector<std::pair<std::uint64_t, Bytes>>& writes,
                         std::size_t from, std::size_t count)
{
    Bytes file = base;
    for (std::size_t i = from; i < from + count; ++i) {
        const auto& [offset, data] = writes[i];
        if (file.size() < offset + data.size())
            file.resize(offset + data.size(), 0);
        std::copy(data.begin(), data.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return file;
}

std::optional<std::map<std::uint32_t, NodeInfo>> ReadNodeTree(const Bytes& file, int* depth)
{
    if (file.size() < 0x234 || Get32(file.data()) != 0x4E444221)
        return std::nullopt;
    if (Get32(file.data() + 4) != ComputeCrc(file.data() + 8, 471) || Get32(file.data() + 0x20C) != ComputeCrc(file.data() + 8, 516))
        return std::nullopt;
    std::map<std::uint32_t, NodeInfo> nodes;
    if (depth)
        *depth = -1;
    if (!Walk(file, Get64(file.data() + 0xD8), Get64(file.data() + 0xE0), -1, nodes, depth))
        return std::nullopt;
    return nodes;
}

int RunCommand(const std::string& command, std::string* output, bool errors)
{
    return testshell::RunCommand(command, output, errors);
}

Bytes Pattern(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    std::mt19937 random(seed);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(random());
    return b;
}

TempDir::TempDir()
    : path(testshell::MakeTempDir("pst-test"))
{
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!path.empty())
        std::filesystem::remove_all(path, ec);
}

}  // namespace pst::test
