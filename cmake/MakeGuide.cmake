# Turns the user guide's Markdown into the HTML page Help > User Guide opens, with its
# pictures beside it (the Markdown refers to them as guide/NAME.png, in both places).
#   cmake -DINPUT=docs/user-guide.md -DIMAGES=docs/guide -DDEST=<Guide folder>
#         -DMARKDOWN=<markdown_py or empty> -P MakeGuide.cmake
# The converter is Debian's python3-markdown; without it the page shows the Markdown
# text as it stands, still readable, and the build goes on.
file(MAKE_DIRECTORY "${DEST}/guide")
file(GLOB images "${IMAGES}/*.png")
foreach(image IN LISTS images)
  get_filename_component(name "${image}" NAME)
  file(COPY_FILE "${image}" "${DEST}/guide/${name}" ONLY_IF_DIFFERENT)
endforeach()

set(body "")
if(MARKDOWN)
  execute_process(COMMAND "${MARKDOWN}" -x tables -x toc -x fenced_code -o html "${INPUT}"
                  OUTPUT_VARIABLE body RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(WARNING "User guide: ${MARKDOWN} failed (${errors}); the page shows the Markdown text")
    set(body "")
  endif()
endif()
if(body STREQUAL "")
  file(READ "${INPUT}" text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  set(body "<pre>${text}</pre>")
endif()

file(WRITE "${DEST}/user-guide.html.tmp" "<!DOCTYPE html>
<html lang=\"en\"><head><meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Morvane User Guide</title>
<style>
body { font: 16px/1.55 system-ui, sans-serif; max-width: 52em; margin: 2em auto; padding: 0 1em; color: #1d2330; }
h1, h2, h3 { line-height: 1.2; } h2 { margin-top: 2em; border-bottom: 1px solid #d8dce4; }
code, kbd, pre { font-family: ui-monospace, monospace; font-size: 0.92em; }
kbd { border: 1px solid #b8bfcc; border-radius: 3px; padding: 0 0.3em; }
pre { background: #f3f5f8; padding: 0.8em; overflow-x: auto; }
table { border-collapse: collapse; } th, td { border: 1px solid #d8dce4; padding: 0.3em 0.6em; text-align: left; }
img { max-width: 100%; border: 1px solid #d8dce4; }
</style></head><body>
${body}
</body></html>
")
file(RENAME "${DEST}/user-guide.html.tmp" "${DEST}/user-guide.html")
