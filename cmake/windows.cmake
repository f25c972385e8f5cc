# Windows: the real system libraries; the resource script is linked into the .scr.
add_library(tidefold_core STATIC effect/tidefold.cpp framework/ssaver.cpp framework/monitor_plan.cpp
            framework/monitors_windows.cpp)
target_include_directories(tidefold_core PUBLIC ${TIDEFOLD_INCLUDES})
target_link_libraries(tidefold_core PUBLIC opengl32 gdi32 comctl32 advapi32 user32)

add_executable(tidefold WIN32 resources/tidefold.rc)
target_link_libraries(tidefold PRIVATE tidefold_core)
set_target_properties(tidefold PROPERTIES SUFFIX ".scr")
# The resource compiler does not report the files the script pulls in, so name them.
set_source_files_properties(resources/tidefold.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/res.h;${CMAKE_SOURCE_DIR}/resources/refmap.bmp;${CMAKE_SOURCE_DIR}/resources/tidefold.ico;${CMAKE_SOURCE_DIR}/resources/tidefold.manifest")
# WinMain lives in the framework library; the C runtime's start-up only asks for it after the
# library has been scanned, so name it up front.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(tidefold PRIVATE -Wl,-u,_WinMain@16)
else()
  target_link_options(tidefold PRIVATE -Wl,-u,WinMain)
endif()
# The runtime is linked in (toolchain files: -static), so a release .scr needs nothing but system
# DLLs; it ships without symbols.
target_link_options(tidefold PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
