#!/usr/bin/env bash
# The portable core never includes Windows headers: only *_win.* files may.
set -euo pipefail
cd "$(dirname "$0")/.."
hits=$(grep -rlE '#[[:space:]]*include[[:space:]]*[<"](windows|winusb|setupapi|mmdeviceapi|audioclient|mfapi|mfreadwrite|mfidl|shobjidl|shlobj|commctrl|gdiplus|dwmapi|uxtheme|avrt|dbt|ole2|objbase|shellscalingapi|winreg|commdlg|shellapi|ks|ksmedia|usbiodef|initguid)\.h' src \
  | grep -vE '_win\.(cpp|h|hpp|rc)$' || true)
if [ -n "$hits" ]; then
  echo "Windows headers included outside the Windows layer:" >&2
  echo "$hits" >&2
  exit 1
fi
echo "wall check: the portable core includes no Windows headers"
