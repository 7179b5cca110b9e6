// Writes that fail: a disk that fills up, a write or a flush refused. The store must report the
// failure naming its file, and the file left behind must be sound and hold what was committed.
#include "FaultSupport.h"
#include "tests/pst/PstTestSupport.h"

#include "calendar/Appointment.h"
#include "messaging/AppointmentMessage.h"
#include "messaging/Session.h"
#include "pst/store/MessageStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>

namespace {

using fault::Bytes;

const std::vector<cal::Appointment>& Appointments()
{
    static const std::vector<cal::Appointment> list =
        cal::ReadCalendarText(fault::SampleCalendar(8), cal::kFormatICalendar, "diskfull.ics").appointments;
    return list;
}

struct Outcome {
    std::string error;             // the first failure's message
    std::size_t committed = 0;     // messages whose commit returned
    std::size_t added = 0;         // messages AddMessage took
    std::uint32_t folder = 0;
    std::vector<std::uint32_t> nids;
    bool created = false;
};

// Imports the sample appointments, one commit each, over a layer failing as planned. With
// `goOn`, the import carries on after a failure as a caller importing several files would.
Outcome ImportOver(fault::Journal& journal, fault::FailurePlan plan, bool goOn)
{
    Outcome out;
    std::unique_ptr<pst::MessageStore> store;
    try {
        store = pst::MessageStore::Create(fault::FailingLayer(journal, plan, "Calendars.pst"), "Disk full");
        out.folder = store->CreateFolder(store->IpmSubtree(), "Calendar", "IPF.Appointment");
        store->Commit();
    } catch (const pst::StoreError& e) {
        out.error = e.what();
        return out;
    }
    out.created = true;
    for (const cal::Appointment& a : Appointments()) {
        try {
            out.nids.push_back(store->AddMessage(out.folder, messaging::AppointmentMessage(a)));
            ++out.added;
            store->Commit();
            out.committed = out.added;
        } catch (const pst::StoreError& e) {
            if (out.error.empty())
                out.error = e.what();
            if (!goOn)
                break;
        }
    }
    try {
        store->Close();
    } catch (const pst::StoreError& e) {
        if (out.error.empty())
            out.error = e.what();
    }
    return out;
}

// The file as the failures left it must be a sound store whose messages are the first n added,
// n at least what was committed.
void ExpectCommittedPrefix(const fault::Journal& journal, const Outcome& out, const std::string& when)
{
    const fault::StoreImage s = fault::CheckImage(journal.content, out.folder);
    ASSERT_TRUE(s.problems.empty()) << when << ": " << s.problems.front();
    ASSERT_TRUE(s.readable) << when;
    ASSERT_GE(s.messages.size(), out.committed) << when;
    ASSERT_LE(s.messages.size(), out.added) << when;
    for (std::size_t i = 0; i < s.messages.size(); ++i)
        ASSERT_TRUE(s.messages.count(out.nids[i])) << when << ": message " << i << " is missing";
}

std::size_t OperationsOfAWholeImport(std::size_t* syncs)
{
    fault::Journal journal;
    const Outcome out = ImportOver(journal, {}, false);
    EXPECT_TRUE(out.error.empty()) << out.error;
    *syncs = 0;
    std::size_t writes = 0;
    for (const auto& op : journal.ops) {
        writes += op.kind == fault::FileOp::Write;
        *syncs += op.kind == fault::FileOp::Sync;
    }
    return writes;
}

TEST(WriteFailure, EachFailedWriteOrFlushIsReportedAndLeavesTheCommittedStore)
{
    std::size_t syncs = 0;
    const std::size_t writes = OperationsOfAWholeImport(&syncs);
    std::size_t runs = 0;
    for (int mode = 0; mode < 2; ++mode) {
        const std::size_t count = mode == 0 ? writes : syncs;
        for (std::size_t k = 1; k <= count; k += mode == 0 ? 3 : 1) {
            fault::Journal journal;
            fault::FailurePlan plan;
            (mode == 0 ? plan.failWrite : plan.failSync) = k;
            const Outcome out = ImportOver(journal, plan, false);
            const std::string when = std::string(mode == 0 ? "write " : "flush ") + std::to_string(k);
            ASSERT_NE(out.error.find("Calendars.pst: No space left on device"), std::string::npos) << when << ": " << out.error;
            if (out.created)
                ExpectCommittedPrefix(journal, out, when);
            ++runs;
        }
    }
    std::printf("failing runs checked: %zu (%zu writes, %zu flushes in a whole import)\n", runs, writes, syncs);
}

// A failure that passes (space freed meanwhile): later commits must not build on a half-done one.
TEST(WriteFailure, CommitsAfterATransientFailureKeepTheStoreSound)
{
    std::size_t syncs = 0;
    const std::size_t writes = OperationsOfAWholeImport(&syncs);
    for (std::size_t k = 1; k <= writes; k += 2) {
        fault::Journal journal;
        fault::FailurePlan plan;
        plan.failWrite = k;
        plan.once = true;
        const Outcome out = ImportOver(journal, plan, true);
        if (out.created)
            ExpectCommittedPrefix(journal, out, "write " + std::to_string(k) + " failing once");
    }
    for (std::size_t k = 1; k <= syncs; ++k) {
        fault::Journal journal;
        fault::FailurePlan plan;
        plan.failSync = k;
        plan.once = true;
        const Outcome out = ImportOver(journal, plan, true);
        if (out.created)
            ExpectCommittedPrefix(journal, out, "flush " + std::to_string(k) + " failing once");
    }
}

TEST(WriteFailure, AFullDiskStopsTheImportWithTheCommittedStoreLeft)
{
    std::uint64_t total = 0;
    {
        fault::Journal journal;
        ImportOver(journal, {}, false);
        for (const auto& op : journal.ops)
            total += op.data.size();
    }
    for (std::uint64_t limit : {total / 4, total / 2, total * 3 / 4, total - 1}) {
        fault::Journal journal;
        fault::FailurePlan plan;
        plan.byteLimit = limit;
        const Outcome out = ImportOver(journal, plan, true);
        ASSERT_FALSE(out.error.empty()) << "nothing failed below " << limit << " bytes";
        if (out.created)
            ExpectCommittedPrefix(journal, out, "disk full at " + std::to_string(limit) + " bytes");
    }
}

// A real file on a disk that runs out of room: the file size limit makes the system refuse to
// grow the store as a full disk would (EFBIG instead of ENOSPC), through the session objects.
TEST(WriteFailure, TheSessionReportsAFullDiskNamingTheStoreFile)
{
    constexpr std::size_t kEvents = 6;
    pst::test::TempDir dir;
    const std::string calendar = dir.path + "/many.ics";
    std::ofstream(calendar) << fault::SampleCalendar(kEvents);
    const std::string path = dir.path + "/Full disk.pst";

    auto session = std::get<std::shared_ptr<messaging::RDOSession>>(messaging::CreateObject("Redemption.RDOSession"));
    session->Logon();
    auto store = session->Stores().AddPSTStore(path, messaging::olStoreUnicode, "Full disk");
    auto folder = store->IPMRootFolder()->Folders().Add("Calendar", messaging::olFolderCalendar);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = pst::NodeDatabase::kFirstAMap + 3 * pst::NodeDatabase::kIntervalSize;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    int saves = 0;
    std::string error;
    for (int round = 0; round < 200 && error.empty(); ++round) {
        try {
            auto item = folder->Items().Add(messaging::olAppointmentItem);
            item->Import(calendar, 8);
            item->Save();
            ++saves;
        } catch (const messaging::Error& e) {
            error = e.what();
        }
    }
    std::string removeError;
    try {
        store->Remove();
    } catch (const messaging::Error& e) {
        removeError = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_FALSE(error.empty()) << "the store never outgrew the limit";
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_GT(saves, 0);

    std::string output;
    EXPECT_EQ(pst::test::RunCommand(std::string(PSTCHECK) + " '" + path + "'", &output), 0) << output;
    const fault::StoreImage s = fault::CheckImage(fault::ReadWholeFile(path), folder->Nid());
    EXPECT_TRUE(s.problems.empty());
    EXPECT_EQ(s.messages.size() % kEvents, 0u) << "an item was kept in part";
    EXPECT_EQ(s.messages.size(), static_cast<std::size_t>(saves) * kEvents);
    std::printf("session: %d items of 6 saved before: %s; on removal: %s\n", saves, error.c_str(),
                removeError.empty() ? "no error" : removeError.c_str());
}

}  // namespace
