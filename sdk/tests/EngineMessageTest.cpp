#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "sdk/EngineMessage.h"

using namespace sdk;

namespace {

std::vector<uint8_t> payloadOf(const uint8_t* message, int32_t size) {
    return std::vector<uint8_t>(message + kMessageHeaderBytes, message + size);
}

TEST(EngineMessage, LongAndCountedStringGiveTwentySevenBytes) {
    uint8_t buffer[64];
    const int32_t size = writeEngineMessage(buffer, sizeof buffer, 21, 4, 1, "LS", 7, 3, "abc");
    ASSERT_EQ(size, 27);
    const EngineMessageHeader header = readMessageHeader(buffer);
    EXPECT_EQ(header.size, 27);
    EXPECT_EQ(header.code, 21);
    EXPECT_EQ(header.destination, 4);
    EXPECT_EQ(header.parameter, 1);
    const std::vector<uint8_t> expected = {7, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(payloadOf(buffer, size), expected);
}

TEST(EngineMessage, EachFormatCharacterLaysOutItsBytes) {
    using Build = std::function<int32_t(uint8_t*, size_t)>;
    const struct {
        const char* name;
        Build build;
        std::vector<uint8_t> payload;
    } rows[] = {
        {"B keeps the low byte",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "B", 0x1FF); },
         {0xFF}},
        {"W keeps the low 16 bits",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "W", 0x12345); },
         {0x45, 0x23}},
        {"L little-endian",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "L", -2); },
         {0xFE, 0xFF, 0xFF, 0xFF}},
        {"F narrows the double to float32",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "F", 1.5); },
         {0x00, 0x00, 0xC0, 0x3F}},
        {"lower case is the same",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "bwlf", 1, 2, 3, 0.0); },
         {1, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0}},
        {"other characters take no argument",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "x-L?", 5); },
         {5, 0, 0, 0}},
        {"S of length 0 may have a null pointer",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, "SL", 0, nullptr, 9); },
         {0, 0, 0, 0, 9, 0, 0, 0}},
        {"null format: header only",
         [](uint8_t* b, size_t n) { return writeEngineMessage(b, n, 0, 0, 0, nullptr); },
         {}},
        {"P is eight bytes",
         [](uint8_t* b, size_t n) {
             return writeEngineMessage(b, n, 0, 0, 0, "PB", reinterpret_cast<void*>(uintptr_t{0x44332211}),
                                       7);
         },
         {0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0, 7}},
    };
    for (const auto& row : rows) {
        uint8_t buffer[64];
        const int32_t size = row.build(buffer, sizeof buffer);
        ASSERT_EQ(size, kMessageHeaderBytes + static_cast<int32_t>(row.payload.size())) << row.name;
        EXPECT_EQ(payloadOf(buffer, size), row.payload) << row.name;
    }
}

TEST(EngineMessage, RefusesWhatDoesNotFitOrIsMalformed) {
    uint8_t buffer[32];
    std::memset(buffer, 0xAA, sizeof buffer);
    const struct {
        const char* name;
        int32_t result;
        int32_t expected;
    } rows[] = {
        {"exact fit", writeEngineMessage(buffer, 27, 0, 0, 0, "LS", 7, 3, "abc"), 27},
        {"one byte short in the string", writeEngineMessage(buffer, 26, 0, 0, 0, "LS", 7, 3, "abc"), -1},
        {"no room for the S length", writeEngineMessage(buffer, 18, 0, 0, 0, "S", 3, "abc"), -1},
        {"one byte short for a long", writeEngineMessage(buffer, 19, 0, 0, 0, "L", 1), -1},
        {"no room for a header", writeEngineMessage(buffer, 15, 0, 0, 0, nullptr), -1},
        {"no buffer", writeEngineMessage(nullptr, 64, 0, 0, 0, nullptr), -1},
        {"negative S length", writeEngineMessage(buffer, sizeof buffer, 0, 0, 0, "S", -1, "abc"), -1},
        {"huge S length", writeEngineMessage(buffer, sizeof buffer, 0, 0, 0, "S", INT32_MAX, "abc"), -1},
        {"S with a length but no bytes", writeEngineMessage(buffer, sizeof buffer, 0, 0, 0, "S", 2, nullptr),
         -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.result, row.expected) << row.name;
}

TEST(PayloadReader, ReadsBackWhatTheWriterLaidOut) {
    uint8_t buffer[128];
    int marker = 0;
    const int32_t size =
        writeEngineMessage(buffer, sizeof buffer, 16, 0, 0, "BWLFPS", 200, 60000, -5, 0.25, &marker, 2, "hi");
    ASSERT_GT(size, 0);
    PayloadReader reader = PayloadReader::ofMessage(buffer);
    uint8_t b = 0;
    uint16_t w = 0;
    int32_t l = 0;
    float f = 0;
    const void* p = nullptr;
    int32_t n = 0;
    const uint8_t* bytes = nullptr;
    ASSERT_TRUE(reader.readByte(&b) && reader.readWord(&w) && reader.readLong(&l) && reader.readFloat(&f) &&
                reader.readPointer(&p) && reader.readCounted(&n, &bytes));
    EXPECT_EQ(b, 200);
    EXPECT_EQ(w, 60000);
    EXPECT_EQ(l, -5);
    EXPECT_EQ(f, 0.25f);
    EXPECT_EQ(p, &marker);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(std::memcmp(bytes, "hi", 2), 0);
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_FALSE(reader.readByte(&b));
}

// A payload is bounded by its header's size, not by the buffer around it.
TEST(PayloadReader, NeverReadsPastTheMessage) {
    uint8_t buffer[64] = {};
    const int32_t size = writeEngineMessage(buffer, sizeof buffer, 0, 0, 0, "LL", 100, 5);
    ASSERT_EQ(size, 24);
    {
        PayloadReader reader = PayloadReader::ofMessage(buffer);
        int32_t length = 0;
        const uint8_t* bytes = nullptr;
        EXPECT_FALSE(reader.readCounted(&length, &bytes)) << "claims 100 bytes where 4 are left";
        EXPECT_EQ(reader.remaining(), 8u);
        uint8_t rest[9];
        for (uint8_t& byte : rest)
            (void)reader.readByte(&byte);
        EXPECT_EQ(reader.remaining(), 0u);
    }
    {
        uint8_t negative[32];
        const int32_t n = writeEngineMessage(negative, sizeof negative, 0, 0, 0, "L", -1);
        ASSERT_EQ(n, 20);
        PayloadReader reader = PayloadReader::ofMessage(negative);
        int32_t length = 0;
        const uint8_t* bytes = nullptr;
        EXPECT_FALSE(reader.readCounted(&length, &bytes)) << "negative length";
        EXPECT_EQ(reader.remaining(), 4u) << "a refused read consumes nothing";
    }
    {
        const EngineMessageHeader lying = {3, 0, 0, 0};
        std::memcpy(buffer, &lying, sizeof lying);
        PayloadReader reader = PayloadReader::ofMessage(buffer);
        EXPECT_EQ(reader.remaining(), 0u) << "a size below the header's gives no payload";
    }
}

TEST(EngineMessage, CreateObjectRequestRoundTrip) {
    static const char className[] = "walker";
    static const char moduleName[] = "actors";
    uint8_t buffer[128];
    const int32_t size = writeEngineMessage(buffer, sizeof buffer, kLayerCreateObject, kDestinationLayer, 0,
                                            kCreateObjectFormat, 0, className, moduleName, nullptr, 12, 3);
    EXPECT_EQ(size, 16 + 4 + 3 * 8 + 4 + 4);
    CreateObjectRequest request = {};
    ASSERT_TRUE(readCreateObjectRequest(buffer, &request));
    EXPECT_EQ(request.className, className);
    EXPECT_EQ(request.moduleName, moduleName);
    EXPECT_EQ(request.itemName, nullptr);
    EXPECT_EQ(request.itemIndex, 12);
    EXPECT_EQ(request.level, 3);

    const int32_t shortSize = writeEngineMessage(buffer, sizeof buffer, kLayerCreateObject, kDestinationLayer,
                                                 0, "LPP", 0, className, moduleName);
    ASSERT_GT(shortSize, 0);
    request.itemIndex = 77;
    EXPECT_FALSE(readCreateObjectRequest(buffer, &request));
    EXPECT_EQ(request.itemIndex, 77) << "a refused decode writes nothing";
}

} // namespace
