# Linux: the Win32 services the program calls come from platform/linux, over Xlib, GLX, GTK 3 and GLib.
include(cmake/hardening.cmake)
find_package(X11 REQUIRED)
find_package(OpenGL REQUIRED COMPONENTS OpenGL GLX EGL)
find_package(PkgConfig REQUIRED)
pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(GIO_UNIX REQUIRED IMPORTED_TARGET gio-unix-2.0)  # file descriptors passed over D-Bus
include(cmake/wayland.cmake)

# The resource script is compiled with the mingw resource compiler into a .res image, which is
# embedded as a byte array: one script feeds both platforms.
find_program(WINDRES NAMES x86_64-w64-mingw32-windres i686-w64-mingw32-windres REQUIRED)
# windres preprocesses the script with the mingw C compiler of its own prefix, which knows where the
# Windows headers are; without it windres falls back to the host's gcc and cannot find windows.h.
get_filename_component(WINDRES_NAME ${WINDRES} NAME)
string(REPLACE "-windres" "-gcc" WINDRES_CC_NAME ${WINDRES_NAME})
find_program(WINDRES_CC ${WINDRES_CC_NAME})
if(NOT WINDRES_CC)
  message(FATAL_ERROR "${WINDRES_NAME} needs ${WINDRES_CC_NAME} to preprocess the resource script "
          "(Debian: gcc-mingw-w64-x86-64-posix; bash tools/deps.sh run installs it)")
endif()
set(RES_FILE ${CMAKE_BINARY_DIR}/tidefold.res)
set(RES_CPP ${CMAKE_BINARY_DIR}/tidefold_res.cpp)
add_custom_command(OUTPUT ${RES_FILE}
  COMMAND ${WINDRES} -O res -I ${CMAKE_SOURCE_DIR}/resources -o ${RES_FILE} ${CMAKE_SOURCE_DIR}/resources/tidefold.rc
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/resources
  DEPENDS resources/tidefold.rc resources/res.h resources/refmap.bmp resources/tidefold.ico resources/tidefold.manifest
  COMMENT "Compiling the resource script")
add_custom_command(OUTPUT ${RES_CPP}
  COMMAND ${CMAKE_COMMAND} -DIN=${RES_FILE} -DOUT=${RES_CPP} -DNAME=tidefold_res_data -DNAME_SIZE=tidefold_res_size
          -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${RES_FILE} cmake/embed.cmake)

# The shared pieces sit at the top of platform/linux, each backend in its own folder.
file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS platform/linux/*.cpp platform/linux/x11/*.cpp platform/linux/wayland/*.cpp
     platform/linux/null/*.cpp)
list(REMOVE_ITEM PLATFORM_SOURCES ${CMAKE_SOURCE_DIR}/platform/linux/entry.cpp)
add_library(tidefold_platform STATIC ${PLATFORM_SOURCES} ${RES_CPP})
# The backend folders are the platform library's own: the rest of the program sees the shared
# headers only. Tests and benchmarks that look inside a backend add them themselves.
set(TIDEFOLD_BACKEND_INCLUDES ${CMAKE_SOURCE_DIR}/platform/linux/x11 ${CMAKE_SOURCE_DIR}/platform/linux/wayland
    ${CMAKE_SOURCE_DIR}/platform/linux/null)
target_include_directories(tidefold_platform PUBLIC ${CMAKE_SOURCE_DIR}/platform/linux
                           PRIVATE ${TIDEFOLD_BACKEND_INCLUDES})
target_link_libraries(tidefold_platform PUBLIC X11::X11 X11::Xext X11::Xrandr X11::Xinerama X11::Xss OpenGL::GL OpenGL::GLX
                      OpenGL::EGL PkgConfig::GTK3 PkgConfig::GLIB PkgConfig::GIO_UNIX
                      tidefold_wayland_protocols)

add_library(tidefold_core STATIC effect/tidefold.cpp framework/ssaver.cpp framework/monitor_plan.cpp
            framework/monitors_linux.cpp)
target_include_directories(tidefold_core PUBLIC ${TIDEFOLD_INCLUDES})
target_link_libraries(tidefold_core PUBLIC tidefold_platform)

add_executable(tidefold platform/linux/entry.cpp)
target_link_libraries(tidefold PRIVATE tidefold_core)
target_compile_definitions(tidefold PRIVATE TIDEFOLD_VERSION="${PROJECT_VERSION}")

include(cmake/install.cmake)
include(cmake/package.cmake)
