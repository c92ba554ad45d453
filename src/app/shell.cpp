#include "app/shell.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/blocking_job.h"
#include "app/frame_bench.h"
#include "app/commands.h"
#include "app/fonts.h"
#include "app/frame_tasks.h"
#include "app/ui_script.h"
#include "app/window.h"
#include "app/wiring.h"
#include "model/preferences.h"
#include "model/update_check.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#include "version.h"

namespace morvane {

namespace {

MainWindow gMain;
void (*gDrawUi)() = nullptr;

void DrawFrame() {
    AppState& app = App();
    if (!app.deviceReady || app.inFrame) return;
    app.inFrame = true;
    // The GL back buffer follows the window by itself; the size only needs forgetting.
    app.pendingResizeWidth = app.pendingResizeHeight = 0;

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGuiIO& io = ImGui::GetIO();
    if (app.uiScale != 1.0f) {
        // The interface lays out in unscaled units and is drawn scaled.
        io.DisplayFramebufferScale.x *= app.uiScale;
        io.DisplayFramebufferScale.y *= app.uiScale;
        io.DisplaySize.x /= app.uiScale;
        io.DisplaySize.y /= app.uiScale;
        if (io.MousePos.x != -FLT_MAX) {
            io.MousePos.x /= app.uiScale;
            io.MousePos.y /= app.uiScale;
        }
    }
    UiScriptOverrideMouse();
    ImGui::NewFrame();
    try {
        if (gDrawUi) gDrawUi();
    } catch (...) {
        // The interface code of one frame failed; the program keeps running and the
        // frame still completes. Windows and stacks it left open are closed here.
        ImGui::ErrorCheckEndFrameRecover(nullptr);
    }
    ImGui::Render();

    int fbw = 0, fbh = 0;
    SDL_GL_GetDrawableSize(app.window, &fbw, &fbh);
    glViewport(0, 0, fbw, fbh);
    glClearColor(0.043f, 0.051f, 0.063f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());

    if (app.thumbnailRequested) {
        app.thumbnailRequested = false;
        app.thumbnailWidth = fbw;
        app.thumbnailHeight = fbh;
        app.thumbnailRgba.assign(static_cast<size_t>(fbw) * static_cast<size_t>(fbh) * 4, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, fbw, fbh, GL_RGBA, GL_UNSIGNED_BYTE, app.thumbnailRgba.data());
        // GL rows run bottom to top; the thumbnail's top to bottom.
        const size_t row = static_cast<size_t>(fbw) * 4;
        for (int y = 0; y < fbh / 2; ++y)
            std::swap_ranges(app.thumbnailRgba.begin() + static_cast<long>(row * static_cast<size_t>(y)),
                             app.thumbnailRgba.begin() + static_cast<long>(row * static_cast<size_t>(y + 1)),
                             app.thumbnailRgba.begin() + static_cast<long>(row * static_cast<size_t>(fbh - 1 - y)));
        WritePendingThumbnail();
    }
    UiScriptAfterRender(fbw, fbh);
    SDL_GL_SwapWindow(app.window);
    app.inFrame = false;
}

// Window-manager moves and resizes can hold the event queue on some systems; a frame
// drawn from here keeps the interface following the window meanwhile.
int LiveResizeWatch(void*, SDL_Event* e) {
    if (e->type == SDL_WINDOWEVENT && e->window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        AppState& app = App();
        app.pendingResizeWidth = static_cast<uint16_t>(e->window.data1);
        app.pendingResizeHeight = static_cast<uint16_t>(e->window.data2);
        DrawFrame();
    }
    return 0;
}

void HandleEvent(SDL_Event& e) {
    AppState& app = App();
    switch (e.type) {
        case SDL_QUIT:
            app.closeRequested = true;
            return;
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) app.closeRequested = true;
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED &&
                !(SDL_GetWindowFlags(app.window) & SDL_WINDOW_MINIMIZED)) {
                app.pendingResizeWidth = static_cast<uint16_t>(e.window.data1);
                app.pendingResizeHeight = static_cast<uint16_t>(e.window.data2);
            }
            break;
        case SDL_KEYDOWN:
            // The accelerators see the key before the interface does, so they act while a
            // text field has the keyboard.
            if (int id = MatchAccelerator(e.key.keysym.sym, e.key.keysym.mod)) {
                PostCommand(id);
                return;
            }
            break;
        case SDL_DROPBEGIN: {
            int x = 0, y = 0;
            SDL_GetMouseState(&x, &y);
            DropBegin(app.drop, static_cast<float>(x) / app.uiScale, static_cast<float>(y) / app.uiScale);
            return;
        }
        case SDL_DROPFILE:
            if (!app.drop.dragging) {
                int x = 0, y = 0;
                SDL_GetMouseState(&x, &y);
                DropBegin(app.drop, static_cast<float>(x) / app.uiScale, static_cast<float>(y) / app.uiScale);
            }
            if (e.drop.file) DropPath(app.drop, e.drop.file);
            SDL_free(e.drop.file);
            return;
        case SDL_DROPTEXT:
            SDL_free(e.drop.file);
            return;
        case SDL_DROPCOMPLETE:
            DropComplete(app.drop, (SDL_GetModState() & KMOD_ALT) != 0);
            return;
        default:
            break;
    }
    ImGui_ImplSDL2_ProcessEvent(&e);
}

// Pumps the waiting input; true when there is something to draw: an event arrived or
// the program is busy. When idle it first sleeps until input arrives or 50 ms pass.
bool PumpEvents() {
    SDL_Event e;
    bool drawNeeded = IsBusy() || UiScriptWantsFrames();
    if (!drawNeeded && SDL_WaitEventTimeout(&e, 50)) {
        HandleEvent(e);
        drawNeeded = true;
    }
    while (SDL_PollEvent(&e)) {
        HandleEvent(e);
        drawNeeded = true;
    }
    return drawNeeded;
}

bool ReceiveHandOvers() {
    AppState& app = App();
    bool any = false;
    for (const std::string& path : PollInstanceListener(app.instance)) {
        std::printf("[UI] project handed over by a second start: %s\n", path.c_str());
        SetPendingProject(path);
        BringMainWindowToFront();
        any = true;
    }
    return any;
}

int gBenchVertices = 0;  // vertices of the last frame timed

// Draws frames back to back and returns the mean milliseconds per frame; also the
// median and the 95th percentile through the pointers.
double TimeFrames(int frames, double* median, double* p95) {
    std::vector<double> ms;
    for (int i = 0; i < frames; ++i) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) HandleEvent(e);
        const Uint64 start = SDL_GetPerformanceCounter();
        DrawFrame();
        glFinish();  // the frame's drawing, not only its submission
        ms.push_back(1000.0 * static_cast<double>(SDL_GetPerformanceCounter() - start) /
                     static_cast<double>(SDL_GetPerformanceFrequency()));
    }
    std::sort(ms.begin(), ms.end());
    if (const ImDrawData* data = ImGui::GetDrawData()) gBenchVertices = data->TotalVtxCount;
    double sum = 0;
    for (double v : ms) sum += v;
    *median = ms[ms.size() / 2];
    *p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    return sum / static_cast<double>(ms.size());
}

// One frame drawn and finished, with the input handled first, for the video bench.
void DrawFinishedFrame() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) HandleEvent(e);
    DrawFrame();
    glFinish();
}

int RunFrameBenchmark(int frames, const std::string& video) {
    constexpr int kEvents = 2000;
    frames = std::max(frames, 10);
    double emptyMedian = 0, emptyP95 = 0, fullMedian = 0, fullP95 = 0;
    TimeFrames(5, &emptyMedian, &emptyP95);  // the first frame's work and warm-up
    ClearBenchProject();
    TimeFrames(3, &emptyMedian, &emptyP95);
    const double empty = TimeFrames(frames, &emptyMedian, &emptyP95);
    const int emptyVertices = gBenchVertices;
    FillBenchProject(kEvents);
    TimeFrames(3, &fullMedian, &fullP95);
    const double full = TimeFrames(frames, &fullMedian, &fullP95);
    std::printf("[Bench] frame, empty timeline:     mean %.2f ms, median %.2f ms, p95 %.2f ms (%d frames, %d vertices)\n",
                empty, emptyMedian, emptyP95, frames, emptyVertices);
    std::printf("[Bench] frame, %d events in view: mean %.2f ms, median %.2f ms, p95 %.2f ms (%d frames, %d vertices)\n",
                kEvents, full, fullMedian, fullP95, frames, gBenchVertices);
    std::printf("[Bench] %d events / empty: %.2fx; budget of a 60 Hz frame used: %.0f %%\n", kEvents, full / empty,
                100.0 * full / (1000.0 / 60.0));
    ClearBenchProject();
    return video.empty() ? 0 : RunVideoPlaybackBench(video, DrawFinishedFrame);
}

void PrintUsage() {
    std::printf("usage: morvane [PROJECT.mvproj] [--ui-script FILE] [--screenshot DIR]\n"
                "  PROJECT.mvproj     open this project (handed to a running Morvane if there is one)\n"
                "  --ui-script FILE   play scripted input, then quit (for tests)\n"
                "  --screenshot DIR   where the script's screenshots go\n"
                "  --bench-frames N   time N frames with an empty and a 2,000-event timeline, then quit\n"
                "  --bench-video FILE with --bench-frames: also play FILE against the audio output\n"
                "  --version          print the version\n");
}

}  // namespace

int RunShell(int argc, char** argv, void (*drawUi)()) {
    gDrawUi = drawUi;
    SetUpdateServer(MORVANE_UPDATE_MANIFEST_URL, MORVANE_CHANGELOG_URL);
    std::string scriptPath, screenshotFolder, benchVideo;
    int benchFrames = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s\n", MORVANE_VERSION);
            return 0;
        }
        if ((arg == "--ui-script" || arg == "--screenshot") && i + 1 < argc) {
            (arg == "--ui-script" ? scriptPath : screenshotFolder) = argv[++i];
        } else if (arg == "--bench-frames" && i + 1 < argc) {
            benchFrames = std::atoi(argv[++i]);
        } else if (arg == "--bench-video" && i + 1 < argc) {
            benchVideo = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "morvane: unknown option %s (see morvane --help)\n", arg.c_str());
            return 2;
        }
    }

    // A project named on the command line goes to a copy that is already running. That
    // copy has its own working folder, so a relative path is made absolute here first.
    std::string project = FindProjectArgument(argc, argv, {"--ui-script", "--screenshot", "--bench-frames", "--bench-video"});
    if (!project.empty()) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(project, ec);
        if (!ec) project = absolute.lexically_normal().string();
    }
    if (!project.empty() && HandOverToRunningInstance(project)) return 0;

    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) {
        std::printf("[UI] could not start SDL: %s\n", SDL_GetError());
        return 1;
    }
    AppState& app = App();
    app.uiScale = ReadUiScale();
    std::printf("[UI] uiScale=%.2f, autoFontPreset=Medium\n", app.uiScale);
    if (!CreateMainWindow(gMain, app.uiScale)) {
        SDL_Quit();
        return 1;
    }
    app.window = gMain.window;
    if (!StartInstanceListener(app.instance))
        std::printf("[UI] another Morvane is running; projects started later go to that one\n");
    SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
    SDL_EventState(SDL_DROPBEGIN, SDL_ENABLE);
    SDL_EventState(SDL_DROPCOMPLETE, SDL_ENABLE);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // the layout is the program's own; no imgui.ini in the user's folder
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    ImGui::StyleColorsDark();
    LoadFonts(ProgramDataPath("Fonts"), app.uiScale);
    ImGui_ImplSDL2_InitForOpenGL(gMain.window, gMain.context);
    ImGui_ImplOpenGL3_Init("#version 330 core");
    app.deviceReady = true;
    SDL_AddEventWatch(LiveResizeWatch, nullptr);

    if (!scriptPath.empty() && !LoadUiScript(scriptPath, screenshotFolder)) app.quit = true;

    ConnectSubsystems();
    app.outputSampleRate = Prefs().projectSampleRate;
    if (app.hooks.openAudioOutput) app.hooks.openAudioOutput(app.outputSampleRate);
    if (!project.empty()) SetPendingProject(project);

    // Presenting waits for the display's refresh when the driver can sync; where it
    // cannot (some virtual displays), busy frames are paced to about 60 per second
    // instead of running flat out.
    const bool synced = SDL_GL_GetSwapInterval() != 0;
    int benchStatus = 0;
    if (benchFrames > 0) {
        SDL_GL_SetSwapInterval(0);  // the drawing is timed, not the display
        benchStatus = RunFrameBenchmark(benchFrames, benchVideo);
        app.quit = true;
    }
    // After the last input a few more frames are drawn, so hover states, closing menus
    // and the interface's own follow-up frames settle; then, with nothing happening,
    // frames are skipped and only the timers run.
    constexpr int kSettleFrames = 3;
    int settle = kSettleFrames;
    while (!app.quit) {
        const Uint64 frameStart = SDL_GetTicks64();
        UiScriptBeforeEvents();
        bool draw = PumpEvents();
        draw = ReceiveHandOvers() || draw;
        if (app.firstFrameDone && TakePreferencesDirty()) SavePreferences();
        if (draw) settle = kSettleFrames;
        else if (settle > 0) --settle, draw = true;
        if (!draw) {
            ServeTimers();
            continue;
        }
        DrawFrame();
        const Uint64 spent = SDL_GetTicks64() - frameStart;
        if (!synced && spent < 16) SDL_Delay(static_cast<Uint32>(16 - spent));
    }

    // Shutdown, in order. The preferences are only written once they were read, so a
    // failed start never replaces the user's file with the defaults.
    if (app.hooks.deleteCrashLock) app.hooks.deleteCrashLock();
    if (app.firstFrameDone) SavePreferences();
    if (app.hooks.stopBackgroundThreads) app.hooks.stopBackgroundThreads();
    StopBlockingJob();
    if (app.hooks.closeAudioOutput) app.hooks.closeAudioOutput();
    if (app.hooks.closeVideo) app.hooks.closeVideo();
    StopInstanceListener(app.instance);
    SDL_DelEventWatch(LiveResizeWatch, nullptr);
    app.deviceReady = false;
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext();
    app.window = nullptr;
    DestroyMainWindow(gMain);
    SDL_Quit();
    return benchStatus != 0 ? benchStatus : UiScriptExitCode();
}

}  // namespace morvane
