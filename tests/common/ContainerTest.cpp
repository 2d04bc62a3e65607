// The engine's containers: growth, the queue's wrap and repack, hash chains, checks.
#include <gtest/gtest.h>

#include <string>
#include "CaptureLog.h"
#include "Common/Array.h"
#include "Common/HashTable.h"
#include "Common/Queue.h"
#include "Common/Stack.h"

TEST(Array, GrowsFrom16ByDoubling) {
    Array<int> items;
    EXPECT_EQ(items.GetCapacity(), 0);
    for (int i = 0; i < 16; ++i) items.Append(i);
    EXPECT_EQ(items.GetCapacity(), 16);
    items.Append(16);
    EXPECT_EQ(items.GetCapacity(), 32);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(items[i], i);
    items.RemoveAt(0);
    EXPECT_EQ(items[0], 1);
    EXPECT_EQ(items.GetCount(), 16);
    items.Clear();
    EXPECT_EQ(items.GetCount(), 0);
    EXPECT_EQ(items.GetCapacity(), 32);
}

TEST(Array, AppendingItsOwnElementWhileGrowing) {
    Array<String> items;
    for (int i = 0; i < 16; ++i) items.Append(String(u"element"));
    items.Append(items[3]);
    EXPECT_EQ(items.GetCount(), 17);
    EXPECT_TRUE(items[16] == u"element");
    Array<String> copy(items);
    EXPECT_TRUE(copy[16] == u"element");
}

TEST(Array, InvalidIndexIsReported) {
    CaptureLog log;
    Array<int> items;
    items.Append(1);
    EXPECT_EQ(items[1], 0);
    EXPECT_EQ(items[-1], 0);
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : IsIndexValid( index )\r\nCommon/Array:"));
    EXPECT_EQ(log.mError.size(), 2u);
}

TEST(Queue, WrapsAndRepacksInOrder) {
    Queue<int> queue;
    int next = 0, expected = 0;
    for (int i = 0; i < 16; ++i) queue.Push(next++);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(queue.Pop(), expected++);
    for (int i = 0; i < 6; ++i) queue.Push(next++);
    EXPECT_EQ(queue.GetFront(), 10);
    EXPECT_EQ(queue.GetBack(), 5);
    EXPECT_EQ(queue.GetCapacity(), 16);
    for (int i = 0; i < 4; ++i) queue.Push(next++);
    EXPECT_EQ(queue.GetCount(), 16);
    EXPECT_EQ(queue.GetCapacity(), 16);
    queue.Push(next++); // the 17th element repacks from the front
    EXPECT_EQ(queue.GetCapacity(), 32);
    EXPECT_EQ(queue.GetFront(), 0);
    EXPECT_EQ(queue.GetBack(), 17);
    while (queue.GetCount() > 0) EXPECT_EQ(queue.Pop(), expected++);
    EXPECT_EQ(expected, next);
}

TEST(Queue, PopOnEmptyIsReported) {
    CaptureLog log;
    Queue<String> queue;
    EXPECT_TRUE(queue.Pop().IsEmpty());
    queue.Push(String(u"one"));
    EXPECT_TRUE(queue.Pop() == u"one");
    EXPECT_TRUE(queue.Pop().IsEmpty());
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : IsIndexValid( mFront )\r\nCommon/Queue:"));
    EXPECT_EQ(log.mError.size(), 2u);
}

TEST(Stack, PushTopPopAndEmptyTop) {
    CaptureLog log;
    Stack<String> stack;
    for (int i = 0; i < 17; ++i) stack.Push(String(i % 2 ? u"odd" : u"even"));
    EXPECT_EQ(stack.GetCapacity(), 32);
    stack.Push(stack.At(0));
    EXPECT_TRUE(stack.Top() == u"even");
    stack.Pop();
    stack.Pop();
    EXPECT_TRUE(stack.Top() == u"odd");
    stack.Clear();
    EXPECT_TRUE(stack.Top().IsEmpty());
    stack.Pop();
    EXPECT_EQ(stack.GetCount(), 0);
    EXPECT_TRUE(log.ErrorContains(u"Assertion Failed : mLength > 0\r\nCommon/Stack:"));
}

TEST(HashTable, KeysDifferingInCaseShareAChainAndFindIsExact) {
    HashTable<int> table(397);
    table.Insert(u"Key")->mValue = 1;
    table.Insert(u"KEY")->mValue = 2;
    table.Insert(u"other")->mValue = 3;
    uint32_t bucket = HashNoCase(u"key") % 397;
    HashTable<int>::Entry* first = table.GetBucket(bucket);
    ASSERT_NE(first, _null);
    // Equal hashes stay in insertion order.
    EXPECT_TRUE(first->mKey == u"Key");
    ASSERT_NE(first->mChainNext, _null);
    EXPECT_TRUE(first->mChainNext->mKey == u"KEY");
    EXPECT_EQ(table.Find(u"Key")->mValue, 1);
    EXPECT_EQ(table.Find(u"KEY")->mValue, 2);
    EXPECT_EQ(table.Find(u"key"), _null);
    EXPECT_EQ(table.Find(u"missing"), _null);
    // Iteration follows the insertion order.
    std::u16string order;
    for (auto* e = table.GetHead(); e; e = e->mNext) order += char16_t(u'0' + e->mValue);
    EXPECT_EQ(order, u"123");
    table.Remove(table.Find(u"Key"));
    EXPECT_EQ(table.Find(u"KEY")->mValue, 2);
    EXPECT_EQ(table.GetCount(), 2);
}

TEST(HashTable, ChainsStayInAscendingHashOrder) {
    HashTable<int> table(1);
    const WideChar* keys[] = {u"delta", u"alpha", u"echo", u"charlie", u"bravo", u"ALPHA", u"foxtrot"};
    for (const WideChar* key : keys) table.Insert(key);
    EXPECT_EQ(table.GetCount(), 7);
    uint32_t last = 0;
    int seen = 0;
    for (auto* e = table.GetBucket(0); e; e = e->mChainNext, ++seen) {
        EXPECT_GE(e->mHash, last);
        EXPECT_EQ(e->mHash, HashNoCase(e->mKey));
        last = e->mHash;
    }
    EXPECT_EQ(seen, 7);
    for (const WideChar* key : keys) EXPECT_TRUE(table.Find(key)->mKey == key);
    table.Destroy();
    EXPECT_EQ(table.GetCount(), 0);
    EXPECT_EQ(table.Find(u"alpha"), _null);
}
