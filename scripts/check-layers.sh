#!/bin/sh
# Fails when a folder of the driver includes a folder it does not build on,
# or libcurl outside web/.
# The direction (each folder: what it may include besides itself) mirrors the
# target links in the folders' CMakeLists.txt:
#   host <- runtime <- capture <- settings, web, transport <- channels, io <- driver
# Usage: scripts/check-layers.sh [source root]   (default: this repository)
set -eu
root=${1:-$(dirname "$0")/..}

allowed() {
  case $1 in
    host)      echo "" ;;
    runtime)   echo "host" ;;
    capture)   echo "runtime host" ;;
    settings)  echo "runtime host" ;;
    web)       echo "capture runtime host" ;;
    transport) echo "runtime host" ;;
    channels)  echo "transport web capture runtime host" ;;
    io)        echo "web capture runtime host" ;;
    driver)    echo "channels io settings web transport capture runtime host" ;;
  esac
}

status=0
for folder in host runtime capture settings web transport channels io driver; do
  [ -d "$root/$folder" ] || { echo "check-layers: $root/$folder missing" >&2; exit 2; }
  ok="$folder $(allowed "$folder")"
  # file:line:folder for every quoted include that names a folder.
  found=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' \
            "$root/$folder"/*.h "$root/$folder"/*.cpp 2>/dev/null |
          sed -E 's/^([^:]+:[0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"/]+)\/.*/\1:\2/') || true
  for entry in $found; do
    target=${entry##*:}
    case " $ok " in
      *" $target "*) ;;
      *) echo "check-layers: ${entry%:*} includes $target/, which $folder/ does not build on" >&2
         status=1 ;;
    esac
  done
done
# libcurl stays inside web/: the other folders hold their senders through
# web/CBaseHttpSender.h.
for folder in host runtime capture settings transport channels io driver; do
  leaks=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*(<curl/|"web/CHttpSender\.h")' \
            "$root/$folder"/*.h "$root/$folder"/*.cpp 2>/dev/null) || true
  if [ -n "$leaks" ]; then
    echo "$leaks" | sed 's/^/check-layers: libcurl outside web\/: /' >&2
    status=1
  fi
done

[ $status -eq 0 ] && echo "check-layers: includes follow the layers"
exit $status
