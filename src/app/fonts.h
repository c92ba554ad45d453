#pragma once
// The interface fonts: three size presets, each with four sizes of the regular, medium
// and (when it exists) bold families, all built at start so switching needs no rebuild.
#include <string>

struct ImFont;

namespace morvane {

enum class FontFamily { Regular = 0, Medium = 1, Bold = 2 };

// Pixel sizes before scaling, per preset (0..2) and size slot (0..3).
extern const float kFontSizes[3][4];

// Loads "Roboto-Regular", "Roboto-Medium", "Roboto-Bold" and the icon font
// "fa-solid-900" (merged at 0.78 of each size) from fontsFolder, rasterised at
// uiScale so the text stays sharp on a scaled display. A missing file is left out;
// without the regular family the interface uses Dear ImGui's default font.
void LoadFonts(const std::string& fontsFolder, float uiScale);

// The font of a size slot and family in the current preset; never null after LoadFonts.
ImFont* UiFont(int sizeSlot, FontFamily family = FontFamily::Regular);

// Makes preset (clamped to 0..2) the default font of the next frames.
void ApplyFontPreset(int preset);

// Whether the icon glyphs could be loaded (the title bar draws its buttons without them).
bool IconFontLoaded();

}  // namespace morvane
