# Native Linux build: the Linux platform, the model class library with the
# terminal front end, the virtual drive seams, the tests and the benchmarks.
find_package(Threads REQUIRED)

file(GLOB ORV_LINUX_PLATFORM CONFIGURE_DEPENDS platform/linux/*.cpp)
add_library(orv_platform_linux STATIC ${ORV_LINUX_PLATFORM})
orv_target_defaults(orv_platform_linux)
target_link_libraries(orv_platform_linux PUBLIC orv_system Threads::Threads)

file(GLOB ORV_MODEL_CLASSLIB CONFIGURE_DEPENDS platform/model/*.cpp)
add_library(orv_classlib_model STATIC ${ORV_MODEL_CLASSLIB})
orv_target_defaults(orv_classlib_model)
target_link_libraries(orv_classlib_model PUBLIC orv_system Threads::Threads)

file(GLOB ORV_TERMINAL CONFIGURE_DEPENDS platform/terminal/*.cpp)
add_library(orv_terminal STATIC ${ORV_TERMINAL})
orv_target_defaults(orv_terminal)
target_link_libraries(orv_terminal PUBLIC orv_classlib_model orv_system)

file(GLOB ORV_SCRIPTED CONFIGURE_DEPENDS platform/scripted/*.cpp)
add_library(orv_platform_scripted STATIC ${ORV_SCRIPTED})
orv_target_defaults(orv_platform_scripted)
target_link_libraries(orv_platform_scripted PUBLIC orv_system Threads::Threads)

# The virtual drive at the drive-access seams, in process.
file(GLOB ORV_VDRIVE_SEAMS CONFIGURE_DEPENDS virtualdrive/seams/*.cpp)
add_library(orv_virtualdrive_seams STATIC ${ORV_VDRIVE_SEAMS})
orv_target_defaults(orv_virtualdrive_seams)
target_link_libraries(orv_virtualdrive_seams PUBLIC orv_virtualdrive orv_system Threads::Threads)

# The virtual drive served to the kernel as a user-space SCSI backstore.
file(GLOB ORV_VDRIVE_TCMU CONFIGURE_DEPENDS virtualdrive/tcmu/*.cpp virtualdrive/tcmu/*.c)
list(FILTER ORV_VDRIVE_TCMU EXCLUDE REGEX "_main\\.cpp$")
add_library(orv_virtualdrive_tcmu STATIC ${ORV_VDRIVE_TCMU})
orv_target_defaults(orv_virtualdrive_tcmu)
target_link_libraries(orv_virtualdrive_tcmu PUBLIC orv_virtualdrive)

add_executable(orvtcmu virtualdrive/tcmu/orvtcmu_main.cpp)
orv_target_defaults(orvtcmu)
target_link_libraries(orvtcmu PRIVATE orv_virtualdrive_tcmu orv_virtualdrive)

# The Linux program's front door: command line, --list, --check, unattended runs.
find_package(CLI11 REQUIRED)
find_package(nlohmann_json REQUIRED)
file(GLOB ORV_LINUX_CLI CONFIGURE_DEPENDS programs/linux/cli/*.cpp)
add_library(orv_cli STATIC ${ORV_LINUX_CLI})
orv_target_defaults(orv_cli)
target_compile_definitions(orv_cli PRIVATE ORV_VERSION="${PROJECT_VERSION}")
target_link_libraries(orv_cli PUBLIC orv_terminal orv_classlib_model orv_platform_linux orv_system
  CLI11::CLI11 nlohmann_json::nlohmann_json)

set(ORV_LINUX_RUNTIME orv_cli orv_system orv_terminal orv_classlib_model orv_platform_linux
  orv_system)

# The Linux program: real SG_IO drives.
add_executable(orvupdate programs/linux/orvupdate_main.cpp)
orv_target_defaults(orvupdate)
target_link_libraries(orvupdate PRIVATE ${ORV_LINUX_RUNTIME})

# The demo: the Linux front end against virtual drives.
add_executable(orvdemo programs/linux/orvdemo_main.cpp)
orv_target_defaults(orvdemo)
target_link_libraries(orvdemo PRIVATE orv_virtualdrive_seams ${ORV_LINUX_RUNTIME} orv_virtualdrive)

enable_testing()
find_package(GTest REQUIRED)
file(GLOB ORV_UNIT_TESTS CONFIGURE_DEPENDS tests/unit/*.cpp)
add_executable(orv_tests ${ORV_UNIT_TESTS})
orv_target_defaults(orv_tests)
target_link_libraries(orv_tests PRIVATE orv_cli orv_system orv_platform_scripted orv_virtualdrive_seams
  orv_virtualdrive_tcmu
  orv_terminal orv_classlib_model orv_virtualdrive orv_system orv_platform_linux orv_system
  GTest::gtest GTest::gtest_main)
target_compile_definitions(orv_tests PRIVATE ORV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
include(GoogleTest)
gtest_discover_tests(orv_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

if(ORV_BENCH)
  find_package(benchmark REQUIRED)
  file(GLOB ORV_BENCH_SOURCES CONFIGURE_DEPENDS bench/*.cpp)
  if(ORV_BENCH_SOURCES)
    add_executable(orv_bench ${ORV_BENCH_SOURCES})
    orv_target_defaults(orv_bench)
    target_link_libraries(orv_bench PRIVATE orv_system orv_platform_scripted orv_virtualdrive_seams
      orv_classlib_model orv_virtualdrive orv_system benchmark::benchmark)
  endif()
endif()

if(ORV_FUZZ)
  file(GLOB ORV_FUZZ_SOURCES CONFIGURE_DEPENDS fuzz/*.cpp)
  foreach(src ${ORV_FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    orv_target_defaults(${name})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE orv_system orv_platform_scripted orv_classlib_model orv_system)
  endforeach()
  # The libraries the targets link need the same instrumentation.
  foreach(lib orv_system orv_platform_scripted orv_classlib_model)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
  endforeach()
endif()

# The real-kernel stage's floor: a bare SG_IO loop of WRITE BUFFER commands.
add_executable(sg_write_loop tests/kernel/sg_write_loop.cpp)
orv_target_defaults(sg_write_loop)

include(cmake/package.cmake)
