#!/usr/bin/env bash
# The layering rule, checked on every test run: the core never includes the desktop
# app, its panels, SDL, OpenGL or Dear ImGui, and inside the core a subsystem includes
# only itself and the subsystems below it. Prints each offending include and fails.
#   scripts/check_includes.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# What each folder of src/ may include (besides itself and system headers).
declare -A allowed=(
  [platform]=""
  [model]="platform"
  [aaf]="platform"
  [library]="model platform"
  [engine]="library model platform"
  [audio]="engine library model platform"
  [trace]="model platform"
  [export]="aaf audio engine library model platform trace"
  [edit]="engine library model platform"
  [demo]="aaf export audio engine library model platform trace"
  [cli]="aaf demo export audio engine library model platform trace edit"
  [app]="ui aaf edit demo export audio engine library model platform trace"
  [ui]="app aaf edit export audio engine library model platform trace"
)
core="platform aaf model library engine audio trace export edit demo cli"
subsystems="${!allowed[*]}"

bad=0
for folder in src/*/; do
  name="$(basename "$folder")"
  [ -n "${allowed[$name]+set}" ] || { echo "check_includes: src/$name has no layering rule" >&2; bad=1; continue; }
  while IFS=: read -r file line text; do
    target="$(sed -E 's/^#include ["<]([A-Za-z0-9_]+)\/.*/\1/' <<< "$text")"
    case " $core " in *" $name "*)
      if grep -qE '#include [<"](SDL|GL/|imgui|backends/)' <<< "$text"; then
        echo "$file:$line: the core includes a window library: $text"; bad=1; continue
      fi ;;
    esac
    case " $subsystems " in *" $target "*) ;; *) continue ;; esac  # system or third-party
    [ "$target" = "$name" ] && continue
    case " ${allowed[$name]} " in *" $target "*) ;; *)
      echo "$file:$line: src/$name may not include src/$target: $text"; bad=1 ;;
    esac
  done < <(grep -rnE '^#include [<"]' "$folder" --include='*.h' --include='*.cpp' --include='*.c' || true)
done
exit $bad
