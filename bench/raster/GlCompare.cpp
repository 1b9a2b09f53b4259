// Comparison program: draws the benchmark workloads with the same states through OpenGL on an
// off-screen EGL context (meant for Mesa's llvmpipe: EGL_PLATFORM=surfaceless
// GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=1) and prints the benchmark's lines prefixed "gl".
// The workload "frame" is the whole frame of bench/render (the same spheres, placements, viewports and
// texture) drawn through GL's own vertex pipeline: a vertex shader does the engine's transform,
// projection and fog, and GL clips and culls; it prints "gl frame models=<n> fps=<x> ms=<x>".
// Options: --seconds S, --workload NAME, --dump DIR.

#define GL_GLEXT_PROTOTYPES
#include "bench/raster/Workloads.h"
#include "bench/render/FrameScene.h"
#include "engine/graphics/Renderer.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace raster_bench;

namespace {

const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec4 position;   // x, y, z, rhw as the screen vertex holds them
layout(location = 1) in vec4 diffuse;    // bytes b, g, r, a
layout(location = 2) in vec4 specular;
layout(location = 3) in vec2 uv;
out vec4 vDiffuse;
out vec4 vSpecular;
out vec2 vUv;
void main() {
    float w = 1.0 / position.w;
    // Screen pixel centres sit at integers here, at half-integers in GL.
    vec2 ndc = vec2((position.x + 0.5) / 400.0 - 1.0, 1.0 - (position.y + 0.5) / 300.0);
    gl_Position = vec4(ndc * w, (position.z * 2.0 - 1.0) * w, w);
    vDiffuse = diffuse.bgra;
    vSpecular = specular.bgra;
    vUv = uv;
}
)";

const char* kFragmentShader = R"(#version 330 core
in vec4 vDiffuse;
in vec4 vSpecular;
in vec2 vUv;
uniform sampler2D tex;
uniform vec3 fogColour;
out vec4 colour;
void main() {
    vec3 c = texture(tex, vUv).rgb * vDiffuse.rgb;
    c = min(c + vSpecular.rgb, vec3(1.0));
    colour = vec4(mix(fogColour, c, vSpecular.a), vDiffuse.a);
}
)";

GLuint compile(GLenum type, const char* source) {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048];
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::fprintf(stderr, "shader: %s\n", log);
        std::exit(1);
    }
    return shader;
}


// Frames per second of `frame` (after one unmeasured frame), over at least `seconds` and three frames.
template <class Frame>
double framesPerSecond(double seconds, Frame frame) {
    frame();
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    int frames = 0;
    double elapsed = 0;
    do {
        frame();
        ++frames;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds || frames < 3);
    return frames / elapsed;
}

// The picture as a PPM file, rows top to bottom.
void dumpPicture(const std::string& path) {
    std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
        for (int y = kHeight - 1; y >= 0; --y) // GL rows run bottom-up
            std::fwrite(rgb.data() + size_t(y) * kWidth * 3, 1, size_t(kWidth) * 3, f);
        std::fclose(f);
    }
}

// The frame scene's vertex stage: model to view space with the transform the engine's pipeline composes
// for the object, then the engine's projection onto the viewport (x right, y down, depth near / z growing
// towards the viewer) written as clip coordinates with w = z, and the fog factor of the distance.
const char* kFrameVertexShader = R"(#version 330 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec4 diffuse;    // bytes b, g, r, a
layout(location = 2) in vec2 uv;
uniform mat3 rotation;
uniform vec3 translation;
uniform vec4 projection;                 // scale, centre x and y within the viewport, near value
uniform vec2 halfSize;                   // half the viewport's width and height, pixels
uniform vec2 fog;                        // density per unit, lowest factor
out vec4 vDiffuse;
out vec2 vUv;
out float vFog;
void main() {
    vec3 v = rotation * position + translation;
    float z = max(v.z, 1e-6);
    vec2 centre = (projection.yz + 0.5) / halfSize;
    gl_Position = vec4((centre.x - 1.0) * z + v.x * projection.x / halfSize.x,
                       (1.0 - centre.y) * z + v.y * projection.x / halfSize.y,
                       2.0 * projection.w - z, z);
    vDiffuse = diffuse.bgra;
    vUv = uv;
    vFog = max(exp(-fog.x * z), fog.y);
}
)";

const char* kFrameFragmentShader = R"(#version 330 core
in vec4 vDiffuse;
in vec2 vUv;
in float vFog;
uniform sampler2D tex;
uniform vec3 fogColour;
out vec4 colour;
void main() {
    vec3 c = texture(tex, vUv).rgb * vDiffuse.rgb;
    colour = vec4(mix(fogColour, c, vFog), 1.0);
}
)";

GLuint linkProgram(const char* vertexShader, const char* fragmentShader) {
    const GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, vertexShader));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragmentShader));
    glLinkProgram(program);
    glUseProgram(program);
    return program;
}

void uploadLevels(const std::vector<uint16_t>& texels, int side, int levels) {
    size_t offset = 0;
    for (int level = 0; level < levels; ++level) {
        const int size = side >> level;
        glTexImage2D(GL_TEXTURE_2D, level, GL_RGB565, size, size, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5,
                     texels.data() + offset);
        offset += size_t(size) * size_t(size);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

// One frame of bench/render's scene: per viewport, the engine's camera; per model, the engine's culling
// test against the view pyramid and one indexed draw of the sphere with its transform.
void runFrameScene(double seconds, int models, const std::string& dumpDir) {
    const GLuint program = linkProgram(kFrameVertexShader, kFrameFragmentShader);
    const GLint rotation = glGetUniformLocation(program, "rotation");
    const GLint translation = glGetUniformLocation(program, "translation");
    const GLint projection = glGetUniformLocation(program, "projection");
    const GLint halfSize = glGetUniformLocation(program, "halfSize");
    glUniform1i(glGetUniformLocation(program, "tex"), 0);

    // The engine's own matrices, fog and projection, from a device that is never opened.
    auto device = std::make_unique<DisplayDevice>();
    Pipeline& p = device->renderer->pipeline;
    const FogState& fog = device->fog;
    glUniform2f(glGetUniformLocation(program, "fog"), fog.density, float(255 - fog.maximum) / 255.0f);
    glUniform3f(glGetUniformLocation(program, "fogColour"), ((fog.colour >> 16) & 255) / 255.0f,
                ((fog.colour >> 8) & 255) / 255.0f, (fog.colour & 255) / 255.0f);

    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    uploadLevels(frame_scene::texturePixels(), frame_scene::kTextureSide, frame_scene::kTextureLevels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    frame_scene::Sphere sphere = frame_scene::benchSphere(0);
    GLuint vao, buffers[2];
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(2, buffers);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(sphere.vertices.size() * sizeof(sdk::ModelVertex)), sphere.vertices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(sphere.triangles.size() * sizeof(uint16_t)),
                 sphere.triangles.data(), GL_STATIC_DRAW);
    const GLsizei stride = sizeof(sdk::ModelVertex);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(sdk::ModelVertex, x)));
    glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<void*>(offsetof(sdk::ModelVertex, diffuse)));
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(sdk::ModelVertex, u)));
    for (GLuint i = 0; i < 3; ++i) glEnableVertexAttribArray(i);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_GEQUAL);
    glEnable(GL_CULL_FACE); // the engine drops triangles that turn clockwise on its y-down screen
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    int drawn = 0;
    auto frame = [&] {
        glViewport(0, 0, kWidth, kHeight);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawn = 0;
        for (int v = 0; v < frame_scene::kViewports; ++v) {
            const sdk::ViewportRecord view = frame_scene::viewport(v);
            const auto& r = view.screenRect;
            const float width = float(r.right - r.left), height = float(r.bottom - r.top);
            setProjection(p, view.fieldOfView, width, height, float(r.left) + width / 2, float(r.top) + height / 2);
            setCamera(p, view.eyePosition.x, view.eyePosition.y, view.eyePosition.z, view.eyeAngles.x,
                      view.eyeAngles.y, view.eyeAngles.z);
            glViewport(r.left, kHeight - r.bottom, GLsizei(width), GLsizei(height));
            const Projection& pr = p.display.projection;
            glUniform4f(projection, pr.scale, pr.centreX - float(r.left), pr.centreY - float(r.top),
                        p.display.rendererNearValue);
            glUniform2f(halfSize, width / 2, height / 2);
            for (int i = 0; i < models; ++i) {
                const frame_scene::Placement at = frame_scene::placement(i, models);
                setObjectTransform(p, at.x, at.y, at.z, at.ax, at.ay, at.az, nullptr, 1);
                const ObjectTransform& t = p.transform;
                bool culled = false;
                for (const auto& plane : p.planes)
                    culled = culled || plane[0] * t.trans[0] + plane[1] * t.trans[1] + plane[2] * t.trans[2] >
                                           sphere.header.sphereRadius;
                if (culled) continue;
                glUniformMatrix3fv(rotation, 1, GL_TRUE, &t.rot[0][0]);
                glUniform3fv(translation, 1, t.trans);
                glDrawElements(GL_TRIANGLES, GLsizei(sphere.triangles.size()), GL_UNSIGNED_SHORT, nullptr);
                ++drawn;
            }
        }
        glFinish();
    };
    const double fps = framesPerSecond(seconds, frame);
    std::printf("gl frame models=%d viewports=%d drawn=%d fps=%.2f ms=%.2f\n", models, frame_scene::kViewports, drawn,
                fps, 1000.0 / fps);
    std::fflush(stdout);
    if (!dumpDir.empty()) dumpPicture(dumpDir + "/gl_frame.ppm");
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 2.0;
    std::string only, dumpDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (arg == "--workload" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--dump" && i + 1 < argc)
            dumpDir = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--workload NAME] [--dump DIR]\n", argv[0]);
            return 2;
        }
    }

    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        std::fprintf(stderr, "no EGL display\n");
        return 1;
    }
    eglBindAPI(EGL_OPENGL_API);
    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    eglChooseConfig(display, configAttribs, &config, 1, &count);
    const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, count ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, contextAttribs);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        std::fprintf(stderr, "no GL context\n");
        return 1;
    }
    std::fprintf(stderr, "renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    GLuint framebuffer, colourBuffer, depthBuffer;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenRenderbuffers(1, &colourBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB565, kWidth, kHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer);
    glGenRenderbuffers(1, &depthBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, kWidth, kHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        std::fprintf(stderr, "framebuffer incomplete\n");
        return 1;
    }
    glViewport(0, 0, kWidth, kHeight);

    const GLuint program = linkProgram(kVertexShader, kFragmentShader);
    glUniform1i(glGetUniformLocation(program, "tex"), 0);
    glUniform3f(glGetUniformLocation(program, "fogColour"), ((kFogColour >> 16) & 255) / 255.0f,
                ((kFogColour >> 8) & 255) / 255.0f, (kFogColour & 255) / 255.0f);

    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    uploadLevels(makeTexture(), kTextureSize, kTextureLevels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_GEQUAL);
    glDepthMask(GL_TRUE);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glDisable(GL_DITHER);
    glClearColor(0, 0, 0, 0);
    glClearDepth(0.0);

    GLuint vao, vbo;
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    const GLsizei stride = sizeof(display::ScreenVertex);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(0));
    glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<void*>(16));
    glVertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<void*>(20));
    glVertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(24));
    for (GLuint i = 0; i < 4; ++i)
        glEnableVertexAttribArray(i);

    for (const char* name : kWorkloadNames) {
        if (!only.empty() && only != name)
            continue;
        const Workload w = makeWorkload(name);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(w.vertices.size() * sizeof(display::ScreenVertex)), w.vertices.data(),
                     GL_STATIC_DRAW);
        auto frame = [&] {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glDrawArrays(GL_TRIANGLES, 0, GLsizei(w.vertices.size()));
            glFinish();
        };
        const double fps = framesPerSecond(seconds, frame);
        std::printf("gl %s fps=%.2f mtri_s=%.3f mpix_s=%.2f\n", name, fps, fps * double(w.vertices.size() / 3) / 1e6,
                    fps * w.pixelArea / 1e6);
        std::fflush(stdout);
        if (!dumpDir.empty()) dumpPicture(dumpDir + "/gl_" + name + ".ppm");
    }
    if (only.empty() || only == "frame") runFrameScene(seconds, frame_scene::kDefaultModels, dumpDir);
    eglTerminate(display);
    return 0;
}
