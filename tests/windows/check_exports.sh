#!/bin/sh
# Checks a built VIRIVOREzu.dll from outside, as a JVM will meet it:
# - it is a DLL for the machine its objdump targets (PE32+ x86-64, or PE32 i386 for 32-bit JREs);
# - it exports exactly the eleven native methods of com.qel.usb.UsbPort, the loader's version function, JNI_OnLoad
#   and JNI_OnUnload, each under its undecorated name: a 32-bit JVM looks a native up as _name@N or as name, so an
#   export left as name@N (stdcall's decoration) would never be found;
# - it imports only from Windows' own DLLs and the C runtime, so that it loads on a plain Windows;
# - its version resource names the product and the release, when a version is given.
# Usage: check_exports.sh <path of VIRIVOREzu.dll> [objdump] [version]
set -eu

dll=$1
objdump=${2:-x86_64-w64-mingw32-objdump}
version=${3:-}

expected_exports='JNI_OnLoad
JNI_OnUnload
Java_com_qel_usb_NativeLibrary_nativeVersion
Java_com_qel_usb_UsbPort_usbClosePipe
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

case $(basename "$objdump") in
i686-*) expected_format=pei-i386 ;;
*) expected_format=pei-x86-64 ;;
esac

headers=$("$objdump" -p "$dll")
status=0

format=$(printf '%s\n' "$headers" | sed -n 's/.*file format \(.*\)$/\1/p' | head -n 1)
if [ "$format" != "$expected_format" ]; then
    echo "FAILED: $dll is $format, not $expected_format"
    status=1
fi

# The export names are the rows of the name pointer table: "\t[   0] name".
exports=$(printf '%s\n' "$headers" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] \(.*\)$/\1/p' | LC_ALL=C sort || true)
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' | sort -u)

if [ "$exports" != "$expected_exports" ]; then
    echo "FAILED: the exports differ from the native methods and JNI_OnLoad/JNI_OnUnload (< expected, > found):"
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

if [ -n "$version" ]; then
    # The resource's strings are UTF-16LE, each key followed by its value.
    strings=$(strings -e l "$dll")
    for pair in "ProductName VIRIVOREzu" "FileVersion $version" "ProductVersion $version"; do
        key=${pair%% *}
        value=${pair#* }
        if ! printf '%s\n' "$strings" | grep -A1 -x "$key" | grep -q -x "$value"; then
            echo "FAILED: the version resource has no $key \"$value\""
            status=1
        fi
    done
fi

if [ $status -eq 0 ]; then
    echo "export check passed: $format, $(printf '%s\n' "$exports" | wc -l) undecorated exports;" \
        "${version:+version resource $version; }imports from" $imports
fi
exit $status
