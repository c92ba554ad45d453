#include "app/fonts.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>

#include "platform/folders.h"

namespace morvane {

const float kFontSizes[3][4] = {{15, 17, 17, 21}, {16, 18, 18, 22}, {18, 20, 20, 26}};

namespace {

ImFont* gFonts[3][3][4] = {};
bool gIconsLoaded = false;
int gPreset = 1;

// Latin with Latin-1 and the general punctuation (the ellipsis of "Open…", the dashes).
const ImWchar kTextRanges[] = {0x0020, 0x00FF, 0x2000, 0x206F, 0};

// The icons the interface uses. The solid icon font has well over a thousand glyphs;
// merged into 36 fonts they would make a very large atlas, so only these are baked.
// Add a code point here when a panel starts using an icon.
const ImWchar kIconRanges[] = {
    0xe2ca, 0xe2ca,  // wand-magic-sparkles
    0xf001, 0xf002,  // music, magnifying-glass
    0xf008, 0xf008,  // film
    0xf00c, 0xf00d,  // check, xmark
    0xf013, 0xf013,  // gear
    0xf019, 0xf019,  // download
    0xf01e, 0xf01e,  // arrow-rotate-right
    0xf023, 0xf023,  // lock
    0xf025, 0xf025,  // headphones
    0xf028, 0xf028,  // volume-high
    0xf048, 0xf048,  // backward-step
    0xf04b, 0xf04d,  // play, pause, stop
    0xf051, 0xf051,  // forward-step
    0xf054, 0xf054,  // chevron-right
    0xf05a, 0xf05a,  // circle-info
    0xf067, 0xf068,  // plus, minus
    0xf06e, 0xf06e,  // eye
    0xf070, 0xf071,  // eye-slash, triangle-exclamation
    0xf078, 0xf078,  // chevron-down
    0xf07b, 0xf07c,  // folder, folder-open
    0xf093, 0xf093,  // upload
    0xf09c, 0xf09c,  // unlock
    0xf0c1, 0xf0c1,  // link
    0xf0c4, 0xf0c5,  // scissors, copy
    0xf0c8, 0xf0c8,  // square
    0xf0e7, 0xf0e7,  // bolt
    0xf0ea, 0xf0ea,  // paste
    0xf111, 0xf111,  // circle
    0xf130, 0xf130,  // microphone
    0xf15b, 0xf15b,  // file
    0xf1de, 0xf1de,  // sliders
    0xf1f8, 0xf1f8,  // trash
    0xf2d0, 0xf2d2,  // window-maximize, window-minimize, window-restore
    0xf2ea, 0xf2ea,  // rotate-left
    0xf2f9, 0xf2f9,  // rotate-right
    0xf304, 0xf304,  // pen
    0xf5fd, 0xf5fd,  // layer-group
    0xf6a9, 0xf6a9,  // volume-xmark
    0xf83e, 0xf83e,  // wave-square
    0,
};

// Dear ImGui's built-in font, used when the Roboto files are missing, has only Latin-1;
// the interface's own texts use the ellipsis ("Open…") and dashes, which it would draw
// as "?". They are drawn into the atlas as glyphs of our own, in the built-in font's
// 7 x 13 pixel cell: the ellipsis as three dots on the baseline, the dashes as a bar.
struct DrawnGlyph {
    ImWchar code;
    int rect = -1;
};
DrawnGlyph gDrawnGlyphs[] = {{0x2026}, {0x2014}, {0x2013}};

void AddDrawnGlyphs(ImFontAtlas& atlas, ImFont* font, float scale) {
    const int cellWidth = static_cast<int>(7.0f * scale + 0.5f), cellHeight = static_cast<int>(13.0f * scale + 0.5f);
    for (DrawnGlyph& glyph : gDrawnGlyphs)
        glyph.rect = atlas.AddCustomRectFontGlyph(font, glyph.code, cellWidth, cellHeight, static_cast<float>(cellWidth));
}

void PaintDrawnGlyphs(ImFontAtlas& atlas, float scale) {
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    atlas.GetTexDataAsAlpha8(&pixels, &width, &height);
    if (!pixels) return;
    const int unit = std::max(1, static_cast<int>(scale + 0.5f));
    auto fill = [&](const ImFontAtlasCustomRect& r, int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h && y < r.Height; ++y)
            for (int x = x0; x < x0 + w && x < r.Width; ++x) pixels[(r.Y + y) * width + r.X + x] = 0xFF;
    };
    const int baseline = static_cast<int>(10.0f * scale + 0.5f), middle = static_cast<int>(6.0f * scale + 0.5f);
    for (const DrawnGlyph& glyph : gDrawnGlyphs) {
        if (glyph.rect < 0) continue;
        const ImFontAtlasCustomRect& r = *atlas.GetCustomRectByIndex(glyph.rect);
        if (glyph.code == 0x2026)
            for (int dot = 0; dot < 3; ++dot) fill(r, unit * (1 + 2 * dot), baseline - unit, unit, unit);
        else if (glyph.code == 0x2014) fill(r, 0, middle, r.Width, unit);
        else fill(r, unit, middle, r.Width - 2 * unit, unit);
    }
}

bool FileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

void LoadFonts(const std::string& fontsFolder, float uiScale) {
    ImGuiIO& io = ImGui::GetIO();
    io.Fonts->Clear();
    const char* families[3] = {"Roboto-Regular", "Roboto-Medium", "Roboto-Bold"};
    std::string paths[3];
    bool present[3];
    for (int f = 0; f < 3; ++f) {
        paths[f] = JoinPath(fontsFolder, std::string(families[f]) + ".ttf");
        present[f] = FileExists(paths[f]);
    }
    const std::string iconPath = JoinPath(fontsFolder, "fa-solid-900.ttf");
    gIconsLoaded = FileExists(iconPath);

    ImFont* fallback = nullptr;
    for (int preset = 0; preset < 3; ++preset) {
        // Regular and medium first, then bold when it exists (it falls back to medium).
        for (int family = 0; family < 3; ++family) {
            for (int slot = 0; slot < 4; ++slot) {
                ImFont* font = nullptr;
                if (present[0] && present[family]) {
                    const float size = kFontSizes[preset][slot] * uiScale;
                    ImFontConfig config;
                    config.OversampleH = 2;
                    font = io.Fonts->AddFontFromFileTTF(paths[family].c_str(), size, &config, kTextRanges);
                    if (font && gIconsLoaded) {
                        ImFontConfig icons;
                        icons.MergeMode = true;
                        icons.PixelSnapH = true;
                        icons.GlyphMinAdvanceX = size * 0.78f;
                        io.Fonts->AddFontFromFileTTF(iconPath.c_str(), size * 0.78f, &icons, kIconRanges);
                    }
                }
                if (!font) {
                    if (family > 0 && gFonts[preset][family - 1][slot]) {
                        font = gFonts[preset][family - 1][slot];
                    } else {
                        if (!fallback) {
                            ImFontConfig config;
                            config.SizePixels = 13.0f * uiScale;
                            fallback = io.Fonts->AddFontDefault(&config);
                            AddDrawnGlyphs(*io.Fonts, fallback, uiScale);
                        }
                        font = fallback;
                    }
                }
                gFonts[preset][family][slot] = font;
            }
        }
    }
    if (!present[0]) gIconsLoaded = false;
    // The drawn glyphs need the atlas built to know where they went; the renderer
    // takes the built atlas as it is.
    if (fallback) PaintDrawnGlyphs(*io.Fonts, uiScale);
    // The atlas is rasterised at uiScale; the interface lays out in unscaled units.
    io.FontGlobalScale = 1.0f / uiScale;
    ApplyFontPreset(gPreset);
}

ImFont* UiFont(int sizeSlot, FontFamily family) {
    const int slot = std::clamp(sizeSlot, 0, 3);
    return gFonts[gPreset][static_cast<int>(family)][slot];
}

void ApplyFontPreset(int preset) {
    gPreset = std::clamp(preset, 0, 2);
    if (ImGui::GetCurrentContext()) ImGui::GetIO().FontDefault = gFonts[gPreset][0][0];
}

bool IconFontLoaded() { return gIconsLoaded; }

}  // namespace morvane
