#include "engine/project_roots.h"

namespace morvane {

std::vector<LibraryRoot> ProjectLibraryRoots(const Project& project, const std::vector<Library>& libraries) {
    std::vector<LibraryRoot> roots;
    for (const Library& library : libraries) {
        bool wanted = project.libraryPaths.empty();
        for (const std::string& folder : project.libraryPaths) wanted = wanted || folder == library.folder;
        if (wanted) roots.push_back(LibraryRoot{&library, {}});
    }
    return roots;
}

}  // namespace morvane
