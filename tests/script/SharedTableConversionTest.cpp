// Script tables that share parts or hold themselves, converted to Variables: the conversion ends
// with a bounded tree instead of writing out every path through the shared parts.
#include <cstdint>

#include "ScriptTestClasses.h"

namespace ScriptTest {
namespace {

int64_t CountValues(Variable& value) {
    int64_t count = 1;
    for (int32_t i = 0; i < value.GetChildCount(); ++i) count += CountValues(value.GetChild(i));
    return count;
}

class SharedTableConversionTest : public ScriptFixture {};

TEST_F(SharedTableConversionTest, ATableHoldingItselfTwiceEndsBounded) {
    mManager->RunString(&mOut, u"local t = {} t.a = t t.b = t return t", u"shared", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kStructure);
    ASSERT_EQ(mOut.GetChildCount(), 2);
    EXPECT_LE(CountValues(mOut), int64_t(1) << 17);
    // The first path took what there was to take; the second key is still there, empty.
    EXPECT_EQ(mOut.GetChild(0).GetType(), Variable::kStructure);
    EXPECT_EQ(mOut.GetChild(1).GetType(), Variable::kNone);
}

TEST_F(SharedTableConversionTest, SharedLevelsEndBoundedAndKeepTheirFirstValues) {
    // 2^40 paths when written out; the values reached first are kept.
    mManager->RunString(&mOut,
                        u"local t = {7} for i = 1, 40 do t = {t, t} end return t", u"levels", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kArray);
    EXPECT_LE(CountValues(mOut), int64_t(1) << 17);
    Variable* deepest = &mOut;
    while (deepest->GetChildCount() > 0) deepest = &deepest->GetChild(0);
    EXPECT_EQ(deepest->GetNumber(), 7.0);
}

TEST_F(SharedTableConversionTest, ALargeFlatListStillConvertsWhole) {
    mManager->RunString(&mOut, u"local t = {} for i = 1, 60000 do t[i] = i end return t", u"flat", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kArray);
    ASSERT_EQ(mOut.GetChildCount(), 60000);
    EXPECT_EQ(mOut.GetChild(59999).GetNumber(), 60000.0);
}

} // namespace
} // namespace ScriptTest
