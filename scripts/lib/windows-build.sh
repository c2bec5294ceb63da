# Sourced by the scripts that run the Windows build under wine: which build that is, and how its
# programs are run.
#
# What ships is the i686 program, so it is the one run: natively where this host runs 32-bit
# programs, else emulated (scripts/with-i386: qemu-i386 through a private binfmt_misc, where the
# kernel has IA-32 emulation off). Only where neither works (an older kernel, no user namespaces,
# not root) does an x86_64 build of the same sources run under wine64 instead.
# AUTOUPDATE_WINDOWS_ARCH=x86_64 takes that path on purpose, so both are checked before a change
# lands; =i686 insists on the product build.
#
# Sets windows_arch (i686 or x86_64), windows_how (native, emulated, or x86_64's wine64),
# windows_preset (the CMake preset), windows_build (its folder, relative to the top of the tree),
# windows_toolchain (the CMake toolchain file), windows_reason (one line on why, for the output)
# and windows_run (the command that runs a command where the build's programs run: the
# emulation's wrapper, or env).
choose_windows_build() {
  local here how
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
  windows_run=env
  case "${AUTOUPDATE_WINDOWS_ARCH:-}" in
    x86_64) windows_arch=x86_64 windows_how=wine64
            windows_reason="AUTOUPDATE_WINDOWS_ARCH=x86_64 asks for the x86_64 build" ;;
    i686|"")
            how=$("$here/with-i386" --how 2>/dev/null) || true
            case "$how" in
              native)   windows_arch=i686 windows_how=native
                        windows_reason="this host runs 32-bit programs" ;;
              emulated) windows_arch=i686 windows_how=emulated windows_run=$here/with-i386
                        windows_reason="this host refuses 32-bit programs; they run under qemu-i386" ;;
              *)        if [ -n "${AUTOUPDATE_WINDOWS_ARCH:-}" ]; then
                          echo "AUTOUPDATE_WINDOWS_ARCH=i686: 32-bit programs cannot run here (${how#none: })" >&2
                          return 1
                        fi
                        windows_arch=x86_64 windows_how=wine64
                        windows_reason="32-bit programs cannot run here, not even emulated (${how#none: })" ;;
            esac ;;
    *)      echo "AUTOUPDATE_WINDOWS_ARCH must be i686 or x86_64" >&2
            return 1 ;;
  esac
  if [ "$windows_arch" = i686 ]; then
    windows_preset=mingw windows_toolchain=cmake/mingw-i686.cmake
  else
    windows_preset=mingw64 windows_toolchain=cmake/mingw-x86_64.cmake
  fi
  windows_build=build/$windows_preset
}
