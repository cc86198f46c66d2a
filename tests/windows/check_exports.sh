#!/bin/sh
# Checks the built VIRIVOREzu.dll from outside: it exports exactly the eleven native methods of
# com.qel.usb.UsbPort (JNI_OnLoad and JNI_OnUnload are allowed besides), and imports only from Windows' own DLLs
# and the C runtime, so that it loads on a plain Windows without any other runtime.
# Usage: check_exports.sh <path of VIRIVOREzu.dll> [objdump]
set -eu

dll=$1
objdump=${2:-x86_64-w64-mingw32-objdump}

expected_exports='Java_com_qel_usb_UsbPort_usbClosePipe
Java_com_qel_usb_UsbPort_usbGetCommTimeout
Java_com_qel_usb_UsbPort_usbGetErrorString
Java_com_qel_usb_UsbPort_usbGetGenericReadValue
Java_com_qel_usb_UsbPort_usbGetGenericWriteValue
Java_com_qel_usb_UsbPort_usbGetLastError
Java_com_qel_usb_UsbPort_usbInitPipe
Java_com_qel_usb_UsbPort_usbPurgeRequest
Java_com_qel_usb_UsbPort_usbReadInputPipe
Java_com_qel_usb_UsbPort_usbSetCommTimeout
Java_com_qel_usb_UsbPort_usbWriteOutputPipe'

headers=$("$objdump" -p "$dll")

# The export names are the rows of the name pointer table: "\t[   0] name".
exports=$(printf '%s\n' "$headers" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] \(.*\)$/\1/p' |
    grep -v -x -e JNI_OnLoad -e JNI_OnUnload | sort || true)
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' | sort -u)

status=0
if [ "$exports" != "$expected_exports" ]; then
    echo "FAILED: the exports differ from the eleven native methods (< expected, > found):"
    diff_file=$(mktemp)
    printf '%s\n' "$exports" >"$diff_file"
    printf '%s\n' "$expected_exports" | diff - "$diff_file" || true
    rm -f "$diff_file"
    status=1
fi

for name in $imports; do
    case $(printf '%s' "$name" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll | user32.dll | setupapi.dll | msvcrt.dll | api-ms-win-crt-*.dll) ;;
    *)
        echo "FAILED: imports from $name"
        status=1
        ;;
    esac
done

if [ $status -eq 0 ]; then
    echo "export check passed: 11 exports; imports from" $imports
fi
exit $status
