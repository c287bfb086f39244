# Shared build rules: warnings for our own targets, the test harness for both
# the native build and the MinGW builds whose tests run under Wine.

# Warnings are always on for our own targets; treating them as errors is the
# developers' and CI's setting (the presets turn it on), so that a plain
# configure with another compiler still builds and shows what it found.
option(GLINTMARK_WERROR "Treat warnings in our own targets as errors" OFF)
set(GLINTMARK_WARNINGS -Wall -Wextra)
if(GLINTMARK_WERROR)
  list(APPEND GLINTMARK_WARNINGS -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 at -O3 reports "text" + std::string as an overlapping memcpy (GCC bug 105329).
  list(APPEND GLINTMARK_WARNINGS -Wno-restrict)
endif()

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # The page model's vector helpers (html/vectors.h) are inline; on
  # 32-bit x86 without SSE, GCC notes that returning a vector changes the
  # calling convention, which matters only between objects built with
  # different flags.
  list(APPEND GLINTMARK_WARNINGS -Wno-psabi)
endif()

if(GLINTMARK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(GLINTMARK_FUZZ)
  # The libraries carry coverage and sanitizer instrumentation too, so that the
  # fuzzers are guided by, and check, the code they drive.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Static runtime: the DLL and the test programs import only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # GoogleTest cross-built from Debian's sources.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  find_path(GLINTMARK_GOOGLETEST_SOURCE_DIR NAMES googletest/CMakeLists.txt PATHS /usr/src/googletest
            NO_CMAKE_FIND_ROOT_PATH DOC "GoogleTest's sources, cross-built for the Windows tests")
  if(NOT GLINTMARK_GOOGLETEST_SOURCE_DIR)
    message(FATAL_ERROR "GoogleTest's sources were not found (Debian package googletest, "
                        "/usr/src/googletest): run scripts/install-deps.sh, or set GLINTMARK_GOOGLETEST_SOURCE_DIR")
  endif()
  add_subdirectory(${GLINTMARK_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
elseif(NOT EMSCRIPTEN)
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
  include(GoogleTest)
endif()

# glintmark_target(<target>): our own warning set.
function(glintmark_target target)
  target_compile_options(${target} PRIVATE ${GLINTMARK_WARNINGS})
endfunction()

# glintmark_test(<name> SOURCES ... LIBS ...)
# Natively every GoogleTest case becomes its own CTest test. Under Wine one
# CTest test runs the whole program: starting a Windows process costs far more
# than a test case, and 32-bit programs run under emulation.
function(glintmark_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  glintmark_target(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# Windows test programs run under Wine, in a prefix owned by this build folder.
if(WIN32)
  set(GLINTMARK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${GLINTMARK_WINEPREFIX})
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine32-run.sh ${GLINTMARK_WINEPREFIX})
  endif()
endif()

# glintmark_this_platform(<out-var> <file>...): the files less those of the
# other platforms (*_posix and *_posix_test on Windows and in the browser,
# *_win and *_win_test elsewhere).
function(glintmark_this_platform out)
  set(result)
  foreach(f IN LISTS ARGN)
    get_filename_component(n ${f} NAME_WE)
    if((WIN32 AND n MATCHES "_posix(_test)?$") OR (NOT WIN32 AND n MATCHES "_win(_test)?$")
       OR (EMSCRIPTEN AND n MATCHES "_posix(_test)?$"))
      continue()
    endif()
    list(APPEND result ${f})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# glintmark_sources(<out-var> <dir>): the folder's library sources, that is its
# .cpp files without tests, benchmarks and fuzzers, for this build's platform.
function(glintmark_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER all EXCLUDE REGEX "_(test|benchmark|fuzz)\\.cpp$")
  glintmark_this_platform(result ${all})
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# glintmark_test_sources(<out-var> <dir>): the folder's *_test.cpp files for
# this build (*_win_test.cpp only on Windows, *_posix_test.cpp only on Linux).
function(glintmark_test_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  glintmark_this_platform(result ${all})
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# glintmark_fuzzer(<name> SOURCES ... LIBS ...): a libFuzzer target (fuzz preset).
function(glintmark_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  glintmark_target(${name})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()

# glintmark_fuzzers(<dir> LIBS ...): one libFuzzer target per *_fuzz.cpp of
# the folder, each named after its file (test.sh runs every one it finds).
function(glintmark_fuzzers dir)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  file(GLOB fuzzers CONFIGURE_DEPENDS ${dir}/*_fuzz.cpp)
  foreach(f IN LISTS fuzzers)
    get_filename_component(n ${f} NAME_WE)
    glintmark_fuzzer(${n} SOURCES ${f} LIBS ${F_LIBS})
  endforeach()
endfunction()

# glintmark_benchmark(<name> SOURCES ... LIBS ...): a Google Benchmark program
# (native builds only; not a test).
function(glintmark_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR NOT benchmark_FOUND OR GLINTMARK_SANITIZE)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  glintmark_target(${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()

# glintmark_check_pe(<target>): a static check of a Windows binary's machine
# type and imports; runs in every Windows build, also where nothing can run it.
function(glintmark_check_pe target)
  if(NOT WIN32)
    return()
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(machine i386)
  else()
    set(machine x86-64)
  endif()
  add_test(NAME pe_${target} COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-pe.sh $<TARGET_FILE:${target}> ${machine})
endfunction()

# glintmark_typelib(<target> <output.tlb> <input.idl>): compiles a type library
# with widl into <output.tlb>, built by the custom target <target>. widl reads
# the imports of the IDL from Wine's headers (libwine-dev) and resolves
# importlib(stdole2.tlb) from Wine's own Windows libraries; the type library it
# writes names stdole by GUID only, so the 64-bit Wine's copy serves the 32-bit
# build as well (the 32-bit one appears only once 32-bit Wine is set up).
function(glintmark_typelib target output idl)
  if(NOT WIN32)
    return()
  endif()
  find_program(GLINTMARK_WIDL NAMES ${GLINTMARK_WIDL_TARGET}-widl widl)
  find_path(GLINTMARK_WINE_IDL_DIR NAMES oaidl.idl PATHS /usr/include/wine/wine/windows
            NO_CMAKE_FIND_ROOT_PATH DOC "Wine's Windows headers and IDL files (libwine-dev)")
  find_file(GLINTMARK_STDOLE2_TLB NAMES stdole2.tlb
            PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
                  /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows
            NO_CMAKE_FIND_ROOT_PATH DOC "Wine's stdole2.tlb, which widl imports")
  foreach(need GLINTMARK_WIDL GLINTMARK_WINE_IDL_DIR GLINTMARK_STDOLE2_TLB)
    if(NOT ${need})
      message(FATAL_ERROR "${need} not found: the type library needs widl (mingw-w64-tools), Wine's IDL "
                          "files (libwine-dev) and Wine's stdole2.tlb (wine64); run scripts/install-deps.sh")
    endif()
  endforeach()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(arch --win32)
  else()
    set(arch --win64)
  endif()
  get_filename_component(stdole_dir ${GLINTMARK_STDOLE2_TLB} DIRECTORY)
  get_filename_component(name ${output} NAME)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${GLINTMARK_WIDL} ${arch} -t -I${GLINTMARK_WINE_IDL_DIR} -L${stdole_dir} -o ${output} ${idl}
    DEPENDS ${idl}
    COMMENT "Compiling the type library ${name}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${output})
endfunction()
