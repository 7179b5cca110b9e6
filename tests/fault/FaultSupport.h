#pragma once

// Helpers for the fault tests: a file layer that journals every operation (so that any moment of
// a run can be rebuilt as the disk would hold it after a power cut), a layer that fails on
// demand, and the store checks every such image must pass.
#include "pst/ndb/FileLayer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fault {

using pst::Bytes;

// One operation the node database asked of its file.
struct FileOp {
    enum Kind { Write, Resize, Sync } kind = Write;
    std::uint64_t offset = 0;  // Write: where; Resize: the new size
    Bytes data;                // Write only
};

// A file in memory that keeps the list of operations done to it.
struct Journal {
    Bytes content;
    std::vector<FileOp> ops;

    std::unique_ptr<pst::FileLayer> Layer();

    // The file after the first `count` operations, and then `tornBytes` bytes of operation
    // `count` when that is a write (a write cut short by the power going).
    Bytes Image(std::size_t count, std::size_t tornBytes = 0) const;
    // The number of operations up to and including the last sync before operation `count`: what
    // is certain to be on disk when the power goes just before operation `count`.
    std::size_t SyncedBefore(std::size_t count) const;
};

// How a layer fails: on the k-th write (1-based; 0 never), on the k-th sync, or once more than a
// number of bytes has been written ("disk full"). `once` makes it fail only the first time.
struct FailurePlan {
    std::size_t failWrite = 0;
    std::size_t failSync = 0;
    std::uint64_t byteLimit = 0;  // 0: no limit
    bool once = false;
};

// A journalled layer that fails as planned, with the message a full disk gives for `name`.
std::unique_ptr<pst::FileLayer> FailingLayer(Journal& journal, FailurePlan plan, const std::string& name);

// What a store image holds, as pstcheck sees it.
struct StoreImage {
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
    bool readable = false;
    // Messages of a folder: NID -> subject.
    std::map<std::uint32_t, std::string> messages;
};

// Checks an image with pstcheck's own code and reads the subjects of the messages in `folder`.
StoreImage CheckImage(Bytes image, std::uint32_t folder);

// An iCalendar text of `events` events of every shape the store writes differently: plain, with
// a body over several blocks, with attendees, and a series with a changed occurrence.
std::string SampleCalendar(int events);

// A file's bytes; empty when it cannot be read.
Bytes ReadWholeFile(const std::string& path);

// Peak resident set size of this process so far, in KiB.
long PeakRssKiB();

}  // namespace fault
