// The fixture of the tests of the inflater's parts, in the programs built
// against the library's internals: every test starts with allocation
// failures disarmed and a clear inflater status, and ends holding no more
// heap blocks than it started with. A derived fixture releases what its
// tests leave in the inflater before calling TearDown here.
//
// Defined in this header alone, like ExtractionTest.
#ifndef QZARC_INFLATER_FIXTURE_H
#define QZARC_INFLATER_FIXTURE_H

#include <gtest/gtest.h>

#include "platform/test_hooks.h"
#include "inflate/inflate_state.h"

// The stream the tests of the inflater's parts drive (inflate_test.cpp).
extern InflateStream gInflate;

namespace qzt {

class InflaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveAtStart_ = qzarc_test::LiveBlocks();
        qzarc_test::FailAllocation(0);
        gInflate.status = kStatusOk;
    }
    void TearDown() override { EXPECT_EQ(qzarc_test::LiveBlocks(), liveAtStart_); }

    long liveAtStart_ = 0;
};

}  // namespace qzt

#endif  // QZARC_INFLATER_FIXTURE_H
