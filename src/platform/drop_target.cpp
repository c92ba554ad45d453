#include "platform/drop_target.h"

#include <filesystem>
#include <system_error>

namespace morvane {

bool IsAudioFileName(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    static const char* const kAudio[] = {"wav", "aif", "aiff", "flac", "ogg", "mp3", "w64", "caf"};
    for (const char* known : kAudio)
        if (ext == known) return true;
    return false;
}

void DropBegin(DropTarget& target, float x, float y) {
    target.dragging = true;
    target.draggingFolder = false;
    target.draggingAudio = false;
    target.dropX = x;
    target.dropY = y;
}

void DropPath(DropTarget& target, const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        target.draggingFolder = true;
        target.droppedFolders.push_back(path);
    } else if (IsAudioFileName(path)) {
        target.draggingAudio = true;
        target.droppedFiles.push_back(path);
    }
}

void DropComplete(DropTarget& target, bool altHeld) {
    target.dragging = false;
    target.altHeld = altHeld;
}

}  // namespace morvane
