// The store's file on disk gathers writes that follow one another before handing them to the
// system. Whatever was written must read back at once, whether it is still gathered, partly
// gathered or already in the file, and must all be in the file after a Sync, in the last version
// written to each byte.
#include "PstTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

using namespace pst;
using namespace pst::test;

namespace {

Bytes FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

}  // namespace

TEST(DiskFile, WritesReadBackAtOnceAndAreInTheFileAfterEachSync)
{
    TempDir dir;
    const std::string path = dir.path + "/gathered.pst";
    constexpr std::size_t kSize = 4 << 20;
    auto file = CreateDiskFile(path);
    file->Resize(kSize);
    Bytes model(kSize, 0);

    std::mt19937 random(11);
    std::uint64_t next = 0;  // where a write following the last one starts
    for (int step = 0; step < 1500; ++step) {
        const unsigned kind = random() % 20;
        if (kind < 12) {
            // A write: mostly right after the last one, sometimes elsewhere (over earlier ones
            // too), now and then larger than what is gathered at once.
            std::size_t size = 64 + random() % 8000;
            if (kind == 0)
                size = 600 * 1024 + random() % 100000;
            std::uint64_t at = kind < 9 ? next : random() % (kSize - size);
            if (at + size > kSize)
                at = 0;
            const Bytes data = Pattern(size, static_cast<std::uint32_t>(step));
            file->Write(at, data.data(), data.size());
            std::copy(data.begin(), data.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
            next = at + size;
        } else if (kind < 19) {
            // A read of a range around where writing goes on, or anywhere.
            const std::size_t size = 1 + random() % 20000;
            std::uint64_t at = kind < 16 && next > size / 2 ? next - size / 2 : random() % (kSize - size);
            if (at + size > kSize)
                at = kSize - size;
            Bytes got(size);
            file->Read(at, got.data(), got.size());
            ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + static_cast<std::ptrdiff_t>(at)))
                << "step " << step << ": " << size << " bytes at " << at;
        } else {
            file->Sync();
            ASSERT_EQ(FileBytes(path), model) << "after the sync of step " << step;
        }
    }
    file->Close();
    EXPECT_EQ(FileBytes(path), model) << "after Close";
}
