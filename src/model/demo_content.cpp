#include "model/demo_content.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "model/preferences.h"
#include "platform/folders.h"

namespace morvane {

namespace {

bool IsProjectFile(const std::string& path) {
    static const std::string kExtension = ".mvproj";
    if (path.size() < kExtension.size()) return false;
    return std::equal(kExtension.begin(), kExtension.end(), path.end() - static_cast<long>(kExtension.size()),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(b)) == a; });
}

}  // namespace

std::string DemoMarkerPath() {
    std::string documents = DocumentsFolder();
    return documents.empty() ? std::string() : JoinPath(documents, ".demo_version");
}

DemoInstallResult InstallDemoContent(bool force) {
    DemoInstallResult result;
    const std::string source = ProgramDataPath("DemoContent");
    if (!IsFolder(source)) return result;
    result.sourceFound = true;

    const std::string documents = DocumentsFolder();
    const std::string marker = DemoMarkerPath();
    if (documents.empty()) return result;  // nowhere to put it
    std::error_code ec;
    if (!force && std::filesystem::exists(std::filesystem::symlink_status(marker, ec))) {
        result.alreadyInstalled = true;
        return result;
    }

    std::vector<std::string> projects;
    for (const char* sub : {"Recipes", "Chains", "Projects", "Libraries"}) {
        const std::string from = JoinPath(source, sub);
        if (!IsFolder(from)) continue;
        TreeCopyResult copy = CopyTreeKeepingExisting(from, JoinPath(documents, sub));
        result.filesCopied += static_cast<int>(copy.copiedFiles.size());
        result.filesKept += copy.keptFiles;
        result.failures += copy.failures;
        if (std::string(sub) == "Projects")
            for (const std::string& path : copy.copiedFiles)
                if (IsProjectFile(path)) projects.push_back(path);
    }

    // Added last to first, so the recent list shows the demo projects in name order.
    std::sort(projects.begin(), projects.end());
    for (auto it = projects.rbegin(); it != projects.rend(); ++it) AddRecentProject(Prefs(), *it);
    result.projectsAdded = projects;

    if (result.failures == 0) {
        std::filesystem::create_directories(documents, ec);
        result.markerWritten = WriteFileAtomically(marker, "installed\n");
    }
    SavePreferences();
    return result;
}

}  // namespace morvane
