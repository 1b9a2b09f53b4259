#include "DemoLogic.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace demo {

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kDegrees = kPi / 180.0f;
constexpr float kMouseTurn = 0.0035f; // radians per pixel
constexpr int32_t kIdleBeforeFlightMs = 30000;
constexpr int32_t kFixedStepMs = 16;
constexpr int32_t kMusicFadeMs = 1500;
constexpr float kStepLength = 0.65f; // metres between footsteps
constexpr float kClickReach = 150.0f;
// Virtual-key codes of letters are their capitals.
constexpr uint32_t kKeyW = 'W', kKeyA = 'A', kKeyS = 'S', kKeyD = 'D';

const char* classOf(const DescriptionItem& item) {
    const char* c = item.value("class");
    return c ? c : "";
}

bool headlessDisplay() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    return driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0);
}

sdk::ObjectMatrix matrixOf(const sdk::PlacedObject& o) {
    const float yaw = o.placement[sdk::PlacedObject::kPlacementYaw];
    const float c = std::cos(yaw), s = std::sin(yaw);
    sdk::ObjectMatrix m{};
    m.m[0][0] = c;
    m.m[0][2] = -s;
    m.m[1][1] = 1;
    m.m[2][0] = s;
    m.m[2][2] = c;
    m.m[3][0] = o.placement[0];
    m.m[3][1] = o.placement[1];
    m.m[3][2] = o.placement[2];
    m.m[3][3] = 1;
    return m;
}

} // namespace

int32_t DemoLogic::init(sdk::CoreServices* services) {
    core_ = services;
    if (!core_) return 0;
    fixedClock_ = headlessDisplay();
    screen_ = sdk::getWorldServices(core_, -1);
    audio_ = sdk::getAudioServices(core_, -1);
    images_ = sdk::getImageServices(core_, -1);
    if (images_) {
        emblem_ = images_->loadImage("emblem.tga");
        panel_ = images_->loadImage("panel.tga");
    }
    core_->setRenderFlags(sdk::kRenderWorld | sdk::kRender2D);
    buildLayer();
    if (audio_) {
        audio_->playMusic("theme", 1);
        audio_->playSound("wind", nullptr, sdk::kSoundLoop);
    }
    updateCamera();
    return 1;
}

void DemoLogic::buildLayer() {
    layerId_ = core_->createLayer(nullptr);
    layer_ = core_->getLayerServices(layerId_);
    if (!layer_) return;
    world_ = sdk::getWorldServices(layer_, layerId_);
    layer_->setLayerOptions(0, 1); // lit by the background lighting pass
    sdk::ScreenPoint size{800, 600};
    core_->getScreenSize(&size);
    sdk::ViewportRecord viewport{};
    viewport.flags = sdk::kViewportRect | sdk::kViewportEye | sdk::kViewportFieldOfView;
    viewport.screenRect = {0, 0, size.x, size.y};
    viewport.fieldOfView = 1.15f;
    viewport_ = layer_->addViewport(&viewport);
    skyId_ = layer_->createObject("sky", "demo", nullptr, -1, kLevelSky, nullptr);

    const std::vector<DescriptionItem> items = listItems(sdk::ItemDataReader(core_->getWorldDescription()));
    if (items.empty()) std::fprintf(stderr, "demo: the world description has no items\n");
    placeItems(items);
    light();
}

bool DemoLogic::groundUnder(float x, float z, float* ground) {
    if (!world_) return false;
    const int32_t onlyWorld[] = {worldId_, -1};
    const sdk::Vec3 start{x, 200, z}, end{x, -200, z};
    int32_t hit = -1, object = -1, triangle = -1;
    sdk::Vec3 normal{};
    const float f = world_->castRay(&start, &end, &hit, &object, &triangle, &normal, sdk::kFilterListedIds, onlyWorld);
    if (!(f >= 0 && f <= 1)) return false;
    *ground = 200 - 400 * f;
    return true;
}

void DemoLogic::placeObject(int32_t id, const DescriptionItem& item, bool onGround) {
    auto* object = dynamic_cast<sdk::PlacedObject*>(layer_->objectById(id));
    if (!object) return;
    float p[3] = {0, 0, 0}, yaw = 0;
    const int n = item.numbers("position", p, 3);
    item.numbers("yaw", &yaw, 1);
    float x = p[0], y = n == 3 ? p[1] : 0, z = n == 3 ? p[2] : p[1];
    if (n < 3 && onGround) groundUnder(x, z, &y);
    object->setPlacement(x, y, z, 0, yaw * kDegrees, 0);
}

void DemoLogic::placeItems(const std::vector<DescriptionItem>& items) {
    // The world first: props stand on its ground.
    for (const DescriptionItem& item : items)
        if (std::strcmp(classOf(item), "world") == 0) {
            worldId_ = layer_->createObject(nullptr, "demo", item.name.c_str(), -1, kLevelWorld, nullptr);
            if (worldId_ >= 0) staticIds_.push_back(worldId_);
        }
    const int32_t effectsId = layer_->createObject("effects", "demo", nullptr, -1, kLevelEffects, nullptr);
    effects_ = dynamic_cast<Effects*>(layer_->objectById(effectsId));
    for (const DescriptionItem& item : items) {
        const char* kind = classOf(item);
        if (std::strcmp(kind, "prop") == 0 || std::strcmp(kind, "spinner") == 0) {
            const int32_t id = layer_->createObject(nullptr, "demo", item.name.c_str(), -1, kLevelProps, nullptr);
            placeObject(id, item, true);
            if (std::strcmp(kind, "prop") == 0 && id >= 0) staticIds_.push_back(id);
            if (auto* spinner = dynamic_cast<Spinner*>(layer_->objectById(id)))
                spinner->baseHeight = spinner->placement[sdk::PlacedObject::kPlacementY];
        } else if (std::strcmp(kind, "lumen") == 0) {
            // An object of the lighting module: relit from the light block every frame.
            placeObject(layer_->createFromItem(item.name.c_str(), kLevelProps, nullptr), item, true);
        } else if (std::strcmp(kind, "fire") == 0 && effects_) {
            float p[3] = {0, 0, 0}, size = 1.0f;
            const int n = item.numbers("position", p, 3);
            item.numbers("size", &size, 1);
            FirePlace fire{{p[0], n == 3 ? p[1] : 0, n == 3 ? p[2] : p[1]}, size};
            if (n < 3) groundUnder(fire.position.x, fire.position.z, &fire.position.y);
            effects_->fires.push_back(fire);
        } else if (std::strcmp(kind, "light") == 0 && lampCount_ < kMaxLamps) {
            PointLamp& lamp = lamps_[lampCount_++];
            float p[3] = {0, 0, 0};
            item.numbers("position", p, 3);
            lamp.position = {p[0], p[1], p[2]};
            lamp.range = 4.0f;
            item.numbers("range", &lamp.range, 1);
            lamp.colour[0] = lamp.colour[1] = lamp.colour[2] = 1.0f;
            item.numbers("colour", lamp.colour, 3);
        } else if (std::strcmp(kind, "start") == 0) {
            float p[2] = {0, 0}, yaw = 0;
            item.numbers("position", p, 2);
            item.numbers("yaw", &yaw, 1);
            start_.feet = {p[0], 0, p[1]};
            groundUnder(p[0], p[1], &start_.feet.y);
            start_.yaw = yaw * kDegrees;
        } else if (std::strcmp(kind, "flight") == 0) {
            for (const DescriptionRecord& r : item.records) {
                float v[5] = {0, 0, 0, 0, 0};
                if (r.key != "point" || parseNumbers(r.value.c_str(), v, 5) < 3) continue;
                flight_.push_back({{v[0], v[1], v[2]}, v[3] * kDegrees, v[4] * kDegrees});
            }
        }
    }
    walker_ = start_;
    if (flight_.empty()) flying_ = false;
}

void DemoLogic::light() {
    if (!world_) return;
    // A low afternoon sun from the south-west, a cool sky ambient and haze towards the horizon.
    const float d[3] = {-0.45f, 0.75f, -0.48f};
    const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    sun_ = {{d[0] / length, d[1] / length, d[2] / length}, 0.32f, {0.62f, 0.70f, 0.90f}, {1.0f, 0.93f, 0.80f}};
    if (sdk::LightBlock* block = world_->getLightBlock()) {
        block->fogColour = 0xC4D4E8;
        block->fogMaximum = 150;   // the farthest hills keep some of their colour
        block->fogDensity = 0.006f; // about a third fogged at 60 m
        block->direction = sun_.direction;
        block->ambientLevel = sun_.ambientLevel;
        for (int k = 0; k < 3; ++k) {
            block->ambientColour[k] = sun_.ambient[k];
            block->lightColour[k] = sun_.colour[k];
        }
        block->intensity = 0.15f; // a faint sheen on sunlit faces, not a wash
        world_->applyLight();
        engineLighting_ = true;
        std::fprintf(stderr, "demo: lit by the engine's lighting pass\n");
        return;
    }
    std::fprintf(stderr, "demo: the engine offers no light block; the demo lights its models itself\n");
    // No lighting in this engine: bake the same light into the static models once, and draw without the
    // fog that the light block would have set.
    for (int32_t id : staticIds_) {
        auto* object = dynamic_cast<sdk::PlacedObject*>(layer_->objectById(id));
        if (object && object->geometryModel >= 0)
            shadeModel(*world_, object->geometryModel, matrixOf(*object), sun_, lamps_, lampCount_);
    }
    for (int32_t i = 0; i < layer_->objectCount(); ++i)
        if (sdk::Entity* object = layer_->objectAt(i)) object->flags |= sdk::kFlagPartDrawOption;
}

int32_t DemoLogic::update(int32_t dt) {
    if (!layer_) return 0;
    framesPerSecond_ = dt > 0 ? framesPerSecond_ * 0.9f + 100.0f / float(dt) : framesPerSecond_;
    if (quitInMs_ >= 0 && (quitInMs_ -= dt) < 0)
        core_->postMessage(sdk::kCoreQuit, sdk::kDestinationCore, 0, nullptr);

    // Mouse look: in the held mode the pointer is put back on its anchor every frame.
    sdk::ScreenPoint anchor{};
    const sdk::ScreenPoint* pointer = core_->getPointerPosition();
    if (core_->getMouseState(&anchor) == sdk::kMouseHeld && pointer && !flying_) {
        const int dx = pointer->x - anchor.x, dy = pointer->y - anchor.y;
        if (dx || dy) idleMs_ = 0;
        walker_.yaw = std::fmod(walker_.yaw + float(dx) * kMouseTurn, 2 * kPi);
        walker_.pitch = std::fmax(-1.3f, std::fmin(1.3f, walker_.pitch + float(dy) * kMouseTurn));
    }

    if (flying_) {
        flightClock_ += fixedClock_ ? kFixedStepMs : dt;
    } else {
        keys_.forward = float(held_[kKeyW] || held_[win::VK_UP]) - float(held_[kKeyS] || held_[win::VK_DOWN]);
        keys_.strafe = float(held_[kKeyD] || held_[win::VK_RIGHT]) - float(held_[kKeyA] || held_[win::VK_LEFT]);
        keys_.run = held_[win::VK_SHIFT];
        if (world_) stepDistance_ += walk(walker_, keys_, dt, *world_);
        if (stepDistance_ >= kStepLength) {
            stepDistance_ = 0;
            if (audio_) audio_->playSound("step", nullptr, 0);
        }
        if ((idleMs_ += dt) > kIdleBeforeFlightMs && !flight_.empty()) flying_ = true;
    }
    updateCamera();
    return 0;
}

void DemoLogic::updateCamera() {
    if (flying_ && !flight_.empty()) {
        const FlightPoint pose = flightPose(flight_, flightClock_);
        eye_ = pose.position;
        angles_ = {pose.pitch, pose.yaw, 0};
    } else {
        eye_ = eyeOf(walker_);
        angles_ = {walker_.pitch, walker_.yaw, 0};
    }
    if (layer_ && viewport_ >= 0) layer_->setViewportVectors(viewport_, &eye_, &angles_);
    if (auto* sky = dynamic_cast<sdk::PlacedObject*>(layer_ ? layer_->objectById(skyId_) : nullptr))
        sky->setPlacement(eye_.x, eye_.y, eye_.z, 0, 0, 0);
    if (audio_) audio_->setListener(eye_.x, eye_.y, eye_.z, std::sin(angles_.y), 0, std::cos(angles_.y));
}

void DemoLogic::leaveFlight() {
    if (!flying_) return;
    flying_ = false;
    const FlightPoint pose = flightPose(flight_, flightClock_);
    Walker here = walker_;
    here.feet = {pose.position.x, 0, pose.position.z};
    here.yaw = pose.yaw;
    here.pitch = 0;
    // Walk on from under the camera when there is ground there, else from the start.
    walker_ = groundUnder(here.feet.x, here.feet.z, &here.feet.y) ? here : start_;
}

int32_t DemoLogic::input(uint32_t message, uint32_t wParam, int32_t lParam) {
    const bool engineKey = (wParam >= win::VK_F1 && wParam <= win::VK_F1 + 11) || held_[win::VK_CONTROL];
    switch (message) {
    case win::WM_KEYDOWN:
        if (wParam < 256) held_[wParam] = true;
        if (engineKey || wParam == win::VK_CONTROL || wParam == win::VK_OEM_3) break;
        idleMs_ = 0;
        leaveFlight();
        if (wParam == win::VK_ESCAPE && quitInMs_ < 0) {
            // Leave quietly: the music fades, then the engine is asked to quit.
            if (audio_) audio_->fadeOutMusic(kMusicFadeMs);
            quitInMs_ = kMusicFadeMs;
        }
        break;
    case win::WM_KEYUP:
        if (wParam < 256) held_[wParam] = false;
        break;
    case win::WM_LBUTTONDOWN: {
        idleMs_ = 0;
        sdk::ScreenPoint point{};
        if (core_->getMouseState(&point) != sdk::kMouseHeld)
            point = {int32_t(uint32_t(lParam) & 0xFFFF), int32_t(uint32_t(lParam) >> 16)};
        clickAt(point);
        break;
    }
    default:
        break;
    }
    return 0;
}

// A ray from the eye through the pointer: where it hits, a click sounds and a spark flares.
void DemoLogic::clickAt(sdk::ScreenPoint point) {
    if (!world_) return;
    sdk::Vec3 direction{0, 0, 1};
    world_->screenToDirection(&point, &direction);
    const sdk::Vec3 end{eye_.x + direction.x * kClickReach, eye_.y + direction.y * kClickReach,
                        eye_.z + direction.z * kClickReach};
    int32_t hit = -1, object = -1, triangle = -1;
    sdk::Vec3 normal{};
    const float f = world_->castRay(&eye_, &end, &hit, &object, &triangle, &normal, sdk::kFilterAll, nullptr);
    if (!(f >= 0 && f <= 1)) return;
    const sdk::Vec3 at{eye_.x + (end.x - eye_.x) * f, eye_.y + (end.y - eye_.y) * f, eye_.z + (end.z - eye_.z) * f};
    if (audio_) audio_->playSound("click", &at, 0);
    if (effects_) effects_->flare(at);
}

int32_t DemoLogic::draw(int32_t, int32_t) {
    drawHud();
    drawCrosshair();
    return 0;
}

void DemoLogic::drawHud() {
    sdk::ScreenPoint size{800, 600};
    core_->getScreenSize(&size);
    if (images_ && panel_ >= 0) {
        const sdk::Rect band{0, size.y - 28, size.x, size.y};
        images_->blitImage(0, sdk::kImageBackBuffer, panel_, &band, nullptr, 0);
    }
    if (images_ && emblem_ >= 0) {
        const sdk::Rect corner{size.x - 72, 8, size.x - 8, 72};
        images_->blitImage(0, sdk::kImageBackBuffer, emblem_, &corner, nullptr, sdk::kBlitTransparentBlack);
    }
    char line[160];
    std::snprintf(line, sizeof line, "%.0f fps   x %.1f  z %.1f  height %.1f%s", double(framesPerSecond_),
                  double(eye_.x), double(eye_.z), double(eye_.y), engineLighting_ ? "" : "   (own lighting)");
    core_->printTexture(8, 8, line);
    core_->printTexture(8, size.y - 22, flying_ ? "Flight - press a key to walk"
                                        : "WASD walk  Shift run  mouse look  ` pointer  click  Esc quit");
}

void DemoLogic::drawCrosshair() {
    sdk::ScreenPoint anchor{};
    if (!screen_ || flying_ || core_->getMouseState(&anchor) != sdk::kMouseHeld) return;
    constexpr uint32_t kWhite = 0xFFFFFFFF, kNoFog = 0xFF000000;
    const float x = float(anchor.x), y = float(anchor.y);
    const float bars[2][4] = {{x - 7, y - 1, x + 8, y + 1}, {x - 1, y - 7, x + 1, y + 8}};
    for (const auto& b : bars) {
        const sdk::ScreenVertex first[3] = {{b[0], b[1], 0, 1, kWhite, kNoFog, 0, 0},
                                            {b[2], b[1], 0, 1, kWhite, kNoFog, 0, 0},
                                            {b[2], b[3], 0, 1, kWhite, kNoFog, 0, 0}};
        const sdk::ScreenVertex second[3] = {{b[0], b[1], 0, 1, kWhite, kNoFog, 0, 0},
                                             {b[2], b[3], 0, 1, kWhite, kNoFog, 0, 0},
                                             {b[0], b[3], 0, 1, kWhite, kNoFog, 0, 0}};
        screen_->drawScreenTriangle(first, -1);
        screen_->drawScreenTriangle(second, -1);
    }
}

} // namespace demo
