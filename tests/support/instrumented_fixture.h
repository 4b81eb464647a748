// Extraction tests that read the platform layer's instruments, in the
// programs built against the library's internals (test_hooks.h). Every test
// starts with allocation failures disarmed and the counters reset; the heap
// blocks and handles live at its start are what ExpectNothingLeft holds the
// library to.
//
// Defined in this header alone, like ExtractionTest.
#ifndef QZARC_INSTRUMENTED_FIXTURE_H
#define QZARC_INSTRUMENTED_FIXTURE_H

#include "extraction_fixture.h"
#include "platform/test_hooks.h"

namespace qzt {

class InstrumentedExtractionTest : public ExtractionTest {
protected:
    void SetUp() override {
        ExtractionTest::SetUp();
        qzarc_test::FailAllocation(0);
        blocks_ = qzarc_test::LiveBlocks();
        handles_ = qzarc_test::LiveHandles();
        qzarc_test::ResetCounters();
    }
    void TearDown() override {
        qzarc_test::FailAllocation(0);
        ExtractionTest::TearDown();
    }

    // The library holds no heap block or handle beyond those of the start.
    void ExpectNothingLeft() const {
        EXPECT_EQ(qzarc_test::LiveBlocks(), blocks_);
        EXPECT_EQ(qzarc_test::LiveHandles(), handles_);
    }

    long blocks_ = 0;
    long handles_ = 0;
};

}  // namespace qzt

#endif  // QZARC_INSTRUMENTED_FIXTURE_H
