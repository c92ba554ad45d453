// The interface's own keyboard shortcuts for menu commands (the ones the accelerators do
// not carry). They act only while no text field has the keyboard, so a text field keeps
// its own Ctrl+Z, Ctrl+X, Ctrl+C, Ctrl+V, Ctrl+A and Delete.
#include <SDL.h>
#include <imgui.h>

#include <vector>

#include "app/app_state.h"
#include "app/commands.h"
#include "ui/draw_ui.h"

namespace morvane {

void HandleInterfaceShortcuts() {
    const ImGuiIO& io = ImGui::GetIO();
    if (io.WantTextInput || ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel))
        return;
    // The shortcuts of the command table that the interface handles itself, by the
    // key's position (the interface indexes keys by scancode).
    struct Shortcut {
        SDL_Scancode key;
        KeyChord chord;
        int id;
    };
    static const std::vector<Shortcut> shortcuts = [] {
        std::vector<Shortcut> list;
        for (const Command& c : Commands()) {
            KeyChord chord;
            if (c.keys == ShortcutKind::Interface && ParseShortcut(c.shortcut, &chord))
                list.push_back({SDL_GetScancodeFromKey(chord.key), chord, c.id});
        }
        return list;
    }();
    for (const Shortcut& s : shortcuts) {
        if (io.KeyCtrl == s.chord.ctrl && io.KeyShift == s.chord.shift && !io.KeyAlt && ImGui::IsKeyPressed(s.key, false)) {
            PostCommand(s.id);
            return;
        }
    }
}

}  // namespace morvane
