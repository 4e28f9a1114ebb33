// Object tables, object lists and the toolkit heaps.
#include <gtest/gtest.h>

#include "toolkit/registry.h"

namespace {

struct Record {
    uint32_t handle;
    uint32_t payload;
};

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(RuntimeHeapCreate(), nullptr);
        ASSERT_NE(CreateListHeap(), nullptr);
        ASSERT_TRUE(TableCreate(&table, 30, sizeof(Record)));
    }
    void TearDown() override
    {
        TableForget(&table);
        DestroyListHeap();
        RuntimeHeapDestroy();
    }
    Record* Obtain(int32_t number, int32_t* used = nullptr)
    {
        return static_cast<Record*>(RegistryObtain(&table, number, used));
    }
    Record* Fill(int32_t number, uint32_t handle, int32_t* used = nullptr)
    {
        Record* record = Obtain(number, used);
        if (record) {
            record->handle = handle;
            record->payload = handle * 3;
        }
        return record;
    }
    ObjectTable table = {};
};

TEST_F(Registry, GrowingKeepsRecordsAndZeroesNewOnes)
{
    for (int32_t n = 0; n < 30; ++n)
        Fill(n, 100 + n);
    // Number 30 is the first spare record of a table of 30: it names nothing.
    EXPECT_EQ(RegistryLookup(&table, 30), nullptr);

    ASSERT_NE(Fill(30, 999), nullptr);
    EXPECT_EQ(table.nominalSize, 60);
    for (int32_t n = 0; n < 30; ++n) {
        Record* record = static_cast<Record*>(RegistryLookup(&table, n));
        ASSERT_NE(record, nullptr) << n;
        EXPECT_EQ(record->handle, 100u + n);
        EXPECT_EQ(record->payload, 3u * (100 + n));
    }
    // The records beyond the old size, spares included, start zeroed.
    for (int32_t n = 31; n < 62; ++n) {
        const Record* raw = reinterpret_cast<const Record*>(table.block) + n;
        EXPECT_EQ(raw->handle | raw->payload, 0u) << n;
    }
    EXPECT_EQ(RegistryLookup(&table, 60), nullptr);

    // A number far beyond grows at once; one too large leaves the table as it was.
    ASSERT_NE(Fill(100, 7), nullptr);
    EXPECT_EQ(table.nominalSize, 130);
    EXPECT_EQ(RegistryLookup(&table, 99), nullptr);
    EXPECT_EQ(Obtain(INT32_MAX - 1), nullptr);
    EXPECT_EQ(table.nominalSize, 130);
    EXPECT_EQ(static_cast<Record*>(RegistryLookup(&table, 2))->handle, 102u);

    RegistryRelease(&table, 5);
    EXPECT_EQ(RegistryLookup(&table, 5), nullptr);
    RegistryRelease(&table, 5);   // an empty number: nothing happens
    EXPECT_NE(RegistryLookup(&table, 6), nullptr);
}

TEST_F(Registry, GrowthWhoseByteSizeWouldWrapIsRefused)
{
    ASSERT_NE(Fill(0, 7), nullptr);
    // (0x20000000 + 32) records of 8 bytes pass 4 GiB and would wrap to 256 bytes.
    EXPECT_EQ(Obtain(0x20000000), nullptr);
    EXPECT_EQ(table.nominalSize, 30);
    Record* first = static_cast<Record*>(RegistryLookup(&table, 0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->handle, 7u);
    EXPECT_EQ(first->payload, 21u);
}

TEST_F(Registry, AnyNumberIdentitiesLieOutsideTheTable)
{
    int32_t first = 0, second = 0;
    ASSERT_NE(Fill(ANY_NUMBER, 11, &first), nullptr);
    ASSERT_NE(Fill(ANY_NUMBER, 12, &second), nullptr);
    for (int32_t id : {first, second})
        EXPECT_FALSE(id >= 0 && id <= table.nominalSize) << id;
    EXPECT_NE(first, second);
    EXPECT_EQ(static_cast<Record*>(RegistryLookup(&table, first))->handle, 11u);
    EXPECT_EQ(static_cast<Record*>(RegistryLookup(&table, second))->handle, 12u);

    RegistryRelease(&table, first);
    EXPECT_EQ(RegistryLookup(&table, first), nullptr);
    RegistryRelease(&table, first);   // a released identity stays dead
    EXPECT_NE(RegistryLookup(&table, second), nullptr);
}

TEST_F(Registry, InvalidNumbersNameNothing)
{
    Fill(0, 1);
    for (int32_t bad : {-2, -30, INT32_MIN, ANY_NUMBER})
        EXPECT_EQ(RegistryLookup(&table, bad), nullptr) << bad;
    EXPECT_EQ(Obtain(-2), nullptr);
    // Identities that were never handed out, even ones that look like
    // addresses inside the list heap, find nothing.
    int32_t id = 0;
    Fill(ANY_NUMBER, 5, &id);
    EXPECT_EQ(RegistryLookup(&table, id + 4), nullptr);
    EXPECT_EQ(RegistryLookup(&table, 0x7FFFFFF0), nullptr);
    RegistryRelease(&table, id + 4);   // must not disturb the real record
    EXPECT_NE(RegistryLookup(&table, id), nullptr);
    ObjectTable none = {};
    EXPECT_EQ(RegistryObtain(&none, 3, nullptr), nullptr);
    EXPECT_EQ(RegistryLookup(&none, 3), nullptr);
}

TEST_F(Registry, ListAddRemoveFindAtHeadMiddleAndTail)
{
    ObjectList list = {};
    int32_t a = ListAdd(&list, 8);
    int32_t b = ListAdd(&list, 8);
    int32_t c = ListAdd(&list, 8);
    ASSERT_TRUE(a && b && c);
    // New records go to the head: a walk meets them newest first.
    EXPECT_EQ(ListFirst(&list), c);
    EXPECT_EQ(ListNext(c), b);
    EXPECT_EQ(ListNext(b), a);
    EXPECT_EQ(ListNext(a), 0);
    for (int32_t id : {a, b, c})
        EXPECT_EQ(ListFind(&list, id), id);
    EXPECT_EQ(static_cast<uint32_t*>(ListRecord(b))[0], 0u);   // zeroed

    ListRemove(&list, b);   // middle
    EXPECT_EQ(ListFind(&list, b), 0);
    EXPECT_EQ(ListNext(c), a);
    EXPECT_EQ(ListFind(&list, a), a);

    ListRemove(&list, c);   // head
    EXPECT_EQ(ListFirst(&list), a);
    int32_t d = ListAdd(&list, 8);
    ListRemove(&list, a);   // tail
    EXPECT_EQ(ListFirst(&list), d);
    EXPECT_EQ(ListNext(d), 0);
    ListRemove(&list, d);
    EXPECT_EQ(ListFirst(&list), 0);
    EXPECT_EQ(ListFind(&list, d), 0);
}

TEST(Heaps, ReleaseTwiceIsSafeAndListsNeedTheirHeap)
{
    ASSERT_NE(RuntimeHeapCreate(), nullptr);
    RuntimeHeapDestroy();
    RuntimeHeapDestroy();
    EXPECT_EQ(RuntimeHeap(), nullptr);
    DestroyListHeap();
    ObjectList list = {};
    EXPECT_EQ(ListAdd(&list, 8), 0);   // no list heap: no node, nothing added
    EXPECT_EQ(ListFirst(&list), 0);
    ObjectTable table = {};
    EXPECT_FALSE(TableCreate(&table, 10, 4));   // no runtime heap
}

}  // namespace
