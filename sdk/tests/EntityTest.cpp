#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "VtableSlot.h"
#include "sdk/Entity.h"

using namespace sdk;
using sdk_test::vtableSlot;

namespace {

struct PlainEntity final : Entity {};
struct PlainPlaced final : PlacedObject {};

// The engine calls operations by slot: a reordered or inserted virtual function breaks every module.
TEST(Entity, OperationsKeepTheirSlots) {
    if (!sdk_test::kSlotsReadable) GTEST_SKIP() << "slot numbers readable only under the x86-64 Itanium ABI";
    struct Probe : PlacedObject {
        virtual void oneMore() {}
    };
    struct EntityProbe : Entity {
        virtual void oneMore() {}
    };
    const struct {
        const char* name;
        std::ptrdiff_t slot;
        std::ptrdiff_t expected;
    } rows[] = {
        {"destroy", vtableSlot(&Entity::destroy), 0},
        {"init", vtableSlot(&Entity::init), 1},
        {"reserved", vtableSlot(&Entity::reserved), 2},
        {"update", vtableSlot(&Entity::update), 3},
        {"draw", vtableSlot(&Entity::draw), 4},
        {"input", vtableSlot(&Entity::input), 5},
        {"message", vtableSlot(&Entity::message), 6},
        {"first slot after Entity's", vtableSlot(&EntityProbe::oneMore), 7},
        {"PlacedObject::init", vtableSlot(&PlacedObject::init), 1},
        {"PlacedObject::update", vtableSlot(&PlacedObject::update), 3},
        {"setParameter", vtableSlot(&PlacedObject::setParameter), 7},
        {"setPlacement", vtableSlot(&PlacedObject::setPlacement), 8},
        {"first slot after PlacedObject's", vtableSlot(&Probe::oneMore), 9},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.slot, row.expected) << row.name;
}

TEST(Entity, DefaultOperationsReturnTheContractDefaults) {
    PlainEntity entity;
    PlainPlaced placed;
    Entity& e = entity;
    Entity& p = placed;
    const struct {
        const char* name;
        int32_t result;
        int32_t expected;
    } rows[] = {
        {"Entity init", e.init(nullptr), 1},        {"Entity reserved", e.reserved(5), 0},
        {"Entity update", e.update(16), 1},         {"Entity draw", e.draw(16, 0), 1},
        {"Entity input", e.input(0x100, 27, 0), 0}, {"Entity message", e.message(nullptr), 0},
        {"Placed init", p.init(nullptr), 1},        {"Placed reserved", p.reserved(5), 0},
        {"Placed update", p.update(16), 0},         {"Placed draw", p.draw(16, 0), 1},
        {"Placed input", p.input(0x100, 27, 0), 0}, {"Placed message", p.message(nullptr), 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.result, row.expected) << row.name;
}

TEST(Entity, FreshEntityFieldsMeanNone) {
    PlainPlaced placed;
    EXPECT_EQ(placed.geometryModel, -1);
    EXPECT_EQ(placed.parentId, -1);
    EXPECT_EQ(placed.active, 1);
    EXPECT_EQ(placed.tag, kTagUnset);
    EXPECT_EQ(placed.collisionModel, -1);
    EXPECT_EQ(placed.placement[5], 0.0f);
}

TEST(PlacedObject, InitReplacesFlagsWithPlaced) {
    PlainPlaced placed;
    placed.flags = kFlagGeometry | kFlagCustomDraw;
    EXPECT_EQ(placed.init(nullptr), 1);
    EXPECT_EQ(placed.flags, kFlagPlaced);
}

// An index outside 0..5 would write into collisionModel (-1) or past the object (6).
TEST(PlacedObject, SetParameterWritesOnlyThePlacement) {
    const struct {
        int32_t index;
        int32_t expectedResult;
    } rows[] = {{0, 1}, {3, 1}, {5, 1}, {-1, 0}, {6, 0}, {1000, 0}};
    for (const auto& row : rows) {
        PlainPlaced placed;
        const float before[6] = {1, 2, 3, 4, 5, 6};
        std::memcpy(placed.placement, before, sizeof before);
        EXPECT_EQ(placed.setParameter(row.index, 9.5f), row.expectedResult) << row.index;
        for (int32_t i = 0; i < 6; ++i)
            EXPECT_EQ(placed.placement[i], i == row.index ? 9.5f : before[i]) << row.index << " word " << i;
        EXPECT_EQ(placed.collisionModel, -1) << row.index;
    }
}

TEST(PlacedObject, SetPlacementStoresAllSix) {
    PlainPlaced placed;
    EXPECT_EQ(placed.setPlacement(-0.2f, 0.2f, 2.0f, -0.78539819f, -1.5707964f, 0.25f), 1);
    const float expected[6] = {-0.2f, 0.2f, 2.0f, -0.78539819f, -1.5707964f, 0.25f};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(placed.placement[i], expected[i]) << i;
}

struct Counted final : PlacedObject {
    explicit Counted(int* destructions) : destructions(destructions) {}
    ~Counted() { ++*destructions; }
    Entity* destroy(int32_t destroyFlags) override { return destroyAs(this, destroyFlags); }
    int* destructions;
};

TEST(Entity, DestroyAsRunsTheDerivedDestructorAndFreesOnlyWithTheFreeBit) {
    int destructions = 0;
    alignas(Counted) unsigned char storage[sizeof(Counted)];
    Entity* inPlace = new (storage) Counted(&destructions);
    EXPECT_EQ(inPlace->destroy(0), inPlace); // freeing the local buffer would abort the test
    EXPECT_EQ(destructions, 1);

    Entity* onHeap = new Counted(&destructions);
    EXPECT_EQ(onHeap->destroy(kDestroyFree), onHeap);
    EXPECT_EQ(destructions, 2);
}

// With another polymorphic base first, the Entity subobject is not where the allocation starts; freeing
// its address would hand the allocator a pointer it never returned.
struct OtherInterface {
    virtual ~OtherInterface() = default;
    virtual int other() { return 0; }
    double values[3] = {};
};
struct EntityAfterAnotherBase final : OtherInterface, PlacedObject {};

TEST(Entity, DefaultDestroyFreesTheWholeAllocation) {
    auto* object = new EntityAfterAnotherBase;
    Entity* entity = object;
    ASSERT_NE(static_cast<void*>(entity), static_cast<void*>(object));
    entity->destroy(kDestroyFree);
}

TEST(EntityWords, WordKIsTheKthFieldAfterTheTablePointer) {
    PlainEntity e;
    const struct {
        int32_t k;
        const int32_t* field;
    } rows[] = {
        {1, &e.id},
        {2, &e.handle},
        {3, &e.flags},
        {4, &e.geometryModel},
        {6, &e.active},
        {8, &e.parentId},
        {10, &e.level},
        {13, &e.tag},
        {14, &e.registrations},
        {17, &e.firstChild},
        {21, &e.position},
        {22, &e.reservedWords[0]},
        {32, &e.reservedWords[10]},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(combineEntityWord(e, row.k, 1000 + row.k, kWordSet)) << row.k;
        EXPECT_EQ(*row.field, 1000 + row.k) << row.k;
        int32_t read = 0;
        ASSERT_TRUE(readEntityWord(e, row.k, &read));
        EXPECT_EQ(read, 1000 + row.k);
    }
}

TEST(EntityWords, OrAndAndCombineWithTheStoredWord) {
    PlainEntity e;
    e.flags = 0x0F;
    ASSERT_TRUE(combineEntityWord(e, 3, 0x30, kWordOr));
    EXPECT_EQ(e.flags, 0x3F);
    ASSERT_TRUE(combineEntityWord(e, 3, 0x18, kWordAnd));
    EXPECT_EQ(e.flags, 0x18);
}

// Word 0 is the operation-table pointer and word 33 lies past the base fields: neither may be written.
TEST(EntityWords, RefusesIndicesOutsideTheBaseWordsAndUnknownOperations) {
    PlainPlaced placed;
    unsigned char before[sizeof(PlainPlaced)];
    std::memcpy(before, static_cast<void*>(&placed), sizeof before);
    const struct {
        int32_t k;
        int32_t operation;
    } rows[] = {{0, kWordSet}, {-1, kWordSet}, {33, kWordSet}, {kEntityWordCount + 100, kWordOr},
                {3, 3},        {3, -1}};
    for (const auto& row : rows) {
        EXPECT_FALSE(combineEntityWord(placed, row.k, -1, row.operation)) << row.k << " op " << row.operation;
        int32_t value = 77;
        if (row.operation == kWordSet) {
            EXPECT_FALSE(readEntityWord(placed, row.k, &value)) << row.k;
        }
        EXPECT_EQ(value, 77);
    }
    EXPECT_EQ(std::memcmp(before, static_cast<void*>(&placed), sizeof before), 0);
    EXPECT_EQ(placed.update(1), 0); // the table pointer still reaches PlacedObject's operations
}

} // namespace
