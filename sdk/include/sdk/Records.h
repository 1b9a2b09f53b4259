// Records exchanged byte for byte through the service slots. The engine stores some of them (viewports,
// fonts, settings) and hands modules pointers to its copies, so every offset below is part of the contract.
// All are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/Types.h"

namespace sdk {

// ---------------------------------------------------------------------------------------------------
// Start-up settings (CoreServices getStartupSettings / setStartupSettings): 108 bytes.

struct StartupSettings {
    int32_t videoClass;   // 0..3, the low two bits of the display mode flags
    int32_t width;        // pixels
    int32_t height;       // pixels
    int32_t surfaceBpp;   // surface bits per pixel
    int32_t device;       // display device index
    int32_t antialias;    // antialias setting
    int32_t soundClass;   // stored; the engine takes no action on it
    int32_t soundOff;     // non-zero silences sound effects
    int32_t musicOff;     // non-zero silences music
    float effectsLevel;   // 0 to 1
    float musicLevel;     // 0 to 1
    char logicModule[60]; // NUL-terminated; at most 31 characters are used
    int32_t reserved;
};
static_assert(sizeof(StartupSettings) == 108);
static_assert(offsetof(StartupSettings, soundOff) == 28);
static_assert(offsetof(StartupSettings, effectsLevel) == 36);
static_assert(offsetof(StartupSettings, logicModule) == 44);
static_assert(offsetof(StartupSettings, reserved) == 104);

// ---------------------------------------------------------------------------------------------------
// Viewport record (CoreServices addViewport, updateViewport, getViewport): 97 bytes, packed. The engine
// copies exactly 97 bytes in and out, so the record has no trailing padding.

// Which field groups the caller supplies (flags, offset 0).
constexpr int32_t kViewportRect = 1;            // screenRect
constexpr int32_t kViewportEye = 2;             // eyePosition, eyeAngles
constexpr int32_t kViewportObjects = 4;         // trackedObjectId, watchedObjectId
constexpr int32_t kViewportFieldOfView = 8;     // fieldOfView
constexpr int32_t kViewportRendererValues = 16; // rendererValue1, rendererValue2
constexpr int32_t kViewportEnabled = 32;        // enabled

constexpr float kDefaultFieldOfView = 1.22f; // radians, when the caller gives none
constexpr int32_t kMaxViewportsPerLayer = 32;

#pragma pack(push, 1)
struct ViewportRecord {
    int32_t flags;           // which field groups the caller supplies (kViewport...)
    int32_t id;              // written by the layer
    int32_t trackedObjectId; // the camera copies this object's position and angles each frame; -1 none
    int32_t watchedObjectId; // marked as watched, cleared when destroyed; -1 none
    float fieldOfView;       // radians
    int32_t rendererValue1;  // passed to the renderer
    Vec3 eyePosition;        // world units
    Vec3 eyeAngles;          // pitch, yaw, roll in radians
    Rect screenRect;         // pixels
    float rendererValue2;    // passed to the renderer
    float projectionScale;   // derived: tan(1.57 - fieldOfView / 2)
    float aspectFactor;      // derived: height / width / projectionScale
    int32_t centreX;         // derived
    int32_t centreY;         // derived
    int32_t width;           // derived
    int32_t height;          // derived
    uint8_t enabled;         // drawn only when non-zero
    float nearValue;         // renderer's near value when not negative; -1 after creation
};
#pragma pack(pop)
static_assert(sizeof(ViewportRecord) == 97);
static_assert(offsetof(ViewportRecord, fieldOfView) == 16);
static_assert(offsetof(ViewportRecord, rendererValue1) == 20);
static_assert(offsetof(ViewportRecord, eyePosition) == 24);
static_assert(offsetof(ViewportRecord, eyeAngles) == 36);
static_assert(offsetof(ViewportRecord, screenRect) == 48);
static_assert(offsetof(ViewportRecord, rendererValue2) == 64);
static_assert(offsetof(ViewportRecord, projectionScale) == 68);
static_assert(offsetof(ViewportRecord, aspectFactor) == 72);
static_assert(offsetof(ViewportRecord, centreX) == 76);
static_assert(offsetof(ViewportRecord, height) == 88);
static_assert(offsetof(ViewportRecord, enabled) == 92);
static_assert(offsetof(ViewportRecord, nearValue) == 93);

// ---------------------------------------------------------------------------------------------------
// Module fonts (CoreServices getFont and the font slots).

constexpr int32_t kFontGlyphCapacity = 256;
constexpr int32_t kFontNameCapacity = 260; // up to 259 characters and the NUL
constexpr int32_t kFontLayoutFileBytes = 4356;

// One glyph's rectangle on the sheet, in sheet units (1.0 = 256 pixels), in the file's order.
struct FontGlyph {
    float u0;
    float u1;
    float v1;
    float v0;
};
static_assert(sizeof(FontGlyph) == 16);

// The layout file image, held unchanged in the font record.
struct FontLayout {
    int32_t glyphCount; // G
    FontGlyph glyphs[kFontGlyphCapacity];
    uint8_t glyphOfCharacter[256]; // glyph index of each character code
};
static_assert(sizeof(FontLayout) == kFontLayoutFileBytes);

struct FontRecord {
    FontLayout layout;
    char textureName[kFontNameCapacity];
    char layoutName[kFontNameCapacity];
    int32_t textureHandle;
    int32_t refCount;
    int32_t lineHeight;   // pixels: trunc((v1 - v0) * 256) of glyph 0
    int32_t extraAdvance; // pixels added per glyph; 0
};
static_assert(offsetof(FontRecord, textureName) == 4356);
static_assert(offsetof(FontRecord, layoutName) == 4616);
static_assert(offsetof(FontRecord, textureHandle) == 4876);
static_assert(sizeof(FontRecord) == 4892);

// fontDrawChar position: x is the first value and y the fourth; the two between are not read.
struct FontCharPosition {
    float x;
    float unused1;
    float unused2;
    float y;
};
static_assert(sizeof(FontCharPosition) == 16);

// fontDrawText rectangle and the font clip rectangle, in pixels.
struct FontRect {
    float left;
    float right;
    float upper; // upper y limit
    float lower; // lower y limit
};
static_assert(sizeof(FontRect) == 16);

// ---------------------------------------------------------------------------------------------------
// Drawing records (WorldServices).

// World triangle vertex (drawWorldTriangle): 32 bytes.
struct WorldVertex {
    float x, y, z;
    float reserved;
    uint32_t diffuse;  // ARGB
    uint32_t specular; // ARGB
    float tu, tv;
};
static_assert(sizeof(WorldVertex) == 32);

// Pre-transformed screen vertex (drawScreenTriangle): 32 bytes.
struct ScreenVertex {
    float sx, sy;      // pixels
    float sz;          // depth: near value x rhw, larger is nearer
    float rhw;         // 1 / view distance
    uint32_t diffuse;  // ARGB
    uint32_t specular; // low 24 bits specular colour, top byte the fog factor (255 = no fog)
    float tu, tv;
};
static_assert(sizeof(ScreenVertex) == 32);

// Mesh vertex: 40 bytes.
struct MeshVertex {
    float x, y, z;
    float unused[3];
    float tu, tv;
    uint32_t diffuse;  // ARGB
    uint32_t specular; // ARGB
};
static_assert(sizeof(MeshVertex) == 40);

// Mesh triangle: three vertex indices and a texture handle.
struct MeshTriangle {
    int32_t vertex[3];
    int32_t texture;
};
static_assert(sizeof(MeshTriangle) == 16);

constexpr int32_t kMeshRemoveBackFaces = 1;
constexpr int32_t kMeshNoFog = 2;
constexpr int32_t kMeshKeepBlendMode = 16;

// Indexed mesh (drawMesh). The arrays belong to the caller. Natural alignment: the two pointers are
// 8 bytes each on 64-bit hosts.
struct Mesh {
    int32_t flags; // kMesh...
    MeshVertex* vertices;
    MeshTriangle* triangles;
    int32_t vertexCount;
    int32_t triangleCount;
    int32_t blendMode;  // 0 blending off, 1 to 4 the blend pairs of the renderer
    int32_t depthFlags; // bit 0 z-write, bit 1 z-test, bit 2 dither
};
static_assert(offsetof(Mesh, vertices) == sizeof(void*));
static_assert(offsetof(Mesh, vertexCount) == 3 * sizeof(void*));
static_assert(sizeof(Mesh) == 3 * sizeof(void*) + 16);

// Decoded model vertex, as held by the model store (getObject): ten 32-bit values.
struct ModelVertex {
    float x, y, z;
    float u, v;
    uint32_t diffuse;  // 0x00RRGGBB
    uint32_t specular; // RGB in the low three bytes, flag byte on top
    float nx, ny, nz;
};
static_assert(sizeof(ModelVertex) == 40);

// Head of a decoded model object (getObject); its vertices, triangles (three uint16 indices each) and
// animation keys follow it in the model's block.
struct ModelObject {
    int32_t keyCount;
    int32_t texture;
    int32_t vertexCount;
    int32_t triangleCount;
    float sphereRadius;
    Vec3 sphereCentre;
    int32_t flags;
    int32_t tag;
};
static_assert(sizeof(ModelObject) == 40);
static_assert(offsetof(ModelObject, vertexCount) == 8);

// One contact of a box query (collideBox): the entity id and the face reference
// ((model object index << 16) | triangle index).
struct Contact {
    int32_t id;
    int32_t faceReference;
};
static_assert(sizeof(Contact) == 8);

// The editable light description (getLightBlock): fifteen 32-bit values.
struct LightBlock {
    int32_t reserved;
    int32_t fogColour;  // 0x00RRGGBB
    int32_t fogMaximum; // 0..255
    float fogDensity;
    Vec3 direction;         // of the directional light, world space
    float ambientLevel;     // 0 to 1
    float ambientColour[3]; // r, g, b, 0 to 1
    float lightColour[3];   // r, g, b, 0 to 1
    float intensity;
};
static_assert(sizeof(LightBlock) == 60);
static_assert(offsetof(LightBlock, fogColour) == 4);
static_assert(offsetof(LightBlock, fogMaximum) == 8);
static_assert(offsetof(LightBlock, fogDensity) == 12);
static_assert(offsetof(LightBlock, direction) == 16);
static_assert(offsetof(LightBlock, ambientLevel) == 28);
static_assert(offsetof(LightBlock, ambientColour) == 32);
static_assert(offsetof(LightBlock, lightColour) == 44);
static_assert(offsetof(LightBlock, intensity) == 56);

} // namespace sdk
