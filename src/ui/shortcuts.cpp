// The interface's own keyboard shortcuts for menu commands (the ones the accelerators do
// not carry). They act only while no text field has the keyboard, so a text field keeps
// its own Ctrl+Z, Ctrl+X, Ctrl+C, Ctrl+V, Ctrl+A and Delete.
#include <SDL.h>
#include <imgui.h>

#include "app/app_state.h"
#include "app/commands.h"
#include "ui/draw_ui.h"

namespace morvane {

void HandleInterfaceShortcuts() {
    const ImGuiIO& io = ImGui::GetIO();
    if (io.WantTextInput || ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel))
        return;
    struct Shortcut {
        SDL_Scancode key;
        bool ctrl, shift;
        int id;
    };
    static const Shortcut kShortcuts[] = {
        {SDL_SCANCODE_S, true, false, kCmdSave},     {SDL_SCANCODE_Z, true, false, kCmdUndo},
        {SDL_SCANCODE_Z, true, true, kCmdRedo},      {SDL_SCANCODE_X, true, false, kCmdCut},
        {SDL_SCANCODE_C, true, false, kCmdCopy},     {SDL_SCANCODE_V, true, false, kCmdPaste},
        {SDL_SCANCODE_DELETE, false, false, kCmdDelete}, {SDL_SCANCODE_A, true, false, kCmdSelectAll},
        {SDL_SCANCODE_G, true, false, kCmdGroup},    {SDL_SCANCODE_G, true, true, kCmdUngroup},
        {SDL_SCANCODE_L, true, false, kCmdLock},     {SDL_SCANCODE_B, true, false, kCmdSaveScene},
    };
    for (const Shortcut& s : kShortcuts) {
        if (io.KeyCtrl == s.ctrl && io.KeyShift == s.shift && !io.KeyAlt && ImGui::IsKeyPressed(s.key, false)) {
            PostCommand(s.id);
            return;
        }
    }
}

}  // namespace morvane
