// The messaging objects as the import run calls them: a session building a store of calendar
// folders from files, the mail client's view of the same store, and every failure they raise.
#include "messaging/Session.h"
#include "pst/ltp/AppendableTable.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace messaging;
namespace fs = std::filesystem;

namespace {


std::shared_ptr<RDOSession> Session()
{
    auto session = std::get<std::shared_ptr<RDOSession>>(CreateObject("Redemption.RDOSession"));
    session->Logon();
    return session;
}

const std::string kExamples = VARNEL_EXAMPLES;

}  // namespace

TEST(Session, BuildsAStoreOfCalendarFoldersAsTheImportDoes)
{
    TempDir dir("session");
    const std::string path = dir.path + "/VarnelCalendars7.12.26 9.5.07.pst";
    const std::string name = "Varnel Calendars : Created - 7.12.26 9.5.07";
    auto session = Session();
    auto store = session->Stores().AddPSTStore(path, olStoreUnicode, name);
    auto again = session->Stores().GetStoreFromID(store->EntryID());
    again->IPMRootFolder()->Folders().Add("cal", olFolderCalendar);
    session->GetFolderFromPath("\\\\" + name + "\\cal")->Folders().Add("home", olFolderCalendar);

    // The mail client sees the same store under its display name.
    auto outlook = std::get<std::shared_ptr<OutlookApplication>>(CreateObject("Outlook.Application"));
    auto cal = outlook->GetNamespace("MAPI")->Folders(name)->Folders()("cal");
    cal->Folders().Add("work", olFolderCalendar);
    EXPECT_EQ(cal->Folders().Count(), 2);
    EXPECT_EQ(cal->Folders().Item(1)->Name(), "home");
    EXPECT_EQ(cal->Folders().Item(2)->Name(), "work");

    auto work = session->GetFolderFromPath("\\\\" + name + "\\cal\\work");
    auto item = work->Items().Add(olAppointmentItem);
    item->Import(kExamples + "/office/team.ics", 8);
    item->Save();
    EXPECT_EQ(item->AppointmentsSaved(), 1);
    auto home = session->GetFolderFromPath("\\\\" + name + "\\cal\\home");
    auto birthdays = home->Items().Add(olAppointmentItem);
    birthdays->Import(kExamples + "/home/birthdays.ics", 8);
    birthdays->Save();
    EXPECT_EQ(birthdays->AppointmentsSaved(), 2);  // every series of the file is an appointment

    store->Remove();
    session->Logoff();
    EXPECT_THROW(outlook->GetNamespace("MAPI")->Folders(name), Error);  // detached
    ASSERT_TRUE(fs::exists(path));

    std::string out;
    EXPECT_EQ(RunCommand(testshell::PstcheckCommand(PSTCHECK, path), &out), 0) << out;
#ifndef _WIN32  // pypff is on the build machine only
    out.clear();
    const std::string count = "/usr/bin/python3 -c \"import pypff,sys; f=pypff.file(); f.open(sys.argv[1]); "
                              "t=f.get_root_folder().get_sub_folder(1).get_sub_folder(1); "
                              "print(t.name, t.get_sub_folder(0).number_of_sub_messages, t.get_sub_folder(1).number_of_sub_messages)\" '"
                              + path + "'";
    ASSERT_EQ(RunCommand(count, &out), 0) << out;
    EXPECT_EQ(out, "cal 2 1\n");
#endif
}

TEST(Session, FailuresRaiseWithAReason)
{
    TempDir dir("session");
    EXPECT_THROW(CreateObject("Outlook.Unknown"), Error);
    auto session = std::get<std::shared_ptr<RDOSession>>(CreateObject("Redemption.RDOSession"));
    EXPECT_THROW(session->Stores(), Error);  // not logged on
    session->Logon();

    // An existing file is never a new store, and stays as it was.
    const std::string taken = dir.path + "/taken.pst";
    std::ofstream(taken) << "mine";
    EXPECT_THROW(session->Stores().AddPSTStore(taken, olStoreUnicode, "Taken"), Error);
    EXPECT_EQ(fs::file_size(taken), 4u);

    auto store = session->Stores().AddPSTStore(dir.path + "/s.pst", olStoreUnicode, "Failures");
    auto root = store->IPMRootFolder();
    root->Folders().Add("cal", olFolderCalendar);
    try {
        root->Folders().Add("cal", olFolderCalendar);
        FAIL() << "a second folder of the same name was made";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("cal"), std::string::npos);
    }
    EXPECT_THROW(session->GetFolderFromPath("\\\\Nobody\\cal"), Error);
    EXPECT_THROW(session->GetFolderFromPath("\\\\Failures\\cal\\missing"), Error);
    EXPECT_THROW(root->Folders()("missing"), Error);
    EXPECT_THROW(session->Stores().GetStoreFromID("00"), Error);

    // A file that cannot be imported raises, and saving the item then writes nothing.
    const std::string bad = dir.path + "/bad.ics";
    std::ofstream(bad) << "not a calendar";
    auto item = session->GetFolderFromPath("\\\\Failures\\cal")->Items().Add(olAppointmentItem);
    try {
        item->Import(bad, 8);
        FAIL() << "a file that is not a calendar was imported";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("bad.ics"), std::string::npos);
    }
    item->Save();
    EXPECT_EQ(item->AppointmentsSaved(), 0);
    store->Remove();
    EXPECT_THROW(store->IPMRootFolder(), Error);
}

TEST(Session, AFileOfManyEventsIsSavedCompactly)
{
    // Every appointment of a file goes into one commit. Space that the growing contents table
    // gives up on the way is reused at once, so the store grows with the appointments, not with
    // the square of them.
    TempDir dir("session");
    const int events = 3000;
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n";
    for (int i = 0; i < events; ++i)
        text += "BEGIN:VEVENT\r\nUID:many-" + std::to_string(i) + "\r\nDTSTAMP:20260101T000000Z\r\n"
                "DTSTART:20260105T090000Z\r\nDTEND:20260105T100000Z\r\nSUMMARY:Event " + std::to_string(i) +
                "\r\nEND:VEVENT\r\n";
    text += "END:VCALENDAR\r\n";
    const std::string file = dir.path + "/many.ics";
    std::ofstream(file, std::ios::binary) << text;

    auto session = Session();
    const std::string path = dir.path + "/many.pst";
    auto store = session->Stores().AddPSTStore(path, olStoreUnicode, "Many");
    auto item = store->IPMRootFolder()->Folders().Add("cal", olFolderCalendar)->Items().Add(olAppointmentItem);
    item->Import(file, 8);
    item->Save();
    EXPECT_EQ(item->AppointmentsSaved(), events);
    store->Remove();
    EXPECT_LT(fs::file_size(path), static_cast<std::uintmax_t>(events) * 6 * 1024);
    std::string out;
    EXPECT_EQ(RunCommand(testshell::PstcheckCommand(PSTCHECK, path), &out), 0) << out;
}

TEST(Session, AFullFolderGoesOnInAFolderBesideIt)
{
    // A folder's table heap is limited to few blocks, so that long subjects fill it after some
    // hundred rows: the appointments after that go to "cal (2)", then "cal (3)", with a note, and
    // a later file of the same folder goes on where there is room. Nothing is lost or refused.
    pst::AppendableTable::LimitHeapBlocks(80);
    TempDir dir("session");
    auto write = [&](const std::string& name, int first, int count) {
        std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n";
        for (int i = first; i < first + count; ++i)
            text += "BEGIN:VEVENT\r\nUID:full-" + std::to_string(i) + "\r\nDTSTART:20260105T090000Z\r\n"
                    "DTEND:20260105T100000Z\r\nSUMMARY:" + std::to_string(i) + std::string(600, 'x') + "\r\nEND:VEVENT\r\n";
        std::ofstream(dir.path + "/" + name, std::ios::binary) << text + "END:VCALENDAR\r\n";
        return dir.path + "/" + name;
    };
    auto session = Session();
    const std::string path = dir.path + "/full.pst";
    auto store = session->Stores().AddPSTStore(path, olStoreUnicode, "Full");
    auto cal = store->IPMRootFolder()->Folders().Add("cal", olFolderCalendar);
    int saved = 0;
    std::vector<std::string> notes;
    for (const auto& [file, count] : {std::pair{write("a.ics", 0, 700), 700}, {write("b.ics", 700, 5), 5}}) {
        auto item = cal->Items().Add(olAppointmentItem);
        item->Import(file, 8);
        item->Write();
        EXPECT_EQ(item->AppointmentsSaved(), count);
        saved += item->AppointmentsSaved();
        notes.insert(notes.end(), item->ImportResult().warnings.begin(), item->ImportResult().warnings.end());
    }
    pst::AppendableTable::LimitHeapBlocks(65536);
    store->Remove();
    session->Logoff();
    ASSERT_GE(notes.size(), 2u);
    EXPECT_NE(notes.front().find("went to the folder \"cal (2)\""), std::string::npos) << notes.front();

    std::string out;
    EXPECT_EQ(RunCommand(testshell::PstcheckCommand(PSTCHECK, path), &out), 0) << out;
#ifndef _WIN32  // pypff is on the build machine only
    out.clear();
    const std::string list = "/usr/bin/python3 -c \"import pypff,sys; f=pypff.file(); f.open(sys.argv[1]); "
                             "t=f.get_root_folder().get_sub_folder(1); "
                             "[print('%s=%d' % (c.name, c.number_of_sub_messages)) for c in t.sub_folders]\" '"
                             + path + "'";
    ASSERT_EQ(RunCommand(list, &out), 0) << out;
    int total = 0, folders = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Deleted Items=", 0) == 0)
            continue;
        ++folders;
        EXPECT_EQ(line.rfind(folders == 1 ? "cal=" : "cal (" + std::to_string(folders) + ")=", 0), 0u) << out;
        total += std::stoi(line.substr(line.find('=') + 1));
    }
    EXPECT_GE(folders, 3) << out;
    EXPECT_EQ(total, saved) << out;
#else
    (void)saved;
#endif
}
