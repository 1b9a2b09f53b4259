// The demo's core logic entity: builds the lit world layer from the world description, runs the camera
// (a scripted flight until the user takes over, then walking with collision), plays the sounds and the
// music, and draws the HUD.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sdk/Module.h>

#include "Description.h"
#include "Flight.h"
#include "SceneObjects.h"
#include "Shading.h"
#include "Walker.h"

namespace demo {

class DemoLogic final : public sdk::Entity {
  public:
    int32_t init(sdk::CoreServices* services) override;
    int32_t update(int32_t dt) override;
    int32_t draw(int32_t elapsedMs, int32_t viewportIndex) override;
    int32_t input(uint32_t windowMessage, uint32_t wParam, int32_t lParam) override;
    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }

  private:
    void buildLayer();
    void placeItems(const std::vector<DescriptionItem>& items);
    void placeObject(int32_t id, const DescriptionItem& item, bool onGround);
    void light();
    void leaveFlight();
    void updateCamera();
    void clickAt(sdk::ScreenPoint point);
    void drawHud();
    void drawCrosshair();
    bool groundUnder(float x, float z, float* ground);

    sdk::CoreServices* core_ = nullptr;
    sdk::CoreServices* layer_ = nullptr; // the world layer's services
    sdk::WorldServices* world_ = nullptr;
    sdk::WorldServices* screen_ = nullptr; // the core's, for the 2D pass
    sdk::AudioServices* audio_ = nullptr;
    sdk::ImageServices* images_ = nullptr;
    int32_t emblem_ = -1; // HUD images, -1 when missing
    int32_t panel_ = -1;
    int32_t layerId_ = -1;
    int32_t viewport_ = -1;
    int32_t worldId_ = -1;
    int32_t skyId_ = -1;
    Effects* effects_ = nullptr;
    std::vector<int32_t> staticIds_;
    Sun sun_{};
    PointLamp lamps_[kMaxLamps] = {};
    int lampCount_ = 0;
    bool engineLighting_ = false;

    Walker walker_;
    Walker start_;
    WalkInput keys_;
    bool held_[256] = {};
    std::vector<FlightPoint> flight_;
    bool flying_ = true;
    bool fixedClock_ = false; // headless: the flight advances a fixed step per frame, for known pictures
    int64_t flightClock_ = 0;
    int32_t idleMs_ = 0;
    sdk::Vec3 eye_{0, 2, 0};
    sdk::Vec3 angles_{0, 0, 0};
    float stepDistance_ = 0;
    int32_t quitInMs_ = -1;
    float framesPerSecond_ = 0;
};

} // namespace demo
