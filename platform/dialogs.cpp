// Message boxes over SDL, with a scripted answer for headless runs and tests.
#include <SDL.h>

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
    int scripted = g_scriptedAnswer ? g_scriptedAnswer : answerFromEnvironment();
    // SDL's boxes block forever under a bare X server and fail under the dummy driver: never show one
    // headless.
    if (scripted || isHeadless()) return scripted ? scripted : firstButton(type);

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
    if (SDL_ShowMessageBox(&data, &pressed) != 0 || pressed < 0)
        return type == MB_OK ? IDOK : (type == MB_YESNO ? IDNO : IDCANCEL);
    return pressed;
}

} // namespace plat
