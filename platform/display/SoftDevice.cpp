// The device: surfaces, render states, the triangle queue and its worker threads, presentation.

#include "platform/display/Raster_local.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace display {

struct PresentTarget {
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
};

namespace {

// Render state defaults of the Direct3D 6 device; also what an unknown value of a state draws as.
struct StateDefault {
    uint32_t state;
    uint32_t value;
};
constexpr StateDefault kStateDefaults[] = {
    {D3DRENDERSTATE_TEXTUREADDRESS, D3DTADDRESS_WRAP},
    {D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1},
    {D3DRENDERSTATE_ZENABLE, 1}, // a z-buffer is always attached
    {D3DRENDERSTATE_FILLMODE, D3DFILL_SOLID},
    {D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRENDERSTATE_ROP2, 13}, // R2_COPYPEN
    {D3DRENDERSTATE_PLANEMASK, 0xFFFFFFFF},
    {D3DRENDERSTATE_ZWRITEENABLE, 1},
    {D3DRENDERSTATE_LASTPIXEL, 1},
    {D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_NEAREST},
    {D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_NEAREST},
    {D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE},
    {D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO},
    {D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE},
    {D3DRENDERSTATE_CULLMODE, D3DCULL_CCW},
    {D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL},
    {D3DRENDERSTATE_ALPHAFUNC, D3DCMP_ALWAYS},
    {D3DRENDERSTATE_SPECULARENABLE, 1},
    {D3DRENDERSTATE_TEXTUREADDRESSU, D3DTADDRESS_WRAP},
    {D3DRENDERSTATE_TEXTUREADDRESSV, D3DTADDRESS_WRAP},
    {D3DRENDERSTATE_STENCILFAIL, 1}, // D3DSTENCILOP_KEEP
    {D3DRENDERSTATE_STENCILZFAIL, 1},
    {D3DRENDERSTATE_STENCILPASS, 1},
    {D3DRENDERSTATE_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRENDERSTATE_STENCILMASK, 0xFFFFFFFF},
    {D3DRENDERSTATE_STENCILWRITEMASK, 0xFFFFFFFF},
};

uint8_t inRange(uint32_t value, uint32_t lo, uint32_t hi, uint32_t fallback) {
    return uint8_t(value >= lo && value <= hi ? value : fallback);
}

PixelState resolveState(const SoftDevice& device) {
    const uint32_t* rs = device.renderStates;
    PixelState s;
    s.zEnable = rs[D3DRENDERSTATE_ZENABLE] != 0;
    s.zWrite = rs[D3DRENDERSTATE_ZWRITEENABLE] != 0;
    s.zFunc = inRange(rs[D3DRENDERSTATE_ZFUNC], D3DCMP_NEVER, D3DCMP_ALWAYS, D3DCMP_LESSEQUAL);
    s.alphaTest = rs[D3DRENDERSTATE_ALPHATESTENABLE] != 0;
    s.alphaFunc = inRange(rs[D3DRENDERSTATE_ALPHAFUNC], D3DCMP_NEVER, D3DCMP_ALWAYS, D3DCMP_ALWAYS);
    s.alphaRef = uint8_t(rs[D3DRENDERSTATE_ALPHAREF] > 255 ? 255 : rs[D3DRENDERSTATE_ALPHAREF]);
    s.blendEnable = rs[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
    s.srcBlend = inRange(rs[D3DRENDERSTATE_SRCBLEND], D3DBLEND_ZERO, D3DBLEND_BOTHINVSRCALPHA, D3DBLEND_ONE);
    s.destBlend = inRange(rs[D3DRENDERSTATE_DESTBLEND], D3DBLEND_ZERO, D3DBLEND_BOTHINVSRCALPHA, D3DBLEND_ZERO);
    s.textureBlend = inRange(rs[D3DRENDERSTATE_TEXTUREMAPBLEND], D3DTBLEND_DECAL, D3DTBLEND_ADD, D3DTBLEND_MODULATE);
    s.minFilter = inRange(rs[D3DRENDERSTATE_TEXTUREMIN], D3DFILTER_NEAREST, D3DFILTER_LINEARMIPLINEAR, D3DFILTER_NEAREST);
    const uint32_t mag = rs[D3DRENDERSTATE_TEXTUREMAG];
    s.magFilter = (mag == D3DFILTER_LINEAR || mag == D3DFILTER_LINEARMIPNEAREST || mag == D3DFILTER_LINEARMIPLINEAR)
                      ? D3DFILTER_LINEAR
                      : D3DFILTER_NEAREST;
    s.addressU = inRange(rs[D3DRENDERSTATE_TEXTUREADDRESSU], D3DTADDRESS_WRAP, D3DTADDRESS_BORDER, D3DTADDRESS_WRAP);
    s.addressV = inRange(rs[D3DRENDERSTATE_TEXTUREADDRESSV], D3DTADDRESS_WRAP, D3DTADDRESS_BORDER, D3DTADDRESS_WRAP);
    // No border colour is kept: border addressing draws as clamping, its nearest equivalent.
    s.addressU = s.addressU == D3DTADDRESS_BORDER ? uint8_t(D3DTADDRESS_CLAMP) : s.addressU;
    s.addressV = s.addressV == D3DTADDRESS_BORDER ? uint8_t(D3DTADDRESS_CLAMP) : s.addressV;
    s.fogEnable = rs[D3DRENDERSTATE_FOGENABLE] != 0;
    s.specularEnable = rs[D3DRENDERSTATE_SPECULARENABLE] != 0;
    s.flatShade = rs[D3DRENDERSTATE_SHADEMODE] == D3DSHADE_FLAT;
    const uint32_t fill = rs[D3DRENDERSTATE_FILLMODE];
    s.wireframe = fill == D3DFILL_WIREFRAME ? 1 : (fill == D3DFILL_POINT ? 2 : 0);
    s.perspective = rs[D3DRENDERSTATE_TEXTUREPERSPECTIVE] != 0;
    s.cull = inRange(rs[D3DRENDERSTATE_CULLMODE], D3DCULL_NONE, D3DCULL_CCW, D3DCULL_CCW);
    s.fogColour = rs[D3DRENDERSTATE_FOGCOLOR];
    if (device.boundTexture > 0)
        s.texture = findTexture(device, device.boundTexture);
    return s;
}

// Spin iterations (each a pause, some tens of nanoseconds) before a waiting thread sleeps or
// yields: long enough to cover the gap between two flushes of a frame, short enough not to hold a
// core that another process could use.
constexpr int kSpinLimit = 20000;

void cpuPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Sets up one chunk of the queue and sorts its triangles into the chunk's strip lists.
void setupChunk(RasterContext& rc, int chunk) {
    const size_t begin = size_t(chunk) * size_t(kSetupChunk);
    const size_t end = std::min(begin + size_t(kSetupChunk), rc.queue.size());
    std::vector<uint32_t>* bins = &rc.bins[size_t(chunk) * size_t(kMaxStrips)];
    for (int s = 0; s < rc.stripCount; ++s)
        bins[s].clear();
    for (size_t i = begin; i < end; ++i) {
        const QueuedTriangle& q = rc.queue[i];
        TriangleSetup& t = rc.setups[i];
        if (!rc.setup(q.v[0], q.v[1], q.v[2], rc.states[size_t(q.state)], rc.target.width, rc.target.height, t)) {
            t.state = -1;
            continue;
        }
        t.state = q.state;
        for (int s = t.minY / kStripHeight; s <= t.maxY / kStripHeight; ++s)
            bins[s].push_back(uint32_t(i));
    }
}

// Triangles ahead of the one being drawn whose setup is prefetched.
constexpr size_t kPrefetchAhead = 4;

void drawStrip(RasterContext& rc, int strip) {
    const int rowBegin = strip * kStripHeight, rowEnd = rowBegin + kStripHeight;
    for (int c = 0; c < rc.chunkCount; ++c) {
        const std::vector<uint32_t>& bin = rc.bins[size_t(c) * size_t(kMaxStrips) + size_t(strip)];
        const size_t n = bin.size();
        for (size_t k = 0; k < n; ++k) {
            // A strip visits the set-up triangles out of memory order: fetch ahead what it will read.
            if (k + kPrefetchAhead < n) {
                const char* ahead = reinterpret_cast<const char*>(&rc.setups[bin[k + kPrefetchAhead]]);
                for (size_t line = 0; line < sizeof(TriangleSetup); line += 64)
                    __builtin_prefetch(ahead + line);
            }
            const TriangleSetup& t = rc.setups[bin[k]];
            rc.draw(t, rc.states[size_t(t.state)], rc.target, rowBegin, rowEnd);
        }
    }
}

// Work of one thread in a flush: set up chunks until none is left, wait until every chunk is set
// up, then draw strips until none is left. Any thread may take any chunk or strip, so a thread
// that starts late (or is descheduled) only does less of the work.
void runJob(RasterContext& rc) {
    for (int c = rc.nextChunk.fetch_add(1, std::memory_order_relaxed); c < rc.chunkCount;
         c = rc.nextChunk.fetch_add(1, std::memory_order_relaxed)) {
        setupChunk(rc, c);
        rc.chunksDone.fetch_add(1, std::memory_order_release);
    }
    for (int spins = 0; rc.chunksDone.load(std::memory_order_acquire) < rc.chunkCount; ++spins) {
        if (spins < kSpinLimit)
            cpuPause();
        else
            std::this_thread::yield(); // the thread still setting up may need this core
    }
    for (int s = rc.nextStrip.fetch_add(1, std::memory_order_relaxed); s < rc.stripCount;
         s = rc.nextStrip.fetch_add(1, std::memory_order_relaxed))
        drawStrip(rc, s);
}

void workerLoop(RasterContext* rc) {
    uint64_t seen = 0;
    for (;;) {
        for (int spins = 0; spins < kSpinLimit && rc->generation.load(std::memory_order_acquire) == seen &&
                            !rc->quit.load(std::memory_order_relaxed);
             ++spins)
            cpuPause();
        if (rc->generation.load(std::memory_order_acquire) == seen) {
            std::unique_lock<std::mutex> lock(rc->mutex);
            rc->wake.wait(lock, [&] { return rc->quit.load() || rc->generation.load() != seen; });
        }
        if (rc->quit.load())
            return;
        seen = rc->generation.load(std::memory_order_acquire);
        runJob(*rc);
        if (rc->pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Taking the lock orders this notification after the waiter's check of `pending`.
            std::lock_guard<std::mutex> lock(rc->mutex);
            rc->done.notify_one();
        }
    }
}

// One thread draws each triangle right after setting it up: the set-up triangle is still in the
// cache when it is drawn, and the queue's order is the drawing order.
void drawInOrder(RasterContext& rc) {
    const RenderTarget& target = rc.target;
    TriangleSetup t;
    for (const QueuedTriangle& q : rc.queue) {
        const PixelState& state = rc.states[size_t(q.state)];
        if (rc.setup(q.v[0], q.v[1], q.v[2], state, target.width, target.height, t))
            rc.draw(t, state, target, 0, target.height);
    }
}

// Draws the queue on every thread; returns when all of them are done with it.
void runFlush(RasterContext& rc) {
    if (rc.threadCount == 1) {
        drawInOrder(rc);
        return;
    }
    rc.chunkCount = int((rc.queue.size() + size_t(kSetupChunk) - 1) / size_t(kSetupChunk));
    rc.stripCount = (rc.target.height + kStripHeight - 1) / kStripHeight;
    rc.nextChunk.store(0, std::memory_order_relaxed);
    rc.chunksDone.store(0, std::memory_order_relaxed);
    rc.nextStrip.store(0, std::memory_order_relaxed);
    rc.pending.store(rc.threadCount - 1, std::memory_order_relaxed);
    {
        // Bumped under the lock so that a worker about to sleep cannot miss it.
        std::lock_guard<std::mutex> lock(rc.mutex);
        rc.generation.fetch_add(1, std::memory_order_release);
    }
    rc.wake.notify_all();
    runJob(rc);
    for (int spins = 0; spins < kSpinLimit && rc.pending.load(std::memory_order_acquire) != 0; ++spins)
        cpuPause();
    if (rc.pending.load(std::memory_order_acquire) != 0) {
        std::unique_lock<std::mutex> lock(rc.mutex);
        rc.done.wait(lock, [&] { return rc.pending.load(std::memory_order_acquire) == 0; });
    }
}

void stopWorkers(RasterContext& rc) {
    {
        std::lock_guard<std::mutex> lock(rc.mutex);
        rc.quit.store(true);
    }
    rc.wake.notify_all();
    for (std::thread& t : rc.workers)
        t.join();
    rc.workers.clear();
}

} // namespace

SoftDevice::SoftDevice() = default;

SoftDevice::~SoftDevice() {
    shutdown();
}

const char* SoftDevice::create(const DeviceConfig& requested, SDL_Window* targetWindow) {
    shutdown();
    if (requested.width < 1 || requested.height < 1 || requested.width > kMaxSurfaceSize ||
        requested.height > kMaxSurfaceSize)
        return "display size out of range";
    if (requested.displayFormat != PixelFormat::Rgb565 && requested.displayFormat != PixelFormat::Rgb555)
        return "display format must be 5-6-5 or 5-5-5";
    config = requested;
    if (createSurface(primary, config.width, config.height, config.displayFormat) != SoftResult::Ok ||
        createSurface(backBuffer, config.width, config.height, config.displayFormat) != SoftResult::Ok ||
        createSurface(zBuffer, config.width, config.height, PixelFormat::Depth16) != SoftResult::Ok) {
        shutdown();
        return "out of memory for the display surfaces";
    }
    backBuffer.device = this;
    zBuffer.device = this;

    raster = std::make_unique<RasterContext>();
    raster->textures.resize(kMaxTextures);
    raster->queue.reserve(kQueueCapacity);
    if (config.rasterPath == RasterPath::Fast) {
        if (__builtin_cpu_supports("avx2")) {
            raster->setup = setupTriangleAvx2;
            raster->draw = drawTriangleAvx2;
        }
        int threads = config.rasterThreads;
        if (threads <= 0)
            threads = int(std::thread::hardware_concurrency());
        threads = threads < 1 ? 1 : (threads > kMaxRasterThreads ? kMaxRasterThreads : threads);
        raster->threadCount = threads;
        if (threads > 1) { // one thread draws each triangle as it sets it up
            raster->setups.resize(kQueueCapacity);
            raster->bins.resize(size_t(kMaxSetupChunks) * size_t(kMaxStrips));
        }
        for (int t = 1; t < threads; ++t)
            raster->workers.emplace_back(workerLoop, raster.get());
    }

    std::memset(renderStates, 0, sizeof renderStates);
    for (const StateDefault& d : kStateDefaults)
        renderStates[d.state] = d.value;
    boundTexture = 0;
    textureMemoryFree = config.textureMemory;

    window = targetWindow;
    if (window) {
        presentTarget = std::make_unique<PresentTarget>();
        const char* failure = nullptr;
        if (config.windowed) {
            SDL_SetWindowFullscreen(window, 0);
            SDL_SetWindowSize(window, config.width, config.height);
        } else {
            SDL_DisplayMode mode{};
            mode.format = config.displayFormat == PixelFormat::Rgb565 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB555;
            mode.w = config.width;
            mode.h = config.height;
            if (SDL_SetWindowDisplayMode(window, &mode) != 0 || SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)
                failure = "cannot switch the window to full screen";
        }
        if (!failure) {
            presentTarget->renderer = SDL_CreateRenderer(window, -1, 0);
            if (!presentTarget->renderer)
                failure = "cannot create a renderer for the window";
        }
        if (!failure) {
            presentTarget->texture = SDL_CreateTexture(
                presentTarget->renderer,
                config.displayFormat == PixelFormat::Rgb565 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB555,
                SDL_TEXTUREACCESS_STREAMING, config.width, config.height);
            if (!presentTarget->texture)
                failure = "cannot create the streaming texture";
        }
        if (failure) {
            std::snprintf(errorText, sizeof errorText, "%s: %s", failure, SDL_GetError());
            shutdown();
            return errorText;
        }
    }
    open = true;
    return nullptr;
}

void SoftDevice::shutdown() {
    if (raster) {
        stopWorkers(*raster);
        raster.reset();
    }
    if (presentTarget) {
        if (presentTarget->texture)
            SDL_DestroyTexture(presentTarget->texture);
        if (presentTarget->renderer)
            SDL_DestroyRenderer(presentTarget->renderer);
        presentTarget.reset();
    }
    window = nullptr;
    releaseSurface(primary);
    releaseSurface(backBuffer);
    releaseSurface(zBuffer);
    boundTexture = 0;
    textureMemoryFree = 0;
    open = false;
}

SoftResult SoftDevice::clear(uint32_t flags, const Rect* rects, int count, uint32_t argb, float z) {
    if (!open)
        return SoftResult::NotCreated;
    if (count < 0 || (count > 0 && !rects))
        return SoftResult::InvalidParams;
    const uint16_t colour = packColour(config.displayFormat, argb);
    const uint16_t depth = uint16_t(depthFromFloat(z));
    const int n = count == 0 ? 1 : count;
    for (int i = 0; i < n; ++i) {
        const Rect* r = count == 0 ? nullptr : &rects[i];
        if (flags & D3DCLEAR_TARGET) {
            const SoftResult result = fillSurface(backBuffer, r, colour);
            if (result != SoftResult::Ok)
                return result;
        }
        if (flags & D3DCLEAR_ZBUFFER) {
            const SoftResult result = fillSurface(zBuffer, r, depth);
            if (result != SoftResult::Ok)
                return result;
        }
    }
    return SoftResult::Ok;
}

SoftResult SoftDevice::setRenderState(uint32_t state, uint32_t value) {
    if (!open)
        return SoftResult::NotCreated;
    if (state >= uint32_t(kRenderStateCount))
        return SoftResult::InvalidParams;
    renderStates[state] = value;
    if (state == D3DRENDERSTATE_TEXTUREADDRESS) { // sets both directions
        renderStates[D3DRENDERSTATE_TEXTUREADDRESSU] = value;
        renderStates[D3DRENDERSTATE_TEXTUREADDRESSV] = value;
    }
    raster->stateChanged = true;
    return SoftResult::Ok;
}

SoftResult SoftDevice::getRenderState(uint32_t state, uint32_t* value) const {
    if (!open)
        return SoftResult::NotCreated;
    if (state >= uint32_t(kRenderStateCount) || !value)
        return SoftResult::InvalidParams;
    *value = renderStates[state];
    return SoftResult::Ok;
}

SoftResult SoftDevice::setTexture(TextureHandle texture) {
    if (!open)
        return SoftResult::NotCreated;
    if (texture != 0) {
        const TextureRecord* record = findTexture(*this, texture);
        if (!record || record->desc.memory != TextureMemory::Video)
            return SoftResult::InvalidParams;
    }
    boundTexture = texture;
    raster->stateChanged = true;
    return SoftResult::Ok;
}

namespace {

// The state index the next queued triangle uses, adding the current state when it changed.
int32_t currentStateIndex(SoftDevice& device) {
    RasterContext& rc = *device.raster;
    if (rc.stateChanged || rc.states.empty()) {
        const PixelState s = resolveState(device);
        if (rc.states.empty() || !(rc.states.back() == s))
            rc.states.push_back(s);
        rc.stateChanged = false;
    }
    return int32_t(rc.states.size() - 1);
}

// Appends a triangle, drawing the queue first when it is full.
void enqueue(SoftDevice& device, const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    RasterContext& rc = *device.raster;
    if (rc.queue.size() >= size_t(kQueueCapacity))
        device.flush();
    rc.queue.push_back(QueuedTriangle{{a, b, c}, currentStateIndex(device)});
}

void queueTriangle(SoftDevice& device, const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
    // Triangles facing away are dropped here, with the setup's own test, so they cost neither a place in
    // the queue nor a setup.
    const PixelState& pixels = device.raster->states[size_t(currentStateIndex(device))];
    if (pixels.cull != D3DCULL_NONE) {
        int64_t X[3], Y[3], area2 = 0;
        if (!snapTriangle(a, b, c, pixels.perspective, X, Y, &area2) || culledByArea(area2, pixels.cull)) return;
    }
    enqueue(device, a, b, c);
}

// The orientation test of an indexed draw whose corners are shared: each corner is snapped once, and
// each triangle decided from its corners' snaps exactly as snapTriangle decides it.
void queueIndexedCulled(SoftDevice& device, const ScreenVertex* vertices, int vertexCount, const uint16_t* indices,
                        int indexCount, uint32_t cull, bool perspective) {
    std::vector<RasterContext::SnappedCorner>& snapped = device.raster->snapped;
    snapped.resize(size_t(vertexCount));
    for (int i = 0; i < vertexCount; ++i)
        snapped[size_t(i)].usable = snapVertex(vertices[i], perspective, &snapped[size_t(i)].x, &snapped[size_t(i)].y);
    for (int i = 0; i + 2 < indexCount; i += 3) {
        const RasterContext::SnappedCorner* corner[3] = {&snapped[indices[i]], &snapped[indices[i + 1]],
                                                         &snapped[indices[i + 2]]};
        if (!corner[0]->usable || !corner[1]->usable || !corner[2]->usable) continue;
        const int64_t X[3] = {corner[0]->x, corner[1]->x, corner[2]->x};
        const int64_t Y[3] = {corner[0]->y, corner[1]->y, corner[2]->y};
        if (culledByArea(snappedArea2(X, Y), cull)) continue;
        enqueue(device, vertices[indices[i]], vertices[indices[i + 1]], vertices[indices[i + 2]]);
    }
}

} // namespace

SoftResult SoftDevice::drawTriangleList(const ScreenVertex* vertices, int vertexCount) {
    if (!open)
        return SoftResult::NotCreated;
    if (vertexCount < 0 || (vertexCount > 0 && !vertices))
        return SoftResult::InvalidParams;
    if (backBuffer.locked || zBuffer.locked)
        return SoftResult::SurfaceBusy;
    for (int i = 0; i + 2 < vertexCount; i += 3)
        queueTriangle(*this, vertices[i], vertices[i + 1], vertices[i + 2]);
    return SoftResult::Ok;
}

SoftResult SoftDevice::drawIndexedTriangleList(const ScreenVertex* vertices, int vertexCount,
                                               const uint16_t* indices, int indexCount) {
    if (!open)
        return SoftResult::NotCreated;
    if (vertexCount < 0 || indexCount < 0 || (indexCount > 0 && (!vertices || !indices)))
        return SoftResult::InvalidParams;
    if (backBuffer.locked || zBuffer.locked)
        return SoftResult::SurfaceBusy;
    const int used = indexCount - indexCount % 3;
    for (int i = 0; i < used; ++i)
        if (indices[i] >= vertexCount)
            return SoftResult::InvalidParams;
    // Snapping every corner once pays when the triangles share their corners, as a model's do.
    const PixelState state = raster->states[size_t(currentStateIndex(*this))];
    if (state.cull != D3DCULL_NONE && used / 3 >= vertexCount / 4) {
        queueIndexedCulled(*this, vertices, vertexCount, indices, used, state.cull, state.perspective);
        return SoftResult::Ok;
    }
    for (int i = 0; i + 2 < indexCount; i += 3)
        queueTriangle(*this, vertices[indices[i]], vertices[indices[i + 1]], vertices[indices[i + 2]]);
    return SoftResult::Ok;
}

void SoftDevice::flush() {
    if (!raster || raster->queue.empty())
        return;
    RasterContext& rc = *raster;
    rc.target.colour = backBuffer.storage.data();
    rc.target.colourPitch = backBuffer.pitch / 2;
    rc.target.format = backBuffer.format;
    rc.target.depth = zBuffer.storage.data();
    rc.target.depthPitch = zBuffer.pitch / 2;
    rc.target.width = backBuffer.width;
    rc.target.height = backBuffer.height;
    runFlush(rc);
    rc.queue.clear();
    rc.states.clear();
    rc.stateChanged = true;
}

SoftResult SoftDevice::present() {
    if (!open)
        return SoftResult::NotCreated;
    if (primary.locked || backBuffer.locked)
        return SoftResult::SurfaceBusy;
    flush();
    primary.storage = backBuffer.storage;
    return showPrimary();
}

SoftResult SoftDevice::showPrimary() {
    if (!open)
        return SoftResult::NotCreated;
    if (primary.locked)
        return SoftResult::SurfaceBusy;
    if (!presentTarget)
        return SoftResult::Ok;
    if (SDL_UpdateTexture(presentTarget->texture, nullptr, primary.storage.data(), primary.pitch) != 0 ||
        SDL_RenderCopy(presentTarget->renderer, presentTarget->texture, nullptr, nullptr) != 0)
        return SoftResult::Unsupported;
    SDL_RenderPresent(presentTarget->renderer);
    return SoftResult::Ok;
}

} // namespace display
