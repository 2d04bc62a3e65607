// The byte buffer's ownership and cursor rules, and the engine heap.
#include <gtest/gtest.h>

#include <cstring>
#include "CaptureLog.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Memory.h"

TEST(Buffer, AllocateAndClearKeepTheName) {
    Buffer buffer;
    buffer.SetName(u"C:/cache/file.vod");
    ASSERT_TRUE(buffer.Allocate(10));
    EXPECT_EQ(buffer.GetSize(), 10u);
    EXPECT_EQ(buffer.GetCursor(), buffer.GetData());
    EXPECT_TRUE(buffer.Owns());
    buffer.Clear();
    EXPECT_EQ(buffer.GetData(), _null);
    EXPECT_EQ(buffer.GetCursor(), _null);
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_TRUE(buffer.GetName() == u"C:/cache/file.vod");
    EXPECT_TRUE(buffer.Allocate(0));
    EXPECT_EQ(buffer.GetData(), _null);
}

TEST(Buffer, ResizeKeepsBytesAndClampsTheCursor) {
    Buffer buffer;
    ASSERT_TRUE(buffer.Set("0123456789", 10, true));
    buffer.SetCursorOffset(8);
    ASSERT_TRUE(buffer.Resize(20));
    EXPECT_EQ(buffer.GetCursorOffset(), 8u);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "0123456789", 10), 0);
    ASSERT_TRUE(buffer.Resize(4));
    EXPECT_EQ(buffer.GetCursorOffset(), 4u);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "0123", 4), 0);
    uint8_t* data = buffer.GetData();
    ASSERT_TRUE(buffer.Resize(4)); // unchanged size: nothing happens
    EXPECT_EQ(buffer.GetData(), data);
    ASSERT_TRUE(buffer.Resize(0));
    EXPECT_EQ(buffer.GetData(), _null);
    EXPECT_EQ(buffer.GetCursorOffset(), 0u);
}

TEST(Buffer, SetBorrowsWithoutCopyAndNeverFreesBorrowedBytes) {
    static const char kBytes[] = "borrowed"; // freeing these would be caught by the sanitizer
    Buffer buffer;
    ASSERT_TRUE(buffer.Set(kBytes, 8, false));
    EXPECT_FALSE(buffer.Owns());
    EXPECT_EQ(buffer.GetData(), reinterpret_cast<const uint8_t*>(kBytes));
    buffer.Clear();
    EXPECT_TRUE(buffer.Owns());
    ASSERT_TRUE(buffer.Set(kBytes, 8, false));
    ASSERT_TRUE(buffer.Resize(4)); // a borrowed buffer becomes a private copy
    EXPECT_TRUE(buffer.Owns());
    EXPECT_NE(buffer.GetData(), reinterpret_cast<const uint8_t*>(kBytes));
    ASSERT_TRUE(buffer.Set(kBytes, 8, false));
    ASSERT_TRUE(buffer.Append("!", 1));
    EXPECT_TRUE(buffer.Owns());
    EXPECT_EQ(std::memcmp(buffer.GetData(), "borrowed!", 9), 0);
}

TEST(Buffer, SetAndAppendFromTheBufferItself) {
    Buffer buffer;
    ASSERT_TRUE(buffer.Set("abcdef", 6, true));
    ASSERT_TRUE(buffer.Set(buffer.GetData() + 2, 3, true));
    EXPECT_EQ(std::memcmp(buffer.GetData(), "cde", 3), 0);
    buffer.SetCursorOffset(1);
    ASSERT_TRUE(buffer.Append(buffer.GetData(), 3));
    EXPECT_EQ(buffer.GetSize(), 6u);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "cdecde", 6), 0);
    EXPECT_EQ(buffer.GetCursorOffset(), 1u);
    EXPECT_TRUE(buffer.Append(_null, 0));
    EXPECT_FALSE(buffer.Append(_null, 3));
    EXPECT_EQ(buffer.GetSize(), 6u);
}

TEST(Memory, HeapRefusesEmptyAndHugeRequestsSilently) {
    CaptureLog log;
    EXPECT_EQ(HeapAllocate(0), _null);
    EXPECT_EQ(HeapAllocate(0x7FFFFFFFu), _null);
    EXPECT_TRUE(log.mTrace.empty());
    EXPECT_TRUE(log.mError.empty());
    void* block = HeapAllocate(64);
    ASSERT_NE(block, _null);
    FillBytes(block, 0xAB, 64);
    uint8_t expected[64];
    std::memset(expected, 0xAB, 64);
    EXPECT_TRUE(SameBytes(block, expected, 64));
    CopyBytes(block, "abc", 3);
    EXPECT_FALSE(SameBytes(block, expected, 64));
    HeapRelease(block);
    HeapRelease(_null);
}
