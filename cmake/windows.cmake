# Windows build (mingw-w64): the real Win32 program, one self-contained
# executable, the virtual drive built as WNASPI32.DLL and the window reader for
# the Wine tests.
enable_language(RC)

file(GLOB ORV_WIN32_PLATFORM CONFIGURE_DEPENDS platform/win32/*.cpp)
add_library(orv_platform_win32 STATIC ${ORV_WIN32_PLATFORM})
orv_target_defaults(orv_platform_win32)
target_link_libraries(orv_platform_win32 PUBLIC orv_system)

set(ORV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The whole system library goes in: the application object is a global that no
# other code names, so the linker would otherwise leave it out.
add_executable(orvupdate WIN32 programs/windows/winmain.cpp resources/orvupdate.rc)
orv_target_defaults(orvupdate)
target_link_libraries(orvupdate PRIVATE
  -Wl,--whole-archive orv_system -Wl,--no-whole-archive
  orv_platform_win32 orv_system comctl32 gdi32 user32 kernel32 advapi32)
target_link_options(orvupdate PRIVATE ${ORV_STATIC_RUNTIME})
set_target_properties(orvupdate PROPERTIES OUTPUT_NAME "UPDATE" SUFFIX ".EXE")

file(GLOB ORV_ASPI_DLL CONFIGURE_DEPENDS virtualdrive/aspidll/*.cpp)
if(ORV_ASPI_DLL)
  add_library(wnaspi32 SHARED ${ORV_ASPI_DLL} virtualdrive/aspidll/wnaspi32.def)
  orv_target_defaults(wnaspi32)
  target_link_libraries(wnaspi32 PRIVATE orv_virtualdrive)
  target_link_options(wnaspi32 PRIVATE ${ORV_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)
  set_target_properties(wnaspi32 PROPERTIES PREFIX "" OUTPUT_NAME "WNASPI32" SUFFIX ".DLL")
endif()

# Reads the windows of another program from outside, for the Wine tests.
add_executable(wintext tests/e2e/wintext.cpp)
orv_target_defaults(wintext)
target_link_libraries(wintext PRIVATE user32)
target_link_options(wintext PRIVATE ${ORV_STATIC_RUNTIME} -municode)
set_target_properties(wintext PROPERTIES SUFFIX ".exe")

# Talks to WNASPI32.DLL as the updater does; with --faulty, sends request
# blocks the library must refuse.
add_executable(aspi_probe tests/e2e/aspi_probe.cpp)
orv_target_defaults(aspi_probe)
target_link_options(aspi_probe PRIVATE ${ORV_STATIC_RUNTIME})
set_target_properties(aspi_probe PROPERTIES SUFFIX ".exe")

# Checks of the Win32 services and class library, run under Wine by the harness.
add_executable(classlib_check tests/e2e/classlib_check.cpp resources/orvupdate.rc)
orv_target_defaults(classlib_check)
target_link_libraries(classlib_check PRIVATE orv_platform_win32 orv_system comctl32 gdi32 user32)
target_link_options(classlib_check PRIVATE ${ORV_STATIC_RUNTIME})
set_target_properties(classlib_check PROPERTIES SUFFIX ".exe")

# End-to-end tests of UPDATE.EXE under Wine, for either build: the harness
# runs a 32-bit build under the 32-bit Wine.
enable_testing()
if(EXISTS ${PROJECT_SOURCE_DIR}/app/UpdaterApp.cpp)
  add_test(NAME wine_e2e
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/run_wine_tests.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_e2e PROPERTIES TIMEOUT 900)
endif()
