# Debian's hardening flags for the Linux build, as `DEB_BUILD_MAINT_OPTIONS=hardening=+all
# dpkg-buildflags` gives them on Debian 12: stack protector, format checks, a position-independent
# executable, relocations read-only and bound at start, and fortified libc calls. Fortification
# needs optimisation, so Debug builds go without it, and the sanitizer build too: it would check
# the same calls before AddressSanitizer sees them (the fuzz build too, for the same reason).
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security -Wdate-time)
add_link_options(LINKER:-z,relro LINKER:-z,now)
if(NOT TIDEFOLD_SANITIZE AND NOT TIDEFOLD_FUZZ)
  add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE>
                      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
endif()
