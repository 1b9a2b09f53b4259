// Engine messages: what entities, layers and the core send each other.
//
// A message is a 16-byte header (total size, code, destination, parameter; little-endian int32 each)
// followed by a payload laid out by a format string, one character per value:
//   B  int (a byte)             1 byte
//   W  int (a 16-bit value)     2 bytes
//   L  int32                    4 bytes
//   F  double (a float)         4 bytes, float32
//   S  int32 n, then a pointer  int32 n, then the n bytes it points to
//   P  a pointer                8 bytes, the address itself (zero-extended on 32-bit hosts)
// Case does not matter; any other character is skipped and takes no argument. Pass P and S pointers as
// `void*`, `const void*` or character pointers: they are read back as `const void*`.
//
// The writer and reader here are the ones the engine uses, so modules that lay out or read payloads
// themselves get the same bytes.
#pragma once

#include <bit>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sdk {

constexpr int32_t kMessageHeaderBytes = 16;
constexpr int32_t kStagingAreaBytes = 16384;        // where each layer (and the core) builds its messages
constexpr int32_t kMessageBufferBytes = 65535;      // each queue of posted messages
constexpr int32_t kMessageBufferInUseLimit = 65534; // bytes a queue may hold at once

struct EngineMessageHeader {
    int32_t size; // total bytes, header included
    int32_t code;
    int32_t destination; // kDestination... or an object id
    int32_t parameter;
};
static_assert(sizeof(EngineMessageHeader) == kMessageHeaderBytes);

// Destinations. Any other value is the object with that id in the layer.
constexpr int32_t kDestinationLayer = 0;       // the layer itself (layer codes below)
constexpr int32_t kDestinationCore = 2;        // the engine core (core codes below)
constexpr int32_t kDestinationLayerLogic = 3;  // the layer's logic entity
constexpr int32_t kDestinationFocusObject = 4; // the layer's focus object

// Codes understood by the core (destination kDestinationCore).
constexpr int32_t kCoreQuit = 11;      // end the program after this frame's messages
constexpr int32_t kCorePrint = 24;     // payload S: the text to print (under kPrintTextLimit bytes)
constexpr int32_t kCoreStopInput = 32; // empty the input queue

constexpr int32_t kPrintTextLimit = 256;

// Codes understood by a layer (destination kDestinationLayer).
constexpr int32_t kLayerCreateObject = 11;  // payload kCreateObjectFormat, see CreateObjectRequest
constexpr int32_t kLayerDestroyObject = 12; // parameter: the object id
constexpr int32_t kLayerToHandle = 15;      // payload starts with an entity handle; every such object gets it
constexpr int32_t kLayerToAllObjects = 16;  // every object of the layer gets the message
constexpr int32_t kLayerSetLogic = 17;      // parameter: new layer mode; payload S: the class name (< 256)
constexpr int32_t kLayerStopInput = 32;     // no further input reaches the layer this frame

// Event notification an event listener receives: parameter the event kind, payload S holding the event's
// data (the 4-byte object id, or the 4-byte new layer mode).
constexpr int32_t kEventNotification = 21;
constexpr int32_t kEventObjectCreated = 1;
constexpr int32_t kEventObjectDestroyed = 2;
constexpr int32_t kEventLayerLogicChanged = 4;

// Payload of kLayerCreateObject: an int32 length (not read), the class, module and item name pointers,
// then the item index and the level.
constexpr const char* kCreateObjectFormat = "LPPPLL";

// Reads the header of a message (memcpy: messages sit at any byte offset in their buffers).
inline EngineMessageHeader readMessageHeader(const uint8_t* message) {
    EngineMessageHeader header;
    std::memcpy(&header, message, sizeof header);
    return header;
}

namespace detail {

inline void putLittleEndian(uint8_t* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint64_t getLittleEndian(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

} // namespace detail

// Builds a message into buffer (capacity bytes): code, destination and parameter in the header, the
// payload from format and args (format may be null: no payload), the total size at offset 0.
// Returns the total size, or -1 when the message does not fit, an S length is negative, or an S with a
// positive length has a null pointer; the buffer may then hold a partly written message.
inline int32_t writeEngineMessageV(uint8_t* buffer, size_t capacity, int32_t code, int32_t destination,
                                   int32_t parameter, const char* format, va_list args) {
    if (buffer == nullptr || capacity < static_cast<size_t>(kMessageHeaderBytes)) return -1;
    if (capacity > static_cast<size_t>(INT32_MAX)) capacity = static_cast<size_t>(INT32_MAX);
    size_t used = kMessageHeaderBytes;
    auto room = [&](size_t bytes) { return bytes <= capacity - used; };
    for (const char* f = format; f != nullptr && *f != '\0'; ++f) {
        switch (*f) {
        case 'B':
        case 'b':
        case 'W':
        case 'w':
        case 'L':
        case 'l': {
            const int bytes = (*f == 'B' || *f == 'b') ? 1 : (*f == 'W' || *f == 'w') ? 2 : 4;
            const int value = va_arg(args, int);
            if (!room(bytes)) return -1;
            detail::putLittleEndian(buffer + used, static_cast<uint32_t>(value), bytes);
            used += bytes;
            break;
        }
        case 'F':
        case 'f': {
            const float value = static_cast<float>(va_arg(args, double));
            if (!room(4)) return -1;
            detail::putLittleEndian(buffer + used, std::bit_cast<uint32_t>(value), 4);
            used += 4;
            break;
        }
        case 'P':
        case 'p': {
            const void* pointer = va_arg(args, const void*);
            if (!room(8)) return -1;
            detail::putLittleEndian(buffer + used, reinterpret_cast<uintptr_t>(pointer), 8);
            used += 8;
            break;
        }
        case 'S':
        case 's': {
            const int32_t length = va_arg(args, int32_t);
            const void* bytes = va_arg(args, const void*);
            if (length < 0 || (length > 0 && bytes == nullptr)) return -1;
            if (!room(4) || static_cast<size_t>(length) > capacity - used - 4) return -1;
            detail::putLittleEndian(buffer + used, static_cast<uint32_t>(length), 4);
            if (length > 0) std::memcpy(buffer + used + 4, bytes, static_cast<size_t>(length));
            used += 4 + static_cast<size_t>(length);
            break;
        }
        default:
            break;
        }
    }
    const EngineMessageHeader header = {static_cast<int32_t>(used), code, destination, parameter};
    std::memcpy(buffer, &header, sizeof header);
    return header.size;
}

inline int32_t writeEngineMessage(uint8_t* buffer, size_t capacity, int32_t code, int32_t destination,
                                  int32_t parameter, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int32_t size = writeEngineMessageV(buffer, capacity, code, destination, parameter, format, args);
    va_end(args);
    return size;
}

// Reads a payload value by value, never past its end. Each read returns false, consuming nothing and
// writing nothing, when the value does not fit in what is left.
class PayloadReader {
  public:
    PayloadReader(const uint8_t* payload, size_t size) : data_(payload), size_(payload ? size : 0) {}

    // The payload of a whole message, bounded by the size in its header (a size below the header's
    // length gives an empty payload).
    static PayloadReader ofMessage(const uint8_t* message) {
        const EngineMessageHeader header = readMessageHeader(message);
        const size_t size = header.size > kMessageHeaderBytes ? header.size - kMessageHeaderBytes : 0;
        return PayloadReader(message + kMessageHeaderBytes, size);
    }

    bool readByte(uint8_t* value) { return readUnsigned(value, 1); }
    bool readWord(uint16_t* value) { return readUnsigned(value, 2); }
    bool readLong(int32_t* value) {
        uint32_t bits = 0;
        if (!readUnsigned(&bits, 4)) return false;
        *value = static_cast<int32_t>(bits);
        return true;
    }
    bool readFloat(float* value) {
        uint32_t bits = 0;
        if (!readUnsigned(&bits, 4)) return false;
        *value = std::bit_cast<float>(bits);
        return true;
    }
    bool readPointer(const void** value) {
        uint64_t bits = 0;
        if (!readUnsigned(&bits, 8)) return false;
        *value = reinterpret_cast<const void*>(static_cast<uintptr_t>(bits));
        return true;
    }
    // An S value: its length and a pointer to its bytes inside the payload. Refused when the length is
    // negative or runs past the end.
    bool readCounted(int32_t* length, const uint8_t** bytes) {
        if (remaining() < 4) return false;
        const auto n = static_cast<int32_t>(static_cast<uint32_t>(detail::getLittleEndian(data_ + pos_, 4)));
        if (n < 0 || static_cast<size_t>(n) > remaining() - 4) return false;
        *length = n;
        *bytes = data_ + pos_ + 4;
        pos_ += 4 + static_cast<size_t>(n);
        return true;
    }

    size_t remaining() const { return size_ - pos_; }

  private:
    template <class T> bool readUnsigned(T* value, int bytes) {
        if (remaining() < static_cast<size_t>(bytes)) return false;
        *value = static_cast<T>(detail::getLittleEndian(data_ + pos_, bytes));
        pos_ += static_cast<size_t>(bytes);
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The request carried by kLayerCreateObject.
struct CreateObjectRequest {
    const char* className;
    const char* moduleName;
    const char* itemName;
    int32_t itemIndex;
    int32_t level;
};

// Decodes a kLayerCreateObject message; false when its payload is too short.
inline bool readCreateObjectRequest(const uint8_t* message, CreateObjectRequest* request) {
    PayloadReader reader = PayloadReader::ofMessage(message);
    int32_t ignoredLength = 0;
    const void* names[3] = {};
    CreateObjectRequest result = {};
    if (!reader.readLong(&ignoredLength) || !reader.readPointer(&names[0]) ||
        !reader.readPointer(&names[1]) || !reader.readPointer(&names[2]) ||
        !reader.readLong(&result.itemIndex) || !reader.readLong(&result.level))
        return false;
    result.className = static_cast<const char*>(names[0]);
    result.moduleName = static_cast<const char*>(names[1]);
    result.itemName = static_cast<const char*>(names[2]);
    *request = result;
    return true;
}

} // namespace sdk
