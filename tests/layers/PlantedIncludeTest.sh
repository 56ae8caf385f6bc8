#!/bin/sh
# The layer check against copies of the tree, each with one include planted:
# every include against the direction must fail the check, every include
# along it must pass.
# Usage: PlantedIncludeTest.sh <source root>
set -eu
src=$1
check=$src/scripts/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# file | line planted at its end | expected: pass or fail
while IFS='|' read -r file line expect; do
  [ -n "$file" ] || continue
  rm -rf "$work/tree" && mkdir "$work/tree"
  for folder in host runtime capture settings web transport channels io driver; do
    cp -r "$src/$folder" "$work/tree/$folder"
  done
  printf '%s\n' "$line" >>"$work/tree/$file"
  if "$check" "$work/tree" >"$work/out" 2>&1; then got=pass; else got=fail; fi
  if [ "$got" != "$expect" ]; then
    echo "FAILED: $file + '$line': expected $expect, got $got"; cat "$work/out"
    failures=$((failures + 1))
  else
    echo "ok: $file + '$line' -> $got"
  fi
done <<'CASES'
channels/CBaseCameraChannel.cpp|#include "driver/CIPCapture.h"|fail
io/CIOBase.cpp|#include "driver/CIPCapture.h"|fail
web/CBaseHttpSender.h|#include "driver/CSonyIPCapture.h"|fail
capture/IDriver.h|#include "web/CHttpTrust.h"|fail
runtime/CEvent.h|#include "transport/CUDPPort.h"|fail
host/IFrameBuffer.h|#include "runtime/CEvent.h"|fail
transport/CUDPPort.cpp|#include "web/HttpText.h"|fail
channels/JpegFrame.cpp|#include "io/CIOBase.h"|fail
settings/TextValues.cpp|#include "tools/camsim/CCamera.h"|fail
transport/RtpPacket.cpp|  #  include "channels/JpegFrame.h"|fail
channels/CSonyMJPEGChannelRTP.h|#include "web/CHttpSender.h"|fail
io/CSonyDigitalIO.cpp|#include <curl/curl.h>|fail
driver/CIPCapture.cpp|#include "web/CHttpSender.h"|fail
web/CBaseHttpSender.cpp|#include <curl/curl.h>|pass
io/CSonyDigitalIO.h|#include "web/CBaseHttpSender.h"|pass
driver/CIPCapture.cpp|#include "channels/JpegFrame.h"|pass
channels/JpegFrame.cpp|#include "capture/JpegFourCC.h"|pass
web/HttpText.cpp|#include "runtime/FormatString.h"|pass
transport/RtpPacket.cpp|#include <string>|pass
CASES

[ $failures -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
