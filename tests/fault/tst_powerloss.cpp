// Power cuts while appointments are imported: the store is written through a layer that journals
// every write and sync, and the disk is then rebuilt as it could stand at random moments. Every
// such file must pass pstcheck and hold the appointments of some committed prefix of the import,
// each one whole.
#include "FaultSupport.h"
#include "tests/pst/PstTestSupport.h"

#include "calendar/Appointment.h"
#include "messaging/AppointmentMessage.h"
#include "pst/ndb/Crc.h"
#include "pst/store/MessageStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace {

using fault::Bytes;
using fault::FileOp;
using fault::Journal;

std::size_t EnvCount(const char* name, std::size_t fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? static_cast<std::size_t>(std::strtoull(v, nullptr, 10)) : fallback;
}

// One import run, journalled: the messages in commit order, and where each commit ended.
struct ImportRun {
    Journal journal;
    std::uint32_t folder = 0;
    std::vector<std::uint32_t> nids;     // message NIDs in the order added
    std::vector<std::string> subjects;   // their subjects
    // commitEnd[m]: operations done when the commit holding the first m messages had returned.
    std::vector<std::size_t> commitEnd;
    std::size_t storeReady = 0;  // operations done when the empty store was committed
};

void Import(ImportRun& run, int events)
{
    const cal::CalendarFile file = cal::ReadCalendarText(fault::SampleCalendar(events), cal::kFormatICalendar, "powercut.ics");
    ASSERT_TRUE(file.error.empty()) << file.error;
    auto store = pst::MessageStore::Create(run.journal.Layer(), "Power cut");
    run.folder = store->CreateFolder(store->IpmSubtree(), "Calendar", "IPF.Appointment");
    store->Commit();
    run.storeReady = run.journal.ops.size();
    run.commitEnd.push_back(run.storeReady);
    for (const cal::Appointment& a : file.appointments) {
        run.nids.push_back(store->AddMessage(run.folder, messaging::AppointmentMessage(a)));
        run.subjects.push_back(std::get<std::string>(*a.Get(cal::PropertySet::Tag, 0x0037, cal::PropType::String)));
        store->Commit();
        run.commitEnd.push_back(run.journal.ops.size());
    }
    store->Close();
}

// The commits an image may show when the disk holds the first `count` operations (and perhaps
// part of the next): every commit that had returned, and perhaps the one under way.
std::pair<std::size_t, std::size_t> PossibleMessageCounts(const ImportRun& run, std::size_t count)
{
    std::size_t done = 0;
    while (done + 1 < run.commitEnd.size() && run.commitEnd[done + 1] <= count)
        ++done;
    return {done, std::min(done + 1, run.commitEnd.size() - 1)};
}

// Checks one rebuilt disk; returns an empty string when it is sound, else what is wrong.
std::string Verify(const ImportRun& run, const Bytes& image, std::size_t count)
{
    const fault::StoreImage s = fault::CheckImage(image, run.folder);
    if (!s.problems.empty())
        return "pstcheck: " + s.problems.front() + " (" + std::to_string(s.problems.size()) + " problems)";
    if (!s.readable)
        return "the store cannot be read";
    const auto [low, high] = PossibleMessageCounts(run, count);
    const std::size_t m = s.messages.size();
    if (m < low || m > high)
        return "holds " + std::to_string(m) + " messages, expected " + std::to_string(low) + " or " + std::to_string(high);
    for (std::size_t i = 0; i < m; ++i) {
        const auto it = s.messages.find(run.nids[i]);
        if (it == s.messages.end())
            return "message " + std::to_string(i) + " is missing while a later one is there";
        if (it->second != run.subjects[i])
            return "message " + std::to_string(i) + " has the subject \"" + it->second + "\"";
    }
    return {};
}

// Before the empty store's first commit the file is no store yet; a file built by path only
// appears under its name after that commit, so there is nothing to check.
bool StoreExists(const ImportRun& run, std::size_t count) { return count >= run.storeReady; }

// Whether an operation is the header write: 564 bytes at offset 0, inside the first physical
// sector, which the disk writes whole or not at all.
bool IsHeaderWrite(const FileOp& op) { return op.kind == FileOp::Write && op.offset == 0 && op.data.size() <= 4096; }

class PowerLoss : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_run = new ImportRun;
        Import(*s_run, static_cast<int>(EnvCount("VARNEL_POWERCUT_EVENTS", 24)));
    }
    static void TearDownTestSuite()
    {
        delete s_run;
        s_run = nullptr;
    }
    static ImportRun* s_run;
};
ImportRun* PowerLoss::s_run = nullptr;

TEST_F(PowerLoss, TheImportCommitsEveryAppointmentAndTheFinishedFileIsSound)
{
    const ImportRun& run = *s_run;
    ASSERT_EQ(run.nids.size(), EnvCount("VARNEL_POWERCUT_EVENTS", 24));
    const Bytes finished = run.journal.Image(run.journal.ops.size());
    EXPECT_EQ(Verify(run, finished, run.journal.ops.size()), "");
    EXPECT_EQ(fault::CheckImage(finished, run.folder).messages.size(), run.nids.size());
    EXPECT_EQ(finished, run.journal.content);
}

// The power goes at a random moment; the disk holds what was synced before it.
TEST_F(PowerLoss, EverySyncedStateIsAConsistentPrefix)
{
    const ImportRun& run = *s_run;
    std::mt19937_64 random(EnvCount("VARNEL_POWERCUT_SEED", 1));
    const std::size_t cuts = EnvCount("VARNEL_POWERCUT_CUTS", 150);
    std::size_t checked = 0;
    // Every sync point once, then random moments.
    std::vector<std::size_t> moments;
    for (std::size_t i = 0; i < run.journal.ops.size(); ++i)
        if (run.journal.ops[i].kind == FileOp::Sync)
            moments.push_back(i + 1);
    for (std::size_t n = 0; n < cuts; ++n)
        moments.push_back(random() % (run.journal.ops.size() + 1));
    for (std::size_t moment : moments) {
        const std::size_t synced = run.journal.SyncedBefore(moment);
        if (!StoreExists(run, synced))
            continue;
        const std::string fault = Verify(run, run.journal.Image(synced), synced);
        ASSERT_EQ(fault, "") << "power cut before operation " << moment << " (synced up to " << synced << ")";
        ++checked;
    }
    RecordProperty("cuts", static_cast<int>(checked));
    std::printf("synced cuts checked: %zu of %zu operations\n", checked, run.journal.ops.size());
}

// The power goes during a write: everything before it reached the disk, and a part of it.
TEST_F(PowerLoss, EveryTornWriteLeavesAConsistentPrefix)
{
    const ImportRun& run = *s_run;
    std::mt19937_64 random(EnvCount("VARNEL_POWERCUT_SEED", 1) + 7);
    const std::size_t cuts = EnvCount("VARNEL_POWERCUT_CUTS", 150);
    std::vector<std::size_t> writes;
    for (std::size_t i = run.storeReady; i < run.journal.ops.size(); ++i)
        if (run.journal.ops[i].kind == FileOp::Write && !IsHeaderWrite(run.journal.ops[i]))
            writes.push_back(i);
    ASSERT_FALSE(writes.empty());
    std::size_t checked = 0;
    for (std::size_t n = 0; n < cuts; ++n) {
        const std::size_t at = writes[random() % writes.size()];
        const std::size_t size = run.journal.ops[at].data.size();
        // A torn sector boundary most of the time, any byte now and then.
        std::size_t kept = random() % size;
        if (n % 4 != 0)
            kept -= kept % 512;
        const std::string fault = Verify(run, run.journal.Image(at, kept), at);
        ASSERT_EQ(fault, "") << "power cut in operation " << at << " after " << kept << " of " << size << " bytes";
        ++checked;
    }
    std::printf("torn writes checked: %zu\n", checked);
}

// The disk may put unsynced writes down in any order: at a random moment, any subset of the
// writes since the last sync has reached it.
TEST_F(PowerLoss, AnySubsetOfTheUnsyncedWritesLeavesAConsistentPrefix)
{
    const ImportRun& run = *s_run;
    const auto& ops = run.journal.ops;
    std::mt19937_64 random(EnvCount("VARNEL_POWERCUT_SEED", 1) + 13);
    const std::size_t cuts = EnvCount("VARNEL_POWERCUT_CUTS", 150);
    std::size_t checked = 0;
    for (std::size_t n = 0; n < cuts; ++n) {
        const std::size_t moment = run.storeReady + random() % (ops.size() - run.storeReady + 1);
        const std::size_t synced = run.journal.SyncedBefore(moment);
        Bytes image = run.journal.Image(synced);
        std::string kept;
        for (std::size_t i = synced; i < moment; ++i) {
            const FileOp& op = ops[i];
            // A resize is applied whole (the file system's own journal); writes land or not.
            if (op.kind == FileOp::Resize)
                image.resize(std::max<std::size_t>(image.size(), op.offset), 0);
            if (op.kind != FileOp::Write || random() % 2 == 0)
                continue;
            if (image.size() < op.offset + op.data.size())
                image.resize(op.offset + op.data.size(), 0);
            std::copy(op.data.begin(), op.data.end(), image.begin() + static_cast<std::ptrdiff_t>(op.offset));
            kept += " " + std::to_string(i);
        }
        // The header says which commits are there; it may have landed with its commit's last pages.
        const std::string fault = Verify(run, image, moment);
        ASSERT_EQ(fault, "") << "power cut before operation " << moment << ", synced up to " << synced
                             << ", unsynced writes that landed:" << kept;
        ++checked;
    }
    std::printf("cuts with reordered writes checked: %zu\n", checked);
}

// pstcheck on what an interrupted commit leaves: maps flagged untrusted and a file grown ahead
// of its header are warnings, and only then.
Bytes WithAMapFlag(Bytes image, std::uint8_t flag)
{
    image[0xB4 + 68] = flag;  // ROOT fAMapValid
    pst::Put32(image.data() + 4, pst::ComputeCrc(image.data() + 8, 471));
    pst::Put32(image.data() + 0x20C, pst::ComputeCrc(image.data() + 8, 516));
    return image;
}

bool Mentions(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

TEST_F(PowerLoss, PstcheckWarnsOfUntrustedMapsAndLeavesThemUnchecked)
{
    const ImportRun& run = *s_run;
    const Bytes finished = run.journal.Image(run.journal.ops.size());
    Bytes clearedMap = finished;
    std::fill(clearedMap.begin() + 0x4400, clearedMap.begin() + 0x4400 + 496, 0);  // AMap bits, CRC now wrong

    const fault::StoreImage untrusted = fault::CheckImage(WithAMapFlag(clearedMap, 0), run.folder);
    EXPECT_TRUE(untrusted.problems.empty()) << untrusted.problems.front();
    EXPECT_TRUE(Mentions(untrusted.warnings, "fAMapValid is 0"));
    EXPECT_EQ(untrusted.messages.size(), run.nids.size());

    // The same maps under a header that vouches for them are wrong.
    const fault::StoreImage trusted = fault::CheckImage(WithAMapFlag(clearedMap, 2), run.folder);
    EXPECT_TRUE(Mentions(trusted.problems, "AMap page at 0x4400"));
    EXPECT_TRUE(Mentions(trusted.problems, "marked free"));
    // Any other value than 0, 1 or 2 is still a fault.
    EXPECT_TRUE(Mentions(fault::CheckImage(WithAMapFlag(finished, 3), run.folder).problems, "fAMapValid 0x03"));

    // Through the program: exit 0, the warning on its error output.
    pst::test::TempDir dir;
    const std::string path = dir.path + "/untrusted.pst";
    const Bytes onDisk = WithAMapFlag(clearedMap, 0);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(onDisk.data()), static_cast<std::streamsize>(onDisk.size()));
    std::string output;
    EXPECT_EQ(pst::test::RunCommand(std::string(PSTCHECK) + " " + path, &output), 0) << output;
    EXPECT_NE(output.find("warning: ROOT fAMapValid is 0"), std::string::npos) << output;
}

TEST_F(PowerLoss, PstcheckAcceptsWholeIntervalsBeyondTheEndOnlyAsAWarning)
{
    const ImportRun& run = *s_run;
    Bytes grown = run.journal.Image(run.journal.ops.size());
    grown.resize(grown.size() + pst::NodeDatabase::kIntervalSize, 0);
    const fault::StoreImage s = fault::CheckImage(grown, run.folder);
    EXPECT_TRUE(s.problems.empty()) << s.problems.front();
    EXPECT_TRUE(Mentions(s.warnings, "longer than ROOT ibFileEof"));

    Bytes ragged = run.journal.Image(run.journal.ops.size());
    ragged.resize(ragged.size() + 4096, 0);
    EXPECT_TRUE(Mentions(fault::CheckImage(ragged, run.folder).problems, "differs from the file length"));
}

}  // namespace
