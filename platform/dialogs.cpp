// Message boxes over SDL, with a scripted answer for headless runs and tests.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace plat {
namespace {

int g_scriptedAnswer = 0;
std::vector<RecordedMessageBox> g_recorded;

int answerFromEnvironment() {
    const char* text = std::getenv("ENGINE_MSGBOX_ANSWER");
    if (!text) return 0;
    if (std::strcmp(text, "ok") == 0) return IDOK;
    if (std::strcmp(text, "cancel") == 0) return IDCANCEL;
    if (std::strcmp(text, "yes") == 0) return IDYES;
    if (std::strcmp(text, "no") == 0) return IDNO;
    return 0;
}

int firstButton(uint32_t type) { return (type == MB_YESNO || type == MB_YESNOCANCEL) ? IDYES : IDOK; }

// The answer that does nothing further when no box can be shown: OK, or No, or Cancel.
int safeButton(uint32_t type) { return type == MB_OK ? IDOK : (type == MB_YESNO ? IDNO : IDCANCEL); }

const char* buttonName(int answer) {
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
    }
}

} // namespace

void setScriptedMessageBoxAnswer(int answer) { g_scriptedAnswer = answer; }
int recordedMessageBoxCount() { return static_cast<int>(g_recorded.size()); }
void clearRecordedMessageBoxes() { g_recorded.clear(); }

const RecordedMessageBox* recordedMessageBox(int index) {
    if (index < 0 || index >= recordedMessageBoxCount()) return nullptr;
    return &g_recorded[static_cast<size_t>(index)];
}

int messageBox(Window* owner, const char* text, const char* caption, uint32_t type) {
    g_recorded.push_back({text ? text : "", caption ? caption : "", type});
    // Every box also goes to the terminal, one line, so that a box nobody sees still tells its story.
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    int scripted = g_scriptedAnswer ? g_scriptedAnswer : answerFromEnvironment();
    // SDL's boxes block forever under a bare X server and fail under the dummy driver: never show one
    // headless.
    if (scripted || isHeadless()) {
        int answer = scripted ? scripted : firstButton(type);
        std::fprintf(stderr, "  (answered %s without showing the box)\n", buttonName(answer));
        return answer;
    }

    SDL_MessageBoxButtonData buttons[3];
    int count = 0;
    auto add = [&](int id, const char* label) { buttons[count++] = SDL_MessageBoxButtonData{0, id, label}; };
    switch (type) {
    case MB_OKCANCEL: add(IDOK, "OK"), add(IDCANCEL, "Cancel"); break;
    case MB_YESNO: add(IDYES, "Yes"), add(IDNO, "No"); break;
    case MB_YESNOCANCEL: add(IDYES, "Yes"), add(IDNO, "No"), add(IDCANCEL, "Cancel"); break;
    default: add(IDOK, "OK"); break;
    }
    buttons[0].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    SDL_MessageBoxData data{};
    data.flags = SDL_MESSAGEBOX_INFORMATION;
    data.window = sdlWindow(owner);
    data.title = caption ? caption : "";
    data.message = text ? text : "";
    data.numbuttons = count;
    data.buttons = buttons;
    int pressed = 0;
    if (SDL_ShowMessageBox(&data, &pressed) != 0) {
        std::fprintf(stderr, "  (the box cannot be shown: %s; answered %s)\n", SDL_GetError(),
                     buttonName(safeButton(type)));
        return safeButton(type);
    }
    return pressed < 0 ? safeButton(type) : pressed;
}

} // namespace plat
