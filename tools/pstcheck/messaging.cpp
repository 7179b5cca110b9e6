#include "messaging.h"

#include "ndb_crc.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pstcheck {
namespace {

constexpr std::uint32_t kNidStore = 0x21;
constexpr std::uint32_t kNidNameMap = 0x61;
constexpr std::uint32_t kNidRootFolder = 0x122;

constexpr std::uint32_t kTypeFolder = 0x02;
constexpr std::uint32_t kTypeSearchFolder = 0x03;
constexpr std::uint32_t kTypeMessage = 0x04;
constexpr std::uint32_t kTypeAssocMessage = 0x08;
constexpr std::uint32_t kTypeHierarchy = 0x0D;
constexpr std::uint32_t kTypeContents = 0x0E;
constexpr std::uint32_t kTypeAssocContents = 0x0F;

constexpr std::uint16_t kPidDisplayName = 0x3001;
constexpr std::uint16_t kPidContentCount = 0x3602;
constexpr std::uint16_t kPidContentUnread = 0x3603;
constexpr std::uint16_t kPidSubfolders = 0x360A;
constexpr std::uint16_t kPidMessageSize = 0x0E08;
constexpr std::uint16_t kPidRecordKey = 0x0FF9;
constexpr std::uint16_t kPidIpmSubTree = 0x35E0;
constexpr std::uint16_t kPidPstPassword = 0x67FF;

std::uint32_t tableOf(std::uint32_t folder, std::uint32_t type) { return (folder & ~0x1Fu) | type; }
bool isFolder(std::uint32_t nid) { return nidType(nid) == kTypeFolder || nidType(nid) == kTypeSearchFolder; }
bool isMessage(std::uint32_t nid) { return nidType(nid) == kTypeMessage || nidType(nid) == kTypeAssocMessage; }

class Messaging {
public:
    Messaging(const Ndb& ndb, Report& r) : ndb_(ndb), r_(r) {}
    void run();

private:
    void readAll();
    void readSubnodes(std::uint32_t owner, std::uint64_t bidSub, const std::string& where, int depth);
    const PropertyContext* pc(std::uint32_t nid) const;
    const Table* tc(std::uint32_t nid) const;
    void checkMandatory();
    void checkStore();
    void checkFolder(std::uint32_t nid);
    void checkMessage(std::uint32_t nid, const PropertyContext* p);
    std::optional<PropertyContext> messagePc(std::uint32_t nid) const;
    void checkRowAgainstPc(const Row& row, const PropertyContext& pc, const std::string& where, bool strictFolder);
    void checkNameMap();
    void checkNamedTags();
    std::optional<std::uint32_t> intProp(const PropertyContext& pc, std::uint16_t id) const;

    const Ndb& ndb_;
    Report& r_;
    std::map<std::uint32_t, NodeContent> content_;
    std::map<std::uint32_t, std::vector<std::uint32_t>> children_;  // nidParent -> nodes
    std::set<std::uint32_t> namedTagsInUse_;
    std::optional<std::size_t> nameCount_;
};

void Messaging::run()
{
    readAll();
    checkMandatory();
    checkStore();
    for (const auto& [nid, n] : ndb_.nodes()) {
        if (nidType(nid) == kTypeFolder)
            checkFolder(nid);
    }
    checkNameMap();
    checkNamedTags();
}

void Messaging::readAll()
{
    for (const auto& [nid, n] : ndb_.nodes()) {
        const std::string where = strf("NBT node 0x%08x", nid);
        // Contents tables are read here for their own soundness; their rows are checked later,
        // a row at a time, against the messages they list.
        static const RowSink drop = [](Row&&) {};
        NodeContent c = readNode(ndb_, n.bidData, n.bidSub, expectedClientSig(nid, false), where, r_,
                                 nidType(nid) == kTypeContents ? &drop : nullptr);
        if (isMessage(nid))
            checkMessage(nid, c.pc ? &*c.pc : nullptr);  // a message's content is read again when needed
        else
            content_[nid] = std::move(c);
        if (n.nidParent != 0) {
            if (!ndb_.node(n.nidParent))
                r_.problem("%s: nidParent 0x%08x does not exist", where.c_str(), n.nidParent);
            if (n.nidParent != nid)
                children_[n.nidParent].push_back(nid);
        }
        readSubnodes(nid, n.bidSub, where, 0);
    }
}

// PCs and TCs kept in subnodes: attachments, attachment and recipient tables.
void Messaging::readSubnodes(std::uint32_t owner, std::uint64_t bidSub, const std::string& where, int depth)
{
    if (depth > 3)
        return;
    const auto subs = ndb_.subnodes(bidSub);
    if (!subs)
        return;
    for (const auto& [snid, s] : *subs) {
        const std::uint8_t sig = expectedClientSig(snid, true);
        if (!sig)
            continue;
        const std::string here = strf("%s subnode 0x%08x", where.c_str(), snid);
        const NodeContent c = readNode(ndb_, s.bidData, s.bidSub, sig, here, r_);
        if (c.pc)
            for (const auto& [id, v] : c.pc->props)
                if (id >= 0x8000)
                    namedTagsInUse_.insert(id);
        readSubnodes(owner, s.bidSub, here, depth + 1);
    }
}

const PropertyContext* Messaging::pc(std::uint32_t nid) const
{
    const auto it = content_.find(nid);
    return it != content_.end() && it->second.pc ? &*it->second.pc : nullptr;
}

// Messages are checked as they are read and not kept: a store of a million appointments would
// hold gigabytes of them. A folder's rows read them again, their faults already reported once.
std::optional<PropertyContext> Messaging::messagePc(std::uint32_t nid) const
{
    const NbtEntry* n = ndb_.node(nid);
    if (!n)
        return std::nullopt;
    Report quiet;
    NodeContent c = readNode(ndb_, n->bidData, n->bidSub, expectedClientSig(nid, false), "", quiet);
    return std::move(c.pc);
}

const Table* Messaging::tc(std::uint32_t nid) const
{
    const auto it = content_.find(nid);
    return it != content_.end() && it->second.tc ? &*it->second.tc : nullptr;
}

std::optional<std::uint32_t> Messaging::intProp(const PropertyContext& p, std::uint16_t id) const
{
    const auto it = p.props.find(id);
    if (it == p.props.end() || !it->second.bytes)
        return std::nullopt;
    std::uint32_t v = 0;
    const Bytes& b = *it->second.bytes;
    for (std::size_t i = 0; i < b.size() && i < 4; ++i)
        v |= std::uint32_t{b[i]} << (8 * i);
    return v;
}

// MS-PST 2.7.1: nodes every store holds.
void Messaging::checkMandatory()
{
    static const std::uint32_t kMandatory[] = {0x21,  0x61,  0x122, 0x12D, 0x12E, 0x12F, 0x1E1, 0x201,
                                               0x261, 0x60D, 0x60E, 0x60F, 0x610, 0x671, 0x692};
    for (const std::uint32_t nid : kMandatory)
        if (!ndb_.node(nid))
            r_.problem("NBT: mandatory node 0x%08x is missing", nid);
    if (const NbtEntry* root = ndb_.node(kNidRootFolder); root && root->nidParent != kNidRootFolder)
        r_.problem("NBT node 0x%08x (root folder): nidParent 0x%08x, expected itself", kNidRootFolder,
                   root->nidParent);
    for (const std::uint32_t nid : {kNidStore, kNidNameMap, kNidRootFolder})
        if (ndb_.node(nid) && !pc(nid))
            r_.problem("NBT node 0x%08x: no readable property context", nid);
}

// MS-PST 2.4.3: message store PC.
void Messaging::checkStore()
{
    const PropertyContext* store = pc(kNidStore);
    if (!store)
        return;
    const auto password = intProp(*store, kPidPstPassword);
    if (password && *password != 0)
        r_.problem("message store 0x21: PidTagPstPassword (0x67ff) is 0x%08x, not 0", *password);
    const auto rk = store->props.find(kPidRecordKey);
    const Bytes* recordKey = rk != store->props.end() && rk->second.bytes ? &*rk->second.bytes : nullptr;
    if (!recordKey || recordKey->size() != 16)
        r_.problem("message store 0x21: PidTagRecordKey (0x0ff9) is missing or not 16 bytes");
    if (!store->props.count(kPidIpmSubTree))
        r_.problem("message store 0x21: PidTagIpmSubTreeEntryId (0x35e0) is missing");
    for (const std::uint16_t id : {std::uint16_t{0x35E0}, std::uint16_t{0x35E3}, std::uint16_t{0x35E6},
                                   std::uint16_t{0x35E7}}) {
        const auto it = store->props.find(id);
        if (it == store->props.end() || !it->second.bytes)
            continue;
        const Bytes& e = *it->second.bytes;
        const std::string at = strf("message store 0x21 entry ID 0x%04x", id);
        if (e.size() != 24) {
            r_.problem("%s: %zu bytes, expected 24", at.c_str(), e.size());
            continue;
        }
        if (rd32(e.data()) != 0)
            r_.problem("%s: rgbFlags are not zero", at.c_str());
        if (recordKey && recordKey->size() == 16 && !std::equal(recordKey->begin(), recordKey->end(), e.begin() + 4))
            r_.problem("%s: uid differs from PidTagRecordKey", at.c_str());
        const std::uint32_t nid = rd32(e.data() + 20);
        if (!ndb_.node(nid) || !isFolder(nid)) {
            r_.problem("%s: names NID 0x%08x, which is not an existing folder", at.c_str(), nid);
            continue;
        }
        if (id == kPidIpmSubTree)
            for (const std::uint32_t type : {kTypeHierarchy, kTypeContents, kTypeAssocContents})
                if (!ndb_.node(tableOf(nid, type)))
                    r_.problem("%s: IPM subtree 0x%08x has no table node 0x%08x", at.c_str(), nid,
                               tableOf(nid, type));
    }
}

// Cells of a hierarchy or contents row that also exist in the object's PC must hold the same value.
void Messaging::checkRowAgainstPc(const Row& row, const PropertyContext& p, const std::string& where,
                                  bool strictFolder)
{
    for (const auto& [tag, value] : row.cells) {
        const auto id = static_cast<std::uint16_t>(tag >> 16);
        if (id == 0x67F2 || id == 0x67F3)
            continue;
        const auto it = p.props.find(id);
        if (it == p.props.end() || it->second.type != (tag & 0xFFFF)) {
            if (strictFolder && (id == kPidDisplayName || id == kPidContentCount || id == kPidContentUnread ||
                                 id == kPidSubfolders))
                r_.problem("%s: cell 0x%08x has no counterpart in the object's PC", where.c_str(), tag);
            continue;
        }
        if (it->second.bytes && *it->second.bytes != value)
            r_.problem("%s: cell 0x%08x differs from the object's PC", where.c_str(), tag);
    }
}

// MS-PST 2.4.4: a normal folder, its three tables and its rows.
void Messaging::checkFolder(std::uint32_t nid)
{
    const std::string at = strf("folder 0x%08x", nid);
    const PropertyContext* p = pc(nid);
    if (!p)
        return;  // the LTP checks said why
    for (const std::uint16_t id : {kPidDisplayName, kPidContentCount, kPidContentUnread, kPidSubfolders})
        if (!p->props.count(id))
            r_.problem("%s: PC lacks property 0x%04x", at.c_str(), id);
    const Table* tables[3] = {};
    const std::uint32_t types[3] = {kTypeHierarchy, kTypeContents, kTypeAssocContents};
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t t = tableOf(nid, types[i]);
        if (!ndb_.node(t))
            r_.problem("%s: table node 0x%08x is missing", at.c_str(), t);
        tables[i] = tc(t);
    }
    const auto isChild = [&](std::uint32_t child) {
        const NbtEntry* n = ndb_.node(child);
        return n && n->nidParent == nid && child != nid;
    };
    if (const Table* h = tables[0]) {
        const auto sub = intProp(*p, kPidSubfolders);
        if (sub && (*sub != 0) != !h->rows.empty())
            r_.problem("%s: PidTagSubfolders is %u but the hierarchy table 0x%08x has %zu rows", at.c_str(), *sub,
                       tableOf(nid, kTypeHierarchy), h->rows.size());
        std::set<std::uint32_t> listed;
        for (const Row& row : h->rows) {
            listed.insert(row.id);
            const std::string rat = strf("%s hierarchy row 0x%08x", at.c_str(), row.id);
            if (!ndb_.node(row.id) || !isFolder(row.id)) {
                r_.problem("%s: names no existing folder", rat.c_str());
                continue;
            }
            if (!isChild(row.id))
                r_.problem("%s: that folder's nidParent is 0x%08x, not this folder", rat.c_str(),
                           ndb_.node(row.id)->nidParent);
            if (const PropertyContext* cp = pc(row.id))
                checkRowAgainstPc(row, *cp, rat, true);
        }
        for (const std::uint32_t child : children_[nid])
            if (isFolder(child) && !listed.count(child))
                r_.problem("%s: subfolder 0x%08x is missing from the hierarchy table", at.c_str(), child);
    }
    if (const Table* c = tables[1]) {
        const auto count = intProp(*p, kPidContentCount);
        if (count && *count != c->rowCount)
            r_.problem("%s: PidTagContentCount is %u but the contents table 0x%08x has %zu rows", at.c_str(), *count,
                       tableOf(nid, kTypeContents), c->rowCount);
        std::vector<std::uint32_t> listed;
        listed.reserve(c->rowCount);
        const RowSink check = [&](Row&& row) {
            listed.push_back(row.id);
            const std::string rat = strf("%s contents row 0x%08x", at.c_str(), row.id);
            if (!ndb_.node(row.id) || nidType(row.id) != kTypeMessage) {
                r_.problem("%s: names no existing message", rat.c_str());
                return;
            }
            if (!isChild(row.id))
                r_.problem("%s: that message's nidParent is 0x%08x, not this folder", rat.c_str(),
                           ndb_.node(row.id)->nidParent);
            if (const auto mp = messagePc(row.id))
                checkRowAgainstPc(row, *mp, rat, false);
        };
        const NbtEntry* t = ndb_.node(tableOf(nid, kTypeContents));
        Report quiet;  // the table's own faults were reported when it was first read
        readNode(ndb_, t->bidData, t->bidSub, expectedClientSig(t->nid, false), "", quiet, &check);
        std::sort(listed.begin(), listed.end());
        for (const std::uint32_t child : children_[nid])
            if (nidType(child) == kTypeMessage && !std::binary_search(listed.begin(), listed.end(), child))
                r_.problem("%s: message 0x%08x is missing from the contents table", at.c_str(), child);
    }
    if (const Table* f = tables[2]) {
        std::set<std::uint32_t> listed;
        for (const Row& row : f->rows) {
            listed.insert(row.id);
            if (!ndb_.node(row.id) || nidType(row.id) != kTypeAssocMessage || !isChild(row.id))
                r_.problem("%s FAI row 0x%08x: names no associated message of this folder", at.c_str(), row.id);
        }
        for (const std::uint32_t child : children_[nid])
            if (nidType(child) == kTypeAssocMessage && !listed.count(child))
                r_.problem("%s: associated message 0x%08x is missing from the FAI table", at.c_str(), child);
    }
}

// MS-PST 2.4.5: a message's folder and size.
void Messaging::checkMessage(std::uint32_t nid, const PropertyContext* p)
{
    const NbtEntry* n = ndb_.node(nid);
    if (!n)
        return;
    if (!ndb_.node(n->nidParent) || nidType(n->nidParent) != kTypeFolder)
        r_.problem("message 0x%08x: nidParent 0x%08x is not an existing folder", nid, n->nidParent);
    if (!p)
        return;
    for (const auto& [id, v] : p->props)
        if (id >= 0x8000)
            namedTagsInUse_.insert(id);
    const auto size = intProp(*p, kPidMessageSize);
    const std::uint64_t onDisk = ndb_.nodeSize(n->bidData, n->bidSub);
    if (size && *size != onDisk)
        r_.warning("message 0x%08x: PidTagMessageSize %u differs from the node size %llu", nid, *size, ull(onDisk));
}

// MS-PST 2.4.7: name-to-ID map.
void Messaging::checkNameMap()
{
    const PropertyContext* map = pc(kNidNameMap);
    if (!map)
        return;
    auto binary = [&](std::uint16_t id) -> const Bytes* {
        const auto it = map->props.find(id);
        if (it == map->props.end() || !it->second.bytes) {
            r_.problem("name-to-ID map 0x61: property 0x%04x is missing", id);
            return nullptr;
        }
        return &*it->second.bytes;
    };
    const auto buckets = intProp(*map, 0x0001);
    const Bytes* guids = binary(0x0002);
    const Bytes* entries = binary(0x0003);
    const Bytes* strings = binary(0x0004);
    if (!buckets || *buckets == 0) {
        r_.problem("name-to-ID map 0x61: bucket count (0x0001) is missing or 0");
        return;
    }
    if (!guids || !entries || !strings)
        return;
    if (guids->size() % 16 != 0)
        r_.problem("name-to-ID map 0x61: GUID stream of %zu bytes is not a multiple of 16", guids->size());
    if (entries->size() % 8 != 0)
        r_.problem("name-to-ID map 0x61: entry stream of %zu bytes is not a multiple of 8", entries->size());
    const std::size_t guidCount = guids->size() / 16;
    const std::size_t count = entries->size() / 8;
    nameCount_ = count;
    std::set<std::tuple<std::uint32_t, std::uint16_t, std::uint16_t>> expected;  // key, wGuidAndN, wPropIdx
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = entries->data() + 8 * i;
        const std::uint32_t id = rd32(e);
        const std::uint16_t guidN = rd16(e + 4), idx = rd16(e + 6);
        const std::string at = strf("name-to-ID map 0x61 entry %zu (property 0x%04zx)", i, 0x8000 + i);
        if (idx != i)
            r_.problem("%s: wPropIdx %u differs from its position", at.c_str(), idx);
        if ((guidN >> 1) >= 3 + guidCount)
            r_.problem("%s: GUID index %u is not below 3 + %zu stored GUIDs", at.c_str(), guidN >> 1, guidCount);
        std::uint32_t key = id;
        if (guidN & 1) {
            if (std::uint64_t{id} + 4 > strings->size() || std::uint64_t{id} + 4 + rd32(strings->data() + id) >
                                                                strings->size()) {
                r_.problem("%s: string offset 0x%x lies outside the string stream", at.c_str(), id);
                continue;
            }
            const std::uint32_t len = rd32(strings->data() + id);
            if (len % 2 != 0)
                r_.problem("%s: string name of odd length %u", at.c_str(), len);
            key = pstCrc(strings->data() + id + 4, len);
        }
        expected.insert({key, guidN, idx});
        const std::uint32_t bucket = (key ^ guidN) % *buckets;
        const auto it = map->props.find(static_cast<std::uint16_t>(0x1000 + bucket));
        bool found = false;
        if (it != map->props.end() && it->second.bytes) {
            const Bytes& b = *it->second.bytes;
            for (std::size_t off = 0; off + 8 <= b.size(); off += 8)
                if (rd32(&b[off]) == key && rd16(&b[off + 4]) == guidN && rd16(&b[off + 6]) == idx)
                    found = true;
        }
        if (!found)
            r_.problem("%s: not found in its hash bucket 0x%04x", at.c_str(), 0x1000 + bucket);
    }
    for (const auto& [id, v] : map->props) {
        if (id < 0x1000 || id >= 0x2000 || !v.bytes)
            continue;
        if (id - 0x1000u >= *buckets) {
            r_.problem("name-to-ID map 0x61: bucket property 0x%04x is beyond the %u buckets", id, *buckets);
            continue;
        }
        const Bytes& b = *v.bytes;
        if (b.size() % 8 != 0)
            r_.problem("name-to-ID map 0x61: bucket 0x%04x of %zu bytes is not a multiple of 8", id, b.size());
        for (std::size_t off = 0; off + 8 <= b.size(); off += 8) {
            const std::uint32_t key = rd32(&b[off]);
            const std::uint16_t guidN = rd16(&b[off + 4]), idx = rd16(&b[off + 6]);
            if (!expected.count({key, guidN, idx}))
                r_.problem("name-to-ID map 0x61: bucket 0x%04x record %zu (key 0x%08x, index %u) matches no entry",
                           id, off / 8, key, idx);
            else if ((key ^ guidN) % *buckets != id - 0x1000u)
                r_.problem("name-to-ID map 0x61: bucket 0x%04x record %zu belongs in bucket 0x%04x", id, off / 8,
                           0x1000 + (key ^ guidN) % *buckets);
        }
    }
}

void Messaging::checkNamedTags()
{
    if (!nameCount_)
        return;
    for (const auto& [nid, c] : content_) {
        if (c.tc)
            for (const auto& col : c.tc->columns)
                if ((col.tag >> 16) >= 0x8000)
                    namedTagsInUse_.insert(static_cast<std::uint16_t>(col.tag >> 16));
        if (c.pc && nidType(nid) != kTypeMessage)
            for (const auto& [id, v] : c.pc->props)
                if (id >= 0x8000)
                    namedTagsInUse_.insert(id);
    }
    for (const std::uint32_t id : namedTagsInUse_)
        if (id - 0x8000u >= *nameCount_)
            r_.problem("named property 0x%04x is in use but the name-to-ID map defines only %zu names", id,
                       *nameCount_);
}

std::string join(const std::vector<std::uint32_t>& tags)
{
    std::string s;
    for (const std::uint32_t t : tags) {
        if (!s.empty())
            s += ',';
        s += strf("%08x", t);
    }
    return s;
}

}  // namespace

void checkMessaging(const Ndb& ndb, Report& report)
{
    Messaging(ndb, report).run();
}

void listNodes(const Ndb& ndb, std::ostream& out)
{
    for (const auto& [nid, n] : ndb.nodes()) {
        Report scratch;
        const NodeContent c = readNode(ndb, n.bidData, n.bidSub, 0, "", scratch);
        std::string line = strf("0x%08x parent=0x%08x ", nid, n.nidParent);
        if (c.kind == NodeContent::Kind::Pc && c.pc) {
            std::vector<std::uint32_t> tags;
            for (const auto& [id, v] : c.pc->props)
                tags.push_back(std::uint32_t{id} << 16 | v.type);
            line += "PC " + join(tags);
        } else if (c.kind == NodeContent::Kind::Tc && c.tc) {
            std::vector<std::uint32_t> tags;
            for (const auto& col : c.tc->columns)
                tags.push_back(col.tag);
            std::sort(tags.begin(), tags.end());
            line += "TC cols=" + join(tags) + strf(" rows=%zu", c.tc->rows.size());
        } else {
            line += strf("DATA bytes=%llu", ull(c.bytes));
        }
        out << line << '\n';
    }
}

namespace {

// A whole file mapped for reading; `opened` false when it cannot be opened, `data` null when it
// is empty or cannot be mapped.
struct MappedFile {
    explicit MappedFile(const char* path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool opened = false;
    std::uint64_t size = 0;
    const void* data = nullptr;
};

#ifdef _WIN32
// Paths are UTF-8 (the program's arguments are turned into UTF-8 from the wide command line).
std::wstring Wide(const char* utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

MappedFile::MappedFile(const char* path)
{
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER length{};
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (!GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return;
    }
    opened = true;
    size = static_cast<std::uint64_t>(length.QuadPart);
    if (size) {
        // The view keeps the mapping, and the mapping the file, for as long as it is there.
        const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping) {
            data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            CloseHandle(mapping);
        }
    }
    CloseHandle(file);
}

MappedFile::~MappedFile()
{
    if (data)
        UnmapViewOfFile(data);
}
#else
MappedFile::MappedFile(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    opened = true;
    size = static_cast<std::uint64_t>(st.st_size);
    void* map = size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    ::close(fd);
    data = map == MAP_FAILED ? nullptr : map;
}

MappedFile::~MappedFile()
{
    if (data)
        ::munmap(const_cast<void*>(data), size);
}
#endif

}  // namespace

int runPstcheck(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    bool list = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list" && !list) {
            list = true;
        } else if (arg == "-h" || arg == "--help") {
            out << "usage: pstcheck [--list] FILE.pst\n";
            return 0;
        } else if (!path && !arg.empty() && arg[0] != '-') {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (!path) {
        err << "usage: pstcheck [--list] FILE.pst\n";
        return 2;
    }
    // The file is mapped, not read: a store of several gigabytes is checked in the page cache.
    const MappedFile mapped(path);
    if (!mapped.opened) {
        err << "pstcheck: cannot open " << path << '\n';
        return 2;
    }
    if (mapped.size && !mapped.data) {
        err << "pstcheck: cannot read " << path << '\n';
        return 2;
    }
    const std::uint64_t size = mapped.size;
    const void* map = mapped.data;
    Report report;
    Ndb ndb(static_cast<const std::uint8_t*>(size ? map : nullptr), size, report);
    const bool readable = ndb.load();
    if (list) {
        if (!readable) {
            for (const auto& p : report.problems())
                err << path << ": " << p << '\n';
            return 2;
        }
        listNodes(ndb, out);
        return 0;
    }
    if (readable)
        checkMessaging(ndb, report);
    for (const auto& w : report.warnings())
        err << "warning: " << w << '\n';
    for (const auto& p : report.problems())
        out << p << '\n';
    return report.problems().empty() ? 0 : 1;
}

}  // namespace pstcheck
