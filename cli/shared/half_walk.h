// The catalogue of a large archive read by two threads: while one walks the
// records from the start, another looks for a record past the archive's
// middle and walks on from there. The records of a walk follow from where
// it starts, so when the walk from the start arrives at the very record the
// other one started with, the rest of the catalogue is the other walk's.
// A record found where there is none (entry data that reads like one) is
// never arrived at: the walk from the start passes it and the other walk
// is dropped, as is one that does not reach the archive's end cleanly (a
// missing volume, damage: the walk from the start then goes on itself, and
// says so as it always does).
#ifndef QZARC_CLI_HALF_WALK_H
#define QZARC_CLI_HALF_WALK_H

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "catalogue.h"

namespace qzcli {

class HalfWalk {
public:
    // Starts the walk past the middle of the first volume `archive` (whose
    // records start at startOffset), or nothing when it is too small to pay.
    HalfWalk(const Library &library, const std::string &archive, uint64_t startOffset);
    // Stops and waits for the walk.
    ~HalfWalk();
    HalfWalk(const HalfWalk &) = delete;
    HalfWalk &operator=(const HalfWalk &) = delete;

    // Called by the walk from the start for each record it reads in the
    // first volume, at `offset`. True when the other walk started with this
    // very record and went on cleanly to the archive's end: its entries,
    // this record's first, are then appended to *entries, and the
    // catalogue is complete. False otherwise (the other walk is dropped
    // once this walk has passed where it started).
    bool Arrived(uint64_t offset, std::vector<CatalogueEntry> *entries);

private:
    void Walk(std::string archive, uint64_t from);
    // Walks from a record that may start at `offset`; false when there is
    // none there after all.
    bool WalkFrom(const std::string &archive, uint64_t offset);
    void Stop();

    const Library &library_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    // The offset of the other walk's first record, once it has read enough
    // records from it to go on with (UINT64_MAX until then).
    std::atomic<uint64_t> start_{UINT64_MAX};
    // The other walk's, read only once it is joined.
    std::vector<CatalogueEntry> entries_;
    bool clean_ = false;  // it reached the archive's end
};

}  // namespace qzcli

#endif  // QZARC_CLI_HALF_WALK_H
