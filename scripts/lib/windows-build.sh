# Sourced by the scripts that run the Windows build under wine: which build that is.
#
# What ships is the i686 program, so it is the one run wherever this host can run 32-bit
# programs. Some hosts cannot (their kernel has IA-32 emulation off: wine's i386 loader fails
# with "Exec format error"); there an x86_64 build of the same sources runs under wine64 instead.
# AUTOUPDATE_WINDOWS_ARCH=x86_64 takes that path on purpose, so both are checked before a change
# lands; =i686 insists on the product build.
#
# Sets windows_arch (i686 or x86_64), windows_preset (the CMake preset), windows_build (its
# folder, relative to the top of the tree), windows_toolchain (the CMake toolchain file) and
# windows_reason (one line on why, for the output).
choose_windows_build() {
  local can32=0
  /usr/lib/wine/wine --version >/dev/null 2>&1 && can32=1
  case "${AUTOUPDATE_WINDOWS_ARCH:-}" in
    x86_64) windows_arch=x86_64
            windows_reason="AUTOUPDATE_WINDOWS_ARCH=x86_64 asks for the x86_64 build" ;;
    i686)   if [ $can32 -eq 0 ]; then
              echo "AUTOUPDATE_WINDOWS_ARCH=i686: this host cannot run 32-bit programs" >&2
              return 1
            fi
            windows_arch=i686 windows_reason="AUTOUPDATE_WINDOWS_ARCH=i686 asks for the product" ;;
    "")     if [ $can32 -eq 1 ]; then
              windows_arch=i686 windows_reason="this host runs 32-bit programs"
            else
              windows_arch=x86_64
              windows_reason="this host cannot run 32-bit programs: wine's i386 loader fails"
            fi ;;
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
