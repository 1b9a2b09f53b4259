// Comparison program: draws the benchmark workloads with the same states through OpenGL on an
// off-screen EGL context (meant for Mesa's llvmpipe: EGL_PLATFORM=surfaceless
// GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=1) and prints the benchmark's lines prefixed "gl".
// Options: --seconds S, --workload NAME, --dump DIR.

#define GL_GLEXT_PROTOTYPES
#include "bench/raster/Workloads.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

    const GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, kVertexShader));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, kFragmentShader));
    glLinkProgram(program);
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "tex"), 0);
    glUniform3f(glGetUniformLocation(program, "fogColour"), ((kFogColour >> 16) & 255) / 255.0f,
                ((kFogColour >> 8) & 255) / 255.0f, (kFogColour & 255) / 255.0f);

    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    const std::vector<uint16_t> texels = makeTexture();
    size_t offset = 0;
    for (int level = 0; level < kTextureLevels; ++level) {
        const int size = kTextureSize >> level;
        glTexImage2D(GL_TEXTURE_2D, level, GL_RGB565, size, size, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5,
                     texels.data() + offset);
        offset += size_t(size) * size_t(size);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, kTextureLevels - 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);

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
        const double fps = frames / elapsed;
        std::printf("gl %s fps=%.2f mtri_s=%.3f mpix_s=%.2f\n", name, fps, fps * double(w.vertices.size() / 3) / 1e6,
                    fps * w.pixelArea / 1e6);
        std::fflush(stdout);
        if (!dumpDir.empty()) {
            std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3);
            glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
            const std::string path = dumpDir + "/gl_" + name + ".ppm";
            if (FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
                for (int y = kHeight - 1; y >= 0; --y) // GL rows run bottom-up
                    std::fwrite(rgb.data() + size_t(y) * kWidth * 3, 1, size_t(kWidth) * 3, f);
                std::fclose(f);
            }
        }
    }
    eglTerminate(display);
    return 0;
}
