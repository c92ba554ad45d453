#pragma once
// Files and folders dragged from the desktop onto the window. The window layer feeds
// the drop here; the interface reads what was dropped and decides what to do with it
// (scan folders into the library, place audio files as clips).
#include <string>
#include <vector>

namespace morvane {

// Compared without regard to case: "wav", "aif", "aiff", "flac", "ogg", "mp3", "w64", "caf".
// The extension is the text after the last "." that comes after the last "/" or "\".
bool IsAudioFileName(const std::string& path);

struct DropTarget {
    bool dragging = false;          // a drop is being delivered
    bool draggingFolder = false;    // it holds at least one folder
    bool draggingAudio = false;     // it holds at least one recognised audio file
    float dropX = 0.0f;             // where it landed, in interface units
    float dropY = 0.0f;
    bool altHeld = false;           // Alt was held at the drop
    std::vector<std::string> droppedFolders;  // appended by each drop, taken by the interface
    std::vector<std::string> droppedFiles;    // recognised audio files only
};

// A drop arrives as begin, one path at a time, complete. x, y are interface units.
void DropBegin(DropTarget& target, float x, float y);
// Folders and recognised audio files are kept; anything else is ignored.
void DropPath(DropTarget& target, const std::string& path);
void DropComplete(DropTarget& target, bool altHeld);

}  // namespace morvane
