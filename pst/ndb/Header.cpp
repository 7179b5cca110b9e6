#include "Header.h"

#include "Crc.h"

namespace pst {

namespace {

constexpr std::uint16_t kMagicClientPst = 0x4D53;  // "SM"
constexpr std::uint16_t kVerUnicode = 23;
constexpr std::uint16_t kVerClient = 19;

// dwCRCPartial covers 471 bytes from wMagicClient; dwCRCFull 516 bytes from the same place.
constexpr std::size_t kCrcStart = 8;
constexpr std::size_t kPartialLength = 471;
constexpr std::size_t kFullLength = 516;

}  // namespace

Bytes Header::Serialize() const
{
    Bytes h(kSize, 0);
    std::uint8_t* p = h.data();
    p[0] = '!';
    p[1] = 'B';
    p[2] = 'D';
    p[3] = 'N';
    Put16(p + 0x08, kMagicClientPst);
    Put16(p + 0x0A, kVerUnicode);
    Put16(p + 0x0C, kVerClient);
    p[0x0E] = 0x01;  // bPlatformCreate
    p[0x0F] = 0x01;  // bPlatformAccess
    Put64(p + 0x20, bidNextP);
    Put32(p + 0x28, dwUnique);
    for (std::size_t i = 0; i < rgnid.size(); ++i)
        Put32(p + 0x2C + 4 * i, rgnid[i]);
    Put64(p + 0xB8, root.ibFileEof);
    Put64(p + 0xC0, root.ibAMapLast);
    Put64(p + 0xC8, root.cbAMapFree);
    Put64(p + 0xD0, root.cbPMapFree);
    Put64(p + 0xD8, root.BREFNBT.bid);
    Put64(p + 0xE0, root.BREFNBT.ib);
    Put64(p + 0xE8, root.BREFBBT.bid);
    Put64(p + 0xF0, root.BREFBBT.ib);
    p[0xF8] = root.fAMapValid;
    // rgbFM and rgbFP: the deprecated free maps, all 0xFF as current Outlook writes them.
    std::fill(p + 0x100, p + 0x200, 0xFF);
    p[0x200] = 0x80;  // bSentinel
    p[0x201] = bCryptMethod;
    Put64(p + 0x204, bidNextB);
    Put32(p + 0x04, ComputeCrc(p + kCrcStart, kPartialLength));
    Put32(p + 0x20C, ComputeCrc(p + kCrcStart, kFullLength));
    return h;
}

std::optional<Header> Header::Parse(const std::uint8_t* p, std::size_t size)
{
    if (size < kSize || p[0] != '!' || p[1] != 'B' || p[2] != 'D' || p[3] != 'N')
        return std::nullopt;
    if (Get16(p + 0x08) != kMagicClientPst || Get16(p + 0x0A) != kVerUnicode)
        return std::nullopt;
    if (Get32(p + 0x04) != ComputeCrc(p + kCrcStart, kPartialLength)
        || Get32(p + 0x20C) != ComputeCrc(p + kCrcStart, kFullLength))
        return std::nullopt;
    Header h;
    h.bidNextP = Get64(p + 0x20);
    h.dwUnique = Get32(p + 0x28);
    for (std::size_t i = 0; i < h.rgnid.size(); ++i)
        h.rgnid[i] = Get32(p + 0x2C + 4 * i);
    h.root.ibFileEof = Get64(p + 0xB8);
    h.root.ibAMapLast = Get64(p + 0xC0);
    h.root.cbAMapFree = Get64(p + 0xC8);
    h.root.cbPMapFree = Get64(p + 0xD0);
    h.root.BREFNBT = {Get64(p + 0xD8), Get64(p + 0xE0)};
    h.root.BREFBBT = {Get64(p + 0xE8), Get64(p + 0xF0)};
    h.root.fAMapValid = p[0xF8];
    h.bCryptMethod = p[0x201];
    h.bidNextB = Get64(p + 0x204);
    return h;
}

}  // namespace pst
