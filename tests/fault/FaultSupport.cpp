#include "FaultSupport.h"

#include "ltp.h"
#include "messaging.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/resource.h>

namespace fault {

namespace {

class JournalLayer : public pst::FileLayer {
public:
    JournalLayer(Journal& journal, FailurePlan plan, std::string name)
        : m_journal(journal)
        , m_plan(plan)
        , m_name(std::move(name))
    {
    }

    void Write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        ++m_writes;
        if (m_plan.failWrite && m_writes == m_plan.failWrite)
            Fail("could not write to ");
        if (m_plan.byteLimit && m_bytes + size > m_plan.byteLimit)
            Fail("could not write to ");
        m_bytes += size;
        Bytes& content = m_journal.content;
        if (content.size() < offset + size)
            content.resize(offset + size, 0);
        std::copy(data, data + size, content.begin() + static_cast<std::ptrdiff_t>(offset));
        m_journal.ops.push_back({FileOp::Write, offset, Bytes(data, data + size)});
    }
    void Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) override
    {
        const Bytes& content = m_journal.content;
        if (offset + size > content.size())
            throw pst::StoreError("could not read from " + m_name + ": beyond the end");
        std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(offset), size, data);
    }
    void Resize(std::uint64_t size) override
    {
        m_journal.content.resize(size, 0);
        m_journal.ops.push_back({FileOp::Resize, size, {}});
    }
    void Sync() override
    {
        ++m_syncs;
        if (m_plan.failSync && m_syncs == m_plan.failSync)
            Fail("could not flush ");
        m_journal.ops.push_back({FileOp::Sync, 0, {}});
    }
    void Close() override {}

private:
    [[noreturn]] void Fail(const char* what)
    {
        if (m_plan.once)
            m_plan = {};
        throw pst::StoreError(what + m_name + ": No space left on device");
    }

    Journal& m_journal;
    FailurePlan m_plan;
    std::string m_name;
    std::size_t m_writes = 0;
    std::size_t m_syncs = 0;
    std::uint64_t m_bytes = 0;
};

std::string FromUtf16(const Bytes& b)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        const unsigned c = b[i] | (b[i + 1] << 8);
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace

std::unique_ptr<pst::FileLayer> Journal::Layer() { return std::make_unique<JournalLayer>(*this, FailurePlan{}, "memory"); }

std::unique_ptr<pst::FileLayer> FailingLayer(Journal& journal, FailurePlan plan, const std::string& name)
{
    return std::make_unique<JournalLayer>(journal, plan, name);
}

Bytes Journal::Image(std::size_t count, std::size_t tornBytes) const
{
    Bytes file;
    auto write = [&file](std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
        if (file.size() < offset + size)
            file.resize(offset + size, 0);
        std::copy(data, data + size, file.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    for (std::size_t i = 0; i < count && i < ops.size(); ++i) {
        const FileOp& op = ops[i];
        if (op.kind == FileOp::Write)
            write(op.offset, op.data.data(), op.data.size());
        else if (op.kind == FileOp::Resize)
            file.resize(op.offset, 0);
    }
    if (count < ops.size() && ops[count].kind == FileOp::Write && tornBytes > 0)
        write(ops[count].offset, ops[count].data.data(), std::min(tornBytes, ops[count].data.size()));
    return file;
}

std::size_t Journal::SyncedBefore(std::size_t count) const
{
    for (std::size_t i = std::min(count, ops.size()); i > 0; --i)
        if (ops[i - 1].kind == FileOp::Sync)
            return i;
    return 0;
}

StoreImage CheckImage(Bytes image, std::uint32_t folder)
{
    StoreImage out;
    pstcheck::Report report;
    pstcheck::Ndb ndb(std::move(image), report);
    out.readable = ndb.load();
    if (out.readable) {
        pstcheck::checkMessaging(ndb, report);
        for (const auto& [nid, node] : ndb.nodes()) {
            if (node.nidParent != folder || (nid & 0x1F) != 0x04)
                continue;
            pstcheck::Report scratch;
            const pstcheck::NodeContent c = pstcheck::readNode(ndb, node.bidData, node.bidSub, 0, "", scratch);
            std::string subject = "<unreadable>";
            if (c.pc) {
                const auto it = c.pc->props.find(0x0037);
                subject = it != c.pc->props.end() && it->second.bytes ? FromUtf16(*it->second.bytes) : "<no subject>";
            }
            out.messages[nid] = subject;
        }
    }
    out.problems = report.problems();
    out.warnings = report.warnings();
    return out;
}

// Events of every shape the store writes differently: plain, with a body spanning several blocks,
// with attendees (recipient table), and a series with a changed occurrence (attachment with an
// embedded message).
std::string SampleCalendar(int events)
{
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Varnel//Fault test//EN\r\n";
    for (int i = 0; i < events; ++i) {
        const std::string uid = "powercut-" + std::to_string(i);
        const std::string day = std::to_string(20240101 + (i % 28));
        text += "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:Event " + std::to_string(i) + "\r\n";
        text += "DTSTART:" + day + "T090000Z\r\nDTEND:" + day + "T100000Z\r\n";
        switch (i % 4) {
        case 1:
            text += "DESCRIPTION:" + std::string(12000 + 900 * i, static_cast<char>('a' + i % 26)) + "\r\n";
            break;
        case 2:
            text += "ORGANIZER;CN=Ann:mailto:ann@example.org\r\n"
                    "ATTENDEE;CN=Bob;PARTSTAT=ACCEPTED:mailto:bob@example.org\r\n"
                    "ATTENDEE;CN=Cy;ROLE=OPT-PARTICIPANT:mailto:cy@example.org\r\n";
            break;
        case 3:
            text += "RRULE:FREQ=DAILY;COUNT=5\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:" + uid
                    + "\r\nRECURRENCE-ID:" + std::to_string(20240102 + (i % 28))
                    + "T090000Z\r\nSUMMARY:Moved\r\nDTSTART:" + std::to_string(20240102 + (i % 28))
                    + "T140000Z\r\nDTEND:" + std::to_string(20240102 + (i % 28)) + "T150000Z\r\n";
            break;
        default:
            break;
        }
        text += "END:VEVENT\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

Bytes ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace fault
