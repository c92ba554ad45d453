# Puts the desktop app's fonts into the Fonts folder beside the program.
#   cmake -DDEST=<Fonts folder> -DCACHE=<download folder> -P AppFonts.cmake
# Roboto comes from Debian's fonts-roboto-unhinted; the solid icon font from the npm
# package @fortawesome/fontawesome-free (Debian only has the older 4.7 icon font).
# Nothing here fails the build: a font that cannot be had is left out and the app
# falls back to Dear ImGui's default font.
set(FA_VERSION 6.7.2)  # 7.x ships no .ttf, which the font rasteriser needs
file(MAKE_DIRECTORY "${DEST}")

foreach(face Regular Medium Bold)
  foreach(dir /usr/share/fonts/truetype/roboto/unhinted/RobotoTTF
              /usr/share/fonts/truetype/roboto/unhinted
              /usr/share/fonts/truetype/roboto/hinted)
    if(EXISTS "${dir}/Roboto-${face}.ttf")
      file(COPY_FILE "${dir}/Roboto-${face}.ttf" "${DEST}/Roboto-${face}.ttf" ONLY_IF_DIFFERENT)
      break()
    endif()
  endforeach()
  if(NOT EXISTS "${DEST}/Roboto-${face}.ttf")
    message(STATUS "Fonts: Roboto-${face}.ttf not found (install fonts-roboto-unhinted); using the default font")
  endif()
endforeach()

if(NOT EXISTS "${DEST}/fa-solid-900.ttf")
  set(tarball "${CACHE}/fortawesome-fontawesome-free-${FA_VERSION}.tgz")
  if(NOT EXISTS "${tarball}")
    find_program(NPM npm)
    if(NPM)
      file(MAKE_DIRECTORY "${CACHE}")
      execute_process(COMMAND "${NPM}" pack "@fortawesome/fontawesome-free@${FA_VERSION}" --silent
                      WORKING_DIRECTORY "${CACHE}" TIMEOUT 120
                      RESULT_VARIABLE npm_result OUTPUT_QUIET ERROR_QUIET)
    endif()
  endif()
  if(EXISTS "${tarball}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xzf "${tarball}" package/webfonts/fa-solid-900.ttf
                    WORKING_DIRECTORY "${CACHE}" RESULT_VARIABLE tar_result OUTPUT_QUIET ERROR_QUIET)
    if(EXISTS "${CACHE}/package/webfonts/fa-solid-900.ttf")
      file(COPY_FILE "${CACHE}/package/webfonts/fa-solid-900.ttf" "${DEST}/fa-solid-900.ttf")
    endif()
  endif()
  if(NOT EXISTS "${DEST}/fa-solid-900.ttf")
    message(STATUS "Fonts: fa-solid-900.ttf could not be fetched with npm; icons are left out")
  endif()
endif()
